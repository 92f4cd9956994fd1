// A pseudo-terminal pair standing in for a COM port.
#pragma once

#include <string>

namespace chronel::sim {

struct PseudoTerminal {
    int masterFd = -1; // the simulator's end
    int slaveFd = -1;  // held open so the master never sees a hang-up between clients
    std::string slavePath;
};

// Opens a raw (no echo, no line editing) pair; false with `error` on failure.
bool OpenPseudoTerminal(PseudoTerminal& pty, std::string& error);
void ClosePseudoTerminal(PseudoTerminal& pty);

} // namespace chronel::sim
