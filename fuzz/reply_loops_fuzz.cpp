// libFuzzer target for the loops that wait for replies: discovery's probe and
// re-probe windows and the key-setting exchanges (confirmation, station-reply
// waits). Each frame the system sends is answered by the next frame of the
// input, after a delay the input gives, on the simulated driver and the
// virtual clock; confirmation writes plc.log in a scratch directory.
//
// Input: a control byte, then replies, each a header byte, a length byte and
// that many bytes (at most 255). Control bits: 0 to 2 the operation (bring-up,
// local keys, remote key, find remote, setKey with confirmation), 3 paramsSeen,
// 4 a second adapter. Header bits: 0 and 1 the destination (as given, the
// sender's address, the sender's address as source too: self-addressed),
// 2 force Ethertype 0x887B, 3 to 7 the delay in steps of 16 ms.
#include "frames/frame.h"
#include "fuzz/fuzz_support.h"
#include "link/flags.h"
#include "link/link.h"
#include "mme/exchange.h"
#include "mme/intake.h"
#include "platform/simclock.h"
#include "zentrik/sim.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

using fuzzing::check;

struct ReplyScript {
    uint8_t header;
    std::vector<uint8_t> bytes;
};

std::vector<ReplyScript> script;
size_t nextReply = 0;

void answer(int adapter, const uint8_t* sent, size_t length)
{
    if (nextReply >= script.size() || length < mme::offEthertype)
        return;
    const ReplyScript& r = script[nextReply++];
    std::vector<uint8_t> f = r.bytes;
    const int destination = r.header & 3;
    if (destination != 0 && f.size() >= mme::offEthertype) {
        std::memcpy(f.data() + mme::offDestination, sent + mme::offSource, mme::macSize);
        if (destination >= 2)
            std::memcpy(f.data() + mme::offSource, sent + mme::offSource, mme::macSize);
    }
    if ((r.header & 4) && f.size() > mme::offEthertype + 1) {
        f[mme::offEthertype] = mme::ethertypeHigh;
        f[mme::offEthertype + 1] = mme::ethertypeLow;
    }
    zsim::deliver(adapter, f, uint32_t(r.header >> 3) * 16);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzing::enterScratchDirectory("reply_loops_fuzz");
    if (size == 0)
        return 0;
    const uint8_t control = data[0];
    script.clear();
    nextReply = 0;
    for (size_t at = 1; at + 2 <= size && script.size() < 32;) {
        const uint8_t header = data[at];
        const size_t length = std::min<size_t>(data[at + 1], size - at - 2);
        script.push_back({header, std::vector<uint8_t>(data + at + 2, data + at + 2 + length)});
        at += 2 + length;
    }

    zsim::reset();
    simclock::reset();
    simclock::setPollCost(1000);  // fewer polls per virtual window, same windows
    std::memset(adapters, 0, sizeof adapters);
    const uint8_t mac0[6] = {0x00, 0x50, 0x8B, 0x00, 0x00, 0x01};
    const uint8_t mac1[6] = {0x00, 0x50, 0x8B, 0x00, 0x00, 0x02};
    zsim::addAdapter("eth0", mac0);
    if (control & 0x10)
        zsim::addAdapter("eth1", mac1);
    zsim::setSendHook(answer);
    const int operation = control & 7;
    if (operation == 0 || operation == 5) {
        // Opens the adapters itself, probes and re-probes.
        bringUpDevices();
        check(adapterCount >= 1 && adapterCount <= 2);
        for (int a = 0; a < adapterCount; ++a) {
            check(adapters[a].devicePresent == 0 || adapters[a].devicePresent == 1);
            check(adapters[a].deviceType >= 0 && adapters[a].deviceType <= 0x7F);
            check(adapters[a].paramsSeen == 0 || adapters[a].paramsSeen == 1);
        }
        zsim::setSendHook(nullptr);
        closeAdapters();
        return 0;
    }
    check(openAdapters() == 1);
    selectedAdapter = 0;
    busy.catchUpAndSet(false);
    std::memset(referenceBlock, 0, sizeof referenceBlock);
    AdapterEntry& e = adapters[0];
    e.devicePresent = 1;
    e.deviceType = 1;
    e.paramsSeen = (control & 8) ? 1 : 0;

    const uint8_t key0[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const uint8_t key1[8] = {8, 7, 6, 5, 4, 3, 2, 1};
    const uint8_t remote[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x09};
    uint8_t found[6] = {};
    switch (operation) {
    case 1:
    case 6: setLocalKeys(key0, key1); break;
    case 2: setRemoteKey(key0, key1, remote); break;
    case 3:
        if (findRemoteDevice(key0, key1, found))
            check(std::memcmp(found, adapters[0].deviceMac, 6) != 0);
        break;
    default:
        setKey(0, {.source = e.ownMac,
                   .destination = mme::broadcastMac,
                   .keySelect = 1,
                   .key = key1,
                   .controlValue = 0x01,
                   .withControl = true});
        // The key is the system's picture now, confirmed or not.
        check(std::memcmp(referenceBlock + mme::blockKey, key1, 8) == 0);
        break;
    }
    check(busy == 0);
    zsim::setSendHook(nullptr);
    closeAdapters();
    return 0;
}
