#include "session/network.h"

#include "link/flags.h"
#include "link/link.h"
#include "mme/exchange.h"
#include "netstate/profiles.h"
#include "session/internal.h"
#include "session/loop.h"

#include <cstring>

namespace session {

namespace {
// Passes what the monitor draws on and notes the end of each scan.
class ScanWatch : public MonitorView {
public:
    MonitorView* outer = nullptr;
    bool running = false;
    int finished = 0;
    ScanResult last;

    void stepProgressBars() override
    {
        if (outer)
            outer->stepProgressBars();
    }
    void showLinkQuality(const LinkQuality& quality) override
    {
        if (outer)
            outer->showLinkQuality(quality);
    }
    void fillStationList(const std::vector<StationRow>& rows) override
    {
        if (outer)
            outer->fillStationList(rows);
    }
    void showLinkLost() override
    {
        running = false;
        if (outer)
            outer->showLinkLost();
    }
    bool barsShown() const override { return outer && outer->barsShown(); }
    void endScanDialog() override
    {
        running = false;
        ++finished;
        last = currentStations();
        if (outer)
            outer->endScanDialog();
    }
};

ScanWatch watch;
}  // namespace

void startScan()
{
    setMonitorView(&watch);
    watch.running = true;
    beginNetworkScan();
}

void connect(int a)
{
    if (a >= 0 && a < adapterCount && profiles[a].localDevicePresent && a != selectedAdapter) {
        selectedAdapter = a;
        seedReferenceBlock();
    }
    progressActive = 1;
    startScan();
}

void beginScan()
{
    startScan();
    progressActive = 1;
}

void showScanProgress() { progressActive = 1; }

bool scanRunning() { return watch.running; }

int scansFinished() { return watch.finished; }

const ScanResult& lastScan() { return watch.last; }

ScanResult currentStations()
{
    ScanResult result;
    result.stations = stationRows();
    result.average = averageRate();
    result.quality = linkQualityFor(result.average);
    return result;
}

void setView(MonitorView* view)
{
    watch.outer = view;
    setMonitorView(&watch);
}

PasswordResult setLocal(std::string_view text)
{
    PasswordResult result;
    char password[passwordFieldSize];
    if (!passwordText(text, password)) {
        result.box = Box::invalidNetworkPassword;
        return result;
    }
    {
        MonitorHold hold;
        int a = selectedAdapter;
        NetworkProfile& profile = profiles[a];
        std::memcpy(profile.networkPassword, password, sizeof password);
        uint8_t networkKey[keyLength];
        std::memcpy(networkKey, deriveKey(profile.networkPassword), keyLength);
        result.sent = setKey(a, {.source = adapters[a].ownMac,
                                 .destination = mme::broadcastMac,
                                 .keySelect = 1,
                                 .key = networkKey,
                                 .controlValue = 0x01,
                                 .withControl = true});
        result.confirmed = result.sent && lastKeyConfirmed == 1;
        result.asked = lastKeyConfirmed != -1;
        saveInto(result);
    }
    // A background scan: the station list stays empty until it ends.
    startScan();
    return result;
}

PasswordResult restoreDefault() { return setLocal(defaultNetworkPassword); }

std::string networkPassword()
{
    const char* field = profiles[selectedAdapter].networkPassword;
    return std::string(field, fieldLength(field, passwordMaxLength));
}

void resetScanState()
{
    watch.outer = nullptr;
    watch.running = false;
    watch.finished = 0;
    watch.last = {};
}

}  // namespace session
