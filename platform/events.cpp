#include "platform/platform.h"

#include <array>
#include <cstddef>

namespace {
// Enough for 16 adapters x 512 reads, two send slots and the NDIS event.
constexpr int maxEvents = 16 * 512 + 64;

struct EventSlot {
    bool used = false;
    bool set = false;
};

std::array<EventSlot, maxEvents> events;
int openEvents = 0;
int creationLimit = -1;
int searchStart = 0;

EventSlot* lookup(HANDLE event)
{
    if (event <= 0 || event > maxEvents)
        return nullptr;
    EventSlot& slot = events[static_cast<size_t>(event - 1)];
    return slot.used ? &slot : nullptr;
}
}  // namespace

HANDLE CreateEventA(void*, int, int initialState, const char*)
{
    if (creationLimit == 0)
        return 0;
    for (int n = 0; n < maxEvents; ++n) {
        int i = (searchStart + n) % maxEvents;
        if (!events[static_cast<size_t>(i)].used) {
            events[static_cast<size_t>(i)] = {true, initialState != 0};
            searchStart = (i + 1) % maxEvents;
            ++openEvents;
            if (creationLimit > 0)
                --creationLimit;
            return i + 1;
        }
    }
    return 0;
}

int SetEvent(HANDLE event)
{
    EventSlot* slot = lookup(event);
    if (!slot)
        return 0;
    slot->set = true;
    return 1;
}

int ResetEvent(HANDLE event)
{
    EventSlot* slot = lookup(event);
    if (!slot)
        return 0;
    slot->set = false;
    return 1;
}

int CloseHandle(HANDLE event)
{
    EventSlot* slot = lookup(event);
    if (!slot)
        return 0;
    *slot = {};
    --openEvents;
    return 1;
}

DWORD WaitForSingleObject(HANDLE event, DWORD ms)
{
    EventSlot* slot = lookup(event);
    if (!slot)
        return WAIT_FAILED;
    if (slot->set)
        return WAIT_OBJECT_0;
    // Nothing else runs on this thread, so only the driver can set it; give it the time.
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        Sleep(1);
        if (slot->set)
            return WAIT_OBJECT_0;
    }
    return WAIT_TIMEOUT;
}

namespace platform {
bool eventIsSet(HANDLE event)
{
    EventSlot* slot = lookup(event);
    return slot && slot->set;
}

int openEventCount() { return openEvents; }

void limitEventCreation(int remaining) { creationLimit = remaining; }
}  // namespace platform
