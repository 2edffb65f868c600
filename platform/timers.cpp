#include "platform/timers.h"

#include "platform/platform.h"

#include <array>
#include <cstddef>

namespace {
struct TableTimer {
    TimerId id = 0;
    uint32_t period = 0;
    DWORD due = 0;
    TimerProc proc = nullptr;
};

constexpr size_t maxTimers = 64;
std::array<TableTimer, maxTimers> table;
TimerId nextId = 1;
TimerBackend* backend = nullptr;

bool reached(DWORD now, DWORD due) { return static_cast<int32_t>(now - due) >= 0; }
}  // namespace

TimerId SetTimer(uint32_t ms, TimerProc proc)
{
    if (backend)
        return backend->start(ms, proc);
    for (auto& t : table) {
        if (t.id == 0) {
            t = {nextId++, ms, GetTickCount() + ms, proc};
            return t.id;
        }
    }
    return 0;
}

int KillTimer(TimerId id)
{
    if (backend)
        return backend->stop(id) ? 1 : 0;
    for (auto& t : table) {
        if (t.id != 0 && t.id == id) {
            t = {};
            return 1;
        }
    }
    return 0;
}

namespace platform {
void setTimerBackend(TimerBackend* b) { backend = b; }

int runDueTimers()
{
    int fired = 0;
    bool again = true;
    while (again) {
        again = false;
        DWORD now = GetTickCount();
        // Earliest due first, so that timers fire in time order.
        TableTimer* next = nullptr;
        for (auto& t : table)
            if (t.id != 0 && reached(now, t.due) && (!next || static_cast<int32_t>(t.due - next->due) < 0))
                next = &t;
        if (next) {
            TimerProc proc = next->proc;
            next->due += next->period ? next->period : 1;
            proc();
            ++fired;
            again = true;
        }
    }
    return fired;
}

int activeTimerCount()
{
    int n = 0;
    for (auto& t : table)
        n += t.id != 0;
    return n;
}

void clearTimers() { table = {}; }
}  // namespace platform
