#include "sim_process.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef CHRONEL_SIM_PATH
#error "CHRONEL_SIM_PATH names the simulator program"
#endif

namespace chronel::test {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

int ExitStatusOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

// Whether the child has ended, leaving it to be collected.
bool Ended(pid_t pid)
{
    siginfo_t info{};
    return ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

} // namespace

bool SimProcess::start(const std::vector<std::string>& args)
{
    stop();
    outBuffer_.clear();
    exitStatus_ = -1;
    port_ = 0;
    ptyPath_.clear();
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return false;
    // A file rather than a pipe: a program that logs every request (--verbose)
    // never blocks on a test that reads its log late or not at all.
    errFd_ = ::memfd_create("chronel-sim-stderr", MFD_CLOEXEC);
    errRead_ = 0;
    if (errFd_ < 0) {
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    std::vector<std::string> copy = args;
    std::string path = CHRONEL_SIM_PATH;
    std::vector<char*> argv{path.data()};
    for (auto& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], 1);
        ::dup2(errFd_, 2);
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    outFd_ = out[0];
    if (pid_ < 0) {
        closeFds();
        return false;
    }
    return true;
}

int SimProcess::startTcp(std::vector<std::string> args, std::uint16_t port)
{
    if (std::find(args.begin(), args.end(), "--tcp-port") == args.end())
        args.insert(args.begin(), {"--tcp-port", std::to_string(port)});
    const bool pty = std::find(args.begin(), args.end(), "pty") != args.end();
    if (!start(args))
        return -1;
    if (pty) {
        ptyPath_ = readLine();
        if (ptyPath_.rfind("/dev/", 0) != 0)
            return -1;
    }
    const std::string line = readLine();
    if (line.rfind("tcp-port ", 0) != 0)
        return -1;
    port_ = std::stoi(line.substr(9));
    return port_ > 0 ? port_ : -1;
}

std::string SimProcess::readLine(int ms)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto nl = outBuffer_.find('\n');
        if (nl != std::string::npos) {
            std::string line = outBuffer_.substr(0, nl);
            outBuffer_.erase(0, nl + 1);
            return line;
        }
        const int left = MsLeft(deadline);
        if (left == 0 || outFd_ < 0)
            return {};
        pollfd p{outFd_, POLLIN, 0};
        if (::poll(&p, 1, left) <= 0)
            return {};
        char buf[256];
        const ssize_t n = ::read(outFd_, buf, sizeof buf);
        if (n <= 0)
            return {};
        outBuffer_.append(buf, std::size_t(n));
    }
}

int SimProcess::stop(int sig, int ms)
{
    if (pid_ <= 0) {
        closeFds();
        return exitStatus_;
    }
    ::kill(pid_, sig);
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (::waitpid(pid_, &status, WNOHANG) != pid_) {
        if (Clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
            closeFds();
            return exitStatus_ = -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    closeFds();
    return exitStatus_ = ExitStatusOf(status);
}

int SimProcess::waitExit(int ms)
{
    if (pid_ <= 0)
        return exitStatus_;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    int status = 0;
    while (Clock::now() < deadline) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return exitStatus_ = ExitStatusOf(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

std::string SimProcess::stderrText()
{
    std::string text;
    if (errFd_ < 0)
        return text;
    auto quietSince = Clock::now();
    for (;;) {
        char buf[4096];
        const ssize_t n = ::pread(errFd_, buf, sizeof buf, errRead_);
        if (n > 0) {
            text.append(buf, std::size_t(n));
            errRead_ += n;
            quietSince = Clock::now();
            continue;
        }
        // An ended program writes no more.
        if (pid_ <= 0 || Ended(pid_) || Clock::now() - quietSince >= std::chrono::milliseconds(100))
            return text;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void SimProcess::closeFds()
{
    for (int* fd : {&outFd_, &errFd_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

} // namespace chronel::test
