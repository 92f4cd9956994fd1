#pragma once
// What the tool needs from the terminal and the process: whether stderr is a
// terminal (for the progress display) and its size, and a request to stop
// (Ctrl-C, SIGTERM).
namespace chronelcli {

bool StderrIsTerminal();

struct TerminalSize {
    int columns = 80;
    int rows = 24;
};
// The size of the terminal on stderr; 80 × 24 when it tells none.
TerminalSize StderrTerminalSize();

// SIGINT and SIGTERM set a flag instead of ending the process, so that a
// running command can stop its polling, close its log and exit in order.
void InstallInterruptHandler();
bool InterruptRequested();

} // namespace chronelcli
