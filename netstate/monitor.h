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
};

void setMonitorView(MonitorView* view);

// Called after each link-statistics reply has updated the rates, so that the
// session can keep it; it must not send. nullptr: nothing is called.
using RatesUpdatedHook = void (*)();
void setRatesUpdatedHook(RatesUpdatedHook hook);

void monitorTick();
void scanTimeout();
void finishScan();
// Empties the selected station table and starts a scan at second 15.
void beginNetworkScan();
void showLinkQuality();
void fillStationList();

// The profiles, the monitor's cycle and its view as a fresh process has them.
void resetNetstateState();
