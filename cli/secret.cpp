#include "cli/secret.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <termios.h>
#include <unistd.h>

namespace cli {

namespace {
// Longer than any password the rules allow, so that an overlong one is refused, not cut.
constexpr size_t maxLine = 256;

volatile std::sig_atomic_t promptSignal = 0;

void onPromptSignal(int signal) { promptSignal = signal; }

std::optional<std::string> readLine(int fd)
{
    std::string line;
    char c;
    bool any = false;
    for (;;) {
        ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR && !promptSignal)
            continue;
        if (promptSignal)
            return std::nullopt;
        if (n <= 0)
            break;
        any = true;
        if (c == '\n')
            break;
        if (line.size() < maxLine)
            line.push_back(c);
    }
    if (!any)
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// Echo stays off while it lives; put back even when reading fails.
class NoEcho {
public:
    explicit NoEcho(int fd) : fd_(fd)
    {
        if (tcgetattr(fd_, &saved_) == 0) {
            termios quiet = saved_;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            quiet.c_lflag |= ECHONL;
            active_ = tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
        }
    }
    ~NoEcho()
    {
        if (active_)
            tcsetattr(fd_, TCSAFLUSH, &saved_);
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

// Ctrl-C at the prompt ends the program as it would anyway, but with echo back on.
std::optional<std::string> prompted(const char* prompt)
{
    std::fprintf(stderr, "%s", prompt);
    std::fflush(stderr);
    struct sigaction action {
    }, oldInt{}, oldTerm{};
    action.sa_handler = onPromptSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &oldInt);
    sigaction(SIGTERM, &action, &oldTerm);
    std::optional<std::string> line;
    {
        NoEcho quiet(STDIN_FILENO);
        line = readLine(STDIN_FILENO);
    }
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    if (promptSignal) {
        std::fputs("\n", stderr);
        raise(promptSignal);
    }
    return line;
}
}  // namespace

std::optional<std::string> readSecret(const char* prompt, bool confirm, std::string* why)
{
    if (!isatty(STDIN_FILENO)) {
        auto line = readLine(STDIN_FILENO);
        if (!line)
            *why = "no password on standard input";
        return line;
    }
    auto first = prompted(prompt);
    if (!first) {
        *why = "no password entered";
        return std::nullopt;
    }
    if (confirm) {
        auto again = prompted("Again: ");
        bool same = again && *again == *first;
        if (again)
            wipe(*again);
        if (!same) {
            wipe(*first);
            *why = "the two passwords differ";
            return std::nullopt;
        }
    }
    return first;
}

void wipe(std::string& secret)
{
    volatile char* p = secret.data();
    for (size_t i = 0; i < secret.size(); ++i)
        p[i] = 0;
    secret.clear();
}

}  // namespace cli
