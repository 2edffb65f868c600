#include "ui/monitor_view.h"

#include "ui/common.h"
#include "ui/device_page.h"
#include "ui/network_page.h"

void UiMonitorView::stepProgressBars()
{
    if (devicePageWindow)
        devicePageWindow->stepBar();
    if (scanDialogWindow)
        scanDialogWindow->stepBar();
}

void UiMonitorView::showLinkQuality(const LinkQuality& quality)
{
    if (devicePageWindow)
        devicePageWindow->showLinkQuality(quality);
}

void UiMonitorView::fillStationList(const std::vector<StationRow>& rows)
{
    if (networkPageWindow)
        networkPageWindow->fillRows(rows);
}

void UiMonitorView::endScanDialog()
{
    if (scanDialogWindow)
        scanDialogWindow->endScan();
}
