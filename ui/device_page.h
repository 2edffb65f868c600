#pragma once
// The start page: starts the session, lists the local powerline devices,
// switches between them and shows the scan's progress and link quality.
#include "session/session.h"
#include "ui/step_bar.h"

#include <QColor>
#include <QWidget>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace ctl {
constexpr int stateText = 1012;
constexpr int qualityBar = 1018;
constexpr int deviceList = 1061;
constexpr int stationList = 1061;
constexpr int scanButton = 1062;
constexpr int connectButton = 1067;
constexpr int refreshButton = 1068;
constexpr int statusText = 1083;
}  // namespace ctl

// The name of a device type; one without a name shows its number.
QString deviceTypeName(int deviceType);

constexpr const char* connectedPrefix = "Connected to ";
constexpr const char* analyzingText = "Analyzing your powerline network, please wait....";
constexpr const char* refreshingText = "Scanning for powerline network adapters, please wait....";
constexpr const char* linkLostStateText = "Connection to the adapters lost: press Refresh";
using session::invalidConfigCaption;
using session::invalidConfigText;

class DevicePage : public QWidget {
    Q_OBJECT
public:
    explicit DevicePage(QWidget* parent = nullptr);
    ~DevicePage() override;

    QTreeWidget* deviceList() const { return deviceList_; }
    QLineEdit* stateText() const { return stateText_; }
    StepBar& bar() { return bar_; }
    QString statusText() const;
    void setStatusText(const QString& text);

    void stepBar() { bar_.stepIt(); }
    void showLinkQuality(const session::LinkQuality& quality);
    // The state text says so until Refresh starts a new session.
    void showLinkLost();
    // The state text and the rows, from the adapter table.
    void redrawDevices();

    void connectDevice();
    void refresh();

private:
    void setStateText();
    void resetBar();
    void selectAdapterRow();
    // After a session start: the rows, or the box that ends the program.
    bool showStart(const session::StartResult& start);

    QLineEdit* stateText_;
    QTreeWidget* deviceList_;
    QPushButton* refreshButton_;
    QPushButton* connectButton_;
    QLabel* statusText_;
    QProgressBar* qualityBar_;
    StepBar bar_;
};
