// brennicctl: its command line parsed in process, then the program itself as
// a child against plcsim through the kernel, in a private network namespace
// of the test's own. Real time there: every wait is bounded.
#include "cli/cli.h"
#include "cli/output.h"
#include "support/plcsim_process.h"
#include "emulator/model.h"
#include "history/history.h"
#include "netstate/profiles.h"
#include "netstate/stations.h"
#include "platform/instance.h"
#include "session/names.h"
#include "session/session.h"
#include "support/netns_test.h"
#include "support/saved_files.h"
#include "support/scratch.h"
#include "frames/mac.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <poll.h>
#include <regex>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Json = nlohmann::json;
using cli::Command;

TEST(CommandLine, OptionsBeforeOrAfterTheCommandAndBadUsageRefused)
{
    struct Case {
        std::vector<std::string> args;
        bool ok;
        Command command;
        bool json;
        std::string adapter;
        double interval;
        std::string target;
        std::string error;  // part of the reason on refusal
    };
    // clang-format off
    const Case cases[] = {
        {{"adapters"}, true, Command::adapters, false, "", 10, "", ""},
        {{"-j", "adapters"}, true, Command::adapters, true, "", 10, "", ""},
        {{"stations", "--json", "--adapter", "plc0"}, true, Command::stations, true, "plc0", 10, "", ""},
        {{"stations", "--adapter=plc1", "-j"}, true, Command::stations, true, "plc1", 10, "", ""},
        {{"--json", "watch", "-i", "2.5", "-a", "eth3"}, true, Command::watch, true, "eth3", 2.5, "", ""},
        {{"watch", "--interval=0"}, true, Command::watch, false, "", 0, "", ""},
        {{"set-password"}, true, Command::setPassword, false, "", 10, "", ""},
        {{"restore-default", "-a", "plc0"}, true, Command::restoreDefault, false, "plc0", 10, "", ""},
        {{"devices"}, true, Command::devicesList, false, "", 10, "", ""},
        {{"devices", "list", "-j"}, true, Command::devicesList, true, "", 10, "", ""},
        {{"devices", "add"}, true, Command::devicesAdd, false, "", 10, "", ""},
        {{"devices", "remove", "02:b7:1c:20:00:04"}, true, Command::devicesRemove, false, "", 10,
         "02:b7:1c:20:00:04", ""},
        {{"-j", "devices", "set-all", "--adapter", "plc0"}, true, Command::devicesSetAll, true, "plc0", 10, "", ""},
        {{}, false, Command::none, false, "", 10, "", "no command"},
        {{"scan"}, false, Command::none, false, "", 10, "", "unknown command 'scan'"},
        {{"stations", "--quiet"}, false, Command::none, false, "", 10, "", "unknown option '--quiet'"},
        {{"--adapter", "plc0", "stations"}, false, Command::none, false, "", 10, "", "belongs after a command"},
        {{"adapters", "-a", "plc0"}, false, Command::none, false, "", 10, "", "belongs after a command"},
        {{"stations", "--adapter"}, false, Command::none, false, "", 10, "", "needs a value"},
        {{"stations", "--adapter="}, false, Command::none, false, "", 10, "", "needs an interface name"},
        {{"stations", "--interval", "3"}, false, Command::none, false, "", 10, "", "belongs to 'watch'"},
        {{"watch", "--interval", "-1"}, false, Command::none, false, "", 10, "", "not a number of seconds"},
        {{"watch", "--interval", "1e9"}, false, Command::none, false, "", 10, "", "not a number of seconds"},
        {{"watch", "--interval", "nan"}, false, Command::none, false, "", 10, "", "not a number of seconds"},
        {{"watch", "--interval", "2s"}, false, Command::none, false, "", 10, "", "not a number of seconds"},
        {{"adapters", "extra"}, false, Command::none, false, "", 10, "", "unexpected argument 'extra'"},
        {{"devices", "rename"}, false, Command::none, false, "", 10, "", "unknown devices command"},
        {{"devices", "remove"}, false, Command::none, false, "", 10, "", "the MAC or the index"},
        {{"devices", "remove", "1", "2"}, false, Command::none, false, "", 10, "", "unexpected argument '2'"},
        // A secret on the command line would show in the process list.
        {{"devices", "add", "KQ7R-2M4X-PL9D"}, false, Command::none, false, "", 10, "", "standard input"},
        {{"set-password", "Orchard-Lane-42"}, false, Command::none, false, "", 10, "", "unexpected argument"},
        {{"--json=yes", "adapters"}, false, Command::none, false, "", 10, "", "takes no value"},
        {{"history", "-j", "--since", "30d", "--every", "1h"}, true, Command::history, true, "", 10, "", ""},
        {{"--no-history", "watch", "--history=/tmp/h"}, true, Command::watch, false, "", 10, "", ""},
        {{"metrics", "--output", "/tmp/brennic.prom"}, true, Command::metrics, false, "", 10, "", ""},
        {{"check", "--station", "02:b7:1c:20:00:03", "--warning=0.8"}, true, Command::check, false, "", 10, "", ""},
        {{"check", "--critical", "1.5"}, false, Command::none, false, "", 10, "", "not a fraction"},
        {{"check", "--warning", "0.4"}, false, Command::none, false, "", 10, "", "at most '--warning'"},
        {{"check", "--every", "1h"}, false, Command::none, false, "", 10, "", "belongs to 'history'"},
        {{"history", "--since", "2y"}, false, Command::none, false, "", 10, "", "neither a duration"},
        {{"history", "--until", "2026-13-01"}, false, Command::none, false, "", 10, "", "ISO 8601"},
        {{"history", "--since", "2026-12-08T17:00+1"}, false, Command::none, false, "", 10, "", "ISO 8601"},
        {{"history", "--replies", "--every", "1h"}, false, Command::none, false, "", 10, "", "pick one"},
        {{"history", "--every", "0m"}, false, Command::none, false, "", 10, "", "not a duration"},
        {{"history", "--station", "02:b7:1c:20:00:0g"}, false, Command::none, false, "", 10, "", "not a MAC"},
        {{"stations", "--since", "1h"}, false, Command::none, false, "", 10, "", "belongs to 'history'"},
        {{"metrics", "--adapter", "plc0"}, false, Command::none, false, "", 10, "", "belongs after a command"},
        {{"history", "--no-history"}, false, Command::none, false, "", 10, "", "leaves nothing to read"},
        {{"history", "--csv", "-j"}, false, Command::none, false, "", 10, "", "pick one"},
        {{"watch", "--retention", "0"}, false, Command::none, false, "", 10, "", "number of days"},
        {{"--version"}, true, Command::none, false, "", 10, "", ""},
        {{"help", "watch", "-a", "plc0"}, true, Command::watch, false, "plc0", 10, "", ""},
        {{"watch", "-n", "3", "-i", "1"}, true, Command::watch, false, "", 1, "", ""},
        {{"watch", "--count", "0"}, false, Command::none, false, "", 10, "", "not a whole number of scans"},
        {{"staions"}, false, Command::none, false, "", 10, "", "unknown command 'staions'; did you mean 'stations'?"},
        {{"help", "hsitory"}, false, Command::none, false, "", 10, "", "did you mean 'history'?"},
        {{"devices", "remvoe", "1"}, false, Command::none, false, "", 10, "", "did you mean 'remove'?"},
        {{"stations", "--adaptr", "plc0"}, false, Command::none, false, "", 10, "", "did you mean '--adapter'?"},
        {{"history", "--interv", "1"}, false, Command::none, false, "", 10, "", "did you mean '--interval'?"},
        {{"--completion", "tcsh"}, false, Command::none, false, "", 10, "", "bash, zsh or fish"},
        // A name: at most 32 characters of UTF-8 once the blanks around it are gone, no control characters.
        {{"name", "02:B7:1C:20:00:03", "  12345678901234567890123456789012  "}, true, Command::name, false, "", 10,
         "02:B7:1C:20:00:03", ""},
        {{"-j", "name", "02:b7:1c:20:00:03", "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9"
                                                "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u3042\U0001F50C"},
         true, Command::name, true, "", 10, "02:b7:1c:20:00:03", ""},
        {{"name", "02:b7:1c:20:00:03", "a\u00a0b\U00010000\U0010FFFF"}, true, Command::name, false, "", 10,
         "02:b7:1c:20:00:03", ""},
        {{"name", "02:b7:1c:20:00:03", "--clear"}, true, Command::name, false, "", 10, "02:b7:1c:20:00:03", ""},
        {{"names", "--csv"}, true, Command::names, false, "", 10, "", ""},
        {{"name", "02:b7:1c:20:00:03", "123456789012345678901234567890123"}, false, Command::none, false, "", 10, "",
         "the name is longer than 32 characters"},
        {{"name", "02:b7:1c:20:00:03", "a\tb"}, false, Command::none, false, "", 10, "", "control character"},
        {{"name", "02:b7:1c:20:00:03", "a\x7f"}, false, Command::none, false, "", 10, "", "control character"},
        {{"name", "02:b7:1c:20:00:03", "a\u0085b"}, false, Command::none, false, "", 10, "", "control character"},
        {{"name", "02:b7:1c:20:00:03", "\x1f"}, false, Command::none, false, "", 10, "", "control character"},
        {{"name", "02:b7:1c:20:00:03", "\xff"}, false, Command::none, false, "", 10, "", "not valid UTF-8"},
        {{"name", "02:b7:1c:20:00:03", "\xc0\xaf"}, false, Command::none, false, "", 10, "", "not valid UTF-8"},
        {{"name", "02:b7:1c:20:00:03", "\xed\xa0\x80"}, false, Command::none, false, "", 10, "", "not valid UTF-8"},
        {{"name", "02:b7:1c:20:00:03", "\xf4\x90\x80\x80"}, false, Command::none, false, "", 10, "", "not valid UTF-8"},
        {{"name", "02:b7:1c:20:00:03", "a\xc3"}, false, Command::none, false, "", 10, "", "not valid UTF-8"},
        {{"name", "02:b7:1c:20:00:0g", "Hall"}, false, Command::none, false, "", 10, "", "not a MAC address"},
        {{"name", "02:b7:1c:20:00:03"}, false, Command::none, false, "", 10, "", "a MAC and the name"},
        {{"name", "02:b7:1c:20:00:03", "Hall", "--clear"}, false, Command::none, false, "", 10, "", "give it no name"},
        {{"name", "02:b7:1c:20:00:03", "Living", "room"}, false, Command::none, false, "", 10, "", "quote it"},
        {{"stations", "--clear"}, false, Command::none, false, "", 10, "", "belongs to 'name'"},
        {{"nmes"}, false, Command::none, false, "", 10, "", "did you mean 'names'?"},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& a : c.args)
            joined += a + " ";
        cli::Invocation inv;
        std::string error;
        ASSERT_EQ(cli::parseArguments(c.args, &inv, &error), c.ok) << joined << error;
        if (!c.ok) {
            EXPECT_NE(error.find(c.error), std::string::npos) << joined << error;
            continue;
        }
        EXPECT_EQ(inv.command, c.command) << joined;
        EXPECT_EQ(inv.json, c.json) << joined;
        EXPECT_EQ(inv.adapter, c.adapter) << joined;
        EXPECT_EQ(inv.intervalSeconds, c.interval) << joined;
        EXPECT_EQ(inv.target, c.target) << joined;
    }

    // --help anywhere asks for the command's help and needs nothing else.
    cli::Invocation inv;
    std::string error;
    ASSERT_TRUE(cli::parseArguments({"--help"}, &inv, &error));
    EXPECT_TRUE(inv.help);
    EXPECT_NE(cli::helpText(inv.command).find("Commands:"), std::string::npos);
    ASSERT_TRUE(cli::parseArguments({"devices", "remove", "-h"}, &inv, &error));
    EXPECT_TRUE(inv.help);
    EXPECT_NE(cli::helpText(inv.command).find("devices remove MAC|INDEX"), std::string::npos);
    // One instant however it is written; without a zone, local time.
    setenv("TZ", "EST5", 1);
    tzset();
    for (const char* when :
         {"2026-12-08T17:00:00Z", "2026-12-08T18:00:00.000+01:00", "2026-12-08 16:00-0100", "2026-12-08T12:00"}) {
        ASSERT_TRUE(cli::parseArguments({"history", "--until", when, "--since", "2w"}, &inv, &error)) << when << error;
        EXPECT_TRUE(inv.until && inv.until->absolute && inv.until->ms == 1796749200000LL) << when;
        EXPECT_EQ(inv.since.ms, 14 * 86400000LL);
    }
    unsetenv("TZ");
    tzset();
    ASSERT_TRUE(cli::parseArguments({"help", "devices", "add"}, &inv, &error));
    EXPECT_TRUE(inv.help);
    EXPECT_EQ(inv.command, Command::devicesAdd);

    // Without a standard output to write to, it says so and fails before it opens anything.
    scratch::ChildResult closed = scratch::runChild([] {
        close(STDOUT_FILENO);
        char name[] = "brennicctl", command[] = "adapters";
        char* argv[] = {name, command, nullptr};
        return cli::run(2, argv);
    });
    EXPECT_TRUE(closed.exited(cli::exitError)) << closed.status;
    EXPECT_EQ(closed.errorText, "brennicctl: standard output is not open\n");
}

// What bash's own completion function offers for the words of a command line
// (bash's words: a MAC is split at its colons), the cursor in the last one.
std::string bashOffers(const std::string& words)
{
    std::ofstream("complete.sh")
        << "source <(" BRENNICCTL_PATH " --completion bash) || exit 1\n"
        << "COMP_WORDS=(" << words << ")\nCOMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
        << "_brennicctl\nfor w in \"${COMPREPLY[@]}\"; do echo \"$w\"; done | sort | tr '\\n' ' '\n";
    std::string out;
    if (std::FILE* run = popen("bash complete.sh", "r")) {
        char buffer[512];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, run)) > 0;)
            out.append(buffer, n);
        EXPECT_EQ(pclose(run), 0) << words;
    }
    return out;
}

TEST(Completion, BashCompletesCommandsOptionsAndValues)
{
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {"brennicctl st", "stations "},
        {"brennicctl help w", "watch "},
        {"brennicctl -j devices r", "remove "},
        {"brennicctl watch --c", "--count "},
        {"brennicctl stations --i", ""},  // --interval belongs to watch
        {"brennicctl metrics --o", "--output "},
        {"brennicctl che", "check "},
        {"brennicctl check --cr", "--critical "},
        {"brennicctl --o", ""},  // --output belongs after metrics
        {"brennicctl stations --adapter lo", "lo "},
        {"brennicctl --completion z", "zsh "},
        {"brennicctl nam", "name names "},
        {"brennicctl watch --interval ''", ""},
    };
    // clang-format on
    for (const auto& [words, offered] : cases)
        EXPECT_EQ(bashOffers(words), offered) << words;
}

TEST(Output, ColumnsAlignAndJsonKeepsItsShape)
{
    std::vector<session::AdapterInfo> adapters(2);
    adapters[0].name = "eth0";
    adapters[0].mac = "00:50:8b:00:00:01";
    adapters[1].name = "enx\xff";  // a name need not be UTF-8
    adapters[1].mac = "00:50:8b:00:00:02";
    adapters[1].devicePresent = true;
    adapters[1].deviceMac = "02:b7:1c:10:1d:01";
    adapters[1].deviceType = 9;
    adapters[1].typeName = session::deviceTypeName(9);

    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    ASSERT_NE(out, nullptr);
    cli::printAdapters(out, adapters);
    std::fclose(out);
    EXPECT_EQ(std::string(text, size), "ADAPTER  MAC                DEVICE             TYPE\n"
                                       "eth0     00:50:8b:00:00:01  -                  -\n"
                                       "enx\xff     00:50:8b:00:00:02  02:b7:1c:10:1d:01  Unknown device (type 9)\n");
    std::free(text);

    Json doc = Json::parse(cli::documentText(cli::adaptersJson(adapters), true));
    EXPECT_TRUE(doc["adapters"][0]["device"].is_null());
    EXPECT_EQ(doc["adapters"][1]["name"], "enx\xef\xbf\xbd");  // U+FFFD
    EXPECT_EQ(doc["adapters"][1]["device"]["typeName"], "Unknown device (type 9)");

    session::ScanResult scan;
    scan.stations = {{"02:b7:1c:20:00:01", "*", 0.0}, {"02:b7:1c:20:00:02", "1.23", 1.2314622314622319}};
    scan.average = 1.2314622314622319;
    scan.quality = linkQualityFor(scan.average);
    const session::NameMap names{{0x02b71c200002, "B\u00fcro \"2\" \\ \n"}};
    std::string line = cli::documentText(cli::scanJson(adapters[0], scan, 1796738709250, &names), true);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(
        Json::parse(line),
        Json::parse(
            R"({"time":"2026-12-08T14:05:09.250Z","adapter":"eth0","adapterMac":"00:50:8b:00:00:01","stations":[{"mac":"02:b7:1c:20:00:01","rateMbps":null,"name":null},)"
            R"({"mac":"02:b7:1c:20:00:02","rateMbps":1.2314622314622319,"name":"Büro \"2\" \\ \n"}],)"
            R"("averageMbps":1.2314622314622319,"quality":"Fair"})"));
    // The name as a label of the metrics: backslash, quote and newline escaped, once per station.
    history::Latest link{{}, {{0, 1, 2, 0x02b71c200002, 1.5}, {0, 1, 2, 0x02b71c200003, 1.5}}};
    const std::string metrics = history::metricsText({link, link}, names);
    EXPECT_TRUE(metrics.ends_with("\n# TYPE brennic_station_info gauge\n"
                                  R"(brennic_station_info{station="02:b7:1c:20:00:02",name="Büro \"2\" \\ \n"} 1)"
                                  "\n# EOF\n"))
        << metrics;
}

struct Child {
    int status = -1;  // the exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

constexpr int runLimitMs = 30000;

// brennicctl with `args`, `input` on its standard input; `afterLine` is given
// its pid once `lines` lines are out (a user ending `watch`, say). `outPath`
// names a file to take its standard output instead of the pipe.
Child brennicctl(const std::vector<std::string>& args, const std::string& input = "",
                 const std::function<void(pid_t)>& afterLine = {}, long lines = 1, const char* outPath = nullptr)
{
    Child run;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return run;
    int sink = outPath ? open(outPath, O_WRONLY | O_CLOEXEC) : -1;
    pid_t pid = scratch::spawn(BRENNICCTL_PATH, "brennicctl", args, in[0], sink >= 0 ? sink : out[1], err[1]);
    if (sink >= 0)
        close(sink);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (!input.empty() && write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()))
        ADD_FAILURE() << "stdin not written";
    close(in[1]);

    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* text[2] = {&run.out, &run.err};
    bool interrupted = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(runLimitMs);
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || poll(fds, 2, static_cast<int>(left.count())) <= 0) {
            ADD_FAILURE() << "brennicctl did not end within " << runLimitMs << " ms";
            kill(pid, SIGKILL);
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[512];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
            } else {
                text[i]->append(buffer, static_cast<size_t>(n));
            }
        }
        if (afterLine && !interrupted && std::count(run.out.begin(), run.out.end(), '\n') >= lines) {
            afterLine(pid);
            interrupted = true;
        }
    }
    for (pollfd& p : fds)
        if (p.fd >= 0)
            close(p.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// brennicctl with a terminal on its standard input and error, as a user runs it:
// each prompt is answered with `answer` once the prompt has turned echo off.
Child onTerminal(const std::vector<std::string>& args, const std::string& answer = "")
{
    Child run;
    int out[2];
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || pipe2(out, O_CLOEXEC) != 0)
        return run;
    int terminal = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    pid_t pid = scratch::spawn(BRENNICCTL_PATH, "brennicctl", args, terminal, out[1], terminal);
    close(terminal);
    close(out[1]);
    pollfd fds[2] = {{master, POLLIN, 0}, {out[0], POLLIN, 0}};
    std::string* text[2] = {&run.err, &run.out};
    size_t answered = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(runLimitMs);
    while ((fds[0].fd >= 0 || fds[1].fd >= 0) && std::chrono::steady_clock::now() < deadline) {
        poll(fds, 2, 10);
        for (int i = 0; i < 2; ++i) {
            char buffer[512];
            ssize_t n = fds[i].fd >= 0 && fds[i].revents ? read(fds[i].fd, buffer, sizeof buffer) : 1;
            if (n <= 0) {  // a terminal no one holds any more reads EIO
                close(fds[i].fd);
                fds[i].fd = -1;
            } else if (fds[i].revents) {
                text[i]->append(buffer, static_cast<size_t>(n));
            }
        }
        termios mode{};
        if (run.err.size() > answered && run.err.ends_with(": ") && tcgetattr(master, &mode) == 0 &&
            !(mode.c_lflag & ECHO)) {
            answered = run.err.size();
            std::string line = answer + "\n";
            EXPECT_EQ(write(master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        }
    }
    for (pollfd& p : fds)
        if (p.fd >= 0)
            close(p.fd);
    if (fds[0].fd >= 0 || fds[1].fd >= 0)
        kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

Json parsed(const Child& run)
{
    Json doc = Json::parse(run.out, nullptr, false);
    EXPECT_FALSE(doc.is_discarded()) << "not JSON: " << run.out << run.err;
    return doc;
}

using testsupport::fileText;
using testsupport::savedProfile;

class Brennicctl : public testsupport::NetnsTest {
protected:
    void SetUp() override
    {
        NetnsTest::SetUp();
        if (IsSkipped())
            return;
        std::string why;
        std::remove(profileFileName);
        std::remove("plc.log");
        std::remove(session::namesFileName);
        // The single-instance lock of this test's own, not the user's.
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        setenv("XDG_RUNTIME_DIR", cwd, 1);
        // ... and its link history.
        stateDir = std::string(cwd) + "/state";
        setenv("XDG_STATE_HOME", stateDir.c_str(), 1);
        // "wizard.data" and "plc.log" here, where the test reads them.
        setenv("BRENNIC_STATE_DIR", ".", 1);
        std::string path = std::string(SCENARIO_DIR) + "/home.json";
        ASSERT_TRUE(emu::loadScenario(path, expected, &why)) << why;
        scenarioPath = path;
    }

    // The stations the emulated device reaches, with the rates their link
    // values give, in MAC order; and the rating of their average.
    Json expectedStations() const
    {
        Json out = Json::array();
        std::vector<const emu::RemoteStation*> reached;
        for (const emu::RemoteStation& s : expected.adapter(0).stations)
            if (expected.reaches(0, s))
                out.push_back(
                    {{"mac", frames::Mac::of(s.mac.data()).text()}, {"rateMbps", rateFromLinkValue(s.linkValue)}});
        std::sort(out.begin(), out.end(), [](const Json& a, const Json& b) { return a["mac"] < b["mac"]; });
        return out;
    }

    // A scan's document against the scenario.
    void expectScan(const Json& doc, size_t count)
    {
        ASSERT_TRUE(doc.is_object()) << doc;
        EXPECT_EQ(doc["adapter"], expected.adapter(0).interfaceName);
        Json stations = doc["stations"];
        std::sort(stations.begin(), stations.end(), [](const Json& a, const Json& b) { return a["mac"] < b["mac"]; });
        Json want = expectedStations();
        ASSERT_EQ(want.size(), count);
        ASSERT_EQ(stations.size(), want.size()) << doc;
        double sum = 0;
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(stations[i]["mac"], want[i]["mac"]);
            EXPECT_DOUBLE_EQ(stations[i]["rateMbps"].get<double>(), want[i]["rateMbps"].get<double>());
            sum += want[i]["rateMbps"].get<double>();
        }
        EXPECT_DOUBLE_EQ(doc["averageMbps"].get<double>(), sum / static_cast<double>(want.size()));
        std::string rating = linkQualityFor(sum / static_cast<double>(want.size())).ratingText;
        EXPECT_EQ("Link Quality: " + doc["quality"].get<std::string>(), rating);
    }

    emu::RemoteStation& station(const std::string& devicePassword)
    {
        for (emu::RemoteStation& s : expected.adapter(0).stations)
            if (s.devicePassword == devicePassword)
                return s;
        throw std::runtime_error("no station " + devicePassword);
    }

    testsupport::PlcsimProcess plcsim;
    emu::Network expected;  // what plcsim plays, kept in step with the changes the commands make
    std::string scenarioPath;
    std::string stateDir;
};

TEST_F(Brennicctl, EachCommandAgainstTheHomeNetwork)
{
    // No adapter yet: status 3, and why.
    Child none = brennicctl({"adapters"});
    EXPECT_EQ(none.status, cli::exitNoDevice) << none.err;
    EXPECT_EQ(none.err, "brennicctl: no network adapter could be opened\n");
    EXPECT_EQ(none.out, "ADAPTER  MAC  DEVICE  TYPE\n");

    std::string why;
    ASSERT_TRUE(plcsim.start(PLCSIM_PATH, scenarioPath, &why)) << why;
    const emu::EmulatedAdapter& home = expected.adapter(0);
    const std::string adapterName = home.interfaceName;

    // adapters: JSON before the command, then plain columns.
    Child adapters = brennicctl({"-j", "adapters"});
    EXPECT_EQ(adapters.status, cli::exitOk) << adapters.err;
    Json listed = parsed(adapters);
    ASSERT_EQ(listed["adapters"].size(), 1u) << listed;
    const Json& a0 = listed["adapters"][0];
    EXPECT_EQ(a0["name"], adapterName);
    EXPECT_EQ(a0["mac"], frames::Mac::of(home.hostMac.data()).text());
    EXPECT_EQ(a0["device"]["mac"], frames::Mac::of(home.device.mac.data()).text());
    EXPECT_EQ(a0["device"]["type"], home.device.deviceType);
    EXPECT_EQ(a0["device"]["typeName"], session::deviceTypeName(home.device.deviceType));
    Child plain = brennicctl({"adapters"});
    EXPECT_EQ(plain.status, cli::exitOk) << plain.err;
    EXPECT_EQ(plain.out, "ADAPTER  MAC                DEVICE             TYPE\n" + adapterName + "     " +
                             frames::Mac::of(home.hostMac.data()).text() + "  " +
                             frames::Mac::of(home.device.mac.data()).text() + "  " +
                             session::deviceTypeName(home.device.deviceType) + "\n");
    // Output that cannot be written (a full disk) is a failure, not a success.
    Child full = brennicctl({"adapters"}, "", {}, 1, "/dev/full");
    EXPECT_EQ(full.status, cli::exitError);
    EXPECT_NE(full.err.find("standard output could not be written"), std::string::npos) << full.err;

    // name, then names: one line per MAC in MAC order, in a private file of the state folder.
    const std::string hall = expectedStations()[0]["mac"], kitchen = expectedStations()[2]["mac"];
    Child named = brennicctl({"name", kitchen, "  K\u00fcche \"2\" \\  "});
    EXPECT_EQ(named.status, cli::exitOk) << named.err;
    EXPECT_EQ(parsed(brennicctl({"-j", "name", hall, "Hall"})), (Json{{"mac", hall}, {"name", "Hall"}}));
    EXPECT_EQ(fileText(session::namesFileName), hall + "\tHall\n" + kitchen + "\tK\u00fcche \"2\" \\\n");
    struct stat namesFile {};
    EXPECT_TRUE(stat(session::namesFileName, &namesFile) == 0 && (namesFile.st_mode & 07777) == 0600);
    EXPECT_EQ(brennicctl({"names"}).out,
              "MAC                NAME\n" + hall + "  Hall\n" + kitchen + "  K\u00fcche \"2\" \\\n");
    EXPECT_EQ(parsed(brennicctl({"names", "--json"})),
              (Json{{{"mac", hall}, {"name", "Hall"}}, {{"mac", kitchen}, {"name", "K\u00fcche \"2\" \\"}}}));

    // stations: one scan, JSON after the command: the three home stations, their rates and names.
    Child stations = brennicctl({"stations", "--adapter", adapterName, "--json"});
    EXPECT_EQ(stations.status, cli::exitOk) << stations.err;
    const Json scanned = parsed(stations);
    expectScan(scanned, 3);
    for (const Json& s : scanned["stations"])
        EXPECT_EQ(s["name"], s["mac"] == hall      ? Json("Hall")
                             : s["mac"] == kitchen ? Json("K\u00fcche \"2\" \\")
                                                   : Json())
            << s;

    // A name that is none is bad usage and nothing is written; --clear takes one away. A file
    // others may write is neither read nor replaced: status 1, why and the cure.
    for (const char* bad : {"Hall\x1b[2J", "123456789012345678901234567890123"})
        EXPECT_EQ(brennicctl({"name", hall, bad}).status, cli::exitUsage) << bad;
    EXPECT_EQ(brennicctl({"name", hall, "--clear"}).status, cli::exitOk);
    const std::string leftNames = fileText(session::namesFileName);
    EXPECT_EQ(leftNames, kitchen + "\tK\u00fcche \"2\" \\\n");
    ASSERT_EQ(chmod(session::namesFileName, 0660), 0);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"names"}, {"name", hall, "Hall"}}) {
        Child refused = brennicctl(args);
        EXPECT_EQ(refused.status, cli::exitError) << args[0];
        EXPECT_EQ(refused.out, "") << args[0];
        EXPECT_NE(refused.err.find("station-names is writable by the group root (mode 0660); chmod 600"),
                  std::string::npos)
            << refused.err;
    }
    EXPECT_EQ(fileText(session::namesFileName), leftNames);
    ASSERT_EQ(chmod(session::namesFileName, 0600), 0);
    EXPECT_EQ(stations.err, "");  // no progress without a terminal
    Child progress = onTerminal({"stations"});
    EXPECT_EQ(progress.status, cli::exitOk) << progress.err;
    EXPECT_NE(progress.err.find("\rscanning " + adapterName + " ... 0 s "), std::string::npos) << progress.err;
    EXPECT_TRUE(progress.err.ends_with("\r\033[K")) << progress.err;

    // devices add: the neighbour's label password on standard input, typed in lower case; Set All follows, OK.
    const std::string neighbour = "KQ7R-2M4X-PL9D";
    Child add = brennicctl({"devices", "add", "-j"}, "kq7r-2m4x-pl9d\n");
    EXPECT_EQ(add.status, cli::exitOk) << add.err;
    Json added = parsed(add);
    EXPECT_EQ(added["added"], true);
    EXPECT_EQ(added["mac"], frames::Mac::of(station(neighbour).mac.data()).text());
    ASSERT_EQ(added["devices"].size(), 1u) << added;
    EXPECT_EQ(added["devices"][0]["password"], neighbour);
    EXPECT_EQ(added["devices"][0]["status"], "OK");
    EXPECT_EQ(add.out.find(neighbour + "\""), add.out.rfind(neighbour + "\""));  // listed once
    station(neighbour).networkKey = emu::keyFromPassword(defaultNetworkPassword);
    // Unless told otherwise, the folder brennic-launch gives brennic, made 0700: the device
    // added here is not listed there. -v and the JSON name the file.
    unsetenv("BRENNIC_STATE_DIR");
    Child elsewhere = brennicctl({"devices", "-j", "-v"});
    setenv("BRENNIC_STATE_DIR", ".", 1);
    const std::string elsewhereFile = stateDir + "/brennic/wizard.data";
    EXPECT_EQ(parsed(elsewhere)["profile"], elsewhereFile);
    EXPECT_EQ(parsed(elsewhere)["devices"].size(), 0u) << elsewhere.out;
    EXPECT_NE(elsewhere.err.find("brennicctl: profile " + elsewhereFile + "\n"), std::string::npos) << elsewhere.err;
    struct stat folder {};
    EXPECT_EQ(stat((stateDir + "/brennic").c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
    Child chosen = brennicctl({"devices", "-j", "--state-dir", stateDir + "/.."});
    EXPECT_EQ(parsed(chosen)["devices"].size(), 1u) << chosen.out;

    // watch: the next scan finds the neighbour on the home network; SIGINT ends it with status 0.
    Child watch = brennicctl({"watch", "-j", "--interval", "0"}, "", [](pid_t ctl) { kill(ctl, SIGINT); });
    EXPECT_EQ(watch.status, cli::exitOk) << watch.err;
    size_t firstLineEnd = watch.out.find('\n');
    ASSERT_NE(firstLineEnd, std::string::npos) << watch.out;
    expectScan(Json::parse(watch.out.substr(0, firstLineEnd)), 4);
    // --count ends it by itself; each document has its time and the adapter's MAC.
    Child counted = brennicctl({"watch", "-j", "--interval", "0", "--count", "2"});
    EXPECT_EQ(counted.status, cli::exitOk) << counted.err;
    ASSERT_EQ(std::count(counted.out.begin(), counted.out.end(), '\n'), 2) << counted.out;
    for (size_t at = 0; at < counted.out.size(); at = counted.out.find('\n', at) + 1) {
        Json doc = Json::parse(counted.out.substr(at, counted.out.find('\n', at) - at));
        EXPECT_EQ(doc["adapterMac"], frames::Mac::of(home.hostMac.data()).text());
        EXPECT_TRUE(
            std::regex_match(doc["time"].get<std::string>(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
            << doc;
    }

    // Its helper killed instead: one line, status 3, and the helper reaped by
    // brennicctl, not handed on as a zombie to the reaper of orphans (this test).
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    pid_t helper = -1;
    Child lost = brennicctl({"watch", "-j", "--interval", "0"}, "", [&](pid_t ctl) {
        std::ifstream("/proc/" + std::to_string(ctl) + "/task/" + std::to_string(ctl) + "/children") >> helper;
        if (helper > 0)
            kill(helper, SIGKILL);
    });
    EXPECT_EQ(lost.status, cli::exitNoDevice) << lost.err;
    EXPECT_EQ(lost.err, "brennicctl: the connection to the adapters was lost: brennic-link ended\n");
    ASSERT_GT(helper, 0);
    EXPECT_EQ(waitpid(helper, nullptr, WNOHANG), -1) << "the helper was left unreaped";
    prctl(PR_SET_CHILD_SUBREAPER, 0);

    // set-password from standard input, confirmed by the device and kept in "wizard.data".
    const std::string newPassword = "Orchard-Lane-42";
    Child set = brennicctl({"set-password", "--json"}, newPassword + "\n");
    EXPECT_EQ(set.status, cli::exitOk) << set.err;
    Json setDoc = parsed(set);
    EXPECT_EQ(setDoc["sent"], true);
    EXPECT_EQ(setDoc["confirmed"], true);
    EXPECT_EQ(setDoc["saved"], true);
    EXPECT_EQ(savedProfile().networkPassword, newPassword);

    // devices set-all: the new password to the listed device, OK.
    Child setAll = brennicctl({"devices", "set-all", "-j"});
    EXPECT_EQ(setAll.status, cli::exitOk) << setAll.err;
    Json setAllDoc = parsed(setAll);
    ASSERT_EQ(setAllDoc["devices"].size(), 1u) << setAllDoc;
    EXPECT_EQ(setAllDoc["devices"][0]["status"], "OK");
    // In columns: each device's status, not whether its key is set.
    Child setAllText = brennicctl({"devices", "set-all"});
    EXPECT_EQ(setAllText.status, cli::exitOk) << setAllText.err;
    EXPECT_NE(setAllText.out.find("STATUS\n"), std::string::npos) << setAllText.out;
    EXPECT_TRUE(setAllText.out.ends_with("OK\n")) << setAllText.out;

    // devices (list), then remove by MAC in capitals: the entry goes from the list and the file.
    Child list = brennicctl({"devices", "-j"});
    EXPECT_EQ(list.status, cli::exitOk) << list.err;
    Json listDoc = parsed(list);
    ASSERT_EQ(listDoc["devices"].size(), 1u) << listDoc;
    EXPECT_EQ(listDoc["devices"][0]["keySet"], true);
    EXPECT_FALSE(listDoc["devices"][0].contains("status"));
    // A damaged file that lists the same password twice: the index names the entry, not its text.
    loadProfiles();
    profiles[0].devicePasswords[1] = profiles[0].devicePasswords[0];
    profiles[0].devicePasswords[1].remoteMac[5] ^= 0xFF;
    ASSERT_TRUE(saveProfiles());
    Child byIndex = brennicctl({"devices", "remove", "1"});
    EXPECT_EQ(byIndex.status, cli::exitOk) << byIndex.err;
    EXPECT_EQ(savedProfile().devicePasswords[0].password, neighbour);
    EXPECT_EQ(savedProfile().devicePasswords[1].password[0], 0);
    std::string upperMac = added["mac"];
    std::transform(upperMac.begin(), upperMac.end(), upperMac.begin(), ::toupper);
    Child removed = brennicctl({"devices", "remove", upperMac, "-j"});
    EXPECT_EQ(removed.status, cli::exitOk) << removed.err;
    EXPECT_EQ(parsed(removed)["removed"], 1);
    EXPECT_EQ(savedProfile().devicePasswords[0].password[0], 0);
    Child removeAgain = brennicctl({"devices", "remove", "0"});
    EXPECT_EQ(removeAgain.status, cli::exitUsage);
    EXPECT_NE(removeAgain.err.find("no listed device"), std::string::npos) << removeAgain.err;

    // restore-default: confirmed, and the file holds the default password again.
    Child restore = brennicctl({"restore-default", "-j"});
    EXPECT_EQ(restore.status, cli::exitOk) << restore.err;
    EXPECT_EQ(parsed(restore)["confirmed"], true);
    EXPECT_EQ(savedProfile().networkPassword, std::string(defaultNetworkPassword));
    EXPECT_EQ(fileText("plc.log").find("**SETNEK**"), std::string::npos) << fileText("plc.log");
    // The device took the key but "wizard.data" could not be written: status 1 and why.
    const std::string blocker = std::string(profileFileName) + ".new";
    ASSERT_EQ(mkdir(blocker.c_str(), 0700), 0);
    Child unsaved = brennicctl({"restore-default", "-j"});
    rmdir(blocker.c_str());
    EXPECT_EQ(unsaved.status, cli::exitError) << unsaved.err;
    EXPECT_EQ(parsed(unsaved)["saved"], false);
    EXPECT_NE(unsaved.err.find("cannot create a temporary file"), std::string::npos) << unsaved.err;
    // One that others may write was not read, so it is not replaced either: status 1, why and the cure.
    const std::string kept = fileText(profileFileName);
    ASSERT_EQ(chmod(profileFileName, 0664), 0);
    Child loose = brennicctl({"set-password", "-j"}, std::string(defaultNetworkPassword) + "\n");
    EXPECT_TRUE(loose.status == cli::exitError && fileText(profileFileName) == kept && !parsed(loose)["saved"])
        << loose.status;
    EXPECT_NE(loose.err.find("wizard.data is writable by the group root (mode 0664); chmod 600"), std::string::npos)
        << loose.err;
    ASSERT_EQ(chmod(profileFileName, 0600), 0);

    // At a terminal the network password is asked for twice.
    Child typed = onTerminal({"set-password", "-j"}, defaultNetworkPassword);
    EXPECT_EQ(typed.status, cli::exitOk) << typed.err;
    EXPECT_EQ(typed.err.find("Network password: "), 0u) << typed.err;
    EXPECT_NE(typed.err.find("Again: "), std::string::npos) << typed.err;

    // Bad input: status 2 and a message on stderr, nothing on stdout.
    Child shortPassword = brennicctl({"set-password", "-j"}, "ab\n");
    EXPECT_EQ(shortPassword.status, cli::exitUsage);
    EXPECT_NE(shortPassword.err.find(session::invalidNetworkPasswordCaption), std::string::npos) << shortPassword.err;
    EXPECT_EQ(shortPassword.out, "");
    Child noInput = brennicctl({"devices", "add"});
    EXPECT_EQ(noInput.status, cli::exitUsage);
    EXPECT_NE(noInput.err.find("no password on standard input"), std::string::npos) << noInput.err;
    Child argvSecret = brennicctl({"devices", "add", neighbour});
    EXPECT_EQ(argvSecret.status, cli::exitUsage);
    EXPECT_NE(argvSecret.err.find("not from the command line"), std::string::npos) << argvSecret.err;
    EXPECT_NE(argvSecret.err.find("Try 'brennicctl --help'."), std::string::npos) << argvSecret.err;
    Child unknown = brennicctl({"stations", "--adapter", "eth7"});
    EXPECT_EQ(unknown.status, cli::exitNoDevice);
    EXPECT_NE(unknown.err.find("no network adapter 'eth7'"), std::string::npos) << unknown.err;
    Child help = brennicctl({"watch", "--help"});
    EXPECT_EQ(help.status, cli::exitOk);
    EXPECT_EQ(help.out, cli::helpText(Command::watch));

    // An adapter with no device answering: listed all the same, with why, and still status 3.
    ASSERT_TRUE(plcsim.start(PLCSIM_PATH, std::string(SCENARIO_DIR) + "/silent.json", &why)) << why;
    Child silent = brennicctl({"adapters", "-j"});
    EXPECT_EQ(silent.status, cli::exitNoDevice);
    ASSERT_EQ(parsed(silent)["adapters"].size(), 1u) << silent.out;
    EXPECT_TRUE(parsed(silent)["adapters"][0]["device"].is_null()) << silent.out;
    EXPECT_NE(silent.err.find("none of them has a supported powerline device that answered"), std::string::npos)
        << silent.err;

    // While brennic (or another copy) holds the lock, brennicctl refuses and touches nothing.
    scratch::Holder holder([] { return platform::acquireInstanceLock("brennic") == platform::InstanceLock::taken; });
    ASSERT_TRUE(holder.took);
    Child locked = brennicctl({"adapters"});
    EXPECT_EQ(locked.status, cli::exitError);
    EXPECT_NE(locked.err.find("brennic or another brennicctl is running"), std::string::npos) << locked.err;
}

// A key change is confirmed (above), not confirmed (status 4, see plc.log), or
// not asked for when the device has shown no parameter block yet (status 0).
TEST_F(Brennicctl, PasswordChangesTellTheirThreeOutcomes)
{
    struct Row {
        const char* device;
        int status;
        bool asked;
        const char* words;
        bool looseLog = false;
    };
    const char* neverConfirms = R"({"networkPassword": "Neighbour-7", "faults": {"neverConfirms": true}})";
    // device: over home.json's. A plc.log others may write is neither read nor replaced: not "see plc.log".
    for (const Row& row : {Row{neverConfirms, cli::exitDeviceFailed, true, "the device did not confirm it"},
                           Row{neverConfirms, cli::exitDeviceFailed, true, "the device did not confirm it", true},
                           Row{R"({"faults": {"paramEntryLength": 50}})",  // no reply reads as a block
                               cli::exitOk, false, "the device was not asked to confirm it"}}) {
        SCOPED_TRACE(row.device);
        Json scenario = Json::parse(fileText(scenarioPath));
        scenario["adapters"][0]["device"].update(Json::parse(row.device));
        testsupport::writeFile("row.json", scenario.dump());
        std::string why;
        ASSERT_TRUE(plcsim.start(PLCSIM_PATH, "row.json", &why)) << why;
        if (row.looseLog) {
            testsupport::writeFile("plc.log", "older\r\n");
            ASSERT_EQ(chmod("plc.log", 0664), 0);
        }
        Child set = brennicctl({"set-password"}, "Orchard-Lane-42\n");
        EXPECT_EQ(set.status, row.status) << set.err;
        EXPECT_NE(set.out.find(row.words), std::string::npos) << set.out;
        EXPECT_EQ(set.err.find("(see plc.log)") != std::string::npos, row.asked && !row.looseLog) << set.err;
        if (row.looseLog) {
            EXPECT_EQ(fileText("plc.log"), "older\r\n");
            EXPECT_NE(set.err.find("not recorded: plc.log is writable by the group root (mode 0664); chmod 600"),
                      std::string::npos)
                << set.err;
        }
        Child restore = brennicctl({"restore-default", "-j"});
        EXPECT_EQ(restore.status, row.status) << restore.err;
        EXPECT_EQ(parsed(restore)["confirmationAsked"], row.asked);
        unlink("plc.log");
    }
}

// watch records each scan, survives a kill -9, and history and metrics read it
// back without adapters or the lock.
TEST_F(Brennicctl, WatchRecordsTheHistoryThatHistoryAndMetricsReadBack)
{
    ASSERT_EQ(std::system(("rm -rf '" + stateDir + "'").c_str()), 0);
    // A lock directory of this test's own: an earlier test keeps the other one taken.
    const std::string runDir = stateDir + "-run";
    mkdir(runDir.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runDir.c_str(), 1);
    std::string why;
    ASSERT_TRUE(plcsim.start(PLCSIM_PATH, scenarioPath, &why)) << why;
    const emu::EmulatedAdapter& home = expected.adapter(0);
    const Json want = expectedStations();

    Child killed = brennicctl(
        {"watch", "-j", "--interval", "0"}, "", [](pid_t ctl) { kill(ctl, SIGKILL); }, 2);
    EXPECT_EQ(killed.status, -1) << killed.err;
    EXPECT_EQ(killed.err, "");

    Child json = brennicctl({"history", "--json", "--since", "1h"});
    EXPECT_EQ(json.status, cli::exitOk) << json.err;
    Json samples = parsed(json)["samples"];
    ASSERT_GE(samples.size(), 2 * want.size()) << json.out;
    EXPECT_EQ(samples.size() % want.size(), 0u) << json.out;
    for (const Json& s : samples) {
        EXPECT_EQ(s["adapter"], frames::Mac::of(home.hostMac.data()).text());
        EXPECT_EQ(s["device"], frames::Mac::of(home.device.mac.data()).text());
        EXPECT_EQ(s["time"].get<std::string>().size(), std::string("2026-12-08T12:00:00.000Z").size()) << s;
        auto it = std::find_if(want.begin(), want.end(), [&](const Json& w) { return w["mac"] == s["station"]; });
        ASSERT_NE(it, want.end()) << s;
        EXPECT_NEAR(s["rateMbps"].get<double>(), (*it)["rateMbps"].get<double>(), 0.0005) << s;
    }

    // Each reply's average and rating; --until as a time with a zone, and as a duration ago.
    Child replies = brennicctl({"history", "--replies", "-j", "--since", cli::isoTime(history::nowMs() - 3600000),
                                "--until", cli::isoTime(history::nowMs() + 3600000)});
    EXPECT_EQ(replies.status, cli::exitOk) << replies.err;
    Json replyRows = parsed(replies)["replies"];
    ASSERT_EQ(replyRows.size(), samples.size() / want.size()) << replies.out;
    double sum = 0;
    for (const Json& w : want)
        sum += w["rateMbps"].get<double>();
    for (const Json& r : replyRows) {
        EXPECT_EQ(r["stations"], want.size()) << r;
        EXPECT_NEAR(r["averageMbps"].get<double>(), sum / static_cast<double>(want.size()), 0.002) << r;
        EXPECT_EQ("Link Quality: " + r["rating"].get<std::string>(),
                  linkQualityFor(sum / static_cast<double>(want.size())).ratingText);
    }
    Child before = brennicctl({"history", "-j", "--until", "1h"});
    EXPECT_EQ(parsed(before)["samples"].size(), 0u) << before.out;
    // A station the history never saw is a mistake, named; a history not there yet is none.
    Child stranger = brennicctl({"history", "--station", "02:B7:1C:20:99:99"});
    EXPECT_EQ(stranger.status, cli::exitUsage);
    EXPECT_NE(stranger.err.find("02:B7:1C:20:99:99"), std::string::npos) << stranger.err;
    Child fresh = brennicctl({"history", "-j", "--history", stateDir + "/none.sqlite3"});
    EXPECT_EQ(fresh.status, cli::exitOk) << fresh.err;
    EXPECT_EQ(parsed(fresh), Json::parse(R"({"samples":[]})"));
    EXPECT_NE(fresh.err.find("nothing recorded yet"), std::string::npos) << fresh.err;

    // One station per interval in CSV, for spreadsheets; plain columns with their header.
    const std::string station = want[2]["mac"];
    Child csv = brennicctl({"history", "--csv", "--station", station, "--every", "1h"});
    EXPECT_EQ(csv.status, cli::exitOk) << csv.err;
    EXPECT_EQ(csv.out.rfind("time,adapter,device,station,min_mbps,avg_mbps,max_mbps,samples,rated\n", 0), 0u)
        << csv.out;
    EXPECT_NE(csv.out.find("," + station + ","), std::string::npos) << csv.out;
    EXPECT_GE(std::count(csv.out.begin(), csv.out.end(), '\n'), 2) << csv.out;
    // Completion offers the stations the history knows: the MAC whole, though bash splits it at colons.
    std::string words = BRENNICCTL_PATH " history --station ";
    for (char c : station.substr(0, 16))
        words += c == ':' ? std::string(" : ") : std::string(1, c);
    EXPECT_NE(bashOffers(words).find(station.substr(15) + " "), std::string::npos) << words;
    Child plain = brennicctl({"history", "--station", station, "--adapter", home.interfaceName});
    EXPECT_EQ(plain.status, cli::exitOk) << plain.err;
    EXPECT_EQ(
        plain.out.rfind(
            "TIME                      ADAPTER            DEVICE             STATION            RATE      NAME\n", 0),
        0u)
        << plain.out;
    EXPECT_EQ(std::count(plain.out.begin(), plain.out.end(), '\n'),
              1 + static_cast<long>(samples.size() / want.size()));

    // metrics while another copy holds the lock: the newest rates, valid for the checker, and the
    // station's name in a label however it is written.
    scratch::Holder other([] { return platform::acquireInstanceLock("brennic") == platform::InstanceLock::taken; });
    ASSERT_TRUE(other.took);
    EXPECT_EQ(brennicctl({"name", station, "B\u00fcro \"A\\B\" \u2116 7"}).status, cli::exitOk);
    Child metrics = brennicctl({"metrics", "--output", "brennic.prom"});
    EXPECT_EQ(metrics.status, cli::exitOk) << metrics.err;
    std::string text = fileText("brennic.prom");
    char line[256];
    std::snprintf(
        line, sizeof line, "brennic_station_rate_bytes_per_second{adapter=\"%s\",device=\"%s\",station=\"%s\"} %.17g\n",
        frames::Mac::of(home.hostMac.data()).text().c_str(), frames::Mac::of(home.device.mac.data()).text().c_str(),
        station.c_str(), std::round(want[2]["rateMbps"].get<double>() * 1000) * 125);
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
    EXPECT_NE(text.find("\nbrennic_station_info{station=\"" + station +
                        R"(",name="Büro \"A\\B\" № 7"} 1)"
                        "\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.substr(text.size() - 6), "# EOF\n");
    if (access("/usr/bin/promtool", X_OK) == 0)
        EXPECT_EQ(std::system("promtool check metrics < brennic.prom"), 0) << text;
    else
        ADD_FAILURE() << "promtool is missing: scripts/setup installs it (package prometheus)";

    // A history that is not there: one line and status 1, for both.
    Child missing = brennicctl({"metrics", "--history", stateDir + "/none.sqlite3"});
    EXPECT_EQ(missing.status, cli::exitError);
    EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1) << missing.err;
    EXPECT_EQ(missing.out, "");
}

// An adapter replaced under a name no interface here has: the name finds both, a MAC its own.
TEST_F(Brennicctl, HistoryFindsAnAdapterByTheNameItWasRecordedUnder)
{
    const std::string a = "02:b7:1c:00:00:0a", b = "02:b7:1c:00:00:0b", path = stateDir + "/names/h.sqlite3";
    ASSERT_EQ(std::system(("rm -rf '" + stateDir + "/names'").c_str()), 0);
    history::Store store;
    ASSERT_TRUE(store.open(path)) << store.error();
    for (const std::string& mac : {a, a, b})
        ASSERT_TRUE(store.record({history::nowMs(), mac, a, {}, std::nullopt, "", "eth1"})) << store.error();
    auto adapters = [&](const std::string& which) {
        const Json doc = parsed(brennicctl({"history", "-j", "--replies", "--adapter", which, "--history", path}));
        std::vector<std::string> macs;
        for (const Json& r : doc["replies"])
            macs.push_back(r["adapter"]);
        return macs;
    };
    EXPECT_EQ(adapters("eth1"), (std::vector<std::string>{a, a, b}));
    EXPECT_EQ(adapters(a), (std::vector<std::string>{a, a}));
    EXPECT_EQ(brennicctl({"history", "--adapter", "eth9", "--history", path}).err,
              "brennicctl: no network interface 'eth9', nor one of that name in the history\n");
}

}  // namespace
