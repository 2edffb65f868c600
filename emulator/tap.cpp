#include "emulator/tap.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
// net/if.h before the kernel headers, which then leave out their copies.
#include <net/if.h>
#include <linux/ethtool.h>
#include <linux/if_arp.h>
#include <linux/if_tun.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace emu {

namespace {

std::string reason(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

void nameRequest(ifreq& request, const std::string& name)
{
    std::memset(&request, 0, sizeof request);
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
}

// A control socket for the interface ioctls; closed by the caller.
int controlSocket() { return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0); }

}  // namespace

int openTap(const std::string& name, const Mac& mac, std::string* why)
{
    int fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = reason("/dev/net/tun");
        return -1;
    }
    ifreq request;
    nameRequest(request, name);
    request.ifr_flags = IFF_TAP | IFF_NO_PI;
    if (ioctl(fd, TUNSETIFF, &request) < 0) {
        *why = reason(("TUNSETIFF " + name).c_str());
        close(fd);
        return -1;
    }
    int control = controlSocket();
    if (control < 0) {
        *why = reason("socket");
        close(fd);
        return -1;
    }
    bool ok = true;
    nameRequest(request, name);
    request.ifr_hwaddr.sa_family = ARPHRD_ETHER;
    std::memcpy(request.ifr_hwaddr.sa_data, mac.data(), mac.size());
    if (ioctl(control, SIOCSIFHWADDR, &request) < 0) {
        *why = reason(("setting the address of " + name).c_str());
        ok = false;
    }
    nameRequest(request, name);
    if (ok && ioctl(control, SIOCGIFFLAGS, &request) == 0) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
        if (ioctl(control, SIOCSIFFLAGS, &request) < 0) {
            *why = reason(("bringing up " + name).c_str());
            ok = false;
        }
    }
    close(control);
    if (!ok) {
        close(fd);
        return -1;
    }
    return fd;
}

bool interfaceExists(const std::string& name) { return if_nametoindex(name.c_str()) != 0; }

std::vector<std::string> foreignInterfaces()
{
    std::vector<std::string> foreign;
    struct if_nameindex* list = if_nameindex();
    if (!list)
        return foreign;
    int control = controlSocket();
    for (struct if_nameindex* i = list; i->if_index != 0 && i->if_name; ++i) {
        ifreq request;
        nameRequest(request, i->if_name);
        if (control >= 0 && ioctl(control, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_LOOPBACK))
            continue;
        ethtool_drvinfo info;
        std::memset(&info, 0, sizeof info);
        info.cmd = ETHTOOL_GDRVINFO;
        nameRequest(request, i->if_name);
        request.ifr_data = reinterpret_cast<char*>(&info);
        if (control >= 0 && ioctl(control, SIOCETHTOOL, &request) == 0 && std::strcmp(info.driver, "tun") == 0)
            continue;
        foreign.emplace_back(i->if_name);
    }
    if (control >= 0)
        close(control);
    if_freenameindex(list);
    return foreign;
}

}  // namespace emu
