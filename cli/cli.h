#pragma once
// brennicctl: the session's workflows from a shell. Everything here goes
// through the session layer; main() only calls run().
#include <cstdio>
#include <string>
#include <vector>

namespace cli {

// Exit statuses, as the manual page lists them.
constexpr int exitOk = 0;
constexpr int exitError = 1;      // another copy running, "wizard.data" not written, list full, no history
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
    history,
    metrics,
};

struct Invocation {
    Command command = Command::none;
    bool json = false;
    bool help = false;
    std::string adapter;          // empty: the first adapter with a device
    double intervalSeconds = 10;  // watch: from the start of one scan to the start of the next
    std::string target;           // devices remove: a listed device's MAC or index
    // The link history: where it is kept and, for history and metrics, what is read.
    bool noHistory = false;
    std::string historyFile;      // empty: the default place
    int retentionDays = 90;
    std::string station;          // history: one station's MAC
    long long sinceMs = 86400000; // history: how far back from now
    long long everyMs = 0;        // history: 0 gives the samples, else min/avg/max per interval
    bool csv = false;
    bool check = false;           // history: SQLite's quick check of the file, nothing printed but its verdict
    std::string output;           // metrics: this file, replaced atomically, instead of stdout
};

// The command line without the program name. False on bad usage, with the
// reason in *error.
bool parseArguments(const std::vector<std::string>& args, Invocation* out, std::string* error);

// The help of a command, or of the program for Command::none.
std::string helpText(Command command);

int run(int argc, char** argv);

// history and metrics: read the store alone, without adapters or the instance lock.
int runHistoryCommand(const Invocation& inv, std::FILE* out);

}  // namespace cli
