#include "ui/qt_timers.h"

#include <QTimer>

QtTimerBackend::~QtTimerBackend()
{
    for (auto& [id, timer] : timers_)
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

bool QtTimerBackend::stop(TimerId id)
{
    auto it = timers_.find(id);
    if (it == timers_.end())
        return false;
    // The procedure may be killing its own timer from inside its timeout.
    it->second->stop();
    it->second->deleteLater();
    timers_.erase(it);
    return true;
}
