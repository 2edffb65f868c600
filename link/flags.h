#pragma once
// Process-wide link flags, shared by every subsystem above the link.
// selectedAdapter picks both the adapter entry and its profile.
extern int selectedAdapter;  // 0 to 15

// Set: the monitor tick stays idle. The monitor counts the ticks it slept
// through when it next looks, so a change first runs its catch-up, letting it
// count those under the value they fell under. Reading has no such effect.
class MonitorIdleFlag {
public:
    constexpr explicit MonitorIdleFlag(bool idle) : idle_(idle) {}
    MonitorIdleFlag(const MonitorIdleFlag&) = delete;
    MonitorIdleFlag& operator=(const MonitorIdleFlag&) = delete;
    // When `idle` differs from the flag, runs catchUp first; then sets it.
    void catchUpAndSet(bool idle)
    {
        if (idle != idle_ && catchUp)
            catchUp();
        idle_ = idle;
    }
    operator int() const { return idle_ ? 1 : 0; }
    // The monitor's catch-up while it runs.
    static inline void (*catchUp)() = nullptr;

private:
    bool idle_;
};
extern MonitorIdleFlag busy;
extern int sessionOpen;  // 1 from a successful session start until the sheet is cancelled

// Closes the adapters and puts the link's tables and these flags back as a fresh process has them.
void resetLinkState();
