#include "ui/qt_timers.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

DueTimer::DueTimer(const DueSchedule& schedule) : schedule_(schedule), timer_(new QTimer(this))
{
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setSingleShot(true);
    QObject::connect(timer_, &QTimer::timeout, this, [this] {
        armed_ = false;
        schedule_.fire(GetTickCount());
    });
    // What passed while the loop slept is counted before any event is
    // handled, since a handler may change it; the timer is set again when the
    // loop wakes (a loop run without waiting never says it would block) and
    // before it sleeps.
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
    // Only what falls due while the loop sleeps may be counted afterwards.
    if (QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance()) {
        QObject::connect(loop, &QAbstractEventDispatcher::awake, this, [this] {
            if (blocked_ && schedule_.waited)
                schedule_.waited(blockedAt_, GetTickCount());
            blocked_ = false;
            plan();
        });
        QObject::connect(loop, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
            plan();
            blockedAt_ = GetTickCount();
            blocked_ = true;
        });
    }
    plan();
}

DueTimer::~DueTimer() = default;

bool DueTimer::eventFilter(QObject*, QEvent*)
{
    if (schedule_.catchUp)
        schedule_.catchUp();
    return false;
}

void DueTimer::plan()
{
    DWORD now = GetTickCount();
    DWORD at = 0;
    bool due = schedule_.next(now, &at);
    if (!due) {
        timer_->stop();
        armed_ = false;
    } else if (!armed_ || at != armedAt_) {
        int32_t wait = static_cast<int32_t>(at - now);
        timer_->start(wait > 0 ? wait : 0);
        armed_ = true;
        armedAt_ = at;
    }
    // A timer set for the next 100 ms needs no word of a frame to come.
    bool soon = due && static_cast<int32_t>(at - now) <= 100;
    watch(schedule_.wakeFd ? schedule_.wakeFd() : -1, !soon);
}

void DueTimer::watch(int fd, bool enabled)
{
    if (notifier_ && (fd < 0 || notifier_->socket() != fd)) {
        delete notifier_;
        notifier_ = nullptr;
    }
    if (fd >= 0 && !notifier_) {
        notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        QObject::connect(notifier_, &QSocketNotifier::activated, this, [this] {
            if (schedule_.clearWake)
                schedule_.clearWake();
        });
    }
    if (notifier_ && notifier_->isEnabled() != enabled)
        notifier_->setEnabled(enabled);
}

QtTimerBackend::~QtTimerBackend()
{
    for (auto& [id, timer] : timers_)
        delete timer;
    for (auto& [id, timer] : dueTimers_)
        delete timer;
}

TimerId QtTimerBackend::start(uint32_t ms, TimerProc proc)
{
    auto* timer = new QTimer;
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(static_cast<int>(ms));
    QObject::connect(timer, &QTimer::timeout, [proc] { proc(); });
    TimerId id = nextId_++;
    timers_[id] = timer;
    timer->start();
    return id;
}

TimerId QtTimerBackend::startDue(const DueSchedule& schedule)
{
    TimerId id = nextId_++;
    dueTimers_[id] = new DueTimer(schedule);
    return id;
}

bool QtTimerBackend::stop(TimerId id)
{
    if (auto due = dueTimers_.find(id); due != dueTimers_.end()) {
        due->second->deleteLater();
        dueTimers_.erase(due);
        return true;
    }
    auto it = timers_.find(id);
    if (it == timers_.end())
        return false;
    // The procedure may be killing its own timer from inside its timeout.
    it->second->stop();
    it->second->deleteLater();
    timers_.erase(it);
    return true;
}
