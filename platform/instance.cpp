#include "platform/instance.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace platform {
bool acquireInstanceLock(const char* name)
{
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    std::string path = (dir && *dir) ? dir : "/tmp";
    path.append("/").append(name).append("-").append(std::to_string(getuid())).append(".lock");
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return true;  // no lock to be had: better to run than to refuse
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;  // fd stays open on purpose: the lock lasts until exit
    close(fd);
    return false;
}
}  // namespace platform
