// brennic without CAP_NET_RAW, through the kernel: in a private network
// namespace with TAP interfaces, a child that has given up root says for each
// adapter why it could not open it, the session does not start, and the Device
// page reports "Invalid Configuration" and ends the program.
#include "ui/common.h"
#include "ui/device_page.h"
#include "support/fd_text.h"
#include "link/link.h"
#include "support/netns.h"
#include "netstate/profiles.h"
#include "support/scratch.h"
#include "link/session.h"
#include "ui/shell.h"
#include "support/tap.h"

#include <QApplication>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
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

TEST(WithoutRawSockets, EachAdapterSaysWhyAndThePageShowsInvalidConfiguration)
{
    std::string why;
    if (!testsupport::enterPrivateNetns(&why))
        GTEST_SKIP() << "no private network namespace: " << why;
    std::deque<testsupport::TapDevice> taps;
    for (uint8_t i = 0; i < 2; ++i) {
        const uint8_t mac[6] = {0x02, 0xb7, 0x1c, 0x00, 0x00, static_cast<uint8_t>(0x41 + i)};
        taps.emplace_back();
        ASSERT_TRUE(taps.back().create("plcperm" + std::to_string(i), mac, true, &why)) << why;
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
    std::string expected = std::string("startSession=0\n") + "box=" + invalidConfigCaption + "|" +
                           invalidConfigText + "\n" + "exit=0\n" + "devices=0\n" + "sessionOpen=0\n";
    EXPECT_EQ(got, expected);
}

}  // namespace
