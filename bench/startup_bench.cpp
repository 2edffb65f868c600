// brennic's start, first scan and idle cost against plcsim, through the kernel
// in a network namespace of the benchmark's own (it refuses to run otherwise).
//
//   startup_bench PLCSIM SCENARIO [--idle SECONDS]
//   startup_bench PLCSIM SCENARIO --probe-only
//
// The parent starts plcsim, takes the time and executes itself; the child
// creates the application and the sheet as brennic does and reports, one
// "name value" line each:
//   start_ms          exec to the Device page shown with the device listed
//   protocol_wait_ms  of that, the discovery windows actually waited
//   open_ms           of that, opening the adapters (through brennic-link)
//   scan_ms           from the device listed to the end of the first scan
//   vm_rss_kb, vm_hwm_kb  after the first scan
//   idle_cpu_pct      CPU time of the whole process over the idle span, per cent
//                     of one core, with the sheet in its modal loop as brennic runs it
//   monitor_cpu_pct   of that, the monitor ticks alone
//   idle_wakeups_per_s  context switches of all its threads over the idle span, a second
// With --probe-only (a scenario whose device stays silent) the child runs only
// the session's start, without Qt, and reports:
//   probe_cpu_pct     CPU time of the whole process while discovery waits out its windows
//   probe_ms          how long those took
// The discovery and monitor calls are counted by wrapping them at link time.
//
// Where brennic loads Qt from a window module once its session is under way,
// the benchmark is built the same way from this one file: the program without
// Qt (STARTUP_BENCH_FIRST_STAGE) starts as brennic starts and loads a module
// (STARTUP_BENCH_SHEET) with the pages and the measuring of the sheet.
// Built as one program, it loads Qt at exec, as brennic did before.
#include "link/flags.h"
#include "platform/timers.h"
#include "session/session.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <climits>
#include <dirent.h>
#include <fstream>
#include <string>

#if !defined(STARTUP_BENCH_SHEET)
#include "support/netns.h"
#include "support/plcsim_process.h"

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>
#endif

#if !defined(STARTUP_BENCH_FIRST_STAGE)
#include "ui/device_page.h"
#include "ui/qt_timers.h"
#include "ui/shell.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#endif

#if defined(STARTUP_BENCH_FIRST_STAGE)
#include "ui/start.h"
#endif

// Weak, so that the same benchmark also builds in a tree without it.
namespace session {
[[gnu::weak]] void beginStartEarly();
}

// Shared by the two halves: the time of the exec, the idle span, and the time
// spent in the calls of discovery and in the monitor's ticks.
extern int64_t benchExecAtNs;
extern int benchIdleSeconds;
extern int64_t bringUpNs, openNs, sendNs, monitorCpuNs;
extern int monitorCalls;

namespace {
int64_t nowNs(clockid_t clock = CLOCK_MONOTONIC)
{
    timespec t;
    clock_gettime(clock, &t);
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}
}  // namespace

#if !defined(STARTUP_BENCH_SHEET)
int64_t benchExecAtNs = 0;
int benchIdleSeconds = 20;
int64_t bringUpNs = 0, openNs = 0, sendNs = 0, monitorCpuNs = 0;
int monitorCalls = 0;

namespace {
// The session's start alone, as brennic makes it, against a device that never answers.
int measureProbing()
{
    busy.catchUpAndSet(true);
    int64_t cpu0 = nowNs(CLOCK_PROCESS_CPUTIME_ID), wall0 = nowNs();
    session::StartResult start = session::start();
    int64_t wall = nowNs() - wall0;
    std::printf("probe_ms %.1f\nprobe_cpu_pct %.3f\n", wall / 1e6,
                100.0 * static_cast<double>(nowNs(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / static_cast<double>(wall));
    std::fflush(stdout);
    return start.started ? 1 : 0;
}
}  // namespace
#endif

#if !defined(STARTUP_BENCH_FIRST_STAGE)
namespace {
// VmRSS and VmHWM from one read of /proc/self/status, in kB.
void printMemory()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    long rss = -1, hwm = -1;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            rss = std::atol(line.c_str() + 6);
        else if (line.rfind("VmHWM:", 0) == 0)
            hwm = std::atol(line.c_str() + 6);
    }
    std::printf("vm_rss_kb %ld\nvm_hwm_kb %ld\n", rss, hwm);
}

// Voluntary and involuntary context switches of every thread of the process.
long contextSwitches()
{
    long total = 0;
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return -1;
    while (dirent* task = readdir(tasks)) {
        if (task->d_name[0] == '.')
            continue;
        std::ifstream in(std::string("/proc/self/task/") + task->d_name + "/status");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::atol(line.c_str() + line.find(':') + 1);
    }
    closedir(tasks);
    return total;
}
}  // namespace

// The application and the sheet, as brennic makes them once its session is under way.
extern "C" int benchSheetMain(int, char**)
{
    static int argc = 1;
    static char name[] = "brennic";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QtTimerBackend timers;
    platform::setTimerBackend(&timers);
    int status = 0;
    {
        PropertySheet sheet;
        auto* device = qobject_cast<DevicePage*>(sheet.page(devicePageIndex));
        sheet.show();
        if (!device || !QTest::qWaitForWindowExposed(&sheet, 5000) || device->deviceList()->topLevelItemCount() == 0) {
            std::fprintf(stderr, "startup_bench: no device listed\n");
            status = 1;
        } else {
            int64_t listedAt = nowNs();
            std::printf("start_ms %.1f\n", (listedAt - benchExecAtNs) / 1e6);
            std::printf("protocol_wait_ms %.1f\n", (bringUpNs - openNs - sendNs) / 1e6);
            std::printf("open_ms %.1f\n", openNs / 1e6);
            if (!QTest::qWaitFor([&] { return device->statusText().startsWith("Link Quality:"); }, 15000)) {
                std::fprintf(stderr, "startup_bench: the first scan did not end\n");
                status = 1;
            }
            std::printf("scan_ms %.1f\n", (nowNs() - listedAt) / 1e6);
            printMemory();

            // The idle span runs in the sheet's own modal loop, as brennic runs
            // it. QTest::qWait would poll: it wakes every 10 ms, a hundred
            // wake-ups a second that the program itself never has.
            QTimer::singleShot(benchIdleSeconds * 1000, &sheet, [&sheet] { sheet.done(QDialog::Accepted); });
            int64_t cpu0 = nowNs(CLOCK_PROCESS_CPUTIME_ID), wall0 = nowNs(), monitor0 = monitorCpuNs;
            int calls0 = monitorCalls;
            long switches0 = contextSwitches();
            sheet.exec();
            double wall = static_cast<double>(nowNs() - wall0);
            std::printf("idle_wakeups_per_s %.2f\n", static_cast<double>(contextSwitches() - switches0) * 1e9 / wall);
            std::printf("idle_s %d\nidle_ticks %d\n", benchIdleSeconds, monitorCalls - calls0);
            std::printf("idle_cpu_pct %.3f\n", 100.0 * (nowNs(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / wall);
            std::printf("monitor_cpu_pct %.3f\n", 100.0 * (monitorCpuNs - monitor0) / wall);
        }
    }
    platform::setTimerBackend(nullptr);
    std::fflush(stdout);
    return status;
}
#endif

#if !defined(STARTUP_BENCH_SHEET)
namespace {
#if defined(STARTUP_BENCH_FIRST_STAGE)
// The measuring module beside this program, loaded as brennic loads its own.
int loadSheet(int argc, char** argv)
{
    return runModule("startup_bench_ui.so", STARTUP_BENCH_UI_PATH, "benchSheetMain", argc, argv);
}
#endif

int measure()
{
#if defined(STARTUP_BENCH_FIRST_STAGE)
    static char name[] = "brennic";
    static char* argv[] = {name, nullptr};
    return runBrennic(1, argv, loadSheet);
#else
    busy.catchUpAndSet(true);
    // As brennic does, where the session can be begun before Qt loads.
    if (session::beginStartEarly)
        session::beginStartEarly();
    return benchSheetMain(0, nullptr);
#endif
}
}  // namespace

// Link-time wraps (-Wl,--wrap=<mangled name>): each times the real call.
extern "C" {
int __real__Z14bringUpDevicesv();
int __real__Z12openAdaptersv();
bool __real__Z18sendDiscoveryProbei(int);
bool __real__Z14sendParamQueryiPKhS0_h(int, const uint8_t*, const uint8_t*, uint8_t);
void __real__Z11monitorTickv();
// Weak: a tree whose monitor wakes every 100 ms has none.
[[gnu::weak]] void __real__Z10monitorDuej(uint32_t);

int __wrap__Z14bringUpDevicesv()
{
    int64_t t = nowNs();
    int r = __real__Z14bringUpDevicesv();
    bringUpNs += nowNs() - t;
    return r;
}
int __wrap__Z12openAdaptersv()
{
    int64_t t = nowNs();
    int r = __real__Z12openAdaptersv();
    openNs += nowNs() - t;
    return r;
}
bool __wrap__Z18sendDiscoveryProbei(int a)
{
    int64_t t = nowNs();
    bool r = __real__Z18sendDiscoveryProbei(a);
    sendNs += nowNs() - t;
    return r;
}
bool __wrap__Z14sendParamQueryiPKhS0_h(int a, const uint8_t* s, const uint8_t* d, uint8_t selector)
{
    int64_t t = nowNs();
    bool r = __real__Z14sendParamQueryiPKhS0_h(a, s, d, selector);
    sendNs += nowNs() - t;
    return r;
}
void __wrap__Z10monitorDuej(uint32_t now)
{
    int64_t t = nowNs(CLOCK_THREAD_CPUTIME_ID);
    __real__Z10monitorDuej(now);
    monitorCpuNs += nowNs(CLOCK_THREAD_CPUTIME_ID) - t;
    ++monitorCalls;
}
void __wrap__Z11monitorTickv()
{
    int64_t t = nowNs(CLOCK_THREAD_CPUTIME_ID);
    __real__Z11monitorTickv();
    monitorCpuNs += nowNs(CLOCK_THREAD_CPUTIME_ID) - t;
    ++monitorCalls;
}
}

int main(int argc, char** argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "--measure") == 0) {
        if (std::strcmp(argv[3], "probe") == 0)
            return measureProbing();
        benchExecAtNs = std::atoll(argv[2]);
        benchIdleSeconds = std::atoi(argv[3]);
        return measure();
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: startup_bench PLCSIM SCENARIO [--idle SECONDS]\n");
        return 2;
    }
    int idleSeconds = 20;
    if (argc >= 5 && std::strcmp(argv[3], "--idle") == 0)
        idleSeconds = std::max(1, std::atoi(argv[4]));
    bool probeOnly = argc >= 4 && std::strcmp(argv[3], "--probe-only") == 0;

    std::string why;
    if (!testsupport::enterPrivateNetns(&why)) {
        std::fprintf(stderr, "startup_bench: refusing to run outside a private network namespace: %s\n", why.c_str());
        return 2;
    }
    char plcsimPath[PATH_MAX], scenarioPath[PATH_MAX];
    if (!realpath(argv[1], plcsimPath) || !realpath(argv[2], scenarioPath)) {
        std::fprintf(stderr, "startup_bench: %s or %s not found\n", argv[1], argv[2]);
        return 2;
    }
    // The profile file of an earlier run would change nothing the start does,
    // but each run starts from the defaults all the same.
    char dir[] = "/tmp/startup_bench.XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0) {
        std::perror("startup_bench: scratch directory");
        return 2;
    }
    // The link history and the instance lock of a program started as brennic, in there too.
    setenv("XDG_STATE_HOME", dir, 1);
    setenv("XDG_RUNTIME_DIR", dir, 1);
    testsupport::PlcsimProcess plcsim;
    if (!plcsim.start(plcsimPath, scenarioPath, &why)) {
        std::fprintf(stderr, "startup_bench: %s\n", why.c_str());
        return 2;
    }
    std::fflush(nullptr);
    int64_t execAt = nowNs();
    pid_t pid = fork();
    if (pid == 0) {
        std::string at = std::to_string(execAt), idle = probeOnly ? "probe" : std::to_string(idleSeconds);
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        execl("/proc/self/exe", "brennic", "--measure", at.c_str(), idle.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 1;
    waitpid(pid, &status, 0);
    plcsim.stop();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
#endif
