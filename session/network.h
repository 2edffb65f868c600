#pragma once
// The selected adapter's network: its scan, the stations the monitor shows, and
// its network password (the Network page, the Security page's Set Local).
#include "keys/password.h"
#include "keysetlog/keysetlog.h"
#include "netstate/monitor.h"
#include "netstate/stations.h"
#include "session/boxes.h"

#include <string>
#include <string_view>
#include <vector>

namespace session {

// What the monitor shows, as the callers take it.
using ::LinkQuality;
using ::MonitorView;
using ::scanTimeoutMs;  // the scan timer ends every scan after this
using ::StationRow;

// Selects adapter `a` (kept when out of range or without a device) and starts a scan.
void connect(int a);

// A scan: the selected adapter's stations are forgotten, queried again and
// rated; it ends on the link-statistics reply or after 10 s.
struct ScanResult {
    std::vector<StationRow> stations;  // in table order
    LinkQuality quality{};
    double average = 0.0;  // Mbps over the rated stations
};
// The Network page's Scan: the bars step until the scan ends.
void beginScan();
// The bars step at each tick until the scan ends, for a bar just shown.
void showScanProgress();
bool scanRunning();
// Scans ended since the session started; a caller waits for it to grow.
int scansFinished();
// The result of the last scan that ended.
const ScanResult& lastScan();
// The stations as the table holds them now.
ScanResult currentStations();

// What the monitor draws goes to `view` (may be null); the session watches the scan's end itself.
void setView(MonitorView* view);

// Set Local: the network password of the selected adapter to the local device
// and "wizard.data". Refused (invalidNetworkPassword, nothing sent) when it
// fails the rules. A background scan follows.
struct PasswordResult : Outcome {
    bool sent = false;       // the key went out
    bool confirmed = false;  // the device's parameter block showed it
    // Its block was asked for; not before the device has shown one, and then
    // neither confirmed nor not confirmed.
    bool asked = false;
};
PasswordResult setLocal(std::string_view password);
// Set Local with the default network password.
PasswordResult restoreDefault();
using ::defaultNetworkPassword;
// The stored network password of the selected adapter.
std::string networkPassword();
// Why the last rewrite of "plc.log", where an unconfirmed key is recorded, was
// not done; empty once one is done.
using ::keySetLogError;

}  // namespace session
