#pragma once
// The start page: starts the session, lists the local powerline devices,
// switches between them and shows the scan's progress and link quality.
#include "netstate/stations.h"

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

constexpr int deviceTypeNameCount = 5;
extern const char* const deviceTypeNames[deviceTypeNameCount];
// The name of a device type; one without a name shows its number.
QString deviceTypeName(int deviceType);

constexpr const char* connectedPrefix = "Connected to ";
constexpr const char* analyzingText = "Analyzing your powerline network, please wait....";
constexpr const char* refreshingText = "Scanning for powerline network adapters, please wait....";
constexpr const char* invalidConfigCaption = "Invalid Configuration";
constexpr const char* invalidConfigText =
    "Your Powerline hardware is not compatible with the RLA-7070 Utility.\nPlease check your device and connection.";

// A progress bar with the platform's semantics: a step that passes the top
// starts over from the bottom; a position above the range fills it.
class StepBar {
public:
    explicit StepBar(QProgressBar* bar) : bar_(bar) {}
    void setPos(int position);
    void setStep(int step) { step_ = step; }
    void stepIt();
    int pos() const { return position_; }
    int step() const { return step_; }
    void setColour(const QColor& colour);  // invalid: the default colour
    QColor colour() const { return colour_; }

private:
    QProgressBar* bar_;
    int position_ = 0;
    int step_ = 10;  // the platform's default step
    QColor colour_;
};

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
    void showLinkQuality(const LinkQuality& quality);
    // The state text and the rows, from the adapter table.
    void redrawDevices();

    void connectDevice();
    void refresh();

private:
    void setStateText();
    void resetBar();
    void selectAdapterRow();
    // Reports an unusable set of devices and ends the program.
    void invalidConfiguration();

    QLineEdit* stateText_;
    QTreeWidget* deviceList_;
    QPushButton* refreshButton_;
    QPushButton* connectButton_;
    QLabel* statusText_;
    QProgressBar* qualityBar_;
    StepBar bar_;
};

// Copies each adapter's identity and local device into its profile.
void recordAdapterIdentities();
// Redraws the Device page's state text and list; nothing while the page has no window.
void fillDeviceList();
// The lowest adapter with a local device, 0 when there is none.
int firstAdapterWithDevice();
