#include "netstate/monitor.h"

#include "mme/classify.h"
#include "mme/exchange.h"
#include "mme/intake.h"
#include "keysetlog/keysetlog.h"
#include "link/link.h"
#include "netstate/profiles.h"
#include "mme/requests.h"
#include "link/session.h"

using namespace mme;

int monitorTicks = 0;
int monitorSecond = 0;
TimerId scanTimerId = 0;
int progressActive = 0;

namespace {
MonitorView* view = nullptr;
RatesUpdatedHook ratesUpdated = nullptr;
uint8_t tickBuffer[monitorBufferSize];

void paramQuery(int a, uint8_t selector)
{
    const AdapterEntry& e = adapters[a];
    if (e.devicePresent && e.deviceType != 0)
        sendParamQuery(a, e.ownMac, broadcastMac, selector);
}

// Performs the action of the current second; false when the second has none.
bool runSecondAction(int a)
{
    const AdapterEntry& e = adapters[a];
    switch (monitorSecond) {
    case 15:
    case 45:
        paramQuery(a, e.paramsSeen ? selectorEeprom : selectorRam);
        sendStationQuery(a, profiles[a].adapterMac, broadcastMac);
        return true;
    case 18:
    case 48:
        for (const RemoteStation& s : profiles[a].stations)
            if (s.inUse)
                sendStationQuery(a, e.ownMac, s.mac);
        return true;
    case 21:
    case 51:
        sendLinkStatsQuery(a, e.ownMac, broadcastMac);
        return true;
    case 24:
    case 54:
        if (e.paramsSeen)
            paramQuery(a, selectorEeprom);
        return true;
    case 27:
    case 57:
        paramQuery(a, selectorRam);
        return true;
    default:
        return false;
    }
}

void dispatch(const FrameView& f)
{
    if (isStationReply(f)) {
        recordStationReply(f);
    } else if (isMonitorLinkStatsReply(f)) {
        KillTimer(scanTimerId);
        updateRates(f);
        if (ratesUpdated)
            ratesUpdated();
        finishScan();
    } else if (isParamReply(f)) {
        handleParamReply(f);
    }
}
}  // namespace

void setMonitorView(MonitorView* v) { view = v; }

void setRatesUpdatedHook(RatesUpdatedHook hook) { ratesUpdated = hook; }

void monitorTick()
{
    if (busy)
        return;
    if (progressActive && view)
        view->stepProgressBars();

    // At most what the receive rings hold: a flood cannot stretch a tick, the
    // rest waits for the next one. The log is written once, after the drain.
    const int budget = adapterCount * receiveSlotsPerAdapter;
    holdKeySetLog();
    uint32_t length = 0;
    for (int taken = 0; taken < budget && receiveFrame(tickBuffer, &length); ++taken)
        dispatch({tickBuffer, length});
    flushKeySetLog();

    if (++monitorTicks == 10) {
        monitorTicks = 0;
        ++monitorSecond;
    }
    int a = selectedAdapter;
    if (adapters[a].devicePresent && runSecondAction(a)) {
        ++monitorSecond;
        monitorTicks = 0;
        return;
    }
    if (monitorSecond == 60) {
        startKeySetLogCycle();
        ageStations();
        fillStationList();
        monitorTicks = 0;
        monitorSecond = 0;
    }
}

void finishScan()
{
    progressActive = 0;
    showLinkQuality();
    fillStationList();
    if (view)
        view->endScanDialog();
}

void scanTimeout()
{
    KillTimer(scanTimerId);
    finishScan();
}

void beginNetworkScan()
{
    clearStations(profiles[selectedAdapter]);
    monitorTicks = 0;
    // One scan timer at a time: a new scan replaces the one still running.
    KillTimer(scanTimerId);
    scanTimerId = SetTimer(scanTimeoutMs, scanTimeout);
    monitorSecond = 15;
}

void showLinkQuality()
{
    if (view)
        view->showLinkQuality(linkQualityFor(averageRate()));
}

void fillStationList()
{
    if (view)
        view->fillStationList(stationRows());
}
