#include "cli/cli.h"

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

// ISO 8601: "2026-12-08", "2026-12-08T17:00", "2026-12-08T17:00:00.5Z", "... 17:00+01:00".
// Without a zone the time is local, as ISO 8601 has it.
bool parseIsoTime(const std::string& text, long long* ms)
{
    tm t{};
    int used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &t.tm_year, &t.tm_mon, &t.tm_mday, &used) != 3 || used != 10)
        return false;
    size_t at = 10;
    long long millis = 0;
    if (at < text.size() && (text[at] == 'T' || text[at] == ' ')) {
        int n = 0;
        if (std::sscanf(text.c_str() + at + 1, "%2d:%2d%n", &t.tm_hour, &t.tm_min, &n) != 2 || n != 5)
            return false;
        at += 6;
        if (at < text.size() && text[at] == ':') {
            if (std::sscanf(text.c_str() + at + 1, "%2d%n", &t.tm_sec, &n) != 1 || n != 2)
                return false;
            at += 3;
            if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
                long long scale = 100;
                for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10)
                    millis += (text[at] - '0') * scale;
            }
        }
    }
    if (t.tm_mon < 1 || t.tm_mon > 12 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 || t.tm_min > 59 ||
        t.tm_sec > 60 || t.tm_year < 1970)
        return false;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    time_t seconds;
    if (at == text.size()) {
        t.tm_isdst = -1;
        seconds = mktime(&t);
    } else if (text.substr(at) == "Z") {
        seconds = timegm(&t);
    } else {
        int hours = 0, minutes = 0, n = 0;
        const char* zone = text.c_str() + at;
        if ((*zone != '+' && *zone != '-') ||
            !((std::sscanf(zone + 1, "%2d:%2d%n", &hours, &minutes, &n) == 2 && n == 5) ||
              (std::sscanf(zone + 1, "%2d%2d%n", &hours, &minutes, &n) == 2 && n == 4) ||
              (std::sscanf(zone + 1, "%2d%n", &hours, &n) == 1 && n == 2)) ||
            zone + 1 + n != text.c_str() + text.size() || hours > 23 || minutes > 59)
            return false;
        seconds = timegm(&t) - (*zone == '+' ? 1 : -1) * (hours * 3600 + minutes * 60);
    }
    *ms = static_cast<long long>(seconds) * 1000 + millis;
    return true;
}

bool parseDuration(const std::string& text, long long* ms);

bool parseTime(const std::string& text, HistoryTime* time)
{
    HistoryTime parsed;
    parsed.absolute = !parseDuration(text, &parsed.ms);
    if (parsed.absolute && !parseIsoTime(text, &parsed.ms))
        return false;
    *time = parsed;
    return true;
}

template <typename Table>
std::vector<std::string> names(const Table& table)
{
    std::vector<std::string> out;
    for (const auto& entry : table)
        out.emplace_back(entry.name);
    return out;
}

constexpr double maxIntervalSeconds = 86400;

bool isDevices(Command c)
{
    return c == Command::devicesList || c == Command::devicesAdd || c == Command::devicesRemove ||
           c == Command::devicesSetAll;
}

bool parseInterval(const std::string& text, double* seconds)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < 0 || v > maxIntervalSeconds)
        return false;
    *seconds = v;
    return true;
}

// "30s", "5m", "1h", "7d", "2w": a whole number and its unit, at most ten years.
bool parseDuration(const std::string& text, long long* ms)
{
    if (text.size() < 2 || text.size() > 8)
        return false;
    long long unit = 0;
    switch (text.back()) {
    case 's': unit = 1000; break;
    case 'm': unit = 60000; break;
    case 'h': unit = 3600000; break;
    case 'd': unit = 86400000; break;
    case 'w': unit = 7 * 86400000LL; break;
    default: return false;
    }
    long long n = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        n = n * 10 + (text[i] - '0');
    }
    if (n <= 0 || n * unit > 3650LL * 86400000)
        return false;
    *ms = n * unit;
    return true;
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
                *error = "'" + text + "' is neither a duration such as 1h, 7d or 2w nor an ISO 8601 time "
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

std::string helpText(Command command)
{
    switch (command) {
    case Command::none: break;
    case Command::adapters:
        return "Usage: brennicctl [-j] adapters\n"
               "Lists each network adapter with the powerline device behind it.\n";
    case Command::stations:
        return "Usage: brennicctl [-j] stations [--adapter IFNAME]\n"
               "Scans the powerline network once (up to 10 s) and lists each station with its\n"
               "estimated rate in Mbps (\"*\" while there is none) and the link quality; the\n"
               "name given to a station (see 'brennicctl help name') is shown beside it.\n";
    case Command::watch:
        return "Usage: brennicctl [-j] watch [--adapter IFNAME] [--interval S] [--count N]\n"
               "Scans again and again, one result per scan (one JSON document per line with -j),\n"
               "each with its time (ISO 8601, UTC), until interrupted or N scans are out.\n"
               "A scan begins every S seconds (default 10), or as soon as the previous one ends\n"
               "when that takes longer.\n";
    case Command::setPassword:
        return "Usage: brennicctl [-j] set-password [--adapter IFNAME]\n"
               "Sets the network password of the local powerline device. The password is read\n"
               "from standard input, or asked for without echo on a terminal; never from the\n"
               "command line. Exit status 4 when the device did not confirm the new key (see\n"
               "plc.log); 0 when it was not asked to, having shown no parameter block yet.\n";
    case Command::restoreDefault:
        return "Usage: brennicctl [-j] restore-default [--adapter IFNAME]\n"
               "Sets the local powerline device back to the default network password.\n";
    case Command::devicesList:
    case Command::devicesAdd:
    case Command::devicesRemove:
    case Command::devicesSetAll:
        return "Usage: brennicctl [-j] devices [list] [--adapter IFNAME]\n"
               "       brennicctl [-j] devices add [--adapter IFNAME]\n"
               "       brennicctl [-j] devices remove MAC|INDEX [--adapter IFNAME]\n"
               "       brennicctl [-j] devices set-all [--adapter IFNAME]\n"
               "The remote devices added by their device passwords. 'add' reads the device\n"
               "password from standard input (without echo on a terminal), finds the device\n"
               "and gives it the stored network password; 'set-all' gives it to every listed\n"
               "device again; each device is reported OK or FAIL.\n";
    case Command::history:
        return "Usage: brennicctl [-j|--csv] history [--station MAC] [--adapter ADAPTER] [--since WHEN]\n"
               "                                  [--until WHEN] [--every 5m|1h | --replies] [--history FILE]\n"
               "       brennicctl history --check [--history FILE]\n"
               "The rates recorded since then (default 24h) until then (default now), oldest first:\n"
               "one sample per station and reply, with --every the minimum, average and maximum of\n"
               "each interval, with --replies each reply's average and rating. WHEN is a duration\n"
               "back from now (30s, 5m, 1h, 7d, 2w) or an ISO 8601 time (2026-12-08T17:00:00Z;\n"
               "local without a zone). Times shown are UTC (ISO 8601). Reads the history alone: no\n"
               "adapter, runs beside brennic.\n"
               "ADAPTER is a MAC, or an interface name the history has seen (every adapter\n"
               "recorded under it), else one that exists now.\n"
               "--check reads every page of the file and exits 1 if it finds it damaged.\n";
    case Command::metrics:
        return "Usage: brennicctl metrics [--output FILE] [--history FILE]\n"
               "The newest rate of each station and each link's rating as OpenMetrics text, for\n"
               "node_exporter's textfile collector. --output replaces FILE atomically. Reads the\n"
               "history alone: no adapter, no lock, runs beside brennic. A named station (see\n"
               "'brennicctl help name') gets brennic_station_info, its name in a label.\n";
    case Command::name:
        return "Usage: brennicctl [-j] name MAC NAME\n"
               "       brennicctl [-j] name MAC --clear\n"
               "Names the station or local device of this MAC, as \"Name\" in a row's menu of\n"
               "brennic does; an empty NAME, or --clear, takes the name away. At most 32\n"
               "characters of UTF-8, no control characters; blanks around it are dropped. The\n"
               "names are kept in \"station-names\" in brennic's folder (see 'brennicctl help'),\n"
               "shown with the MACs of 'stations', 'watch' and 'history' and labelled in\n"
               "'metrics'. No adapter, no lock: runs beside brennic.\n";
    case Command::names:
        return "Usage: brennicctl [-j|--csv] names\n"
               "The names given to stations and local devices, by MAC (with -j an array of\n"
               "{\"mac\", \"name\"}).\n";
    case Command::check:
        return "Usage: brennicctl check [--station MAC] [--warning X] [--critical Y] [--history FILE]\n"
               "A check for Icinga, Nagios or Checkmk, judged from the link history alone (no\n"
               "adapter, no lock). Each station heard in the last 7 days has a normal rate: the\n"
               "median of those days, once it has 24 h of history. A station is CRITICAL when its\n"
               "rate has stayed below Y times its normal (default 0.5) or Poor for 10 minutes,\n"
               "WARNING when below X times its normal (default 0.75) for as long; 0 < Y <= X <= 1.\n"
               "One status line, with each station's newest rate and thresholds in Mbps as\n"
               "performance data. Exit status 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN: the\n"
               "history cannot be read, --station is not in it, no station has 24 h of\n"
               "history yet, or bad usage.\n";
    }
    std::string text = "Usage: brennicctl [-j|--json] COMMAND [OPTIONS]\n"
                       "       brennicctl help COMMAND | --version\n"
                       "Commands:\n";
    for (const VerbSpec& v : verbs) {
        char line[120];
        std::snprintf(line, sizeof line, "  %-16s  %s\n", v.name, v.summary);
        text += line;
    }
    return text +
           "The device passwords and the network password are kept in \"wizard.data\", with\n"
           "\"plc.log\" and the station names (\"station-names\"), in brennic's folder:\n"
           "$XDG_STATE_HOME/brennic, else ~/.local/state/brennic;\n"
           "--state-dir DIR (or BRENNIC_STATE_DIR) chooses another, '.' this one; -v names it.\n"
           "Every scan's rates are recorded in the link history (see the manual page);\n"
           "--history FILE keeps it elsewhere, --no-history not at all, --retention DAYS\n"
           "prunes it (default 90).\n"
           "Each command takes --help. Exit status: 0 success, 1 error, 2 bad usage,\n"
           "3 no adapter or no supported device, or the adapters lost (brennic-link\n"
           "ended), 4 a device failed or did not confirm.\n";
}

}  // namespace cli
