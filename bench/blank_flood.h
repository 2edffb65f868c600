#pragma once
// A station floods blank parameter blocks through the kernel while the monitor
// ticks every 100 ms on the real clock. Call inside a private network
// namespace that holds no adapter but the one made here, from a directory
// where "plc.log" may be written. Whoever links this wraps receiveFrame and
// rename (-Wl,--wrap=_Z12receiveFramePhPj -Wl,--wrap=rename): that is how the
// frames each tick takes and the log rewrites it makes are counted.
#include <string>
#include <vector>

namespace blankflood {

struct Tick {
    double micros = 0;  // wall time of monitorTick
    int framesTaken = 0;
    int logRewrites = 0;
    int monitorTicks = 0;  // after the tick
    int monitorSecond = 0;
};

struct Result {
    bool ok = false;
    std::string why;  // when !ok
    long framesWritten = 0;
    std::vector<Tick> ticks;
};

// `perSecond` blank kind 1 blocks from one station for `seconds`, then two
// more ticks to see what waited.
Result run(int perSecond, int seconds);

}  // namespace blankflood
