#include "cli/cli.h"

#include "cli/output.h"
#include "cli/secret.h"
#include "history/history.h"
#include "platform/instance.h"
#include "session/recording.h"
#include "session/session.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

// The scan timer ends every scan at 10 s; this only guards against a monitor that stopped.
constexpr uint32_t scanGuardMs = session::scanTimeoutMs + 5000;

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int) { interrupted = 1; }

struct Context {
    Invocation inv;
    std::FILE* out = stdout;
    bool progress = false;  // stderr is a terminal
    std::string profile;    // the "wizard.data" this run reads and writes, whole
};

void emit(const Context& ctx, Json doc)
{
    doc["profile"] = ctx.profile;
    std::fprintf(ctx.out, "%s\n", documentText(doc, ctx.inv.command == Command::watch).c_str());
    std::fflush(ctx.out);
}

bool progressWanted = false;

void onSlowStart()
{
    if (progressWanted)
        std::fputs("brennicctl: looking for powerline devices...\n", stderr);
}

session::AdapterInfo selectedAdapter()
{
    auto list = session::adapterList();
    int a = session::selected();
    return a >= 0 && a < static_cast<int>(list.size()) ? list[static_cast<size_t>(a)] : session::AdapterInfo{};
}

std::string selectedName() { return selectedAdapter().name; }

// Runs the monitor until the scan that is under way ends; false when interrupted.
bool awaitScan(const Context& ctx)
{
    int before = session::scansFinished();
    uint32_t began = session::nowMs();
    uint32_t shown = ~uint32_t{0};
    while (session::scansFinished() == before) {
        if (interrupted || session::linkLost())
            break;
        uint32_t elapsed = session::nowMs() - began;
        if (elapsed > scanGuardMs)
            break;
        if (ctx.progress && elapsed / 1000 != shown) {
            shown = elapsed / 1000;
            std::fprintf(stderr, "\rscanning %s ... %u s ", selectedName().c_str(), shown);
            std::fflush(stderr);
        }
        // Asleep until the monitor has something to do, or the next second to show.
        session::serviceWithin(ctx.progress ? 1000 - elapsed % 1000 : scanGuardMs - elapsed + 1);
    }
    if (ctx.progress)
        std::fputs("\r\033[K", stderr);
    // A scan that ended after the helper had gone found nothing it could.
    return session::scansFinished() != before && !session::linkLost();
}

int exitForBox(session::Box box)
{
    switch (box) {
    case session::Box::none: return exitOk;
    case session::Box::invalidConfiguration: return exitNoDevice;
    case session::Box::invalidNetworkPassword:
    case session::Box::invalidDevicePassword:
    case session::Box::duplicatePassword: return exitUsage;
    case session::Box::noResponse: return exitDeviceFailed;
    case session::Box::listFull:
    case session::Box::saveFailed: return exitError;
    case session::Box::linkLost: return exitNoDevice;
    }
    return exitError;
}

// The box as a line on stderr and the status it calls for.
int reportBox(const session::Outcome& outcome)
{
    // The end of the session says that one, in words of its own.
    if (outcome.box == session::Box::none || outcome.box == session::Box::linkLost)
        return exitForBox(outcome.box);
    error(boxLine(outcome.box, outcome.saveError));
    return exitForBox(outcome.box);
}

int cmdAdapters(const Context& ctx, const std::vector<session::AdapterInfo>& list)
{
    if (ctx.inv.json)
        emit(ctx, adaptersJson(list));
    else
        printAdapters(ctx.out, list);
    return exitOk;
}

int cmdStations(const Context& ctx)
{
    if (!awaitScan(ctx)) {
        if (session::linkLost())
            return exitNoDevice;
        error(interrupted ? "interrupted" : "the scan did not end");
        return exitError;
    }
    if (ctx.inv.json)
        emit(ctx, scanJson(selectedAdapter(), session::lastScan(), history::nowMs(), &stateNames()));
    else
        printScan(ctx.out, session::lastScan(), &stateNames());
    return exitOk;
}

int cmdWatch(const Context& ctx)
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    const auto intervalMs = static_cast<uint32_t>(ctx.inv.intervalSeconds * 1000);
    uint32_t began = session::nowMs();
    for (long long scans = 0; !interrupted && (ctx.inv.count == 0 || scans < ctx.inv.count); ++scans) {
        if (scans > 0) {
            for (uint32_t elapsed = 0;
                 !interrupted && !session::linkLost() && (elapsed = session::nowMs() - began) < intervalMs;)
                session::serviceWithin(intervalMs - elapsed);
            began = session::nowMs();
            session::beginScan();
        }
        if (!awaitScan(ctx)) {
            if (session::linkLost())
                return exitNoDevice;
            if (interrupted)
                break;
            error("the scan did not end");
            return exitError;
        }
        const long long now = history::nowMs();
        if (ctx.inv.json) {
            emit(ctx, scanJson(selectedAdapter(), session::lastScan(), now, &stateNames()));
        } else {
            std::fprintf(ctx.out, "%s  %s  %s\n", isoTime(now).c_str(), selectedName().c_str(),
                         selectedAdapter().mac.c_str());
            printScan(ctx.out, session::lastScan(), &stateNames());
            std::fputs("\n", ctx.out);
            std::fflush(ctx.out);
        }
    }
    return exitOk;
}

int passwordResult(const Context& ctx, const session::PasswordResult& r)
{
    if (r.box == session::Box::invalidNetworkPassword || r.box == session::Box::linkLost)
        return reportBox(r);
    if (ctx.inv.json) {
        emit(ctx, Json{{"adapter", selectedName()},
                       {"sent", r.sent},
                       {"confirmed", r.confirmed},
                       {"confirmationAsked", r.asked},
                       {"saved", r.saved}});
    } else {
        std::fprintf(ctx.out, "%s: %s\n", selectedName().c_str(),
                     r.confirmed ? "network password set; the device confirmed it"
                     : r.asked   ? "network password sent; the device did not confirm it"
                                 : "network password sent; the device was not asked to confirm it (it has shown "
                                   "no parameter block yet)");
    }
    // Nothing to confirm against is no failure: the key went out.
    if (!r.sent || (r.asked && !r.confirmed)) {
        // The record of it may not have been written: then say why, not where to look.
        const std::string logError = session::keySetLogError();
        error(!r.sent            ? "the new key could not be sent"
              : logError.empty() ? "the device did not confirm the new key (see plc.log)"
                                 : "the device did not confirm the new key; it is not recorded: " + logError);
        reportBox(r);
        return exitDeviceFailed;
    }
    return reportBox(r);
}

int cmdSetPassword(const Context& ctx, std::string& password)
{
    session::PasswordResult r = session::setLocal(password);
    wipe(password);
    return passwordResult(ctx, r);
}

int cmdRestoreDefault(const Context& ctx) { return passwordResult(ctx, session::restoreDefault()); }

int cmdDevicesList(const Context& ctx)
{
    auto devices = session::devicePasswords();
    if (ctx.inv.json)
        emit(ctx, devicesJson(selectedName(), devices, false));
    else
        printDevices(ctx.out, devices, false);
    return exitOk;
}

// What Set All did: the list with OK/FAIL, and status 4 when a device was not reached.
int setAllResult(const Context& ctx, const session::SetAllResult& r, Json head)
{
    if (r.box == session::Box::none || r.box == session::Box::saveFailed) {
        if (ctx.inv.json) {
            Json doc = devicesJson(selectedName(), r.devices, true);
            for (auto& [key, value] : doc.items())
                head[key] = value;
            emit(ctx, head);
        } else {
            printDevices(ctx.out, r.devices, true);
        }
    }
    int status = reportBox(r);
    bool allOk = std::all_of(r.devices.begin(), r.devices.end(), [](const auto& d) { return d.ok; });
    if (status == exitOk && !allOk) {
        error("a device was not reached (FAIL)");
        return exitDeviceFailed;
    }
    return status;
}

int cmdDevicesAdd(const Context& ctx, std::string& devicePassword)
{
    session::AddResult r = session::add(devicePassword, session::networkPassword());
    wipe(devicePassword);
    if (!r.added)
        return reportBox(r);
    return setAllResult(ctx, r, Json{{"added", true}, {"index", r.index}, {"mac", r.mac}});
}

int cmdDevicesSetAll(const Context& ctx)
{
    return setAllResult(ctx, session::setAll(session::networkPassword()), Json::object());
}

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

int cmdDevicesRemove(const Context& ctx)
{
    const std::string& target = ctx.inv.target;
    bool isIndex =
        !target.empty() && std::all_of(target.begin(), target.end(), [](char c) { return c >= '0' && c <= '9'; });
    // By entry: a damaged file may list the same password twice.
    std::vector<int> entries;
    for (session::DeviceStatus& d : session::devicePasswords()) {
        bool match = isIndex ? target.size() < 4 && std::stoi(target) == d.index : lower(target) == d.mac;
        if (match)
            entries.push_back(d.index);
        wipe(d.password);
    }
    if (entries.empty()) {
        error("no listed device has the MAC or index '" + target + "'");
        return exitUsage;
    }
    session::RemoveResult r = session::removeEntries(entries);
    if (ctx.inv.json)
        emit(ctx, Json{{"adapter", selectedName()}, {"removed", r.removed}});
    else
        std::fprintf(ctx.out, "%s: removed %d device%s\n", selectedName().c_str(), r.removed,
                     r.removed == 1 ? "" : "s");
    return reportBox(r);
}

// Picks the adapter the command names; the session has already picked the first with a device.
int selectAdapter(const std::string& name)
{
    if (name.empty())
        return exitOk;
    int a = session::adapterByName(name);
    if (a < 0) {
        error("no network adapter '" + name + "' was opened");
        return exitNoDevice;
    }
    if (!session::adapterList()[static_cast<size_t>(a)].devicePresent) {
        error("no supported powerline device answered on '" + name + "'");
        return exitNoDevice;
    }
    if (a != session::selected())
        session::connect(a);
    return exitOk;
}

int runSession(const Context& ctx)
{
    // The password is asked for before the adapters are opened, so that the
    // prompt does not wait on them and a refusal costs nothing.
    std::optional<std::string> secret;
    if (ctx.inv.command == Command::setPassword || ctx.inv.command == Command::devicesAdd) {
        std::string why;
        bool network = ctx.inv.command == Command::setPassword;
        secret = readSecret(network ? "Network password: " : "Device password: ", network, &why);
        if (!secret) {
            error(why);
            return exitUsage;
        }
    }

    progressWanted = ctx.progress;
    session::setSlowStartHook(onSlowStart);
    session::StartResult start = session::start();
    session::setSlowStartHook(nullptr);
    if (!start.started && ctx.inv.command == Command::adapters) {
        // The one command that diagnoses says what it probed, and why none qualified.
        cmdAdapters(ctx, session::probedAdapters());
        if (!start.noAdapter)
            error("none of them has a supported powerline device that answered: check that the device is "
                  "plugged in, switched on and cabled to one of these adapters");
        return exitNoDevice;
    }
    if (!start.started) {
        if (secret)
            wipe(*secret);
        // The line above, from the start itself, says which of the two it was.
        error(session::invalidConfigCaption);
        return exitNoDevice;
    }

    int status = selectAdapter(ctx.inv.adapter);
    if (status == exitOk) {
        switch (ctx.inv.command) {
        case Command::adapters: status = cmdAdapters(ctx, session::adapterList()); break;
        case Command::stations: status = cmdStations(ctx); break;
        case Command::watch: status = cmdWatch(ctx); break;
        case Command::setPassword: status = cmdSetPassword(ctx, *secret); break;
        case Command::restoreDefault: status = cmdRestoreDefault(ctx); break;
        case Command::devicesList: status = cmdDevicesList(ctx); break;
        case Command::devicesAdd: status = cmdDevicesAdd(ctx, *secret); break;
        case Command::devicesRemove: status = cmdDevicesRemove(ctx); break;
        case Command::devicesSetAll: status = cmdDevicesSetAll(ctx); break;
        case Command::history:
        case Command::metrics:
        case Command::check:
        case Command::name:
        case Command::names:
        case Command::none: break;
        }
    }
    if (secret)
        wipe(*secret);
    // Whatever the command made of it, nothing it did after this counts.
    if (session::linkLost()) {
        error("the connection to the adapters was lost: brennic-link ended");
        status = exitNoDevice;
    }
    session::end();
    return status;
}

}  // namespace

int run(int argc, char** argv)
{
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    Invocation inv;
    std::string why;
    if (!parseArguments(args, &inv, &why)) {
        error(why);
        std::fputs("Try 'brennicctl --help'.\n", stderr);
        // A monitoring system reads 2 as CRITICAL: a mistyped check is UNKNOWN.
        return std::find(args.begin(), args.end(), "check") != args.end() ? checkUnknown : exitUsage;
    }
    if (inv.help) {
        std::fputs(helpText(inv.command).c_str(), stdout);
        return exitOk;
    }
    if (inv.version) {
        std::printf("brennicctl %s\n", BRENNIC_VERSION);
        return exitOk;
    }
    // The privilege belongs to the packet helper; this program never holds one.
    if (getauxval(AT_SECURE) != 0) {
        error(std::string("refusing to run with file capabilities or setuid; the capability belongs on "
                          "brennic-link: sudo setcap cap_net_raw+ep ") +
              BRENNIC_LINK_INSTALLED_PATH);
        return exitError;
    }

    if (!inv.completion.empty())
        return printCompletion(inv, stdout);
    if (inv.command == Command::history || inv.command == Command::metrics)
        return runHistoryCommand(inv, stdout);
    if (inv.command == Command::check)
        return runCheckCommand(inv, stdout);
    if (inv.command == Command::name || inv.command == Command::names)
        return runNamesCommand(inv, stdout);

    // stdout carries the command's output alone: what the layers below print
    // there (the password rules' diagnostics) goes to stderr instead.
    std::fflush(stdout);
    int keep = dup(STDOUT_FILENO);
    std::FILE* out = keep >= 0 ? fdopen(keep, "w") : nullptr;
    if (!out) {
        error("standard output is not open");
        return exitError;
    }
    dup2(STDERR_FILENO, STDOUT_FILENO);
    setvbuf(stdout, nullptr, _IOLBF, 0);

    session::holdMonitorUntilStart();
    // brennic and brennicctl share "wizard.data", "plc.log" and the adapters: one at a time.
    const platform::InstanceLock lock = platform::acquireInstanceLock("brennic");
    if (lock != platform::InstanceLock::taken) {
        // The system lock's holder has been named on stderr.
        if (lock == platform::InstanceLock::heldByThisUser)
            error("brennic or another brennicctl is running; it holds the adapters and \"wizard.data\" until it ends");
        std::fclose(out);
        return exitError;
    }

    Context ctx;
    // Files named on the command line stay where the user meant them.
    if (!inv.historyFile.empty() && inv.historyFile[0] != '/') {
        char here[4096];
        if (getcwd(here, sizeof here))
            inv.historyFile = std::string(here) + "/" + inv.historyFile;
    }
    std::string stateDir;
    if (!enterStateDir(chosenStateDir(inv.stateDir), &stateDir, &why)) {
        error(why);
        std::fclose(out);
        return exitError;
    }
    ctx.profile = stateDir + (stateDir == "/" ? "" : "/") + session::profileFileName;
    if (inv.verbose)
        std::fprintf(stderr, "brennicctl: profile %s\n", ctx.profile.c_str());
    ctx.inv = inv;
    ctx.out = out;
    ctx.progress = isatty(STDERR_FILENO) != 0;
    // A history that cannot be opened has said so on stderr; the command goes on.
    if (!inv.noHistory)
        session::openHistory(inv.historyFile, inv.retentionDays);
    int status = runSession(ctx);
    session::closeHistory();
    if (std::fclose(out) != 0 && status == exitOk) {
        error("standard output could not be written");
        status = exitError;
    }
    return status;
}

}  // namespace cli
