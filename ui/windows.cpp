#include "ui/windows.h"

#include "ui/advanced_page.h"
#include "ui/device_page.h"
#include "ui/network_page.h"

DevicePage* devicePageWindow = nullptr;
NetworkPage* networkPageWindow = nullptr;
AdvancedPage* advancedPageWindow = nullptr;
ScanDialog* scanDialogWindow = nullptr;

void fillDeviceList()
{
    if (devicePageWindow)
        devicePageWindow->redrawDevices();
}

void clearNetworkList()
{
    if (networkPageWindow)
        networkPageWindow->clearRows();
}

void fillDevicePasswordList()
{
    if (advancedPageWindow)
        advancedPageWindow->fillDevicePasswordList();
}

void UiMonitorView::stepProgressBars()
{
    if (devicePageWindow)
        devicePageWindow->stepBar();
    if (scanDialogWindow)
        scanDialogWindow->stepBar();
}

bool UiMonitorView::barsShown() const { return devicePageWindow || scanDialogWindow; }

void UiMonitorView::showLinkQuality(const session::LinkQuality& quality)
{
    if (devicePageWindow)
        devicePageWindow->showLinkQuality(quality);
}

void UiMonitorView::fillStationList(const std::vector<session::StationRow>& rows)
{
    if (networkPageWindow)
        networkPageWindow->fillRows(rows);
}

void UiMonitorView::endScanDialog()
{
    if (scanDialogWindow)
        scanDialogWindow->endScan();
}

void UiMonitorView::showLinkLost()
{
    // A scan under way will not end by itself any more.
    endScanDialog();
    if (devicePageWindow)
        devicePageWindow->showLinkLost();
}
