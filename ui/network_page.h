#pragma once
// The remote stations of the selected adapter's network with their rates,
// and the modal dialog that a user-started scan holds up until it ends.
#include "session/network.h"
#include "ui/step_bar.h"

#include <QDialog>
#include <QWidget>

#include <vector>

class QPushButton;
class QTreeWidget;

constexpr const char* scanDialogCaption = "Powerline Network Scan";
constexpr const char* scanDialogText = "Scanning your powerline network, please wait...";

class NetworkPage : public QWidget {
    Q_OBJECT
public:
    explicit NetworkPage(QWidget* parent = nullptr);
    ~NetworkPage() override;

    QTreeWidget* stationList() const { return stationList_; }
    // Rows in descending order of their MAC text, as the list sorts itself.
    void fillRows(const std::vector<session::StationRow>& rows);
    void clearRows();

    void scanNetwork();

private:
    void addRow(const session::StationRow& row);

    QTreeWidget* stationList_;
    QPushButton* scanButton_;
};

class ScanDialog : public QDialog {
    Q_OBJECT
public:
    explicit ScanDialog(QWidget* owner);
    ~ScanDialog() override;

    StepBar& bar() { return bar_; }
    void stepBar() { bar_.stepIt(); }
    // The scan's end; the only way the dialog closes.
    void endScan();

public slots:
    void reject() override {}

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    StepBar bar_;
};
