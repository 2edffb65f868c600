#pragma once
// plcsim as a child process in the caller's network namespace: started from
// a scenario, ready once its TAP interfaces are up, stopped with SIGTERM so
// that the interfaces go with it.
#include "support/scratch.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

class PlcsimProcess {
public:
    PlcsimProcess() = default;
    ~PlcsimProcess() { stop(); }
    PlcsimProcess(const PlcsimProcess&) = delete;
    PlcsimProcess& operator=(const PlcsimProcess&) = delete;

    // True once plcsim says it is ready; otherwise *why holds what it said.
    bool start(const std::string& program, const std::string& scenario, std::string* why, int timeoutMs = 5000)
    {
        stop();
        output_.clear();
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            *why = std::string("pipe: ") + std::strerror(errno);
            return false;
        }
        pid_ = scratch::spawn(program, "plcsim", {scenario}, -1, fds[1], fds[1]);
        if (pid_ < 0) {
            *why = std::string("fork: ") + std::strerror(errno);
            close(fds[0]);
            close(fds[1]);
            return false;
        }
        close(fds[1]);
        out_ = fds[0];
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (output_.find("plcsim: ready") == std::string::npos) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{out_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                *why = "plcsim not ready within " + std::to_string(timeoutMs) + " ms: " + output_;
                stop();
                return false;
            }
            char buffer[256];
            ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) {
                stop();
                *why = "plcsim ended (status " + std::to_string(status_) + "): " + output_;
                return false;
            }
            output_.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }

    // SIGTERM, then SIGKILL if it has not gone within two seconds.
    void stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            for (int i = 0; i < 200; ++i) {
                if (waitpid(pid_, &status_, WNOHANG) == pid_) {
                    pid_ = -1;
                    break;
                }
                usleep(10000);
            }
            if (pid_ > 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status_, 0);
                pid_ = -1;
            }
        }
        if (out_ >= 0) {
            close(out_);
            out_ = -1;
        }
    }

    bool running() const { return pid_ > 0; }
    const std::string& output() const { return output_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = 0;
    std::string output_;
};

}  // namespace testsupport
