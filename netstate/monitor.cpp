#include "netstate/monitor.h"

#include "mme/classify.h"
#include "mme/exchange.h"
#include "mme/intake.h"
#include "keysetlog/keysetlog.h"
#include "link/link.h"
#include "netstate/profiles.h"
#include "mme/requests.h"
#include "link/flags.h"

using namespace mme;

int monitorTicks = 0;
int monitorSecond = 0;
TimerId scanTimerId = 0;
int progressActive = 0;

namespace {
MonitorView* view = nullptr;
RatesUpdatedHook ratesUpdated = nullptr;
uint8_t tickBuffer[monitorBufferSize];

bool monitorRunning = false;
DWORD origin = 0;        // mark 0; mark k falls at origin + 100 k
uint32_t marksDone = 0;  // the marks counted so far
bool catchingUp = false;
bool planned = false;  // the timer waits for plannedMark
uint32_t plannedMark = 0;
bool heldTick = false;  // plannedMark is the one tick owed for marks the thread was held through
DWORD loopWokeAt = 0;   // marks after it passed while something held the thread

bool isActionSecond(int second)
{
    switch (second) {
    case 15:
    case 45:
    case 18:
    case 48:
    case 21:
    case 51:
    case 24:
    case 54:
    case 27:
    case 57: return true;
    default: return false;
    }
}

DWORD markAt(uint32_t mark) { return origin + mark * monitorIntervalMs; }

// The marks before `now`: a frame that comes exactly at a mark is that mark's.
uint32_t marksBefore(DWORD now)
{
    DWORD elapsed = now - origin;
    return elapsed == 0 || static_cast<int32_t>(elapsed) < 0 ? 0 : (elapsed - 1) / monitorIntervalMs;
}

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
    case 51: sendLinkStatsQuery(a, e.ownMac, broadcastMac); return true;
    case 24:
    case 54:
        if (e.paramsSeen)
            paramQuery(a, selectorEeprom);
        return true;
    case 27:
    case 57: paramQuery(a, selectorRam); return true;
    default: return false;
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

namespace {
bool ticking = false;

void tickBody(bool drain);

// A tick may draw, and drawing may ask the monitor to catch up: not from inside.
void tick(bool drain)
{
    ticking = true;
    tickBody(drain);
    ticking = false;
}

void tickBody(bool drain)
{
    if (busy)
        return;
    // Nothing can go out or arrive any more: no scan may end as if it had run.
    if (linkLost()) {
        KillTimer(scanTimerId);
        progressActive = 0;
        if (view)
            view->showLinkLost();
        return;
    }
    if (progressActive && view)
        view->stepProgressBars();

    if (drain) {
        // At most what the receive rings hold: a flood cannot stretch a tick, the
        // rest waits for the next one. The log is written once, after the drain.
        const int budget = adapterCount * receiveSlotsPerAdapter;
        holdKeySetLog();
        uint32_t length = 0;
        for (int taken = 0; taken < budget && receiveFrame(tickBuffer, &length); ++taken)
            dispatch({tickBuffer, length});
        flushKeySetLog();
    }

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

// Counts the marks before `now` that passed while the loop waited.
void catchUpTo(DWORD now)
{
    if (!monitorRunning || catchingUp || ticking)
        return;
    catchingUp = true;
    if (static_cast<int32_t>(now - loopWokeAt) > 0)
        now = loopWokeAt;
    uint32_t before = marksBefore(now);
    // The mark the timer waits for is its to run; under busy it would do nothing.
    if (planned && !busy && static_cast<int32_t>(before - plannedMark) >= 0)
        before = plannedMark - 1;
    if (planned && static_cast<int32_t>(before - plannedMark) >= 0)
        planned = heldTick = false;
    while (static_cast<int32_t>(before - marksDone) > 0) {
        ++marksDone;
        tick(false);
    }
    catchingUp = false;
}

// The marks before `now` that the thread was held through: lost but for one
// tick, due at once. False when there are none.
bool oweHeldTick(DWORD now)
{
    uint32_t before = marksBefore(now);
    if (busy || static_cast<int32_t>(before - marksDone) <= 0)
        return false;
    marksDone = before - 1;
    planned = heldTick = true;
    plannedMark = before;
    return true;
}

// Marks from the next one on until one where the counted ticks reach a second
// with something to do; 0 when none does within a cycle.
uint32_t marksToAction()
{
    int ticks = monitorTicks;
    int second = monitorSecond;
    bool present = adapters[selectedAdapter].devicePresent != 0;
    for (uint32_t k = 1; k <= 700; ++k) {
        if (++ticks == 10) {
            ticks = 0;
            ++second;
        }
        if ((present && isActionSecond(second)) || second >= 60)
            return k;
    }
    return 0;
}
}  // namespace

void monitorTick() { tick(true); }

void startMonitor()
{
    origin = GetTickCount();
    loopWokeAt = origin;
    marksDone = 0;
    monitorRunning = true;
    MonitorIdleFlag::catchUp = monitorCatchUp;
    SetDueTimer(monitorSchedule());
}

void monitorCatchUp()
{
    if (monitorRunning && !ticking)
        catchUpTo(GetTickCount());
}

bool monitorNextDue(DWORD now, DWORD* at)
{
    if (!monitorRunning || busy) {
        planned = heldTick = false;
        return false;
    }
    if (planned && static_cast<int32_t>(now - markAt(plannedMark)) >= 0) {
        *at = markAt(plannedMark);
        return true;
    }
    catchUpTo(now);
    if (oweHeldTick(now)) {
        *at = markAt(plannedMark);
        return true;
    }
    uint32_t k = 1;
    // A lost helper is shown at the next mark, whatever else is due.
    if (!(progressActive && view && view->barsShown()) && !framesWaiting() && !linkLost())
        k = marksToAction();
    planned = k != 0;
    plannedMark = marksDone + k;
    *at = markAt(plannedMark);
    return planned;
}

void monitorDue(DWORD now)
{
    if (!monitorRunning)
        return;
    if (heldTick) {
        planned = heldTick = false;
        marksDone = plannedMark;
        monitorTick();
        return;
    }
    planned = false;
    uint32_t upTo = (now - origin) / monitorIntervalMs;
    if (static_cast<int32_t>(upTo - marksDone) <= 0)
        return;
    catchUpTo(markAt(upTo));
    marksDone = upTo;
    monitorTick();
}

void monitorWaited(DWORD from, DWORD to)
{
    if (!monitorRunning)
        return;
    catchUpTo(from);
    if (!heldTick)
        oweHeldTick(from);
    loopWokeAt = to;
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
    monitorCatchUp();
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

void stopMonitor()
{
    monitorRunning = false;
    planned = heldTick = false;
    marksDone = 0;
    origin = 0;
    if (MonitorIdleFlag::catchUp == monitorCatchUp)
        MonitorIdleFlag::catchUp = nullptr;
}
