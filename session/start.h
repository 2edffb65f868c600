#pragma once
// The session's start and end, and the adapters it opened.
#include "session/boxes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace session {

// An adapter of the session and the local powerline device behind it.
struct AdapterInfo {
    int index = 0;
    std::string name;  // the interface name
    std::string mac;   // "aa:bb:cc:dd:ee:ff"
    bool devicePresent = false;
    int deviceType = 0;
    std::string deviceMac;  // empty without a device
    std::string typeName;   // deviceTypeName(deviceType)
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

// The adapters of the running session.
std::vector<AdapterInfo> adapterList();
// The adapters the latest start probed, a failed one included (none with a device then).
std::vector<AdapterInfo> probedAdapters();
// Index of the adapter called `name`, -1 when none is.
int adapterByName(std::string_view name);
int selected();
// Closes the adapters once the session is over (the sheet cancelled, the command done).
void end();
// True once the helper that reaches the adapters has ended under the session
// (it has been reaped): nothing goes out or comes in until refresh().
bool linkLost();

}  // namespace session
