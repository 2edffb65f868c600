#include "support/tap.h"
#include "support/netns.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <utility>

#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {
constexpr size_t ethertypeAt = 12;
constexpr size_t maxFrame = 65536;

void say(std::string* why, const std::string& what)
{
    if (why)
        *why = what + ": " + std::strerror(errno);
}

bool setMac(const std::string& name, const uint8_t mac[6], std::string* why)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        say(why, "socket");
        return false;
    }
    ifreq request{};
    std::memcpy(request.ifr_name, name.c_str(), name.size());
    request.ifr_hwaddr.sa_family = ARPHRD_ETHER;
    std::memcpy(request.ifr_hwaddr.sa_data, mac, 6);
    bool ok = ioctl(fd, SIOCSIFHWADDR, &request) == 0;
    if (!ok)
        say(why, "SIOCSIFHWADDR on " + name);
    close(fd);
    return ok;
}

// Without IPv6 the kernel sends no solicitations or reports of its own on the
// interface, so what a test reads is what the code under test sent.
void disableIpv6(const std::string& name)
{
    std::ofstream("/proc/sys/net/ipv6/conf/" + name + "/disable_ipv6") << "1\n";
}
}  // namespace

TapDevice::~TapDevice() { destroy(); }

TapDevice::TapDevice(TapDevice&& other) noexcept : fd_(std::exchange(other.fd_, -1)), name_(std::move(other.name_)) {}

TapDevice& TapDevice::operator=(TapDevice&& other) noexcept
{
    if (this != &other) {
        destroy();
        fd_ = std::exchange(other.fd_, -1);
        name_ = std::move(other.name_);
    }
    return *this;
}

bool TapDevice::create(const std::string& name, const uint8_t mac[6], bool up, std::string* why)
{
    destroy();
    if (name.size() >= IFNAMSIZ) {
        if (why)
            *why = "interface name too long: " + name;
        return false;
    }
    int fd = ::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        say(why, "/dev/net/tun");
        return false;
    }
    ifreq request{};
    std::memcpy(request.ifr_name, name.c_str(), name.size());
    request.ifr_flags = IFF_TAP | IFF_NO_PI;
    if (ioctl(fd, TUNSETIFF, &request) != 0) {
        say(why, "TUNSETIFF " + name);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    name_ = request.ifr_name;
    disableIpv6(name_);
    if (!setMac(name_, mac, why) || (up && !setLinkUp(name_, true, why))) {
        destroy();
        return false;
    }
    return true;
}

void TapDevice::destroy()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    name_.clear();
}

bool TapDevice::write(const uint8_t* frame, size_t length)
{
    return fd_ >= 0 && ::write(fd_, frame, length) == static_cast<ssize_t>(length);
}

std::optional<std::vector<uint8_t>> TapDevice::read(int timeoutMs)
{
    if (fd_ < 0)
        return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
        return std::nullopt;
    std::vector<uint8_t> frame(maxFrame);
    ssize_t n = ::read(fd_, frame.data(), frame.size());
    if (n < 0)
        return std::nullopt;
    frame.resize(static_cast<size_t>(n));
    return frame;
}

std::optional<std::vector<uint8_t>> TapDevice::readOfType(uint16_t ethertype, int timeoutMs)
{
    using clock = std::chrono::steady_clock;
    auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left < 0)
            return std::nullopt;
        auto frame = read(static_cast<int>(left));
        if (!frame)
            return std::nullopt;
        if (frame->size() >= ethertypeAt + 2 && ((*frame)[ethertypeAt] << 8 | (*frame)[ethertypeAt + 1]) == ethertype)
            return frame;
    }
}

}  // namespace testsupport
