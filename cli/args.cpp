#include "cli/cli.h"
#include "cli/values.h"

#include "history/history.h"
#include "session/names.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <algorithm>

namespace cli {

namespace {
constexpr unsigned devicesBits =
    bit(Command::devicesList) | bit(Command::devicesAdd) | bit(Command::devicesRemove) | bit(Command::devicesSetAll);
constexpr unsigned adapterBits = bit(Command::stations) | bit(Command::watch) | bit(Command::setPassword) |
                                 bit(Command::restoreDefault) | devicesBits | bit(Command::history);
constexpr const char* onAdapter = "after a command that works on an adapter";

const std::vector<VerbSpec> verbs = {
    {"adapters", Command::adapters, "the adapters and the powerline device behind each"},
    {"stations", Command::stations, "one scan of the powerline network"},
    {"watch", Command::watch, "scan again and again until interrupted"},
    {"set-password", Command::setPassword, "set the network password (read from standard input)"},
    {"restore-default", Command::restoreDefault, "set the default network password"},
    {"devices", Command::devicesList, "list, add, remove remote devices; set-all"},
    {"history", Command::history, "the rates recorded in the link history"},
    {"metrics", Command::metrics, "the newest rates as OpenMetrics text"},
    {"check", Command::check, "a monitoring check: is a link below its normal rate"},
    {"name", Command::name, "give a station or a local device a name, or take it away"},
    {"names", Command::names, "the names given to stations"},
    {"help", Command::none, "this help, or a command's"},
};
const std::vector<VerbSpec> deviceVerbs = {
    {"list", Command::devicesList, "the remote devices added"},
    {"add", Command::devicesAdd, "add a device by its device password"},
    {"remove", Command::devicesRemove, "remove a listed device"},
    {"set-all", Command::devicesSetAll, "give every listed device the network password"},
};
const std::vector<OptionSpec> options = {
    {"--json", "-j", Value::none, 0, nullptr, "one JSON document"},
    {"--help", "-h", Value::none, 0, nullptr, "show the help"},
    {"--version", nullptr, Value::none, 0, nullptr, "show the version"},
    {"--completion", nullptr, Value::shell, 0, nullptr, nullptr},
    {"--verbose", "-v", Value::none, 0, nullptr, "name the files used"},
    {"--state-dir", nullptr, Value::directory, 0, nullptr, "the folder of wizard.data and plc.log"},
    {"--no-history", nullptr, Value::none, 0, nullptr, "record no link history"},
    {"--history", nullptr, Value::file, 0, nullptr, "the link history file"},
    {"--retention", nullptr, Value::number, 0, nullptr, "days of link history to keep"},
    {"--adapter", "-a", Value::interface, adapterBits, onAdapter, "the adapter (interface name or MAC)"},
    {"--interval", "-i", Value::number, bit(Command::watch), "to 'watch'", "seconds from scan to scan"},
    {"--count", "-n", Value::number, bit(Command::watch), "to 'watch'", "stop after this many scans"},
    {"--station", nullptr, Value::mac, bit(Command::history) | bit(Command::check), "to 'history' or 'check'",
     "one station"},
    {"--since", nullptr, Value::time, bit(Command::history), "to 'history'", "from (1h, 7d, 2w ago or a time)"},
    {"--until", nullptr, Value::time, bit(Command::history), "to 'history'", "until (a duration ago or a time)"},
    {"--replies", nullptr, Value::none, bit(Command::history), "to 'history'", "each reply's average and rating"},
    {"--every", nullptr, Value::duration, bit(Command::history), "to 'history'", "min/avg/max per interval"},
    {"--csv", nullptr, Value::none, bit(Command::history) | bit(Command::names), "to 'history' or 'names'",
     "comma-separated values"},
    {"--check", nullptr, Value::none, bit(Command::history), "to 'history'", "check the file for damage"},
    {"--output", "-o", Value::file, bit(Command::metrics), "to 'metrics'", "write this file atomically"},
    {"--warning", nullptr, Value::number, bit(Command::check), "to 'check'", "warn below this fraction of normal"},
    {"--critical", nullptr, Value::number, bit(Command::check), "to 'check'", "critical below this fraction"},
    {"--clear", nullptr, Value::none, bit(Command::name), "to 'name'", "take the name away"},
};

const OptionSpec* findOption(const std::string& name)
{
    for (const OptionSpec& o : options)
        if (name == o.name || (o.shortName && name == o.shortName))
            return &o;
    return nullptr;
}

// Edits from one word to the other.
size_t distance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// "; did you mean 'x'?" for the nearest of `words` within a typo's reach, else nothing.
std::string nearest(const std::string& word, const std::vector<std::string>& words)
{
    std::string best;
    size_t bestDistance = std::max<size_t>(1, std::min<size_t>(2, word.size() / 3)) + 1;
    for (const std::string& w : words) {
        // A long enough beginning of the word counts as one typo.
        size_t d = word.size() >= 4 && w.rfind(word, 0) == 0 ? 1 : distance(word, w);
        if (d < bestDistance) {
            bestDistance = d;
            best = w;
        }
    }
    return best.empty() ? "" : "; did you mean '" + best + "'?";
}

template <typename Table>
std::vector<std::string> names(const Table& table)
{
    std::vector<std::string> out;
    for (const auto& entry : table)
        out.emplace_back(entry.name);
    return out;
}

bool isDevices(Command c)
{
    return c == Command::devicesList || c == Command::devicesAdd || c == Command::devicesRemove ||
           c == Command::devicesSetAll;
}

}  // namespace

const std::vector<OptionSpec>& optionTable() { return options; }
const std::vector<VerbSpec>& verbTable() { return verbs; }
const std::vector<VerbSpec>& deviceVerbTable() { return deviceVerbs; }

bool parseArguments(const std::vector<std::string>& args, Invocation* out, std::string* error)
{
    Invocation inv;
    bool subverbSeen = false;
    bool helpVerb = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // "--name=value" and "--name value" alike.
        std::string name = arg;
        std::string inlineValue;
        bool hasInline = false;
        if (arg.rfind("--", 0) == 0) {
            size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                inlineValue = arg.substr(eq + 1);
                hasInline = true;
            }
        }
        auto value = [&](std::string* v) {
            if (hasInline) {
                *v = inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                *error = "option '" + name + "' needs a value";
                return false;
            }
            *v = args[++i];
            return true;
        };

        const OptionSpec* spec = arg.size() > 1 && arg[0] == '-' ? findOption(name) : nullptr;
        if (arg.size() > 1 && arg[0] == '-' && !spec) {
            std::vector<std::string> known;
            for (const OptionSpec& o : options)
                if (o.summary)
                    known.emplace_back(o.name);
            *error = "unknown option '" + arg + "'" + nearest(name, known);
            return false;
        }
        if (spec && spec->commands != 0 && !(spec->commands & bit(inv.command))) {
            *error = "option '" + name + "' belongs " + spec->where;
            return false;
        }
        if (spec && spec->value == Value::none && hasInline) {
            *error = std::string("option '") + spec->name + "' takes no value";
            return false;
        }
        std::string text;
        if (spec && spec->value != Value::none && !value(&text))
            return false;
        const std::string option = spec ? spec->name : "";

        if (option == "--json") {
            inv.json = true;
        } else if (option == "--help") {
            inv.help = true;
        } else if (option == "--version") {
            inv.version = true;
        } else if (option == "--verbose") {
            inv.verbose = true;
        } else if (option == "--state-dir") {
            inv.stateDir = text;
            if (text.empty()) {
                *error = "option '--state-dir' needs a folder ('.' for this one)";
                return false;
            }
        } else if (option == "--completion") {
            inv.completion = text;
            if (text != "adapters" && text != "stations" && completionScript(text).empty()) {
                *error = "no completion for '" + text + "': bash, zsh or fish";
                return false;
            }
        } else if (option == "--adapter") {
            inv.adapter = text;
            if (inv.adapter.empty()) {
                *error = "option '" + name + "' needs an interface name";
                return false;
            }
        } else if (option == "--interval") {
            if (!parseInterval(text, &inv.intervalSeconds)) {
                *error = "interval '" + text + "' is not a number of seconds from 0 to 86400";
                return false;
            }
        } else if (option == "--count") {
            long long ms = 0;
            if (!parseDuration(text + "s", &ms) || ms / 1000 > 1000000000) {
                *error = "count '" + text + "' is not a whole number of scans from 1";
                return false;
            }
            inv.count = ms / 1000;
        } else if (option == "--no-history") {
            inv.noHistory = true;
        } else if (option == "--history") {
            inv.historyFile = text;
            if (inv.historyFile.empty()) {
                *error = "option '--history' needs a file name";
                return false;
            }
        } else if (option == "--retention") {
            long long ms = 0;
            if (!parseDuration(text + "d", &ms)) {
                *error = "retention '" + text + "' is not a number of days from 1 to 3650";
                return false;
            }
            inv.retentionDays = static_cast<int>(ms / 86400000);
        } else if (option == "--csv") {
            inv.csv = true;
        } else if (option == "--check") {
            inv.check = true;
        } else if (option == "--station") {
            inv.station = text;
            if (!history::Mac::parse(text)) {
                *error = "station '" + text + "' is not a MAC address (aa:bb:cc:dd:ee:ff)";
                return false;
            }
        } else if (option == "--since" || option == "--until") {
            HistoryTime time;
            if (!parseTime(text, &time)) {
                *error = "'" + text +
                         "' is neither a duration such as 1h, 7d or 2w nor an ISO 8601 time "
                         "such as 2026-12-08T17:00:00Z";
                return false;
            }
            (option == "--since" ? inv.since : inv.until.emplace()) = time;
        } else if (option == "--replies") {
            inv.replies = true;
        } else if (option == "--every") {
            if (!parseDuration(text, &inv.everyMs)) {
                *error = "'" + text + "' is not a duration such as 30s, 5m, 1h or 7d";
                return false;
            }
        } else if (option == "--warning" || option == "--critical") {
            double fraction = 0;
            if (!parseInterval(text, &fraction) || fraction <= 0 || fraction > 1) {
                *error = option + " '" + text + "' is not a fraction of the normal rate above 0 and at most 1";
                return false;
            }
            (option == "--warning" ? inv.warning : inv.critical) = fraction;
        } else if (option == "--clear") {
            inv.clear = true;
        } else if (option == "--output") {
            inv.output = text;
            if (inv.output.empty()) {
                *error = "option '" + name + "' needs a file name";
                return false;
            }
        } else if (inv.command == Command::none && arg == "help" && !helpVerb) {
            // "help COMMAND" is "COMMAND --help".
            helpVerb = true;
            inv.help = true;
        } else if (inv.command == Command::none) {
            for (const VerbSpec& v : verbs)
                if (arg == v.name && v.command != Command::none)
                    inv.command = v.command;
            if (inv.command == Command::none) {
                *error = "unknown command '" + arg + "'" + nearest(arg, names(verbs));
                return false;
            }
        } else if (isDevices(inv.command) && !subverbSeen) {
            subverbSeen = true;
            bool found = false;
            for (const VerbSpec& v : deviceVerbs)
                if (arg == v.name) {
                    inv.command = v.command;
                    found = true;
                }
            if (!found) {
                *error = "unknown devices command '" + arg + "'" + nearest(arg, names(deviceVerbs));
                return false;
            }
        } else if (inv.command == Command::devicesRemove && inv.target.empty()) {
            inv.target = arg;
        } else if (inv.command == Command::name && inv.target.empty()) {
            if (!session::Mac::parse(arg)) {
                *error = "'" + arg + "' is not a MAC address (aa:bb:cc:dd:ee:ff)";
                return false;
            }
            inv.target = arg;
        } else if (inv.command == Command::name && !inv.name) {
            std::string name;
            if (!session::checkName(arg, &name, error))
                return false;
            inv.name = arg;
        } else if (inv.command == Command::devicesAdd) {
            // A password in argv would show in the process list.
            *error = "the device password is read from standard input, not from the command line";
            return false;
        } else {
            *error = "unexpected argument '" + arg + "'" +
                     (inv.command == Command::name ? " (a name of several words is one argument: quote it)" : "");
            return false;
        }
    }
    if (!inv.help && !inv.version && inv.completion.empty() && inv.command == Command::none) {
        *error = "no command given";
        return false;
    }
    if (!inv.help && inv.noHistory &&
        (inv.command == Command::history || inv.command == Command::metrics || inv.command == Command::check)) {
        *error = "'--no-history' leaves nothing to read";
        return false;
    }
    if (inv.critical > inv.warning) {
        *error = "'--critical' is a fraction at most '--warning': a rate warns before it is critical";
        return false;
    }
    if (inv.json && inv.command == Command::check) {
        *error = "'check' prints one status line for a monitoring system; no JSON";
        return false;
    }
    if (inv.replies && inv.everyMs > 0) {
        *error = "'--replies' shows each reply; '--every' sums the samples up: pick one";
        return false;
    }
    if (inv.csv && inv.json) {
        *error = "'--csv' and '--json' are two ways of printing; pick one";
        return false;
    }
    if (!inv.help && inv.command == Command::name && (inv.target.empty() || (!inv.name && !inv.clear))) {
        *error = "'name' needs a MAC and the name, or a MAC and '--clear'";
        return false;
    }
    if (inv.name && inv.clear) {
        *error = "'--clear' takes the name away: give it no name";
        return false;
    }
    if (!inv.help && inv.command == Command::devicesRemove && inv.target.empty()) {
        *error = "'devices remove' needs the MAC or the index of a listed device";
        return false;
    }
    *out = inv;
    return true;
}

}  // namespace cli
