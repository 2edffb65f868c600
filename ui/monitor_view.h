#pragma once
// What the monitor draws, handed to whichever of the Device page, the Network
// page and the scan dialog exist at the time.
#include "netstate/monitor.h"

class UiMonitorView : public MonitorView {
public:
    void stepProgressBars() override;
    void showLinkQuality(const LinkQuality& quality) override;
    void fillStationList(const std::vector<StationRow>& rows) override;
    void endScanDialog() override;
};
