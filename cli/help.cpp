// brennicctl help COMMAND: the usage and the words on each command.
#include "cli/cli.h"

namespace cli {

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
    for (const VerbSpec& v : verbTable()) {
        char line[120];
        std::snprintf(line, sizeof line, "  %-16s  %s\n", v.name, v.summary);
        text += line;
    }
    return text + "The device passwords and the network password are kept in \"wizard.data\", with\n"
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
