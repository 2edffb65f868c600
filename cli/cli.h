#pragma once
// brennicctl: the session's workflows from a shell. Everything here goes
// through the session layer; main() only calls run().
#include <string>
#include <vector>

namespace cli {

// Exit statuses, as the manual page lists them.
constexpr int exitOk = 0;
constexpr int exitError = 1;      // another copy running, "wizard.data" not written, list full
constexpr int exitUsage = 2;      // bad usage or bad input
constexpr int exitNoDevice = 3;   // no adapter, no supported device behind it, or the adapters lost
constexpr int exitDeviceFailed = 4;  // a device did not answer or did not confirm

enum class Command {
    none,
    adapters,
    stations,
    watch,
    setPassword,
    restoreDefault,
    devicesList,
    devicesAdd,
    devicesRemove,
    devicesSetAll,
};

struct Invocation {
    Command command = Command::none;
    bool json = false;
    bool help = false;
    std::string adapter;          // empty: the first adapter with a device
    double intervalSeconds = 10;  // watch: from the start of one scan to the start of the next
    std::string target;           // devices remove: a listed device's MAC or index
};

// The command line without the program name. False on bad usage, with the
// reason in *error.
bool parseArguments(const std::vector<std::string>& args, Invocation* out, std::string* error);

// The help of a command, or of the program for Command::none.
std::string helpText(Command command);

int run(int argc, char** argv);

}  // namespace cli
