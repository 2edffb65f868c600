#pragma once
// The workflows of a session, one call each, shared by the pages of brennic and
// by brennicctl. Each returns what happened and which box is due; the caller
// shows it in its own way. Nothing here uses Qt or an event loop: without one,
// service() every 100 ms runs the monitor and the scan timer.
#include "netstate/monitor.h"
#include "netstate/stations.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace session {

// The fixed words of the boxes, shared by the pages and the command line.
constexpr const char* invalidConfigCaption = "Invalid Configuration";
constexpr const char* invalidConfigText =
    "Your Powerline hardware is not compatible with the RLA-7070 Utility.\nPlease check your device and connection.";
constexpr const char* invalidNetworkPasswordCaption = "Invalid Password Entry";
constexpr const char* invalidNetworkPasswordText =
    "The Network Password Entered is Invalid.\nPlease Enter a Valid Network Password";
constexpr const char* invalidDevicePasswordCaption = "Invalid Password Entry";
constexpr const char* invalidDevicePasswordText =
    "The Device Password Entered is Invalid.\nPlease Enter a Valid Device Password";
constexpr const char* duplicatePasswordCaption = "Duplicate Password Entry";
constexpr const char* duplicatePasswordText =
    "The Device Password Entered has already been added.\nPlease Enter Another Device Password";
constexpr const char* noResponseCaption = "No Response From Device";
constexpr const char* noResponseText = "A Device With The Entered Password Was Not Detected. \nPlease Verify The "
                                       "Password and Check The Connection To Your Device.";
constexpr const char* listFullCaption = "Device Password List Full";
constexpr const char* listFullText =
    "The Device Password List holds 32 devices.\nPlease Remove a Device Password before adding another one.";
constexpr const char* saveFailedCaption = "Settings Not Saved";
// The system's reason follows on a line of its own.
constexpr const char* saveFailedText =
    "The settings could not be saved to \"wizard.data\".\nThe key already sent to the device stays as it is.";
constexpr const char* linkLostCaption = "Connection Lost";
constexpr const char* linkLostText =
    "The connection to the adapters was lost.\nPress Refresh on the Device page to open them again.";
constexpr const char* statusOk = "OK";
constexpr const char* statusFail = "FAIL";

// The boxes a workflow can call for; boxCaption/boxText give their fixed words.
enum class Box {
    none,
    invalidConfiguration,    // no adapter opened, or no supported device answered
    invalidNetworkPassword,  // a network password field that fails the rules
    invalidDevicePassword,
    duplicatePassword,
    noResponse,              // no device answered the device password
    listFull,                // all 32 device passwords in use
    saveFailed,              // "wizard.data" could not be written: see saveError
    linkLost,                // the adapters' helper ended: nothing more was sent, nothing saved
};
const char* boxCaption(Box box);
const char* boxText(Box box);
// The box's whole text: for saveFailed the system's reason is appended.
std::string boxMessage(Box box, const std::string& saveError);

// Every workflow's result carries these.
struct Outcome {
    Box box = Box::none;
    bool saveTried = false;  // the workflow wrote "wizard.data"
    bool saved = false;      // ... and it was written
    std::string saveError;   // the system's reason when it was not
};

// An adapter of the session and the local powerline device behind it.
struct AdapterInfo {
    int index = 0;
    std::string name;        // the interface name
    std::string mac;         // "aa:bb:cc:dd:ee:ff"
    bool devicePresent = false;
    int deviceType = 0;
    std::string deviceMac;   // empty without a device
    std::string typeName;    // deviceTypeName(deviceType)
    // A device answered at the latest start: the Device page's rows are numbered over these.
    bool listed = false;
};

struct StartResult : Outcome {
    bool started = false;
    bool noAdapter = false;  // failed because no adapter opened (else: no device answered)
    int selected = 0;        // the selected adapter
    std::vector<AdapterInfo> adapters;
};

// The name of a device type; one without a name shows its number.
std::string deviceTypeName(int deviceType);
constexpr int deviceTypeNameCount = 5;
extern const char* const deviceTypeNames[deviceTypeNameCount];

// The program's start: opens the adapters, finds the local devices, loads
// "wizard.data", selects the first adapter with a device, starts the 100 ms
// monitor and a scan. On failure the adapters are closed and the box is
// invalidConfiguration.
StartResult start();
// Begins start()'s opening of the adapters, discovery and "wizard.data" on a
// thread of its own, for a caller that has its toolkit to load meanwhile:
// start() then takes up from its result. Until start() returns, nothing of the
// session may be touched but setView and setSlowStartHook, and the hook is
// called from start(), on the caller's thread.
void beginStartEarly();
// Waits for an early start that will not be taken up, and closes what it opened.
void abandonEarlyStart();
// Closes the adapters and starts again (the Device page's Refresh); the monitor
// keeps running, and is let run afterwards whether or not it started.
StartResult refresh();
// Called once within start() when finding the devices has taken longer than
// half a second, so that the caller can say it is still looking.
using SlowStartHook = void (*)();
void setSlowStartHook(SlowStartHook hook);  // nullptr: nothing is called
constexpr uint32_t slowStartMs = 500;

// While it lives the monitor tick stays idle; every workflow holds it so.
// Each change of the monitor's idle flag first runs its catch-up of the ticks
// it slept through. Holds do not nest: the end of one lets the monitor run
// whatever held it before, as the end of each key exchange below does.
class MonitorHold {
public:
    MonitorHold();
    ~MonitorHold();
    MonitorHold(const MonitorHold&) = delete;
    MonitorHold& operator=(const MonitorHold&) = delete;
    // Its end leaves the monitor idle (a start that failed).
    void keepIdle() { idleAfter_ = true; }

private:
    bool idleAfter_ = false;
};
// Holds the monitor idle from here until a session starts: start() and
// refresh() let it run once they have, a failed start() leaves it idle.
void holdMonitorUntilStart();

// The adapters of the running session.
std::vector<AdapterInfo> adapterList();
// The adapters the latest start probed, a failed one included (none with a device then).
std::vector<AdapterInfo> probedAdapters();
// Index of the adapter called `name`, -1 when none is.
int adapterByName(std::string_view name);
int selected();
// Selects adapter `a` (kept when out of range or without a device) and starts a scan.
void connect(int a);
// Closes the adapters once the session is over (the sheet cancelled, the command done).
void end();
// True once the helper that reaches the adapters has ended under the session
// (it has been reaped): nothing goes out or comes in until refresh().
bool linkLost();

// Runs the timers that are due (the monitor tick, the scan timer) when no
// event loop does it.
void service();
// Sleeps until a timer falls due, a frame may have come or `limitMs` have
// passed, then runs what is due: a loop of these wakes only when it must.
void serviceWithin(uint32_t limitMs);

// A scan: the selected adapter's stations are forgotten, queried again and
// rated; it ends on the link-statistics reply or after 10 s.
struct ScanResult {
    std::vector<StationRow> stations;  // in table order
    LinkQuality quality{};
    double average = 0.0;              // Mbps over the rated stations
};
// The Network page's Scan: the bars step until the scan ends.
void beginScan();
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
// The stored network password of the selected adapter.
std::string networkPassword();

// One remote device of the Advanced page's list and what Set All did with it.
struct DeviceStatus {
    int index = 0;          // entry of the profile's device-password table
    std::string password;
    std::string mac;        // the device that answered it
    bool keySet = false;    // the last Set All reached it
    bool ok = false;        // this call reached it
};
std::vector<DeviceStatus> devicePasswords();

// Set All: the network password to the local device and to every listed device, one by one.
struct SetAllResult : Outcome {
    std::vector<DeviceStatus> devices;  // in list order, ok per device
};
SetAllResult setAll(std::string_view networkPassword);

// Add: finds the device behind its device password (its letters in capitals,
// as labels print them) with a temporary key, lists it, then runs Set All
// with `networkPassword`. Both passwords are checked
// before anything is sent; an exchange that ends early puts the local device
// back on the stored network key.
struct AddResult : SetAllResult {
    bool added = false;
    int index = -1;         // its entry
    std::string mac;        // the device that answered
};
AddResult add(std::string_view devicePassword, std::string_view networkPassword);

// Forgets the listed devices of these passwords; unknown ones are skipped.
struct RemoveResult : Outcome {
    int removed = 0;
};
RemoveResult remove(const std::vector<std::string>& passwords);
// Forgets the listed devices of these entries of the table; free or unknown ones are skipped.
RemoveResult removeEntries(const std::vector<int>& entries);

// "wizard.data" as the profiles stand.
Outcome save();

// Puts the session's process-wide state back as a fresh process has it.
void resetSessionState();

}  // namespace session
