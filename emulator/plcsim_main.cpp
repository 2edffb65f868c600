// plcsim: serves the device model on TAP interfaces, one per emulated adapter,
// until SIGINT or SIGTERM. Run it in a network namespace of its own
// (unshare -n, ip netns exec): the system under test then sees only these TAPs.
#include "emulator/model.h"
#include "emulator/tap.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <queue>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* usage =
    "Usage: plcsim [-v] SCENARIO.json\n"
    "Plays the powerline devices of SCENARIO.json on TAP interfaces until SIGINT or SIGTERM.\n"
    "\n"
    "  -v         print one line per frame in and out\n"
    "  -h, --help show this help\n"
    "  --version  show the version\n"
    "\n"
    "Run it in a private network namespace, e.g. `unshare -n plcsim home.json`\n"
    "or `ip netns exec NAME plcsim home.json`, together with the program under test.\n"
    "It refuses to start beside interfaces other than loopback and TAPs.\n"
    "Exit status: 0 after a signal, 1 when the interfaces cannot be set up, 2 for bad usage or scenario.\n";

constexpr uint32_t floodStepMs = 100;
constexpr size_t readBufferSize = 2048;

uint64_t nowMicros()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_nsec) / 1000u;
}

struct Pending {
    uint64_t dueMicros;
    uint64_t order;  // equal times leave in the order they were queued
    int adapter;
    std::vector<uint8_t> bytes;
    bool operator>(const Pending& o) const
    {
        return dueMicros != o.dueMicros ? dueMicros > o.dueMicros : order > o.order;
    }
};

class Server {
public:
    Server(emu::Network& network, bool verbose) : network_(network), verbose_(verbose), start_(nowMicros()) {}

    ~Server()
    {
        for (int fd : taps_)
            if (fd >= 0)
                close(fd);
    }

    bool open()
    {
        for (int i = 0; i < network_.adapterCount(); ++i) {
            const emu::EmulatedAdapter& a = network_.adapter(i);
            std::string why;
            int fd = emu::openTap(a.interfaceName, a.hostMac, &why);
            if (fd < 0) {
                std::fprintf(stderr, "plcsim: %s\n", why.c_str());
                return false;
            }
            taps_.push_back(fd);
            floodSequence_.push_back(0);
        }
        return true;
    }

    int run(int signalFd)
    {
        uint64_t nextFlood = nowMicros();
        std::vector<pollfd> fds;
        for (int fd : taps_)
            fds.push_back({fd, POLLIN, 0});
        fds.push_back({signalFd, POLLIN, 0});
        for (;;) {
            uint64_t now = nowMicros();
            if (now >= nextFlood) {
                for (int i = 0; i < network_.adapterCount(); ++i)
                    for (emu::Reply& r : network_.flood(i, floodStepMs, &floodSequence_[static_cast<size_t>(i)]))
                        queue(i, std::move(r), now);
                nextFlood = now + floodStepMs * 1000u;
            }
            sendDue(now);
            uint64_t wake = nextFlood;
            if (!pending_.empty() && pending_.top().dueMicros < wake)
                wake = pending_.top().dueMicros;
            now = nowMicros();
            int timeout = wake <= now ? 0 : static_cast<int>((wake - now + 999) / 1000);
            if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
                std::perror("plcsim: poll");
                return 1;
            }
            if (fds.back().revents & POLLIN) {
                signalfd_siginfo info;
                if (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                    if (verbose_)
                        std::printf("%s plcsim: signal %u, removing the interfaces\n", stamp().c_str(), info.ssi_signo);
                    return 0;
                }
            }
            for (size_t i = 0; i < taps_.size(); ++i)
                if (fds[i].revents & POLLIN)
                    drain(static_cast<int>(i));
        }
    }

private:
    std::string stamp() const
    {
        char text[32];
        uint64_t t = nowMicros() - start_;
        std::snprintf(text, sizeof text, "%6llu.%03llu", static_cast<unsigned long long>(t / 1000000u),
                      static_cast<unsigned long long>(t / 1000u % 1000u));
        return text;
    }

    void log(int adapter, const char* direction, const uint8_t* frame, size_t length)
    {
        if (!verbose_)
            return;
        std::printf("%s %s %s %s\n", stamp().c_str(), network_.adapter(adapter).interfaceName.c_str(), direction,
                    emu::describeFrame(frame, length).c_str());
        std::fflush(stdout);
    }

    void queue(int adapter, emu::Reply reply, uint64_t now)
    {
        pending_.push(Pending{now + uint64_t{reply.delayMs} * 1000u, order_++, adapter, std::move(reply.bytes)});
    }

    void drain(int adapter)
    {
        uint8_t buffer[readBufferSize];
        for (;;) {
            ssize_t n = read(taps_[static_cast<size_t>(adapter)], buffer, sizeof buffer);
            if (n <= 0)
                return;
            size_t length = static_cast<size_t>(n);
            // The kernel's own chatter (IPv6 neighbour discovery and such) is not ours.
            if (length >= 14 && !(buffer[12] == 0x88 && buffer[13] == 0x7B))
                continue;
            log(adapter, "in ", buffer, length);
            uint64_t now = nowMicros();
            for (emu::Reply& r : network_.handle(adapter, buffer, length))
                queue(adapter, std::move(r), now);
        }
    }

    void sendDue(uint64_t now)
    {
        while (!pending_.empty() && pending_.top().dueMicros <= now) {
            const Pending& p = pending_.top();
            log(p.adapter, "out", p.bytes.data(), p.bytes.size());
            if (write(taps_[static_cast<size_t>(p.adapter)], p.bytes.data(), p.bytes.size()) < 0 && verbose_)
                std::printf("%s plcsim: write: %s\n", stamp().c_str(), std::strerror(errno));
            pending_.pop();
        }
    }

    emu::Network& network_;
    bool verbose_;
    uint64_t start_;
    uint64_t order_ = 0;
    std::vector<int> taps_;
    std::vector<uint32_t> floodSequence_;
    std::priority_queue<Pending, std::vector<Pending>, std::greater<Pending>> pending_;
};

int runPlcsim(int argc, char** argv)
{
    bool verbose = false;
    const char* scenario = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("plcsim %s\n", BRENNIC_VERSION);
            return 0;
        }
        if (arg == "-v") {
            verbose = true;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "plcsim: unknown option %s\n%s", arg.c_str(), usage);
            return 2;
        } else if (scenario) {
            std::fprintf(stderr, "plcsim: one scenario file only\n%s", usage);
            return 2;
        } else {
            scenario = argv[i];
        }
    }
    if (!scenario) {
        std::fputs(usage, stderr);
        return 2;
    }

    emu::Network network;
    std::string error;
    if (!emu::loadScenario(scenario, network, &error)) {
        std::fprintf(stderr, "plcsim: %s\n", error.c_str());
        return 2;
    }

    // Scheduled link values follow the local time of day.
    network.setClock([] {
        time_t now = time(nullptr);
        tm local{};
        localtime_r(&now, &local);
        return static_cast<int64_t>(now) + local.tm_gmtoff;
    });

    std::vector<std::string> foreign = emu::foreignInterfaces();
    if (!foreign.empty()) {
        std::string names;
        for (const std::string& n : foreign)
            names += (names.empty() ? "" : ", ") + n;
        std::fprintf(stderr,
                     "plcsim: this network namespace holds %s; run plcsim in one of its own "
                     "(unshare -n, ip netns exec)\n",
                     names.c_str());
        return 1;
    }
    for (int i = 0; i < network.adapterCount(); ++i) {
        const std::string& name = network.adapter(i).interfaceName;
        if (emu::interfaceExists(name)) {
            std::fprintf(stderr, "plcsim: interface %s exists already\n", name.c_str());
            return 1;
        }
    }

    // Signals arrive through the poll loop, so shutdown always closes the TAPs.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::perror("plcsim: signalfd");
        return 1;
    }

    int status = 1;
    {
        Server server(network, verbose);
        if (server.open()) {
            std::printf("plcsim: ready");
            for (int i = 0; i < network.adapterCount(); ++i)
                std::printf(" %s", network.adapter(i).interfaceName.c_str());
            std::printf("\n");
            std::fflush(stdout);
            status = server.run(signalFd);
        }
    }
    close(signalFd);
    return status;
}

}  // namespace

int main(int argc, char** argv) { return runPlcsim(argc, argv); }
