#include "platform/platform.h"

#include <cerrno>
#include <ctime>
#include <poll.h>
#include <sched.h>

DWORD GetTickCount()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms);
}

void Sleep(DWORD ms)
{
    if (ms == 0) {
        sched_yield();
        return;
    }
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {}
}

namespace platform {
void waitForTickOrReadable(DWORD deadline, int fd, DWORD atMostMs)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t nowNs = static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
    auto left = static_cast<int32_t>(deadline - static_cast<DWORD>(nowNs / 1000000u));
    if (left <= 0)
        return;
    if (static_cast<DWORD>(left) > atMostMs) {
        left = static_cast<int32_t>(atMostMs);
        nowNs -= nowNs % 1000000u;  // a whole span, not to a tick boundary
    }
    // To the very millisecond at which the tick count reaches the deadline.
    uint64_t waitNs = static_cast<uint64_t>(left) * 1000000u - nowNs % 1000000u;
    timespec timeout{static_cast<time_t>(waitNs / 1000000000u), static_cast<long>(waitNs % 1000000000u)};
    pollfd watched{fd, POLLIN, 0};
    ppoll(&watched, fd >= 0 ? 1 : 0, &timeout, nullptr);
}
}  // namespace platform
