#include "platform/files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
// Who besides the user could have written the file, and what to do about it;
// empty when no one could. A link is judged by its owner alone (its mode is always 0777).
std::string refusal(const struct stat& st, const char* path)
{
    if (st.st_uid != geteuid())
        return "owned by another user (uid " + std::to_string(st.st_uid) + ")";
    if (!S_ISREG(st.st_mode) || (st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return {};
    std::string who = "every user";
    if ((st.st_mode & S_IWOTH) == 0) {
        // _r: the profiles are read on the start's own thread.
        struct group entry, *found = nullptr;
        char names[1024];
        who = "the group " + (getgrgid_r(st.st_gid, &entry, names, sizeof names, &found) == 0 && found
                                  ? std::string(found->gr_name)
                                  : std::to_string(st.st_gid));
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
    return "writable by " + who + " (mode " + mode + "); chmod 600 " + path + " makes it private";
}
}  // namespace

int openOwnedFile(const char* path, std::string* why)
{
    why->clear();
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    // Another user may have planted it where others can write, or may change it later.
    *why = refusal(st, path);
    if (!why->empty()) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string refusedFile(const char* path)
{
    struct stat st;
    if (lstat(path, &st) != 0)
        return {};
    return refusal(st, path);
}

bool readAll(int fd, void* data, size_t capacity, size_t* got)
{
    auto* bytes = static_cast<char*>(data);
    *got = 0;
    while (*got < capacity) {
        ssize_t n = read(fd, bytes + *got, capacity - *got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        *got += static_cast<size_t>(n);
    }
    return true;
}

bool writeAll(int fd, const void* data, size_t size)
{
    auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string besideProgramElse(const char* name, const char* installed)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string beside(self, static_cast<size_t>(n));
        beside.resize(beside.rfind('/') + 1);
        beside += name;
        if (access(beside.c_str(), F_OK) == 0)
            return beside;
    }
    return installed;
}

}  // namespace platform
