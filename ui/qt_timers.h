#pragma once
// SetTimer/KillTimer on the Qt event loop of the user-interface thread, so
// that the monitor and scan timers fire from the sheet's loop and from the
// loops of modal dialogs and message boxes.
#include "platform/timers.h"

#include <QObject>

#include <map>

class QSocketNotifier;
class QTimer;

// A due timer on the event loop: asked again whenever the loop wakes and
// before it sleeps, so that its single-shot timer is set for the next mark
// that needs it, and it watches the owner's descriptor for what changes that.
class DueTimer : public QObject {
public:
    explicit DueTimer(const DueSchedule& schedule);
    ~DueTimer() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void plan();
    void watch(int fd, bool enabled);

    DueSchedule schedule_;
    QTimer* timer_;
    QSocketNotifier* notifier_ = nullptr;
    bool armed_ = false;
    DWORD armedAt_ = 0;
    bool blocked_ = false;
    DWORD blockedAt_ = 0;
};

class QtTimerBackend : public TimerBackend {
public:
    ~QtTimerBackend() override;
    TimerId start(uint32_t ms, TimerProc proc) override;
    TimerId startDue(const DueSchedule& schedule) override;
    bool stop(TimerId id) override;

private:
    std::map<TimerId, QTimer*> timers_;
    std::map<TimerId, DueTimer*> dueTimers_;
    TimerId nextId_ = 1;
};
