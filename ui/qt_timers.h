#pragma once
// SetTimer/KillTimer on the Qt event loop of the user-interface thread, so
// that the monitor and scan timers fire from the sheet's loop and from the
// loops of modal dialogs and message boxes.
#include "platform/timers.h"

#include <QObject>

#include <map>

class QTimer;

class QtTimerBackend : public TimerBackend {
public:
    ~QtTimerBackend() override;
    TimerId start(uint32_t ms, TimerProc proc) override;
    bool stop(TimerId id) override;

private:
    std::map<TimerId, QTimer*> timers_;
    TimerId nextId_ = 1;
};
