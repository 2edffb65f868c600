// Whose the store's folder and file are and who may write to them, checked on
// what is then opened, not on a name that could be swapped in between.
#include "history/store_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace history {

namespace {

// Owner and mode: the store's folder and file belong to this user (a reader
// that is root may read anyone's) and no one else may write to them, or
// another user could swap the file, or plant a log beside it, under the library.
std::string trustProblem(const struct stat& st, bool reader)
{
    const uid_t me = geteuid();
    if (st.st_uid != me && !(reader && me == 0))
        return "owned by another user (uid " + std::to_string(st.st_uid) + "); not used";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return std::string("writable by other users (mode ") + mode + "); not used";
    }
    return {};
}

// Creates the missing folders of `dir`, each 0700, only where no other user can
// take or replace what is made: in a folder of this user's or root's that others
// cannot write to, or only with the sticky bit.
bool makeFolders(const std::string& dir, std::string* why)
{
    std::string parent = "/";
    for (size_t at = 1; at <= dir.size(); ++at) {
        if (at != dir.size() && dir[at] != '/')
            continue;
        std::string part = dir.substr(0, at);
        struct stat st {};
        if (stat(part.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                *why = part + ": " + std::strerror(errno);
                return false;
            }
            struct stat up {};
            if (stat(parent.c_str(), &up) != 0 || (up.st_uid != geteuid() && up.st_uid != 0) ||
                ((up.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (up.st_mode & S_ISVTX) == 0)) {
                *why = parent + ": another user's folder, or one others can write to; no folder made in it";
                return false;
            }
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                *why = part + ": " + std::strerror(errno);
                return false;
            }
        }
        parent = part;
    }
    return true;
}

std::string folderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string baseOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

// The folder, then the file, each opened without following a link and checked
// before anything is created in it; the library then opens the very file checked.
bool Store::openChecked(const std::string& path)
{
    const std::string folder = folderOf(path);
    std::string why;
    if (!readOnly_ && !makeFolders(folder, &why))
        return fail(why);
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        const int why = errno;
        struct stat link {};
        const bool isLink =
            why == ELOOP || (why == ENOTDIR && lstat(folder.c_str(), &link) == 0 && S_ISLNK(link.st_mode));
        return fail(folder + ": " + (isLink ? "a symbolic link; not used" : std::strerror(why)));
    }
    struct stat st {};
    if (fstat(dir, &st) != 0 || !(why = trustProblem(st, readOnly_)).empty()) {
        ::close(dir);
        return fail(folder + ": " + (why.empty() ? std::strerror(errno) : why));
    }
    const std::string base = baseOf(path);
    int fd = openat(dir, base.c_str(), (readOnly_ ? O_RDONLY : O_RDWR | O_CREAT) | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                    0600);
    ::close(dir);
    if (fd < 0)
        return fail(errno == ELOOP ? "is a symbolic link; not opened" : std::strerror(errno));
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok)
        why = "not a regular file";
    else if (st.st_nlink != 1)
        why = "has other names (hard links); not used";
    else if (!readOnly_ && st.st_uid == geteuid() && (st.st_mode & 077) != 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        fchmod(fd, 0600);  // readable by others: this user's own slip, mended
    if (why.empty())
        why = trustProblem(st, readOnly_);
    if (!why.empty()) {
        ::close(fd);
        return fail(why);
    }
    const int flags =
        (readOnly_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    struct stat now {};
    const bool same = stat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;
    ::close(fd);
    if (rc != SQLITE_OK)
        return db_ ? failWith(rc) : fail("out of memory");
    return same || fail("replaced while it was opened; not used");
}

}  // namespace history
