#pragma once
// What the tool needs from the terminal and the process: whether stderr is a
// terminal (for the progress bar) and a request to stop (Ctrl-C, SIGTERM).
namespace chronelcli {

bool StderrIsTerminal();

// SIGINT and SIGTERM set a flag instead of ending the process, so that a
// running command can stop its polling, close its log and exit in order.
void InstallInterruptHandler();
bool InterruptRequested();

} // namespace chronelcli
