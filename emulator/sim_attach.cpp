#include "emulator/sim_attach.h"

#include "platform/simclock.h"
#include "zentrik/sim.h"

namespace emu {

void addSimAdapters(const Network& network)
{
    for (int i = 0; i < network.adapterCount(); ++i) {
        const EmulatedAdapter& a = network.adapter(i);
        zsim::addAdapter(a.interfaceName, a.hostMac.data());
    }
}

void attachToSimDriver(Network& network, int64_t wallSecondsAtZero)
{
    network.setClock(
        [wallSecondsAtZero] { return wallSecondsAtZero + static_cast<int64_t>(simclock::nowMicros() / 1000000); });
    zsim::setSendHook([&network](int adapter, const uint8_t* frame, size_t length) {
        for (const Reply& r : network.handle(adapter, frame, length))
            zsim::deliver(adapter, r.bytes, r.delayMs);
    });
}

void detachFromSimDriver() { zsim::setSendHook(nullptr); }

size_t deliverFlood(const Network& network, int adapter, uint32_t spanMs)
{
    std::vector<Reply> frames = network.flood(adapter, spanMs);
    for (const Reply& r : frames)
        zsim::deliver(adapter, r.bytes, r.delayMs);
    return frames.size();
}

}  // namespace emu
