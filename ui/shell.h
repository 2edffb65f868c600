#pragma once
// The entry of brennic: one copy at a time, the modal property sheet of the
// five pages, exit code 0 whatever happens.
#include <QDialog>

#include <array>
#include <functional>

class QTabWidget;
class QDialogButtonBox;

constexpr const char* sheetCaption = "Veltaro RLA-7070 Utility";

enum PageIndex { devicePageIndex, networkPageIndex, securityPageIndex, advancedPageIndex, aboutPageIndex, pageCount };

class PropertySheet : public QDialog {
    Q_OBJECT
public:
    explicit PropertySheet(QWidget* parent = nullptr);
    ~PropertySheet() override;

    // The page widget at a tab, or null while its tab has never been selected.
    QWidget* page(int index) const { return pages_[static_cast<size_t>(index)]; }

public slots:
    void reject() override;

private:
    void createPage(int index);

    QTabWidget* tabs_;
    QDialogButtonBox* buttons_;
    std::array<QWidget*, pageCount> holders_{};
    std::array<QWidget*, pageCount> pages_{};
};

// The face and size that the dialog-unit layouts are drawn for.
QFont dialogFont();
// Pins the family that dialogFont() takes; an empty name gives the usual choice
// back. Tests lay the pages out in each face that a machine may provide.
void setDialogFamily(const QString& family);

// The application, named after the program and given nothing else of its
// command line, and the sheet: the window module's entry (see ui/start.h).
extern "C" int brennicSheetMain(int argc, char** argv);
// The sheet on an existing application, with the Qt timers installed.
int runSheet();

// Ends the program with `code`. Tests replace the ending with a hook that
// returns; the caller then stops what it was doing.
void endProgram(int code);
void setExitHook(std::function<void(int code)> hook);
