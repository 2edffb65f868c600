#include "platform/instance.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
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

// Who holds `fd`'s lock against a lock of `type`: only the file's owner can
// open it for writing, so a write lock is the service's; read locks are the
// users' copies, of whoever may read the file.
std::string holder(int fd, const struct stat& st, short type)
{
    struct flock probe {};
    probe.l_type = type;
    probe.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_GETLK, &probe) != 0 || probe.l_type == F_UNLCK)
        return "another copy of brennic";
    if (probe.l_type == F_WRLCK) {
        const struct passwd* owner = getpwuid(st.st_uid);
        return "the link-history service (user " + (owner ? std::string(owner->pw_name) : std::to_string(st.st_uid)) +
               ")";
    }
    const struct group* group = getgrgid(st.st_gid);
    return "brennic or brennicctl of a member of the group " +
           (group ? std::string(group->gr_name) : std::to_string(st.st_gid));
}

// The lock shared with the recording service, made at boot by the package,
// brennic:powerline 0640: the service's user takes a write lock, every other
// member of the group a read lock, so that while one of the two kinds runs
// the other refuses. Open-file-description locks, not flock: a write lock then
// needs a descriptor open for writing, which only the file's owner gets, so no
// one else can stop every copy by taking it exclusively. Without the file, or
// without the right to read it (not in the group: no adapters either), there
// is no service to share the adapters with.
InstanceLock takeSystemLock(const char* name)
{
    const std::string path = "/run/" + std::string(name) + "/instance.lock";
    int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno == EACCES)
        fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return InstanceLock::taken;
    struct stat st;
    // A file others may write is not the package's: anyone could lock everyone out with it.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid == 0 || (st.st_mode & (S_IWGRP | S_IWOTH))) {
        close(fd);
        return InstanceLock::taken;
    }
    const bool service = st.st_uid == geteuid();
    struct flock lock {};
    lock.l_type = service ? F_WRLCK : F_RDLCK;
    lock.l_whence = SEEK_SET;  // l_start and l_len 0: the whole file
    if (fcntl(fd, F_OFD_SETLK, &lock) == 0)
        return InstanceLock::taken;  // fd stays open on purpose, as the user's lock
    const std::string who = holder(fd, st, lock.l_type);
    close(fd);
    if (service)
        std::fprintf(stderr, "%s: %s is running; not starting while it does\n", name, who.c_str());
    else
        std::fprintf(stderr,
                     "%s: %s is running and holds the adapters; "
                     "stop it first: sudo systemctl stop brennic-history.service\n",
                     name, who.c_str());
    return InstanceLock::heldBySystem;
}

}  // namespace

InstanceLock acquireInstanceLock(const char* name)
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
        return InstanceLock::heldByThisUser;
    }
    // fd stays open on purpose: the lock lasts until exit.
    return takeSystemLock(name);
}

}  // namespace platform
