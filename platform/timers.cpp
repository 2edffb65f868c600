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
    DueSchedule schedule{};  // a due timer when schedule.fire is set
    bool planned = false;    // a due timer's `due` holds
};

constexpr size_t maxTimers = 64;
std::array<TableTimer, maxTimers> table;
TimerId nextId = 1;
TimerBackend* backend = nullptr;
// The end of the loop's last wait: what falls due after it, while the thread
// is held, fires once however often it fell due.
bool loopHasWaited = false;
DWORD loopWokeAt = 0;

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

TimerId SetDueTimer(const DueSchedule& schedule)
{
    if (backend)
        return backend->startDue(schedule);
    for (auto& t : table) {
        if (t.id == 0) {
            t = {};
            t.id = nextId++;
            t.schedule = schedule;
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

namespace {
// Asks each due timer whose time has not come when it falls due now.
void planDueTimers(DWORD now)
{
    for (auto& t : table)
        if (t.id != 0 && t.schedule.fire && !(t.planned && reached(now, t.due)))
            t.planned = t.schedule.next(now, &t.due);
}

bool pending(const TableTimer& t) { return t.id != 0 && (!t.schedule.fire || t.planned); }
}  // namespace

int runDueTimers()
{
    int fired = 0;
    bool again = true;
    while (again) {
        again = false;
        DWORD now = GetTickCount();
        planDueTimers(now);
        // Earliest due first, so that timers fire in time order.
        TableTimer* next = nullptr;
        for (auto& t : table)
            if (pending(t) && reached(now, t.due) && (!next || static_cast<int32_t>(t.due - next->due) < 0))
                next = &t;
        if (next) {
            if (next->schedule.fire) {
                next->planned = false;
                next->schedule.fire(now);
            } else {
                TimerProc proc = next->proc;
                bool held = loopHasWaited && !reached(loopWokeAt, next->due);
                next->due += next->period ? next->period : 1;
                while (held && reached(now, next->due))
                    next->due += next->period ? next->period : 1;
                proc();
            }
            ++fired;
            again = true;
        }
    }
    return fired;
}

bool nextTimerDue(DWORD* at)
{
    DWORD now = GetTickCount();
    planDueTimers(now);
    bool any = false;
    for (auto& t : table) {
        if (!pending(t))
            continue;
        if (!any || static_cast<int32_t>(t.due - *at) < 0)
            *at = t.due;
        any = true;
    }
    return any;
}

void loopWaited(DWORD from, DWORD to)
{
    for (auto& t : table) {
        if (t.id == 0)
            continue;
        if (t.schedule.waited)
            t.schedule.waited(from, to);
        // What fell due while the thread was held before the wait is owed once.
        else if (!t.schedule.fire)
            while (t.period && loopHasWaited && !reached(loopWokeAt, t.due) && reached(from, t.due + t.period))
                t.due += t.period;
    }
    loopHasWaited = true;
    loopWokeAt = to;
}

int activeTimerCount()
{
    int n = 0;
    for (auto& t : table)
        n += t.id != 0;
    return n;
}

void clearTimers()
{
    table = {};
    loopHasWaited = false;
}
}  // namespace platform
