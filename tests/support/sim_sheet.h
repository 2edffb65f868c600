#pragma once
// The simulated system with the user interface on top: one application for the
// whole process, boxes and program ends recorded instead of shown or taken, and
// the sheet or a page that a test opens. Timers stay in the platform's table and
// fire only when a test steps the virtual clock.
#include "link/flags.h"
#include "support/sim_system.h"
#include "ui/common.h"
#include "ui/shell.h"

#include <QApplication>
#include <QString>
#include <QTreeWidget>

#include <memory>
#include <ostream>
#include <vector>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace simsystem {

struct ErrorBox {
    QWidget* owner;
    QString caption;
    QString text;
    int busyUnder = -1;  // busy while the box was open
};

// One application for the whole process; it is never torn down.
inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "sim_sheet_test";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv);
    }
}

// A rate as the Network page shows it.
inline QString rateText(double rate) { return rate == 0.0 ? QStringLiteral("*") : QString::asprintf("%.2f", rate); }

class SimSheetTest : public SimSystemTest {
protected:
    static void SetUpTestSuite() { ensureApplication(); }

    void SetUp() override
    {
        SimSystemTest::SetUp();
        setErrorBoxHook([this](QWidget* owner, const QString& caption, const QString& text) {
            boxes.push_back({owner, caption, text, busy});
        });
        setExitHook([this](int code) { exitCodes.push_back(code); });
    }

    void TearDown() override
    {
        sheet.reset();
        resetUiState();
        SimSystemTest::TearDown();
    }

    PropertySheet& open()
    {
        sheet = std::make_unique<PropertySheet>();
        return *sheet;
    }

    template <typename T>
    T* child(const char* name) const
    {
        return sheet->findChild<T*>(QString::fromLatin1(name));
    }

    static QStringList rowTexts(QTreeWidget* list, int column)
    {
        QStringList texts;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            texts << list->topLevelItem(i)->text(column);
        return texts;
    }

    std::unique_ptr<PropertySheet> sheet;
    std::vector<ErrorBox> boxes;
    std::vector<int> exitCodes;
};

}  // namespace simsystem
