#pragma once
// The 100 ms monitor: drains and dispatches received frames, runs the cycle of
// numbered seconds that sends the queries, ages the stations and ends scans.
#include "netstate/stations.h"
#include "platform/timers.h"

#include <cstdint>
#include <vector>

extern int monitorTicks;   // 0 to 9
extern int monitorSecond;  // 0 to 60
extern TimerId scanTimerId;
extern int progressActive;

constexpr uint32_t monitorIntervalMs = 100;
constexpr uint32_t scanTimeoutMs = 10000;
constexpr int monitorBufferSize = 1536;

// What the monitor draws, implemented by the user interface. Each call does
// nothing for a window that does not exist.
class MonitorView {
public:
    virtual ~MonitorView() = default;
    // The Device page's bar and the scan dialog's bar, one step each.
    virtual void stepProgressBars() = 0;
    virtual void showLinkQuality(const LinkQuality& quality) = 0;
    virtual void fillStationList(const std::vector<StationRow>& rows) = 0;
    virtual void endScanDialog() = 0;
    // The adapters' helper has gone; called at each tick until a new session starts.
    virtual void showLinkLost() {}
    // False while no bar that stepProgressBars() moves can be seen.
    virtual bool barsShown() const { return true; }
};

void setMonitorView(MonitorView* view);

// Called after each link-statistics reply has updated the rates, so that the
// session can keep it; it must not send. nullptr: nothing is called.
using RatesUpdatedHook = void (*)();
void setRatesUpdatedHook(RatesUpdatedHook hook);

void monitorTick();

// The monitor's ticks fall on the 100 ms marks counted from startMonitor(), but
// its timer wakes the process only for a mark at which something is to be done
// or seen: a second's action, a frame to take, a bar to step. The marks in
// between are counted as the ticks that found nothing when the monitor next
// looks, so what leaves and what is shown are those of a tick every 100 ms.
void startMonitor();
// Counts the marks that passed before now as ticks without a drain, up to the
// one the timer waits for. Whatever changes the monitor's state calls it
// first; it never takes a frame, so an exchange may call it midway.
void monitorCatchUp();
// Catches up, then the tick count of the next mark that needs a whole tick;
// false while none can come before something changes (busy, nothing running).
bool monitorNextDue(DWORD now, DWORD* at);
// The marks up to now, the last of them a whole tick.
void monitorDue(DWORD now);
// The event loop waited from `from` to `to`. Marks that passed since it last
// woke, before it began to wait, passed while the thread was held: they are
// lost, and the first tick after them is one tick. Only marks that pass while
// the loop waits are counted afterwards.
void monitorWaited(DWORD from, DWORD to);
// The monitor's timer as the timer backends run it.
DueSchedule monitorSchedule();
// Forgets the marks; the timer, if any, is the caller's to kill.
void stopMonitor();
void scanTimeout();
void finishScan();
// Empties the selected station table and starts a scan at second 15.
void beginNetworkScan();
void showLinkQuality();
void fillStationList();

// The profiles, the monitor's cycle and its view as a fresh process has them.
void resetNetstateState();
