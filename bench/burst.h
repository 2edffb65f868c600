#pragma once
// A burst through the kernel: frames queued on a TAP while `busy` holds the
// monitor idle, then one monitorTick. Call inside a private network namespace
// that holds no adapter but the ones made here.
#include <string>

namespace burst {

struct Result {
    bool ok = false;
    std::string why;         // when !ok
    int handled = 0;         // StationReplies the one tick dispatched
    double drainMicros = 0;  // wall time of that tick
};

Result run(int frames);

}  // namespace burst
