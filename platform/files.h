#pragma once
// Whole reads and writes through descriptors, for the files the programs keep
// in their working directory.
#include <cstddef>
#include <string>

namespace platform {
// `path` opened for reading when it is a regular file that the effective user
// owns and no one else may write, else -1. Neither followed nor waited on: a
// link, a FIFO, a device or a directory is refused with *why left empty; a
// file of another user, or one others may write, with the reason in *why:
// who else may write it ("writable by its group (mode 0664)"), and for a file
// of the user's own the command that makes it private.
// The checks are made on the opened descriptor, so the file cannot be swapped
// between them and the read.
int openOwnedFile(const char* path, std::string* why);
// The reason openOwnedFile would give for `path` itself (not followed), else
// empty: a name that is not ours, or a file others may write, is neither read
// nor replaced, so that no one loses what is in it to the next save.
std::string refusedFile(const char* path);
// The file `name` in the folder of the running program, when one is there,
// else `installed`. /proc/self/exe, not argv[0]: nobody but the kernel chooses it.
std::string besideProgramElse(const char* name, const char* installed);
// Reads until the end of the file or `capacity` bytes; false on an error
// (errno tells it), with the bytes read before it in *got.
bool readAll(int fd, void* data, size_t capacity, size_t* got);
// False (errno tells why) when not all of `size` bytes were written.
bool writeAll(int fd, const void* data, size_t size);

// How a replaceFile went: `failed` names the step that did not, `error` its errno.
struct Replaced {
    enum Step { none, randomName, create, write, rename } failed = none;
    int error = 0;
    std::string temporary;  // the name written first
    explicit operator bool() const { return failed == none; }
};
// Replaces `path` whole with `size` bytes of `data`, so that a reader never sees
// half a file and a failed write leaves the old one: they go to a new file
// beside it, of `mode` whatever the umask, flushed, then renamed over it (a link
// at `path` is replaced, never written through). `temporary` empty: a random
// name, made exclusively, so no one can hold it in advance. Else that fixed
// name: a write cut short leaves at most that one file, and the next removes it.
Replaced replaceFile(const std::string& path, const void* data, size_t size, unsigned mode,
                     const std::string& temporary = {});
}  // namespace platform
