#pragma once
// brennicctl: the session's workflows from a shell. Everything here goes
// through the session layer; main() only calls run().
#include "session/names.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// Exit statuses, as the manual page lists them.
constexpr int exitOk = 0;
constexpr int exitError = 1;         // another copy running, "wizard.data" not written, list full, no history
constexpr int exitUsage = 2;         // bad usage or bad input
constexpr int exitNoDevice = 3;      // no adapter, no supported device behind it, or the adapters lost
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
    check,
    name,
    names,
};

// A time in UTC ms since 1970, or that long before now.
struct HistoryTime {
    bool absolute = false;
    long long ms = 0;
    long long at(long long nowMs) const { return absolute ? ms : nowMs - ms; }
};

struct Invocation {
    Command command = Command::none;
    bool json = false;
    bool help = false;
    bool version = false;
    bool verbose = false;
    std::string stateDir;         // the folder of "wizard.data" and "plc.log"; empty: BRENNIC_STATE_DIR, else brennic's
    std::string completion;       // a shell: its completion script; "adapters", "stations": the MACs the history knows
    std::string adapter;          // empty: the first adapter with a device
    double intervalSeconds = 10;  // watch: from the start of one scan to the start of the next
    long long count = 0;          // watch: stop after this many scans; 0 runs until interrupted
    std::string target;           // devices remove: a listed device's MAC or index
    // The link history: where it is kept and, for history and metrics, what is read.
    bool noHistory = false;
    std::string historyFile;  // empty: the default place
    int retentionDays = 90;
    std::string station;  // history: one station's MAC
    // history: from and until.
    HistoryTime since{false, 86400000};
    std::optional<HistoryTime> until;
    bool replies = false;   // history: each reply's average and rating instead of the samples
    long long everyMs = 0;  // history: 0 gives the samples, else min/avg/max per interval
    bool csv = false;
    bool check = false;  // history: SQLite's quick check of the file, nothing printed but its verdict
    std::string output;  // metrics: this file, replaced atomically, instead of stdout
    // check: the fractions of a station's normal rate under which it warns and is critical.
    double warning = 0.75;
    double critical = 0.5;
    // name: the station's MAC is the target; this name, or --clear.
    std::optional<std::string> name;
    bool clear = false;
};

// The command line without the program name. False on bad usage, with the
// reason in *error.
bool parseArguments(const std::vector<std::string>& args, Invocation* out, std::string* error);

// The help of a command, or of the program for Command::none.
std::string helpText(Command command);

// What an option's value is, for the completion scripts.
enum class Value { none, interface, mac, file, directory, number, duration, time, shell };

// The one argument table: the parser, the suggestions and the completion scripts read it.
struct OptionSpec {
    const char* name;       // "--adapter"
    const char* shortName;  // "-a", or nullptr
    Value value;
    unsigned commands;    // a bit per Command it belongs after; 0: anywhere
    const char* where;    // where it belongs, for the refusal
    const char* summary;  // nullptr: hidden
};
struct VerbSpec {
    const char* name;
    Command command;
    const char* summary;
};
const std::vector<OptionSpec>& optionTable();
const std::vector<VerbSpec>& verbTable();  // "help" is Command::none
const std::vector<VerbSpec>& deviceVerbTable();
constexpr unsigned bit(Command c) { return 1u << static_cast<unsigned>(c); }

// The completion script of "bash", "zsh" or "fish"; empty for another name.
std::string completionScript(const std::string& shell);
// --completion: the script, or the adapters' or stations' MACs in the history, one a line.
int printCompletion(const Invocation& inv, std::FILE* out);

int run(int argc, char** argv);

// history, metrics and check: read the store alone, without adapters or the instance lock.
int runHistoryCommand(const Invocation& inv, std::FILE* out);

// check's statuses, the monitoring plugins' own: its usage errors are UNKNOWN too.
constexpr int checkOk = 0, checkWarning = 1, checkCritical = 2, checkUnknown = 3;
int runCheckCommand(const Invocation& inv, std::FILE* out);

// The state folder: --state-dir, else BRENNIC_STATE_DIR, else systemd's
// STATE_DIRECTORY (its first folder); empty for brennic's own.
std::string chosenStateDir(const std::string& option);
// Into that folder (brennic's own made as brennic-launch makes it); its whole name in *dir.
bool enterStateDir(const std::string& chosen, std::string* dir, std::string* why);
// The file `name` in that folder, neither made nor entered; empty when there is none.
std::string stateFile(const std::string& chosen, const char* name);

// name and names: the station names in the state folder, without adapters or the lock.
int runNamesCommand(const Invocation& inv, std::FILE* out);
// The names in the state folder as it is now, for the commands that show
// stations; a file that is not read is one line on stderr, once.
const session::NameMap& stateNames();
// The names in the folder `chosen`, for the commands that only read (history,
// metrics); the same line when they are not read.
session::NameMap readNames(const std::string& chosen);

}  // namespace cli
