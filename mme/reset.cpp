#include "mme/exchange.h"
#include "mme/intake.h"

#include <cstring>

void resetMmeState()
{
    std::memset(referenceBlock, 0, sizeof referenceBlock);
    lastKeyConfirmed = -1;
    selfAddressedSeen = 0;
    firstPolledAdapter = 0;
    setProbeWaitHook(nullptr);
}
