#pragma once
// Everything a pipe carries until its writers close it.
#include <cerrno>
#include <string>
#include <unistd.h>

namespace testsupport {

inline std::string readToEnd(int fd)
{
    std::string text;
    char buffer[512];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            text.append(buffer, static_cast<size_t>(n));
    return text;
}

}  // namespace testsupport
