#include "session/start.h"

#include "link/flags.h"
#include "link/link.h"
#include "mme/exchange.h"
#include "mme/intake.h"
#include "netstate/monitor.h"
#include "netstate/profiles.h"
#include "platform/platform.h"
#include "session/internal.h"
#include "session/loop.h"
#include "frames/mac.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace session {

const char* const deviceTypeNames[deviceTypeNameCount] = {
    "Orvane QM4410A", "Orvane QM44 (USB)", "Orvane QM44 (Router/AP)", "Orvane QM44 (Ethernet)", "Orvane QM4410B",
};

namespace {
bool monitorStarted = false;
SlowStartHook slowStartHook = nullptr;
DWORD startBegan = 0;
bool slowStartCalled = false;

void onProbeWait()
{
    if (slowStartCalled || !slowStartHook || GetTickCount() - startBegan < slowStartMs)
        return;
    slowStartCalled = true;
    slowStartHook();
}

// The start begun early, on a thread of its own: it owns the session's state
// until start() has joined it, and tells the caller only through these.
struct EarlyStart {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    bool running = false;
    bool done = false;
    bool slow = false;
    int started = 0;
};
EarlyStart early;

void onProbeWaitEarly()
{
    if (GetTickCount() - startBegan < slowStartMs)
        return;
    std::lock_guard lock(early.mutex);
    if (!early.slow) {
        early.slow = true;
        early.changed.notify_all();
    }
}

// The early start's result; the slow-start hook is called from here, on the caller's thread.
int joinEarlyStart()
{
    std::unique_lock lock(early.mutex);
    for (;;) {
        early.changed.wait(lock, [] { return early.done || (early.slow && !slowStartCalled); });
        // A start that was slow is told once, also when it ended before this
        // thread woke: what the caller hears must not hang on the scheduler.
        if (!early.slow || slowStartCalled)
            break;
        slowStartCalled = true;
        lock.unlock();
        if (slowStartHook)
            slowStartHook();
        lock.lock();
    }
    lock.unlock();
    early.thread.join();
    early.running = false;
    return early.started;
}

AdapterInfo describe(int a)
{
    const AdapterEntry& e = adapters[a];
    AdapterInfo info;
    info.index = a;
    info.name = std::string(e.name, strnlen(e.name, sizeof e.name));
    info.mac = frames::Mac::of(e.ownMac).text();
    info.devicePresent = e.devicePresent != 0;
    info.listed = profiles[a].localDevicePresent != 0;
    if (info.devicePresent) {
        info.deviceType = e.deviceType;
        info.deviceMac = frames::Mac::of(e.deviceMac).text();
        info.typeName = deviceTypeName(e.deviceType);
    }
    return info;
}

int firstAdapterWithDevice()
{
    for (int a = 0; a < adapterCount; ++a)
        if (adapters[a].devicePresent)
            return a;
    return 0;
}

// Each adapter's identity and local device into its profile.
void recordAdapterIdentities()
{
    for (int a = 0; a < adapterCount; ++a) {
        NetworkProfile& p = profiles[a];
        const AdapterEntry& e = adapters[a];
        std::memcpy(p.adapterMac, e.ownMac, sizeof p.adapterMac);
        if (e.devicePresent) {
            p.localDevicePresent = 1;
            p.localDeviceType = e.deviceType;
            std::memcpy(p.localDeviceMac, e.deviceMac, sizeof p.localDeviceMac);
        } else {
            p.localDevicePresent = 0;
        }
    }
}

// The one start sequence, at program start and at Refresh.
StartResult startSequence(bool atProgramStart)
{
    MonitorHold hold;
    StartResult result;
    int started = 0;
    if (atProgramStart && early.running) {
        started = joinEarlyStart();
    } else {
        startBegan = GetTickCount();
        slowStartCalled = false;
        // At Refresh the page already says that it is looking.
        setProbeWaitHook(atProgramStart ? onProbeWait : nullptr);
        started = startSession();
        setProbeWaitHook(nullptr);
    }
    if (!started) {
        // A failed Refresh lets the monitor run again; the page's box then ends the program.
        if (atProgramStart)
            hold.keepIdle();
        result.box = Box::invalidConfiguration;
        result.noAdapter = startAdapterCount == 0;
        return result;
    }
    result.started = true;
    progressActive = 0;
    selectedAdapter = firstAdapterWithDevice();
    seedReferenceBlock();
    recordAdapterIdentities();
    if (!monitorStarted) {
        // Runs until the program ends; nothing keeps its identifier.
        startMonitor();
        monitorStarted = true;
    }
    startScan();
    progressActive = 1;
    result.selected = selectedAdapter;
    result.adapters = adapterList();
    return result;
}
}  // namespace

// The block discovery read stands as the reference until the monitor's first
// ParamReply replaces it with the same block: a key set before that reply (a
// command run straight after the start) is then confirmed against the
// device's own block instead of an empty one. Only a block the monitor would
// take: a blank one would put its bytes into every key's control bytes.
void seedReferenceBlock()
{
    static_assert(sizeof(AdapterEntry::deviceParams) == sizeof referenceBlock);
    const AdapterEntry& e = adapters[selectedAdapter];
    if (e.devicePresent && e.paramsSeen && takesParamBlock(e.deviceParams, mme::blockKindEeprom))
        std::memcpy(referenceBlock, e.deviceParams, sizeof referenceBlock);
}

std::string deviceTypeName(int deviceType)
{
    if (deviceType >= 0 && deviceType < deviceTypeNameCount)
        return deviceTypeNames[deviceType];
    return "Unknown device (type " + std::to_string(deviceType) + ")";
}

void setSlowStartHook(SlowStartHook hook) { slowStartHook = hook; }

void beginStartEarly()
{
    if (early.running)
        return;
    startBegan = GetTickCount();
    slowStartCalled = false;
    early.done = early.slow = false;
    early.running = true;
    setProbeWaitHook(onProbeWaitEarly);
    early.thread = std::thread([] {
        int started = startSession();
        setProbeWaitHook(nullptr);
        std::lock_guard lock(early.mutex);
        early.started = started;
        early.done = true;
        early.changed.notify_all();
    });
}

void abandonEarlyStart()
{
    if (!early.running)
        return;
    early.thread.join();
    early.running = false;
    end();
}

StartResult start() { return startSequence(true); }

StartResult refresh()
{
    {
        MonitorHold hold;
        closeAdapters();
    }
    return startSequence(false);
}

std::vector<AdapterInfo> adapterList()
{
    std::vector<AdapterInfo> list;
    for (int a = 0; a < adapterCount; ++a)
        list.push_back(describe(a));
    return list;
}

std::vector<AdapterInfo> probedAdapters()
{
    // A failed start closed them, leaving their names and MACs in place.
    std::vector<AdapterInfo> list;
    for (int a = 0; a < startAdapterCount && a < maxAdapters; ++a)
        list.push_back(describe(a));
    return list;
}

int adapterByName(std::string_view name)
{
    for (int a = 0; a < adapterCount; ++a)
        if (name == std::string_view(adapters[a].name, strnlen(adapters[a].name, sizeof adapters[a].name)))
            return a;
    return -1;
}

int selected() { return selectedAdapter; }

void end()
{
    if (sessionOpen) {
        closeAdapters();
        sessionOpen = 0;
    }
}

bool linkLost() { return ::linkLost() != 0; }

void resetStartState()
{
    if (early.thread.joinable())
        early.thread.join();
    early.running = false;
    monitorStarted = false;
    slowStartHook = nullptr;
    slowStartCalled = false;
    startBegan = 0;
    setProbeWaitHook(nullptr);
}

}  // namespace session
