#pragma once
// The few kernel services the system calls, under the names it calls them by.
// Events and overlapped records are in-process: the program has one thread.
#include <cstdint>

using DWORD = uint32_t;
using HANDLE = intptr_t;  // 0: no handle

struct OVERLAPPED {
    uintptr_t Internal = 0;
    uintptr_t InternalHigh = 0;
    DWORD Offset = 0;
    DWORD OffsetHigh = 0;
    HANDLE hEvent = 0;
};

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Milliseconds since an arbitrary start, wrapping at 32 bits.
DWORD GetTickCount();
// Sleep(0) gives up the rest of the time slice.
void Sleep(DWORD ms);

// Manual-reset events only; attributes and names are not supported.
HANDLE CreateEventA(void* attributes, int manualReset, int initialState, const char* name);
int SetEvent(HANDLE event);
int ResetEvent(HANDLE event);
int CloseHandle(HANDLE event);
// Waits by sleeping until the event is set or the time is over.
DWORD WaitForSingleObject(HANDLE event, DWORD ms);

namespace platform {
// Sleeps until the tick count reaches `deadline` or `fd` (-1: none) is
// readable, or `atMostMs` have passed, whichever comes first; at once when the
// deadline has passed. On the virtual clock it costs what one look at the tick
// counter costs.
constexpr DWORD noLimitMs = 0xFFFFFFFF;
void waitForTickOrReadable(DWORD deadline, int fd, DWORD atMostMs = noLimitMs);
bool eventIsSet(HANDLE event);
// Live events, for leak checks.
int openEventCount();
// At most this many more events may be created (-1: no limit); lets tests
// reach the paths where event creation fails.
void limitEventCreation(int remaining);
}  // namespace platform
