#include "support/netns.h"

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {
void say(std::string* why, const std::string& what)
{
    if (why)
        *why = what + ": " + std::strerror(errno);
}
}  // namespace

bool enterPrivateNetns(std::string* why)
{
    if (unshare(CLONE_NEWNET) != 0) {
        say(why, "unshare(CLONE_NEWNET) (needs root or CAP_SYS_ADMIN)");
        return false;
    }
    return true;
}

bool setLinkUp(const std::string& name, bool up, std::string* why)
{
    if (name.size() >= IFNAMSIZ) {
        if (why)
            *why = "interface name too long: " + name;
        return false;
    }
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        say(why, "socket");
        return false;
    }
    ifreq request{};
    std::memcpy(request.ifr_name, name.c_str(), name.size());
    bool ok = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (ok) {
        if (up)
            request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
        else
            request.ifr_flags = static_cast<short>(request.ifr_flags & ~IFF_UP);
        ok = ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    if (!ok)
        say(why, "flags of " + name);
    close(fd);
    return ok;
}

int promiscuityOf(const std::string& name)
{
    unsigned index = if_nametoindex(name.c_str());
    if (index == 0)
        return -1;
    int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return -1;
    struct {
        nlmsghdr header;
        ifinfomsg info;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETLINK;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.info.ifi_family = AF_UNSPEC;
    request.info.ifi_index = static_cast<int>(index);
    int result = -1;
    alignas(nlmsghdr) char reply[16384];
    if (send(fd, &request, sizeof request, 0) == static_cast<ssize_t>(sizeof request)) {
        ssize_t n = recv(fd, reply, sizeof reply, 0);
        nlmsghdr header{};
        if (n >= static_cast<ssize_t>(NLMSG_LENGTH(sizeof(ifinfomsg)))) {
            std::memcpy(&header, reply, sizeof header);
            if (header.nlmsg_type == RTM_NEWLINK && header.nlmsg_len <= static_cast<size_t>(n)) {
                // Attributes follow the link record, each 4-byte aligned.
                size_t at = NLMSG_LENGTH(sizeof(ifinfomsg));
                while (at + sizeof(rtattr) <= header.nlmsg_len) {
                    rtattr attribute{};
                    std::memcpy(&attribute, reply + at, sizeof attribute);
                    if (attribute.rta_len < sizeof attribute || at + attribute.rta_len > header.nlmsg_len)
                        break;
                    if (attribute.rta_type == IFLA_PROMISCUITY && attribute.rta_len >= RTA_LENGTH(4)) {
                        uint32_t count = 0;
                        std::memcpy(&count, reply + at + RTA_LENGTH(0), 4);
                        result = static_cast<int>(count);
                        break;
                    }
                    at += RTA_ALIGN(attribute.rta_len);
                }
            }
        }
    }
    close(fd);
    return result;
}

int openFdCount()
{
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.')
            ++count;
    closedir(dir);
    return count - 1;  // the directory's own descriptor
}

}  // namespace testsupport
