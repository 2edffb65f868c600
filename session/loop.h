#pragma once
// The session's time without an event loop: its clock, the timers it runs,
// and the monitor held idle while a workflow runs.
#include <cstdint>

namespace session {

// Milliseconds on the system's tick counter; differences of two are the time between them.
uint32_t nowMs();

// Runs the timers that are due (the monitor tick, the scan timer) when no
// event loop does it.
void service();
// Sleeps until a timer falls due, a frame may have come or `limitMs` have
// passed, then runs what is due: a loop of these wakes only when it must.
void serviceWithin(uint32_t limitMs);

// While it lives the monitor tick stays idle; every workflow holds it so.
// Each change of the monitor's idle flag first runs its catch-up of the ticks
// it slept through. Holds do not nest: the end of one lets the monitor run
// whatever held it before, as the end of each key exchange below does.
class MonitorHold {
public:
    MonitorHold();
    ~MonitorHold();
    MonitorHold(const MonitorHold&) = delete;
    MonitorHold& operator=(const MonitorHold&) = delete;
    // Its end leaves the monitor idle (a start that failed).
    void keepIdle() { idleAfter_ = true; }

private:
    bool idleAfter_ = false;
};
// Holds the monitor idle from here until a session starts: start() and
// refresh() let it run once they have, a failed start() leaves it idle.
void holdMonitorUntilStart();

}  // namespace session
