#include "platform/platform.h"
#include "platform/simclock.h"
#include "platform/timers.h"

namespace {
uint64_t micros = 0;
uint32_t pollCost = 100;
uint64_t slept = 0;
std::vector<simclock::Wait> waitSpans;
}  // namespace

DWORD GetTickCount()
{
    micros += pollCost;
    return static_cast<DWORD>(micros / 1000);
}

void Sleep(DWORD ms)
{
    micros += ms == 0 ? pollCost : static_cast<uint64_t>(ms) * 1000;
    slept += ms;
}

namespace platform {
void waitForTickOrReadable(DWORD, int, DWORD) { micros += pollCost; }
}  // namespace platform

namespace simclock {
uint32_t now() { return static_cast<uint32_t>(micros / 1000); }
uint64_t nowMicros() { return micros; }
void reset(uint32_t startMs)
{
    micros = static_cast<uint64_t>(startMs) * 1000;
    pollCost = 100;
    slept = 0;
    waitSpans.clear();
}
void advance(uint32_t ms)
{
    uint64_t from = micros;
    micros += static_cast<uint64_t>(ms) * 1000;
    if (ms == 0)
        return;
    platform::loopWaited(static_cast<DWORD>(from / 1000), static_cast<DWORD>(micros / 1000));
    if (!waitSpans.empty() && waitSpans.back().toMicros == from)
        waitSpans.back().toMicros = micros;
    else
        waitSpans.push_back({from, micros});
}
const std::vector<Wait>& waits() { return waitSpans; }
void setPollCost(uint32_t c) { pollCost = c; }
uint64_t sleptMs() { return slept; }
}  // namespace simclock
