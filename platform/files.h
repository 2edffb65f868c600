#pragma once
// Whole reads and writes through descriptors, for the files the programs keep
// in their working directory.
#include <cstddef>

namespace platform {
// `path` opened for reading when it is a regular file, else -1. Neither
// followed nor waited on: a link, a FIFO, a device or a directory is refused.
int openRegularFile(const char* path);
// Reads until the end of the file or `capacity` bytes; false on an error
// (errno tells it), with the bytes read before it in *got.
bool readAll(int fd, void* data, size_t capacity, size_t* got);
// False (errno tells why) when not all of `size` bytes were written.
bool writeAll(int fd, const void* data, size_t size);
}  // namespace platform
