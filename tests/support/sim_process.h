#pragma once
// chronel-sim as a child process of a test: started with the test's options,
// its announcements (the pseudo-terminal's path, "tcp-port N") read from its
// standard output, its standard error kept in memory for the test to read,
// stopped by its pid. Every wait is bounded.
#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

namespace chronel::test {

class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess() { stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts the program with exactly `args`; false if it could not be started.
    bool start(const std::vector<std::string>& args);

    // Starts it serving Modbus TCP on `port` (0: a free one) unless `args`
    // name a port, and waits for its announcements: the port, and with
    // "--rtu pty" the pseudo-terminal first. The port, or -1.
    int startTcp(std::vector<std::string> args = {}, std::uint16_t port = 0);

    // The next line of its standard output, waiting at most `ms`; empty on
    // time-out or end.
    std::string readLine(int ms = 5000);

    // Sends `sig` and waits up to `ms` for the end; the exit status (128 +
    // signal when killed by one), or -1 if it had to be killed.
    int stop(int sig = SIGTERM, int ms = 5000);
    // Waits for the program to end by itself; its exit status or -1 on time-out.
    int waitExit(int ms = 5000);

    // What it wrote to its standard error since the last call, once nothing
    // more has come for 100 ms; empty once stopped.
    std::string stderrText();

    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0; }
    int port() const { return port_; }
    // The pseudo-terminal it serves Modbus RTU on, after startTcp with "--rtu pty".
    const std::string& ptyPath() const { return ptyPath_; }

private:
    void closeFds();

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1; // an in-memory file the program's standard error goes to
    off_t errRead_ = 0;
    int exitStatus_ = -1;
    std::string outBuffer_;
    int port_ = 0;
    std::string ptyPath_;
};

} // namespace chronel::test
