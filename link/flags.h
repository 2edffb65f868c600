#pragma once
// Process-wide link flags, shared by every subsystem above the link.
// selectedAdapter picks both the adapter entry and its profile.
extern int selectedAdapter;  // 0 to 15

// Nonzero: the monitor tick stays idle. The monitor counts the ticks it slept
// through when it next looks, so a change first lets it count those under the
// value they fell under.
class BusyFlag {
public:
    constexpr explicit BusyFlag(int value) : value_(value) {}
    BusyFlag& operator=(int value)
    {
        if ((value != 0) != (value_ != 0) && beforeChange)
            beforeChange();
        value_ = value;
        return *this;
    }
    operator int() const { return value_; }
    static inline void (*beforeChange)() = nullptr;

private:
    int value_;
};
extern BusyFlag busy;
extern int sessionOpen;      // 1 from a successful session start until the sheet is cancelled

// Closes the adapters and puts the link's tables and these flags back as a fresh process has them.
void resetLinkState();
