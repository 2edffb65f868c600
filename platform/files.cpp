#include "platform/files.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <sys/random.h>
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

namespace {
// A new file for replaceFile, -1 with the step and errno in *r.
int createTemporary(const std::string& path, unsigned mode, Replaced* r)
{
    if (!r->temporary.empty()) {
        unlink(r->temporary.c_str());
        int fd = open(r->temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0)
            *r = {Replaced::create, errno, r->temporary};
        return fd;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        uint64_t random = 0;
        if (getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
            *r = {Replaced::randomName, errno, {}};
            return -1;
        }
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".tmp.%016llx", static_cast<unsigned long long>(random));
        r->temporary = path + suffix;
        int fd = open(r->temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            if (fd < 0)
                *r = {Replaced::create, errno, r->temporary};
            return fd;
        }
    }
    r->failed = Replaced::create;  // every name tried was taken
    r->error = EEXIST;
    return -1;
}
}  // namespace

Replaced replaceFile(const std::string& path, const void* data, size_t size, unsigned mode,
                     const std::string& temporary)
{
    Replaced r;
    r.temporary = temporary;
    int fd = createTemporary(path, mode, &r);
    if (fd < 0)
        return r;
    int error = 0;
    if (fchmod(fd, mode) != 0 || !writeAll(fd, data, size) || fsync(fd) != 0)
        error = errno != 0 ? errno : EIO;
    if (close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        r.failed = Replaced::write;
    else if (std::rename(r.temporary.c_str(), path.c_str()) != 0)
        error = errno, r.failed = Replaced::rename;
    if (error != 0) {
        r.error = error;
        unlink(r.temporary.c_str());
    }
    return r;
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
