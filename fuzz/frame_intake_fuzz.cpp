// libFuzzer target for frame intake: any bytes become received frames on two
// simulated adapters, taken through receiveFrame and the monitor's dispatch,
// and every reader of received frames also runs on each frame on its own, in
// a buffer of exactly its length.
//
// Input: a control byte, then frames, each a 2-byte big-endian length
// (modulo 1515) and that many bytes. Control bits: 0 selected adapter,
// 1 paramsSeen, 2 devicePresent, 3 force the Ethertype of every frame long
// enough to 0x887B, 4 to 7 the monitor's second (times 4).
#include "mme/classify.h"
#include "mme/exchange.h"
#include "frames/frame.h"
#include "fuzz/fuzz_support.h"
#include "mme/intake.h"
#include "link/link.h"
#include "netstate/monitor.h"
#include "netstate/profiles.h"
#include "link/flags.h"
#include "zentrik/sim.h"
#include "platform/simclock.h"
#include "netstate/stations.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using fuzzing::check;

// Draws nothing; checks what the monitor hands over.
class CheckingView : public MonitorView {
public:
    void stepProgressBars() override {}
    void showLinkQuality(const LinkQuality& q) override
    {
        check(q.ratingText != nullptr);
        check(q.barPosition >= 0);
    }
    void fillStationList(const std::vector<StationRow>& rows) override
    {
        for (const StationRow& r : rows)
            check(r.mac.size() == 17 && !r.rate.empty());
    }
    void endScanDialog() override {}
};

CheckingView view;

void setUpOnce()
{
    // The log and the profile file go to a scratch directory.
    fuzzing::enterScratchDirectory("frame_intake_fuzz");
    zsim::reset();
    simclock::reset();
    const uint8_t mac0[6] = {0x00, 0x50, 0x8B, 0x00, 0x00, 0x01};
    const uint8_t mac1[6] = {0x00, 0x50, 0x8B, 0x00, 0x00, 0x02};
    zsim::addAdapter("eth0", mac0);
    zsim::addAdapter("eth1", mac1);
    check(openAdapters() == 1 && adapterCount == 2);
    setMonitorView(&view);
}

void resetState(uint8_t control)
{
    for (int a = 0; a < 2; ++a) {
        AdapterEntry& e = adapters[a];
        std::memset(e.deviceMac, 0, sizeof e.deviceMac);
        std::memset(e.deviceParams, 0, sizeof e.deviceParams);
        e.devicePresent = (control & 4) ? 1 : 0;
        e.deviceType = 1;
        e.paramsSeen = (control & 2) ? 1 : 0;
        clearStations(profiles[a]);
        for (RemoteStation& s : profiles[a].stations)
            s.seenCount = 0;
    }
    std::memset(referenceBlock, 0, sizeof referenceBlock);
    selectedAdapter = control & 1;
    busy.catchUpAndSet(false);
    progressActive = 1;
    monitorTicks = 0;
    monitorSecond = (control >> 4) * 4;
    zsim::clearSent();
}

void checkTable()
{
    const RemoteStation* s = profiles[selectedAdapter].stations;
    for (int i = 0; i < stationsPerProfile; ++i) {
        if (!s[i].inUse) {
            check(s[i].rateMbps == 0.0);
            continue;
        }
        for (int j = i + 1; j < stationsPerProfile; ++j)
            check(!s[j].inUse || std::memcmp(s[i].mac, s[j].mac, 6) != 0);
    }
    check(monitorTicks >= 0 && monitorTicks <= 9);
    check(monitorSecond >= 0 && monitorSecond <= 60);
}

// Every reader on one frame, held in a buffer of exactly its size.
void readAlone(const std::vector<uint8_t>& bytes)
{
    std::vector<uint8_t> exact(bytes);
    mme::FrameView f{exact.data(), exact.size()};
    bool param = mme::isParamReply(f);
    bool stats = mme::isMonitorLinkStatsReply(f);
    bool station = mme::isStationReply(f);
    mme::isSelfAddressed(f);
    if (param)
        check(exact.size() >= mme::paramReplyLength);
    if (stats)
        check(exact.size() > mme::offDeviceType);
    if (station)
        check(exact.size() > mme::offEntryType);
    matchesReference(f);
    // The monitor calls these only for the matching kind; any bytes must be safe all the same.
    recordStationReply(f);
    updateRates(f);
    if (param)
        handleParamReply(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = false;
    if (!ready) {
        setUpOnce();
        ready = true;
    }
    if (size == 0)
        return 0;
    uint8_t control = data[0];
    resetState(control);

    std::vector<std::vector<uint8_t>> frames;
    size_t at = 1;
    while (at + 2 <= size && frames.size() < 64) {
        size_t length = ((size_t{data[at]} << 8) | data[at + 1]) % (mme::maximumFrame + 1);
        at += 2;
        length = std::min(length, size - at);
        std::vector<uint8_t> f(data + at, data + at + length);
        at += length;
        if ((control & 8) && f.size() >= 14) {
            f[12] = 0x88;
            f[13] = 0x7B;
        }
        frames.push_back(std::move(f));
    }

    // Frames alternate between the adapters; the filter drops what is not 0x887B.
    for (size_t i = 0; i < frames.size(); ++i)
        zsim::deliver(static_cast<int>(i % 2), frames[i]);
    monitorTick();
    checkTable();
    // Whatever the monitor left behind (nothing: it drains) and the direct readers.
    uint8_t buffer[receiveBufferSize];
    uint32_t length = 0;
    while (receiveFrame(buffer, &length))
        check(length <= receiveBufferSize);
    for (const std::vector<uint8_t>& f : frames)
        readAlone(f);
    checkTable();
    averageRate();
    stationRows();
    return 0;
}
