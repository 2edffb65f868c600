#include "support/wire_oracle.h"

#include <algorithm>
#include <cstdio>

namespace wireoracle {
namespace {

enum class Kind { probe, linkStats, station, param, control, setKey, unknown };

using Bytes = std::vector<uint8_t>;

constexpr uint64_t ms = 1000;
// The tests' loop looks at the clock once a tick: an action may go out up to a
// tick after its mark, so spacings are checked to within one.
constexpr uint64_t tickSlack = 100 * ms;
// The frames of one cycle action leave within this span; two actions never do.
constexpr uint64_t actionSpan = 50 * ms;
// Waits are counted on a millisecond tick: one may end up to a millisecond early.
constexpr uint64_t tickCount = 1 * ms;

bool broadcast(const Bytes& b)
{
    return std::all_of(b.begin(), b.begin() + 6, [](uint8_t x) { return x == 0xFF; });
}
bool zeros(const Bytes& b, size_t from, size_t to)
{
    return std::all_of(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to),
                       [](uint8_t x) { return x == 0; });
}
bool sameDestination(const Bytes& a, const Bytes& b) { return std::equal(a.begin(), a.begin() + 6, b.begin()); }

class Checker {
public:
    Checker(const std::vector<Frame>& frames, const std::vector<Wait>& waits) : f_(frames), waits_(waits.size())
    {
        // A frame sent after the loop's n-th wait ended is in turn n: between
        // two waits the thread is held by whatever runs.
        size_t w = 0;
        for (const Frame& frame : frames) {
            while (w < waits.size() && waits[w].toMicros <= frame.atMicros)
                ++w;
            turn_.push_back(w);
            kind_.push_back(layout(frame));
        }
    }

    std::vector<std::string> run()
    {
        // A session is discovery and then the event loop; frames of parts
        // driven alone keep only their layout.
        size_t i = 0;
        while (i < f_.size() && kind_[i] != Kind::probe)
            ++i;
        if (i < f_.size() && turn_[i] == turn_.back() && turn_.back() == waits_)
            i = f_.size();
        for (size_t first = i; i < f_.size();) {
            if (i == first || turn_[i] != turn_[i - 1])
                newTurn(i);
            if (kind_[i] == Kind::setKey) {
                i = exchange(i);
            } else if (kind_[i] == Kind::probe) {
                i = discovery(i);
            } else {
                if (kind_[i] == Kind::control)
                    fail(i, "a ControlFrame goes out only in a try, after its key-select-1 SetKeyFrame");
                else if (kind_[i] != Kind::unknown)
                    monitorFrame(i);
                ++i;
            }
        }
        closeAction();
        return out_;
    }

private:
    const std::vector<Frame>& f_;
    size_t waits_;
    std::vector<size_t> turn_;
    std::vector<Kind> kind_;
    std::vector<std::string> out_;
    // Per loop turn.
    bool held_ = false;  // an exchange or discovery ran: the loop has not looked since
    size_t lastProbe_ = 0;
    bool haveFlags_ = false;
    uint8_t flags_ = 0, mark_ = 0;
    // The monitor's cycle actions.
    std::vector<size_t> action_;
    bool havePrevious_ = false;
    int previousSecond_ = 0;
    uint64_t previousAt_ = 0;

    void fail(size_t i, const std::string& rule)
    {
        char head[96];
        std::snprintf(head, sizeof head, "frame %zu (type 0x%02x) at %.1f ms: ", i,
                      f_[i].bytes.size() > 15 ? f_[i].bytes[15] : 0, static_cast<double>(f_[i].atMicros) / ms);
        out_.push_back(head + rule);
    }

    const Bytes& b(size_t i) const { return f_[i].bytes; }
    bool sameTurn(size_t i, size_t j) const { return j < f_.size() && turn_[i] == turn_[j]; }
    bool isParam(size_t i, uint8_t selector) const { return kind_[i] == Kind::param && b(i)[17] == selector; }

    // Lengths as sent, the bytes the request fixes and zero up to its length;
    // the filler to 60 bytes is free.
    Kind layout(const Frame& frame)
    {
        const Bytes& x = frame.bytes;
        auto bad = [&](const char* rule) {
            out_.push_back("frame " + std::to_string(kind_.size()) + " at " + std::to_string(frame.atMicros / ms) +
                           " ms: " + rule);
        };
        if (x.size() < 60 || x.size() > 1514) {
            bad("a frame on the wire is 60 to 1514 bytes");
            if (x.size() < 60)
                return Kind::unknown;
        }
        if (x[12] != 0x88 || x[13] != 0x7B)
            bad("Ethertype 0x887B");
        bool one = x[14] == 1;
        Kind k = Kind::unknown;
        switch (x[15]) {
        case 0x07:
            k = Kind::station;
            if (x.size() != 60 || !one || x[16] != 0 || x[17] != 0)
                bad("StationQuery: 18 bytes padded to 60, one entry of length 0, offset 17 zero");
            break;
        case 0x19:
            k = Kind::param;
            if (x.size() != 60 || !one || x[16] != 0x0F || (x[17] != 0x00 && x[17] != 0x10) || !zeros(x, 18, 32) ||
                !broadcast(x))
                bad("ParamQuery: 32 bytes padded to 60 to broadcast, length 15, selector 0x00 or 0x10, 18 to 31 zero");
            break;
        case 0x1A:
            k = x.size() == 204 ? Kind::probe : Kind::linkStats;
            if (!one || x[16] != 0xBB || x[17] != 0x80 || !broadcast(x) ||
                !(x.size() == 204 ? zeros(x, 18, 204) : x.size() == 60 && zeros(x, 18, 38)))
                bad("LinkStatsQuery (38 bytes padded to 60) or DiscoveryProbe (204): length 187, 0x80, zero body, to "
                    "broadcast");
            break;
        case 0x1F:
            k = Kind::control;
            if (x.size() != 60 || !one || x[16] != 3 || !(x[17] & 0x40) || !(x[18] & 0x01) || x[19] != 0x01 ||
                !broadcast(x))
                bad("ControlFrame: 20 bytes padded to 60 to broadcast, flags with bit 6, mark with bit 0, value 1");
            break;
        case 0x04:
            k = Kind::setKey;
            if (x.size() != 60 || x[16] != 9 || x[17] > 1)
                bad("SetKeyFrame: 32 bytes padded to 60, entry 0x04 of length 9, key select 0 or 1");
            else if (one && !zeros(x, 26, 32))
                bad("SetKeyFrame of one entry: offsets 26 to 31 zero");
            else if (!one && (x[14] != 2 || x[26] != 0x1F || x[27] != 3 || !(x[28] & 0x40) || x[30] > 1 || x[31] != 0))
                bad("SetKeyFrame with a ControlEntry: 0x1F, 3, flags with bit 6, mark, value 0 or 1, offset 31 zero");
            break;
        default: bad("a frame of no request the system sends");
        }
        return k;
    }

    void newTurn(size_t i)
    {
        held_ = false;
        haveFlags_ = false;
        lastProbe_ = i;
        for (size_t j = i; sameTurn(i, j); ++j)
            if (kind_[j] == Kind::probe)
                lastProbe_ = j;
    }

    // Probes up to the turn's last one, then the re-probe queries right after it.
    size_t discovery(size_t i)
    {
        held_ = true;
        size_t j = i;
        for (; sameTurn(i, j); ++j) {
            if (kind_[j] == Kind::probe || isParam(j, 0x00))
                continue;
            if (j > lastProbe_)
                break;
            fail(j, "nothing but discovery frames before discovery ends");
        }
        return j;
    }

    // The control bytes come from referenceBlock, which nothing but setKey
    // changes while the thread is held, and setKey only ever writes them back.
    void control(size_t i, uint8_t flags, uint8_t markWithBit0)
    {
        if (!haveFlags_) {
            haveFlags_ = true;
            flags_ = flags;
            mark_ = markWithBit0;
        } else if (flags != flags_ || markWithBit0 != mark_) {
            fail(i, "control bytes mirror referenceBlock bytes 23 and 24, unchanged within an exchange");
        }
    }

    // A SetKeyFrame and, for key select 1 to broadcast, its confirmation: up to
    // three ParamQuery frames, the first 100 ms after it, each 500 ms after the last.
    size_t setKey(size_t i)
    {
        held_ = true;
        const Bytes& x = b(i);
        if (x[14] == 2)
            control(i, x[28], x[29] | 1);
        size_t j = i + 1;
        if (x[17] == 1 && broadcast(x)) {
            uint64_t last = f_[i].atMicros;
            for (int n = 0; n < 3 && sameTurn(i, j) && isParam(j, 0x00); ++n, ++j) {
                if (f_[j].atMicros + tickCount < last + (n == 0 ? 100 : 500) * ms)
                    fail(j, "a confirmation's ParamQuery comes 100 ms after the SetKeyFrame, then 500 ms apart");
                last = f_[j].atMicros;
            }
        }
        return j;
    }

    bool expect(size_t i, size_t j, bool ok, const char* what)
    {
        if (!sameTurn(i, j) || !ok) {
            fail(sameTurn(i, j) ? j : i, std::string("exchange out of order: expected ") + what);
            return false;
        }
        return true;
    }

    // setKey alone, a try of setRemoteKey or findRemoteDevice, or setLocalKeys.
    size_t exchange(size_t i)
    {
        closeAction();
        const Bytes& first = b(i);
        size_t j = setKey(i);
        bool twoEntries = first[14] == 2;
        if (first[17] != 0 || !twoEntries || !broadcast(first))
            return j;
        if (!(first[29] & 1))
            fail(i, "the key-select-0 SetKeyFrame of a try or of setLocalKeys is provisional (mark bit 0)");
        if (first[30] == 0) {
            if (!expect(i, j, kind_[j] == Kind::setKey && b(j)[17] == 1 && b(j)[14] == 1,
                        "the try's key-select-1 SetKeyFrame of one entry"))
                return j;
            size_t second = j;
            j = setKey(j);
            if (!expect(second, j, kind_[j] == Kind::control, "the try's ControlFrame"))
                return j;
            control(j, b(j)[17], b(j)[18]);
            ++j;
            if (!expect(second, j, kind_[j] == Kind::station && sameDestination(b(j), b(second)),
                        "the try's StationQuery to where its key went"))
                return j;
            return j + 1;
        }
        if (!expect(i, j,
                    kind_[j] == Kind::setKey && b(j)[17] == 1 && b(j)[14] == 2 && b(j)[30] == 1 && broadcast(b(j)),
                    "setLocalKeys' key-select-1 SetKeyFrame with a ControlEntry"))
            return j;
        return setKey(j);
    }

    // The monitor sends only from its tick, which runs from the event loop.
    void monitorFrame(size_t i)
    {
        if (held_)
            fail(i, "the monitor sent while a workflow held the thread: nothing ran from the loop since the exchange "
                    "or discovery");
        if (!action_.empty() && (!sameTurn(action_.back(), i) || action_.back() + 1 != i ||
                                 f_[i].atMicros > f_[action_.front()].atMicros + actionSpan))
            closeAction();
        action_.push_back(i);
    }

    // Seconds 15, 18, 21, 24, 27 (and 45 ... 57) as what each sends.
    int secondOf(const std::vector<size_t>& a) const
    {
        size_t params = 0, wide = 0, narrow = 0, stats = 0;
        for (size_t i : a) {
            params += kind_[i] == Kind::param;
            stats += kind_[i] == Kind::linkStats;
            if (kind_[i] == Kind::station)
                ++(broadcast(b(i)) ? wide : narrow);
        }
        if (wide == 1 && a.size() == 1 + params && params <= 1 && kind_[a.back()] == Kind::station)
            return 15;
        if (narrow == a.size())
            return 18;
        if (stats == 1 && a.size() == 1)
            return 21;
        if (params == 1 && a.size() == 1)
            return isParam(a[0], 0x00) ? 24 : 27;
        return 0;
    }

    void closeAction()
    {
        if (action_.empty())
            return;
        size_t i = action_.front();
        int second = secondOf(action_);
        uint64_t at = f_[i].atMicros;
        if (second == 0)
            fail(i, "at most one cycle action per tick: these frames are no single second's action");
        else if (havePrevious_ && at < previousAt_ + actionSpan)
            fail(i, "at most one cycle action per tick");
        else if (havePrevious_ && second != 15 && second <= previousSecond_)
            fail(i, "second " + std::to_string(second) + "'s action after second " + std::to_string(previousSecond_) +
                        "'s without second 15 between");
        else if (havePrevious_ && second != 15 &&
                 at + tickSlack < previousAt_ + static_cast<uint64_t>(second - previousSecond_) / 3 * 2000 * ms)
            fail(i, "second " + std::to_string(second) + "'s action comes 20 ticks a step after second " +
                        std::to_string(previousSecond_) + "'s");
        if (second != 0) {
            havePrevious_ = true;
            previousSecond_ = second;
            previousAt_ = at;
        }
        action_.clear();
    }
};

}  // namespace

std::vector<std::string> check(const std::vector<Frame>& frames, const std::vector<Wait>& waits)
{
    return Checker(frames, waits).run();
}

}  // namespace wireoracle
