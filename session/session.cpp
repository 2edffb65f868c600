#include "session/session.h"

#include "keys/password.h"
#include "link/flags.h"
#include "link/link.h"
#include "mme/exchange.h"
#include "mme/intake.h"
#include "netstate/profiles.h"
#include "platform/platform.h"
#include "platform/timers.h"
#include "zentrik/zentrik.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace session {

const char* const deviceTypeNames[deviceTypeNameCount] = {
    "Orvane QM4410A",
    "Orvane QM44 (USB)",
    "Orvane QM44 (Router/AP)",
    "Orvane QM44 (Ethernet)",
    "Orvane QM4410B",
};

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

void startScan()
{
    setMonitorView(&watch);
    watch.running = true;
    beginNetworkScan();
}

// The stored network password, NUL-terminated even when the file left it without one.
void storedPassword(char out[passwordFieldSize])
{
    std::memset(out, 0, passwordFieldSize);
    const char* field = profiles[selectedAdapter].networkPassword;
    std::memcpy(out, field, fieldLength(field, passwordMaxLength));
}

// A field's text as the rules see it; false when it cannot be a password at all.
bool passwordText(std::string_view text, char out[passwordFieldSize])
{
    std::memset(out, 0, passwordFieldSize);
    if (text.size() > static_cast<size_t>(passwordMaxLength) || text.find('\0') != std::string_view::npos)
        return false;
    std::memcpy(out, text.data(), text.size());
    return checkPassword(out);
}

// Work the helper could not have done is not reported as done.
bool noteLinkLost(Outcome& outcome)
{
    if (!::linkLost())
        return false;
    outcome.box = Box::linkLost;
    return true;
}

// Saved only while every save of the workflow so far has been; never once the
// helper has gone, since the keys the file would hold were not all sent.
void saveInto(Outcome& outcome)
{
    if (noteLinkLost(outcome)) {
        outcome.saved = false;
        outcome.saveTried = true;
        return;
    }
    const bool ok = saveProfiles();
    outcome.saved = ok && (outcome.saved || !outcome.saveTried);
    outcome.saveTried = true;
    if (!ok) {
        outcome.saveError = lastSaveError();
        outcome.box = Box::saveFailed;
    }
}

// The local device back on its own key and the given network key, after the temporary ones of a search.
void restoreLocalKeys(const uint8_t* networkKey)
{
    uint8_t ownKey[keyLength];
    std::memcpy(ownKey, referenceBlock + mme::blockRestoreKey, keyLength);
    setLocalKeys(ownKey, networkKey);
}

void restoreStoredNetworkKey()
{
    char stored[passwordFieldSize];
    storedPassword(stored);
    uint8_t networkKey[keyLength];
    std::memcpy(networkKey, deriveKey(stored), keyLength);
    restoreLocalKeys(networkKey);
}

AdapterInfo describe(int a)
{
    const AdapterEntry& e = adapters[a];
    AdapterInfo info;
    info.index = a;
    info.name = std::string(e.name, strnlen(e.name, sizeof e.name));
    info.mac = macText(e.ownMac);
    info.devicePresent = e.devicePresent != 0;
    info.listed = profiles[a].localDevicePresent != 0;
    if (info.devicePresent) {
        info.deviceType = e.deviceType;
        info.deviceMac = macText(e.deviceMac);
        info.typeName = deviceTypeName(e.deviceType);
    }
    return info;
}

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

void fillStatuses(SetAllResult& result, const bool* reached)
{
    const NetworkProfile& profile = profiles[selectedAdapter];
    for (int i = 0; i < devicePasswordsPerProfile; ++i) {
        const DevicePasswordEntry& entry = profile.devicePasswords[i];
        if (entry.password[0] == 0)
            continue;
        DeviceStatus status;
        status.index = i;
        status.password.assign(entry.password, fieldLength(entry.password, passwordMaxLength));
        status.mac = macText(entry.remoteMac);
        status.keySet = entry.networkKeySet != 0;
        status.ok = reached && reached[i];
        result.devices.push_back(std::move(status));
    }
}

// Set All on a password that has passed the rules.
void setAllChecked(const char* password, SetAllResult& result)
{
    int a = selectedAdapter;
    NetworkProfile& profile = profiles[a];
    std::memcpy(profile.networkPassword, password, passwordFieldSize);
    uint8_t networkKey[keyLength];
    std::memcpy(networkKey, deriveKey(profile.networkPassword), keyLength);
    setKey(a, adapters[a].ownMac, mme::broadcastMac, 1, networkKey, 0x01, false, false);

    bool reached[devicePasswordsPerProfile] = {};
    for (int i = 0; i < devicePasswordsPerProfile; ++i) {
        DevicePasswordEntry& entry = profile.devicePasswords[i];
        if (entry.password[0] == 0)
            continue;
        entry.networkKeySet = 0;
        char devicePassword[passwordFieldSize] = {};
        std::memcpy(devicePassword, entry.password, fieldLength(entry.password, passwordMaxLength));
        uint8_t deviceKey[keyLength];
        std::memcpy(deviceKey, deriveKey(devicePassword), keyLength);
        reached[i] = setRemoteKey(deviceKey, networkKey, entry.remoteMac);
        if (reached[i]) {
            entry.networkKeySet = 1;
            saveInto(result);
        }
    }

    restoreLocalKeys(networkKey);
    // The local device is on the new key now; without this save a list with no
    // device that took it would leave the old password in the file.
    saveInto(result);
    fillStatuses(result, reached);
}
}  // namespace

const char* boxCaption(Box box)
{
    switch (box) {
    case Box::invalidConfiguration: return invalidConfigCaption;
    case Box::invalidNetworkPassword: return invalidNetworkPasswordCaption;
    case Box::invalidDevicePassword: return invalidDevicePasswordCaption;
    case Box::duplicatePassword: return duplicatePasswordCaption;
    case Box::noResponse: return noResponseCaption;
    case Box::listFull: return listFullCaption;
    case Box::saveFailed: return saveFailedCaption;
    case Box::linkLost: return linkLostCaption;
    case Box::none: break;
    }
    return "";
}

const char* boxText(Box box)
{
    switch (box) {
    case Box::invalidConfiguration: return invalidConfigText;
    case Box::invalidNetworkPassword: return invalidNetworkPasswordText;
    case Box::invalidDevicePassword: return invalidDevicePasswordText;
    case Box::duplicatePassword: return duplicatePasswordText;
    case Box::noResponse: return noResponseText;
    case Box::listFull: return listFullText;
    case Box::saveFailed: return saveFailedText;
    case Box::linkLost: return linkLostText;
    case Box::none: break;
    }
    return "";
}

std::string boxMessage(Box box, const std::string& saveError)
{
    std::string text = boxText(box);
    if (box == Box::saveFailed)
        text += "\n" + (saveError.empty() ? std::string("Unknown error") : saveError);
    return text;
}

std::string deviceTypeName(int deviceType)
{
    if (deviceType >= 0 && deviceType < deviceTypeNameCount)
        return deviceTypeNames[deviceType];
    return "Unknown device (type " + std::to_string(deviceType) + ")";
}

MonitorHold::MonitorHold() { busy.catchUpAndSet(true); }

MonitorHold::~MonitorHold() { busy.catchUpAndSet(idleAfter_); }

void holdMonitorUntilStart() { busy.catchUpAndSet(true); }

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

void connect(int a)
{
    if (a >= 0 && a < adapterCount && profiles[a].localDevicePresent && a != selectedAdapter) {
        selectedAdapter = a;
        seedReferenceBlock();
    }
    progressActive = 1;
    startScan();
}

void end()
{
    if (sessionOpen) {
        closeAdapters();
        sessionOpen = 0;
    }
}

bool linkLost() { return ::linkLost() != 0; }

void service() { platform::runDueTimers(); }

void serviceWithin(uint32_t limitMs)
{
    DWORD deadline = GetTickCount() + limitMs;
    DWORD due = 0;
    if (platform::nextTimerDue(&due) && static_cast<int32_t>(due - deadline) < 0)
        deadline = due;
    DWORD from = GetTickCount();
    platform::waitForTickOrReadable(deadline, zentrikWakeFd());
    platform::loopWaited(from, GetTickCount());
    zentrikClearWake();
    platform::runDueTimers();
}

void beginScan()
{
    startScan();
    progressActive = 1;
}

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
        result.sent = setKey(a, adapters[a].ownMac, mme::broadcastMac, 1, networkKey, 0x01, true, false);
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

std::vector<DeviceStatus> devicePasswords()
{
    SetAllResult listed;
    fillStatuses(listed, nullptr);
    return listed.devices;
}

SetAllResult setAll(std::string_view networkPassword)
{
    SetAllResult result;
    char password[passwordFieldSize];
    if (!passwordText(networkPassword, password)) {
        result.box = Box::invalidNetworkPassword;
        fillStatuses(result, nullptr);
        return result;
    }
    {
        MonitorHold hold;
        setAllChecked(password, result);
    }
    startScan();
    return result;
}

AddResult add(std::string_view devicePasswordText, std::string_view networkPasswordText)
{
    AddResult result;
    char password[passwordFieldSize];
    if (!passwordText(devicePasswordText, password)) {
        result.box = Box::invalidDevicePassword;
        return result;
    }
    // Labels print capitals; typed letters become them for every caller, as in the page's field.
    for (char& c : password)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    if (hasDevicePassword(password)) {
        result.box = Box::duplicatePassword;
        return result;
    }
    // Refused before any exchange, so that no entry in use is ever overwritten.
    int slot = firstFreeDevicePassword();
    if (slot < 0) {
        result.box = Box::listFull;
        return result;
    }
    // The search moves the local device to a temporary key; a network password
    // that Set All would then refuse would leave it there.
    char networkPassword[passwordFieldSize];
    if (!passwordText(networkPasswordText, networkPassword)) {
        result.box = Box::invalidNetworkPassword;
        return result;
    }

    {
        MonitorHold hold;
        uint8_t deviceKey[keyLength];
        std::memcpy(deviceKey, deriveKey(password), keyLength);
        uint8_t temporaryKey[keyLength];
        makeRandomKey(temporaryKey);
        uint8_t responder[mme::macSize];
        if (!findRemoteDevice(deviceKey, temporaryKey, responder)) {
            restoreStoredNetworkKey();
            if (!noteLinkLost(result))
                result.box = Box::noResponse;
            return result;
        }
        DevicePasswordEntry& entry = profiles[selectedAdapter].devicePasswords[slot];
        std::memcpy(entry.password, password, sizeof password);
        std::memcpy(entry.remoteMac, responder, sizeof responder);
        result.added = true;
        result.index = slot;
        result.mac = macText(responder);
        // Saved by the Set All that follows.
        setAllChecked(networkPassword, result);
    }
    startScan();
    return result;
}

RemoveResult remove(const std::vector<std::string>& passwords)
{
    RemoveResult result;
    MonitorHold hold;
    NetworkProfile& profile = profiles[selectedAdapter];
    for (const std::string& text : passwords) {
        if (text.size() >= passwordFieldSize)
            continue;
        char field[passwordFieldSize] = {};
        std::memcpy(field, text.data(), text.size());
        int index = findDevicePassword(field);
        // Only the password frees the entry; remoteMac and networkKeySet stay.
        if (index >= 0) {
            std::memset(profile.devicePasswords[index].password, 0, passwordFieldSize);
            ++result.removed;
        }
    }
    saveInto(result);
    return result;
}

RemoveResult removeEntries(const std::vector<int>& entries)
{
    RemoveResult result;
    MonitorHold hold;
    NetworkProfile& profile = profiles[selectedAdapter];
    for (int index : entries) {
        if (index < 0 || index >= devicePasswordsPerProfile || profile.devicePasswords[index].password[0] == 0)
            continue;
        std::memset(profile.devicePasswords[index].password, 0, passwordFieldSize);
        ++result.removed;
    }
    saveInto(result);
    return result;
}

Outcome save()
{
    Outcome result;
    saveInto(result);
    return result;
}

void resetSessionState()
{
    if (early.thread.joinable())
        early.thread.join();
    early.running = false;
    watch.outer = nullptr;
    watch.running = false;
    watch.finished = 0;
    watch.last = {};
    monitorStarted = false;
    slowStartHook = nullptr;
    slowStartCalled = false;
    startBegan = 0;
    setProbeWaitHook(nullptr);
}

}  // namespace session
