// Privilege through the kernel, in private network namespaces (skipped without
// root). Without CAP_NET_RAW a child that has given up root says for each
// adapter why it could not open it and the Device page reports "Invalid
// Configuration". With brennic-link installed as the package installs it, a
// user of the group runs brennic against plcsim with a style plugin of their
// own: the device is found, the plugin holds no capability and brennic owns no
// packet socket; the helper ignores a loader preload; a user outside the group
// is told how to join it; and brennic or pelmora given the capability itself
// refuses to start.
#include "ui/common.h"
#include "ui/device_page.h"
#include "support/fd_text.h"
#include "support/helper_copy.h"
#include "link/link.h"
#include "support/netns_test.h"
#include "netstate/profiles.h"
#include "support/scratch.h"
#include "link/flags.h"
#include "ui/shell.h"
#include "support/tap.h"

#include <QApplication>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "support/plcsim_process.h"
#include <string>
#include <vector>

namespace {

std::vector<std::string> linesWith(const std::string& text, const std::string& what)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        if (line.find(what) != std::string::npos)
            lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

using WithoutRawSockets = testsupport::NetnsTest;

TEST_F(WithoutRawSockets, EachAdapterSaysWhyAndThePageShowsInvalidConfiguration)
{
    testsupport::ReachableHelper helper;
    ASSERT_TRUE(helper.ok());
    for (uint8_t i = 0; i < 2; ++i) {
        const uint8_t mac[6] = {0x02, 0xb7, 0x1c, 0x00, 0x00, static_cast<uint8_t>(0x41 + i)};
        ASSERT_TRUE(addTap("plcperm" + std::to_string(i), mac).isOpen());
    }

    // The child reports on a pipe of its own: the session's result, then each
    // message box and program end the page asked for.
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    scratch::ChildResult r = scratch::runChild([&] {
        close(report[0]);
        if (!scratch::dropPrivileges())
            return 3;
        std::string out = "startSession=" + std::to_string(startSession()) + "\n";
        static int argc = 1;
        static char name[] = "hardening_kernel_test";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        setErrorBoxHook([&](QWidget*, const QString& caption, const QString& text) {
            out += "box=" + caption.toStdString() + "|" + text.toStdString() + "\n";
        });
        setExitHook([&](int code) { out += "exit=" + std::to_string(code) + "\n"; });
        {
            DevicePage page;
            out += "devices=" + std::to_string(page.deviceList()->topLevelItemCount()) + "\n";
        }
        out += "sessionOpen=" + std::to_string(sessionOpen) + "\n";
        if (write(report[1], out.data(), out.size()) != static_cast<ssize_t>(out.size()))
            return 4;
        return 0;
    });
    close(report[1]);
    std::string got = testsupport::readToEnd(report[0]);
    close(report[0]);
    ASSERT_TRUE(r.exited(0)) << "status " << r.status << ", stderr: " << r.errorText;

    // Once for the direct start and once for the page's: each adapter, each time, with the reason.
    for (const testsupport::TapDevice& tap : taps) {
        std::vector<std::string> lines = linesWith(r.errorText, "cannot open adapter " + tap.name() + ":");
        EXPECT_EQ(lines.size(), 2u) << r.errorText;
        for (const std::string& line : lines) {
            EXPECT_NE(line.find(std::strerror(EPERM)), std::string::npos) << line;
            EXPECT_NE(line.find("(needs CAP_NET_RAW)"), std::string::npos) << line;
        }
    }
    std::string expected = std::string("startSession=0\n") + "box=" + invalidConfigCaption + "|" + invalidConfigText +
                           "\n" + "exit=0\n" + "devices=0\n" + "sessionOpen=0\n";
    EXPECT_EQ(got, expected);
}

// The file capability cap_net_raw+ep, as setcap writes it.
bool giveRawCapability(const std::string& path)
{
    vfs_cap_data data{};
    data.magic_etc = VFS_CAP_REVISION_2 | VFS_CAP_FLAGS_EFFECTIVE;
    data.data[0].permitted = 1u << CAP_NET_RAW;
    return setxattr(path.c_str(), "security.capability", &data, XATTR_CAPS_SZ_2, 0) == 0;
}

constexpr gid_t powerlineGroup = 64991;  // any group: membership is what counts

struct BrennicRun {
    int status = -1;
    std::string errorText;
    std::string report;
};

// brennic from `dir` as nobody, with or without the group, a style plugin of
// nobody's choosing on Qt's plugin path; the plugin writes the report.
BrennicRun runAsNobody(const scratch::Directory& dir, bool inGroup)
{
    BrennicRun run;
    std::string home = dir.file("home");
    std::filesystem::create_directory(home);
    if (chown(home.c_str(), scratch::nobody, scratch::nobody) != 0 || chmod(home.c_str(), 0700) != 0)
        return run;
    std::string reportPath = home + "/report";
    std::filesystem::remove(reportPath);
    scratch::ChildResult r = scratch::runChild([&] {
        gid_t groups[] = {powerlineGroup};
        if (setgroups(inGroup ? 1 : 0, groups) != 0 || setgid(scratch::nobody) != 0 || setuid(scratch::nobody) != 0)
            return 3;
        if (chdir(home.c_str()) != 0)
            return 4;
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("QT_PLUGIN_PATH", dir.file("plugins").c_str(), 1);
        setenv("QT_STYLE_OVERRIDE", "capprobe", 1);
        setenv("CAPPROBE_REPORT", reportPath.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
        setenv("HOME", home.c_str(), 1);
        std::string program = dir.file("brennic");
        // The plugin ends the program once it has seen the device or a box.
        alarm(20);
        execl(program.c_str(), "brennic", "-style", "capprobe", static_cast<char*>(nullptr));
        return 127;
    });
    run.status = r.status;
    run.errorText = r.errorText;
    std::ifstream in(reportPath);
    run.report.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return run;
}

using Privilege = testsupport::NetnsTest;

TEST_F(Privilege, OnlyTheHelperHoldsTheCapabilityAndOnlyTheGroupMayStartIt)
{
    std::string why;
    testsupport::PlcsimProcess plcsim;
    ASSERT_TRUE(plcsim.start(PLCSIM_PATH, SCENARIO_DIR "/home.json", &why)) << why;

    // As installed: brennic-link root:powerline 0750 with cap_net_raw+ep beside brennic.
    scratch::Directory dir("brennic-priv");
    ASSERT_TRUE(dir.ok());
    using scratch::copyProgram;
    ASSERT_TRUE(copyProgram(BRENNIC_PATH, dir.file("brennic"), 0, 0755));
    ASSERT_TRUE(copyProgram(BRENNIC_UI_PATH, dir.file("brennic-ui.so"), 0, 0644));
    ASSERT_TRUE(copyProgram(BRENNIC_LINK_BUILD_PATH, dir.file("brennic-link"), powerlineGroup, 0750));
    ASSERT_EQ(mkdir(dir.file("plugins").c_str(), 0755) | mkdir(dir.file("plugins/styles").c_str(), 0755), 0);
    ASSERT_TRUE(copyProgram(CAPPROBE_PLUGIN_PATH, dir.file("plugins/styles/capprobe.so"), 0, 0755));
    ASSERT_TRUE(copyProgram(EXIT_ON_LOAD_PATH, dir.file("exit_on_load.so"), 0, 0755));
    ASSERT_TRUE(giveRawCapability(dir.file("brennic-link"))) << std::strerror(errno);

    // In the group: the session finds the device; the plugin ran, without capability or packet socket.
    BrennicRun member = runAsNobody(dir, true);
    EXPECT_TRUE(WIFEXITED(member.status) && WEXITSTATUS(member.status) == 0) << member.status << member.errorText;
    EXPECT_NE(member.report.find("CapEff:\t0000000000000000\n"), std::string::npos) << member.report;
    EXPECT_NE(member.report.find("CapPrm:\t0000000000000000\n"), std::string::npos) << member.report;
    EXPECT_NE(member.report.find("packetSockets=0\n"), std::string::npos) << member.report;
    EXPECT_NE(member.report.find("device=Orvane QM44"), std::string::npos) << member.report << member.errorText;

    // The helper started by hand with a loader preload that would end it: as
    // it holds a file capability, the loader ignores the preload, and it opens
    // the emulator's interface for a member of the group.
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    std::string helperCopy = dir.file("brennic-link");
    std::string preload = "LD_PRELOAD=" + dir.file("exit_on_load.so");
    pid_t helper = fork();
    if (helper == 0) {
        gid_t groups[] = {powerlineGroup};
        if (setgroups(1, groups) != 0 || setgid(scratch::nobody) != 0 || setuid(scratch::nobody) != 0 ||
            dup2(pair[1], 3) != 3)
            _exit(3);
        char* const argv[] = {const_cast<char*>("brennic-link"), nullptr};
        char* const envp[] = {preload.data(), nullptr};
        execve(helperCopy.c_str(), argv, envp);
        _exit(127);
    }
    close(pair[1]);
    const uint8_t open[] = {1, 0, 0, 0, 0, 0, 0, 0, 'p', 'l', 'c', '0'};
    ASSERT_EQ(send(pair[0], open, sizeof open, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof open));
    pollfd answer{pair[0], POLLIN, 0};
    uint32_t words[2] = {~0u, 0};
    ASSERT_EQ(poll(&answer, 1, 2000), 1);
    EXPECT_EQ(recv(pair[0], words, sizeof words, 0), static_cast<ssize_t>(sizeof words));
    EXPECT_EQ(words[0], 0u) << std::strerror(static_cast<int>(words[0]));
    close(pair[0]);
    int helperStatus = -1;
    waitpid(helper, &helperStatus, 0);
    EXPECT_TRUE(WIFEXITED(helperStatus) && WEXITSTATUS(helperStatus) == 0) << helperStatus;

    // Outside it: the group and the command that joins it, then "Invalid Configuration".
    BrennicRun outsider = runAsNobody(dir, false);
    EXPECT_NE(outsider.errorText.find("may be started only by members of the group powerline; to join it: "
                                      "sudo usermod -aG powerline nobody"),
              std::string::npos)
        << outsider.errorText;
    EXPECT_NE(outsider.report.find(std::string("box=") + invalidConfigText), std::string::npos) << outsider.report;

    // brennic given the capability itself: one line naming where it belongs, exit 1, no window.
    ASSERT_TRUE(giveRawCapability(dir.file("brennic")));
    BrennicRun capable = runAsNobody(dir, true);
    EXPECT_TRUE(WIFEXITED(capable.status) && WEXITSTATUS(capable.status) == 1) << capable.status;
    EXPECT_EQ(capable.errorText, std::string("brennic: refusing to run with file capabilities or setuid; the "
                                             "capability belongs on brennic-link: sudo setcap cap_net_raw+ep ") +
                                     BRENNIC_LINK_INSTALLED_PATH + "\n");
    EXPECT_EQ(capable.report, "");

    // pelmora likewise.
    ASSERT_TRUE(copyProgram(PELMORA_PATH, dir.file("pelmora"), 0, 0755));
    ASSERT_TRUE(giveRawCapability(dir.file("pelmora")));
    std::string pelmora = dir.file("pelmora");
    scratch::ChildResult prompt = scratch::runChild([&] {
        if (!scratch::dropPrivileges())
            return 3;
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl(pelmora.c_str(), "pelmora", static_cast<char*>(nullptr));
        return 127;
    });
    EXPECT_TRUE(prompt.exited(1)) << prompt.status;
    EXPECT_EQ(prompt.errorText, "pelmora: refusing to run with file capabilities or setuid; it needs neither\n");

    // brennicctl run by a member of the group reaches the device through the
    // helper beside it, holding nothing itself; given the capability, it refuses as brennic does.
    ASSERT_TRUE(copyProgram(BRENNICCTL_PATH, dir.file("brennicctl"), 0, 0755));
    std::string ctl = dir.file("brennicctl");
    std::string home = dir.file("home");
    auto runCtl = [&] {
        return scratch::runChild([&] {
            gid_t groups[] = {powerlineGroup};
            if (setgroups(1, groups) != 0 || setgid(scratch::nobody) != 0 || setuid(scratch::nobody) != 0 ||
                chdir(home.c_str()) != 0 || dup2(STDERR_FILENO, STDOUT_FILENO) != STDOUT_FILENO)
                return 3;
            setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
            setenv("BRENNIC_STATE_DIR", ".", 1);
            execl(ctl.c_str(), "brennicctl", "adapters", static_cast<char*>(nullptr));
            return 127;
        });
    };
    scratch::ChildResult ctlMember = runCtl();
    EXPECT_TRUE(ctlMember.exited(0)) << ctlMember.status << ctlMember.errorText;
    EXPECT_NE(ctlMember.errorText.find("plc0     02:b7:1c:00:00:01  02:b7:1c:10:1d:01  Orvane QM44 (USB)\n"),
              std::string::npos)
        << ctlMember.errorText;
    ASSERT_TRUE(giveRawCapability(ctl));
    scratch::ChildResult ctlCapable = runCtl();
    EXPECT_TRUE(ctlCapable.exited(1)) << ctlCapable.status;
    EXPECT_EQ(ctlCapable.errorText, std::string("brennicctl: refusing to run with file capabilities or setuid; the "
                                                "capability belongs on brennic-link: sudo setcap cap_net_raw+ep ") +
                                        BRENNIC_LINK_INSTALLED_PATH + "\n");
}

}  // namespace
