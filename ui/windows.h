#pragma once
// The windows of the sheet that other windows and the monitor draw into: null
// until a page has been shown for the first time, and again once it is gone.
#include "session/network.h"

class DevicePage;
class NetworkPage;
class AdvancedPage;
class ScanDialog;

extern DevicePage* devicePageWindow;
extern NetworkPage* networkPageWindow;
extern AdvancedPage* advancedPageWindow;
extern ScanDialog* scanDialogWindow;

// Redraws the Device page's state text and list; nothing while it has no window.
void fillDeviceList();
// Empties the Network page's station list; nothing while it has no window.
void clearNetworkList();
// Redraws the Advanced page's list for the selected profile; nothing while it has no window.
void fillDevicePasswordList();

// What the monitor draws, handed to whichever of the Device page, the Network
// page and the scan dialog exist at the time.
class UiMonitorView : public session::MonitorView {
public:
    void stepProgressBars() override;
    void showLinkQuality(const session::LinkQuality& quality) override;
    void fillStationList(const std::vector<session::StationRow>& rows) override;
    void endScanDialog() override;
    void showLinkLost() override;
    bool barsShown() const override;
};
