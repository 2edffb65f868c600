// libFuzzer target for plcsim's reply to any frame: a sequence of frames goes
// to the device model of one adapter (whose state, keys included, carries from
// frame to frame), and every reply and the verbose log line of each are checked.
//
// Input: a control byte, then frames, each a 2-byte big-endian length (modulo
// 1515) and that many bytes. Control bits: 0 silent, 1 never confirms, 2 blank
// EEPROM, 3 blank RAM, 4 not self-addressed, 5 force the Ethertype of every
// frame long enough to 0x887B, 6 and 7 the flood kind (with a flood).
#include "emulator/model.h"
#include "frames/frame.h"
#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using fuzzing::check;

const emu::Mac hostMac = {0x02, 0xb7, 0x1c, 0x00, 0x00, 0x01};
const emu::Mac deviceMac = {0x02, 0xb7, 0x1c, 0x10, 0x00, 0x01};

emu::Network makeNetwork(uint8_t control)
{
    emu::EmulatedAdapter a;
    a.interfaceName = "plc0";
    a.hostMac = hostMac;
    a.device = emu::makeDevice(deviceMac, 1, "ZP6J-4LAV-8EMQ");
    a.device.faults.silent = control & 1;
    a.device.faults.neverConfirms = control & 2;
    a.device.faults.blankEeprom = control & 4;
    a.device.faults.blankRam = control & 8;
    a.device.faults.notSelfAddressed = control & 16;
    a.device.faults.floodKind = static_cast<emu::FloodKind>((control >> 6) % 3);
    a.device.faults.floodPerSecond = (control >> 6) ? 200 : 0;
    a.stations.push_back(emu::makeStation({0x02, 0xb7, 0x1c, 0x20, 0x00, 0x01}, "KQ7R-2M4X-PL9D", 40));
    a.stations.push_back(emu::makeStation({0x02, 0xb7, 0x1c, 0x20, 0x00, 0x02}, "WD3F-8HN6-TB5C", 900, "Other"));
    emu::Network network;
    network.addAdapter(a);
    return network;
}

void checkReplies(const emu::Network& network, const std::vector<emu::Reply>& replies)
{
    const emu::EmulatedAdapter& a = network.adapter(0);
    for (const emu::Reply& r : replies) {
        check(r.bytes.size() >= mme::offBody && r.bytes.size() <= mme::maximumFrame);
        check(r.bytes[mme::offEthertype] == mme::ethertypeHigh && r.bytes[mme::offEthertype + 1] == mme::ethertypeLow);
        check(r.delayMs < 60000);
        emu::describeFrame(r.bytes.data(), r.bytes.size());
    }
    check(a.device.deviceType <= 0x7F);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t control = data[0];
    emu::Network network = makeNetwork(control);
    size_t at = 1;
    int frames = 0;
    while (at + 2 <= size && frames < 64) {
        size_t length = ((size_t{data[at]} << 8) | data[at + 1]) % (mme::maximumFrame + 1);
        at += 2;
        length = std::min(length, size - at);
        std::vector<uint8_t> f(data + at, data + at + length);
        at += length;
        if ((control & 32) && f.size() >= mme::offEthertype + 2) {
            f[mme::offEthertype] = mme::ethertypeHigh;
            f[mme::offEthertype + 1] = mme::ethertypeLow;
        }
        emu::describeFrame(f.data(), f.size());
        // A frame held in a buffer of exactly its size: the model must not read past it.
        checkReplies(network, network.handle(0, f.data(), f.size()));
        ++frames;
    }
    uint32_t sequence = 0;
    const std::vector<emu::Reply> flood = network.flood(0, 100, &sequence);
    check(flood.size() <= 20);
    checkReplies(network, flood);
    return 0;
}
