// Starts the real chronel-sim program for a test, reads its announcements
// from stdout and stops it by pid.
#pragma once

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace simtest {

class SimProcess {
public:
    SimProcess() = default;
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    ~SimProcess() { stop(); }

    // Starts the program with `args`; false if it could not be started.
    bool start(const std::vector<std::string>& args) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return false;
        pid_ = ::fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            std::vector<char*> argv;
            std::string path = CHRONEL_SIM_PATH;
            argv.push_back(path.data());
            std::vector<std::string> copy = args;
            for (auto& a : copy) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(path.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        outFd_ = out[0];
        errFd_ = err[0];
        return true;
    }

    // Next stdout line, waiting at most `ms`; empty on timeout or end.
    std::string readLine(int ms = 5000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            auto nl = outBuf_.find('\n');
            if (nl != std::string::npos) {
                std::string line = outBuf_.substr(0, nl);
                outBuf_.erase(0, nl + 1);
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) return {};
            pollfd p{outFd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) return {};
            char buf[256];
            ssize_t n = ::read(outFd_, buf, sizeof buf);
            if (n <= 0) return {};
            outBuf_.append(buf, static_cast<size_t>(n));
        }
    }

    // Starts and waits for "tcp-port N"; returns N or -1.
    int startTcp(std::vector<std::string> args) {
        args.insert(args.begin(), {"--tcp-port", "0"});
        if (!start(args)) return -1;
        std::string line = readLine();
        if (line.rfind("tcp-port ", 0) != 0) return -1;
        return std::stoi(line.substr(9));
    }

    // Sends `sig` and waits up to `ms` for the exit; returns the exit status
    // (128 + signal when killed), or -1 if it had to be killed.
    int stop(int sig = SIGTERM, int ms = 5000) {
        if (pid_ <= 0) return exitStatus_;
        ::kill(pid_, sig);
        int status = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) break;
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                pid_ = -1;
                closeFds();
                return exitStatus_ = -1;
            }
            ::usleep(10000);
        }
        pid_ = -1;
        closeFds();
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return exitStatus_;
    }

    // Waits for the program to end by itself; its exit code or -1 on timeout.
    int waitExit(int ms = 5000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            ::usleep(10000);
        }
        return -1;
    }

    std::string stderrText() {
        std::string s;
        char buf[512];
        pollfd p{errFd_, POLLIN, 0};
        while (errFd_ >= 0 && ::poll(&p, 1, 100) > 0) {
            ssize_t n = ::read(errFd_, buf, sizeof buf);
            if (n <= 0) break;
            s.append(buf, static_cast<size_t>(n));
        }
        return s;
    }

    pid_t pid() const { return pid_; }

private:
    void closeFds() {
        if (outFd_ >= 0) ::close(outFd_);
        if (errFd_ >= 0) ::close(errFd_);
        outFd_ = errFd_ = -1;
    }
    pid_t pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
    int exitStatus_ = -1;
    std::string outBuf_;
};

}  // namespace simtest
