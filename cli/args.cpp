#include "cli/cli.h"

#include "history/history.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace cli {

namespace {
struct Verb {
    const char* name;
    Command command;
};
constexpr Verb verbs[] = {
    {"adapters", Command::adapters},
    {"stations", Command::stations},
    {"watch", Command::watch},
    {"set-password", Command::setPassword},
    {"restore-default", Command::restoreDefault},
    {"devices", Command::devicesList},
    {"history", Command::history},
    {"metrics", Command::metrics},
};
constexpr Verb deviceVerbs[] = {
    {"list", Command::devicesList},
    {"add", Command::devicesAdd},
    {"remove", Command::devicesRemove},
    {"set-all", Command::devicesSetAll},
};

constexpr double maxIntervalSeconds = 86400;

bool takesAdapter(Command c) { return c != Command::none && c != Command::adapters && c != Command::metrics; }

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

// "30s", "5m", "1h", "7d": a whole number and its unit, at most ten years.
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

bool parseArguments(const std::vector<std::string>& args, Invocation* out, std::string* error)
{
    Invocation inv;
    bool subverbSeen = false;
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

        if (name == "-j" || name == "--json") {
            if (hasInline) {
                *error = "option '--json' takes no value";
                return false;
            }
            inv.json = true;
        } else if (name == "-h" || name == "--help") {
            inv.help = true;
        } else if (name == "-a" || name == "--adapter") {
            if (!takesAdapter(inv.command)) {
                *error = "option '" + name + "' belongs after a command that works on an adapter";
                return false;
            }
            if (!value(&inv.adapter))
                return false;
            if (inv.adapter.empty()) {
                *error = "option '" + name + "' needs an interface name";
                return false;
            }
        } else if (name == "-i" || name == "--interval") {
            if (inv.command != Command::watch) {
                *error = "option '" + name + "' belongs to 'watch'";
                return false;
            }
            std::string text;
            if (!value(&text))
                return false;
            if (!parseInterval(text, &inv.intervalSeconds)) {
                *error = "interval '" + text + "' is not a number of seconds from 0 to 86400";
                return false;
            }
        } else if (name == "--no-history") {
            inv.noHistory = true;
        } else if (name == "--history") {
            if (!value(&inv.historyFile))
                return false;
            if (inv.historyFile.empty()) {
                *error = "option '--history' needs a file name";
                return false;
            }
        } else if (name == "--retention") {
            std::string text;
            if (!value(&text))
                return false;
            long long ms = 0;
            if (!parseDuration(text + "d", &ms)) {
                *error = "retention '" + text + "' is not a number of days from 1 to 3650";
                return false;
            }
            inv.retentionDays = static_cast<int>(ms / 86400000);
        } else if (name == "--station" || name == "--since" || name == "--every" || name == "--csv" ||
                   name == "--check") {
            if (inv.command != Command::history) {
                *error = "option '" + name + "' belongs to 'history'";
                return false;
            }
            std::string text;
            if (name == "--csv") {
                inv.csv = true;
            } else if (name == "--check") {
                inv.check = true;
            } else if (!value(&text)) {
                return false;
            } else if (name == "--station") {
                inv.station = text;
                uint64_t mac = 0;
                if (!history::parseMac(text, &mac)) {
                    *error = "station '" + text + "' is not a MAC address (aa:bb:cc:dd:ee:ff)";
                    return false;
                }
            } else if (!parseDuration(text, name == "--since" ? &inv.sinceMs : &inv.everyMs)) {
                *error = "'" + text + "' is not a duration such as 30s, 5m, 1h or 7d";
                return false;
            }
        } else if (name == "-o" || name == "--output") {
            if (inv.command != Command::metrics) {
                *error = "option '" + name + "' belongs to 'metrics'";
                return false;
            }
            if (!value(&inv.output))
                return false;
            if (inv.output.empty()) {
                *error = "option '" + name + "' needs a file name";
                return false;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            *error = "unknown option '" + arg + "'";
            return false;
        } else if (inv.command == Command::none) {
            for (const Verb& v : verbs)
                if (arg == v.name)
                    inv.command = v.command;
            if (inv.command == Command::none) {
                *error = "unknown command '" + arg + "'";
                return false;
            }
        } else if (isDevices(inv.command) && !subverbSeen) {
            subverbSeen = true;
            bool found = false;
            for (const Verb& v : deviceVerbs)
                if (arg == v.name) {
                    inv.command = v.command;
                    found = true;
                }
            if (!found) {
                *error = "unknown devices command '" + arg + "'";
                return false;
            }
        } else if (inv.command == Command::devicesRemove && inv.target.empty()) {
            inv.target = arg;
        } else if (inv.command == Command::devicesAdd) {
            // A password in argv would show in the process list.
            *error = "the device password is read from standard input, not from the command line";
            return false;
        } else {
            *error = "unexpected argument '" + arg + "'";
            return false;
        }
    }
    if (!inv.help && inv.command == Command::none) {
        *error = "no command given";
        return false;
    }
    if (!inv.help && inv.noHistory && (inv.command == Command::history || inv.command == Command::metrics)) {
        *error = "'--no-history' leaves nothing to read";
        return false;
    }
    if (inv.csv && inv.json) {
        *error = "'--csv' and '--json' are two ways of printing; pick one";
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
               "estimated rate in Mbps (\"*\" while there is none) and the link quality.\n";
    case Command::watch:
        return "Usage: brennicctl [-j] watch [--adapter IFNAME] [--interval S]\n"
               "Scans again and again, one result per scan (one JSON document per line with -j),\n"
               "until interrupted. A scan begins every S seconds (default 10), or as soon as\n"
               "the previous one ends when that takes longer.\n";
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
        return "Usage: brennicctl [-j|--csv] history [--station MAC] [--adapter IFNAME] [--since 1h|24h|7d|30d]\n"
               "                                  [--every 5m|1h] [--history FILE]\n"
               "       brennicctl history --check [--history FILE]\n"
               "The rates recorded since then (default 24h), oldest first: one sample per station\n"
               "and reply, or with --every the minimum, average and maximum of each interval.\n"
               "Times are UTC (ISO 8601). Reads the history alone: no adapter, runs beside brennic.\n"
               "--check reads every page of the file and exits 1 if it finds it damaged.\n";
    case Command::metrics:
        return "Usage: brennicctl metrics [--output FILE] [--history FILE]\n"
               "The newest rate of each station and each link's rating as OpenMetrics text, for\n"
               "node_exporter's textfile collector. --output replaces FILE atomically. Reads the\n"
               "history alone: no adapter, no lock, runs beside brennic.\n";
    }
    return "Usage: brennicctl [-j|--json] COMMAND [OPTIONS]\n"
           "Commands:\n"
           "  adapters          the adapters and the powerline device behind each\n"
           "  stations          one scan of the powerline network\n"
           "  watch             scan again and again until interrupted\n"
           "  set-password      set the network password (read from standard input)\n"
           "  restore-default   set the default network password\n"
           "  devices           list, add, remove remote devices; set-all\n"
           "  history           the rates recorded in the link history\n"
           "  metrics           the newest rates as OpenMetrics text\n"
           "Every scan's rates are recorded in the link history (see the manual page);\n"
           "--history FILE keeps it elsewhere, --no-history not at all, --retention DAYS\n"
           "prunes it (default 90).\n"
           "Each command takes --help. Exit status: 0 success, 1 error, 2 bad usage,\n"
           "3 no adapter or no supported device, or the adapters lost (brennic-link\n"
           "ended), 4 a device failed or did not confirm.\n";
}

}  // namespace cli
