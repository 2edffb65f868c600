// Adapter enumeration on Linux (the library's ordinals 50 to 57) and an
// adapter's own address, asked of the kernel directly: neither needs a
// privilege, so neither goes through the helper.
#include "zentrik/driver_linux.h"
#include "zentrik/zentrik.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using zlinux::lastError;

namespace {
struct ListedAdapter {
    unsigned index;
    std::string name;
};

// The adapters as they were when the list was opened; item handles index it.
std::vector<ListedAdapter> listed;
int32_t listCursor = -1;
constexpr int32_t listHandle = 1;

int controlSocket()
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return fd;
}

bool fillName(ifreq& request, const char* name)
{
    std::memset(&request, 0, sizeof request);
    size_t length = std::strlen(name);
    if (length >= IFNAMSIZ)
        return false;
    std::memcpy(request.ifr_name, name, length);
    return true;
}

// Up, Ethernet-type and not loopback: an adapter a powerline device can sit behind.
bool isUsable(int fd, const char* name)
{
    ifreq request;
    if (!fillName(request, name) || ioctl(fd, SIOCGIFFLAGS, &request) != 0)
        return false;
    short flags = request.ifr_flags;
    if ((flags & IFF_UP) == 0 || (flags & IFF_LOOPBACK) != 0)
        return false;
    if (!fillName(request, name) || ioctl(fd, SIOCGIFHWADDR, &request) != 0)
        return false;
    return request.ifr_hwaddr.sa_family == ARPHRD_ETHER;
}
}  // namespace

int zlinux::hardwareAddress(const char* name, uint8_t* mac)
{
    ifreq request;
    fillName(request, name);
    int fd = controlSocket();
    int error = fd < 0 ? errno : ioctl(fd, SIOCGIFHWADDR, &request) != 0 ? errno : 0;
    if (fd >= 0)
        close(fd);
    if (error == 0)
        std::memcpy(mac, request.ifr_hwaddr.sa_data, 6);
    return error;
}

int32_t adapterListOpen()
{
    listed.clear();
    listCursor = -1;
    struct if_nameindex* names = if_nameindex();
    if (!names) {
        lastError = static_cast<uint32_t>(errno);
        return -1;
    }
    int fd = controlSocket();
    if (fd < 0) {
        lastError = static_cast<uint32_t>(errno);
        if_freenameindex(names);
        return -1;
    }
    for (struct if_nameindex* n = names; n->if_index != 0 && n->if_name; ++n)
        if (isUsable(fd, n->if_name))
            listed.push_back({n->if_index, n->if_name});
    close(fd);
    if_freenameindex(names);
    std::sort(listed.begin(), listed.end(),
              [](const ListedAdapter& x, const ListedAdapter& y) { return x.index < y.index; });
    return listHandle;
}

void adapterListClose(int32_t)
{
    listed.clear();
    listCursor = -1;
}

int32_t adapterListFirst(int32_t list)
{
    listCursor = (list == listHandle && !listed.empty()) ? 0 : -1;
    return listCursor;
}

int32_t adapterListNext(int32_t list)
{
    if (list != listHandle || listCursor < 0 || listCursor + 1 >= static_cast<int32_t>(listed.size()))
        return listCursor = -1;
    return ++listCursor;
}

void adapterItemRelease(int32_t) {}

uint32_t adapterItemName(int32_t item, char* buffer, uint32_t* size)
{
    if (item < 0 || item >= static_cast<int32_t>(listed.size()) || !size)
        return errorInvalidParameter;
    const std::string& name = listed[static_cast<size_t>(item)].name;
    auto needed = static_cast<uint32_t>(name.size() + 1);
    if (!buffer || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(buffer, name.c_str(), needed);
    *size = needed;
    return 0;
}
