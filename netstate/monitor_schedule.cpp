#include "netstate/monitor.h"

#include "zentrik/zentrik.h"

// Apart from the monitor, so that what the timer calls can be timed from outside.
DueSchedule monitorSchedule()
{
    DueSchedule schedule;
    schedule.next = monitorNextDue;
    schedule.fire = monitorDue;
    schedule.catchUp = monitorCatchUp;
    schedule.wakeFd = zentrikWakeFd;
    schedule.clearWake = zentrikClearWake;
    schedule.waited = monitorWaited;
    return schedule;
}
