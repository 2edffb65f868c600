#include "netstate/monitor.h"
#include "netstate/profiles.h"

#include <cstring>

void resetNetstateState()
{
    std::memset(profiles, 0, sizeof profiles);
    startAdapterCount = 0;
    resetProfileFileState();
    setMonitorView(nullptr);
    setRatesUpdatedHook(nullptr);
    stopMonitor();
    monitorTicks = 0;
    monitorSecond = 0;
    progressActive = 0;
    scanTimerId = 0;
}
