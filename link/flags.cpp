#include "link/flags.h"

#include "link/link.h"

#include <cstring>

int selectedAdapter = 0;
MonitorIdleFlag busy{true};  // until the first session has started
int sessionOpen = 0;

void resetLinkState()
{
    closeAdapters();
    std::memset(adapters, 0, sizeof adapters);
    currentAdapterHandle = -1;
    currentSendSlot = 0;
    selectedAdapter = 0;
    busy.catchUpAndSet(true);
    sessionOpen = 0;
}
