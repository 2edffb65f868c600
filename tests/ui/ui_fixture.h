#pragma once
// The sheet against the device emulator on the simulated driver. Timers stay
// in the platform's table and fire only when a test steps the virtual clock,
// so every tick of the monitor happens where the test says.
#include "ui/common.h"
#include "ui/device_page.h"
#include "link/link.h"
#include "emulator/model.h"
#include "netstate/monitor.h"
#include "ui/network_page.h"
#include "netstate/profiles.h"
#include "link/session.h"
#include "ui/shell.h"
#include "zentrik/sim.h"
#include "emulator/sim_attach.h"
#include "platform/simclock.h"
#include "support/system_state.h"
#include "platform/timers.h"

#include <QApplication>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace uitest {

inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "ui_test";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance())
        new QApplication(argc, argv);
}

struct ErrorBox {
    QWidget* owner;
    QString caption;
    QString text;
};

class SheetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApplication(); }

    void SetUp() override
    {
        zsim::reset();
        simclock::reset();
        platform::setTimerBackend(nullptr);
        std::remove(profileFileName);
        // A fresh process: no adapter known yet, no discovery misses counted.
        testsupport::resetSystemState();
        setErrorBoxHook([this](QWidget* owner, const QString& caption, const QString& text) {
            errorBoxes.push_back({owner, caption, text});
        });
        setExitHook([this](int code) { exitCodes.push_back(code); });
    }

    void TearDown() override
    {
        sheet.reset();
        closeAdapters();
        emu::detachFromSimDriver();
        platform::clearTimers();
        setErrorBoxHook(nullptr);
        setExitHook(nullptr);
    }

    void load(const char* scenario)
    {
        std::string error;
        ASSERT_TRUE(emu::loadScenario(std::string(SCENARIO_DIR) + "/" + scenario, network, &error)) << error;
        emu::addSimAdapters(network);
        emu::attachToSimDriver(network);
    }

    PropertySheet& open()
    {
        sheet = std::make_unique<PropertySheet>();
        return *sheet;
    }

    // Steps the virtual clock in monitor ticks, firing every timer that falls due.
    void run(uint32_t ms)
    {
        for (uint32_t t = 0; t < ms; t += monitorIntervalMs) {
            simclock::advance(monitorIntervalMs);
            platform::runDueTimers();
        }
    }

    // Ticks until the running scan has ended; false when it did not within `limitMs`.
    bool runUntilScanEnds(uint32_t limitMs = 12000)
    {
        for (uint32_t t = 0; t < limitMs; t += monitorIntervalMs) {
            if (!progressActive)
                return true;
            run(monitorIntervalMs);
        }
        return !progressActive;
    }

    template <typename T> T* child(const char* name) const { return sheet->findChild<T*>(QString::fromLatin1(name)); }

    static QStringList rowTexts(QTreeWidget* list, int column)
    {
        QStringList texts;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            texts << list->topLevelItem(i)->text(column);
        return texts;
    }

    emu::Network network;
    std::unique_ptr<PropertySheet> sheet;
    std::vector<ErrorBox> errorBoxes;
    std::vector<int> exitCodes;
};

inline QString rateText(double rate) { return rate == 0.0 ? QStringLiteral("*") : QString::asprintf("%.2f", rate); }

}  // namespace uitest
