#include "platform/instance.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// A directory of this user's that no one else can write to, or -1: another
// user could otherwise create, hold or replace the lock file.
int openPrivateDirectory(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return -1;
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH))) {
        close(fd);
        return -1;
    }
    return fd;
}

int openLockDirectory(const char* name)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) {
        int fd = openPrivateDirectory(runtime);
        if (fd >= 0)
            return fd;
    }
    const std::string uid = std::to_string(geteuid());
    int fd = openPrivateDirectory("/run/user/" + uid);
    if (fd >= 0)
        return fd;
    // Made 0700 by this user; one that another user made first fails the check.
    const std::string own = "/tmp/" + std::string(name) + "-" + uid;
    if (mkdir(own.c_str(), 0700) != 0 && errno != EEXIST)
        return -1;
    return openPrivateDirectory(own);
}

// The lock shared with the recording service, made at boot by the package:
// its owner (the service's user) takes it exclusively, every other copy
// shared, so that while one of the two kinds runs the other refuses. Without
// the file there is no service to share the adapters with.
bool takeSystemLock(const char* name)
{
    const std::string path = "/run/" + std::string(name) + "/instance.lock";
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return true;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid == 0) {
        close(fd);
        return true;  // not the package's file
    }
    const bool service = st.st_uid == geteuid();
    if (flock(fd, (service ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0)
        return true;  // fd stays open on purpose, as the user's lock
    close(fd);
    if (service)
        std::fprintf(stderr, "%s: brennic or brennicctl is running for a user; the service waits until it ends\n", name);
    else
        std::fprintf(stderr, "%s: the link-history service is running and holds the adapters; "
                             "stop it first: sudo systemctl stop brennic-history.service\n", name);
    return false;
}

}  // namespace

bool acquireInstanceLock(const char* name)
{
    int dir = openLockDirectory(name);
    if (dir < 0) {
        std::fprintf(stderr, "%s: no private directory for the single-instance lock; running without it\n", name);
        return takeSystemLock(name);  // better to run than to let another user stop this copy
    }
    const std::string file = std::string(name) + ".lock";
    int fd = openat(dir, file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    close(dir);
    if (fd < 0)
        return takeSystemLock(name);  // no lock of the user's to be had: better to run than to refuse
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    // fd stays open on purpose: the lock lasts until exit.
    return takeSystemLock(name);
}

}  // namespace platform
