#pragma once
// The virtual clock that tests link instead of the real one. Time moves only
// when a test advances it, when the code sleeps, or when the code polls the
// tick counter: every poll costs a little virtual time, so busy loops end.
#include <cstdint>
#include <vector>

namespace simclock {
// Virtual milliseconds since reset.
uint32_t now();
// Microseconds, for finer checks.
uint64_t nowMicros();
void reset(uint32_t startMs = 0);
// Time that passes while the program waits in its event loop: the test
// stands for the world outside it.
void advance(uint32_t ms);
struct Wait {
    uint64_t fromMicros, toMicros;
};
// The spans advance() moved the clock by since reset, adjacent ones joined.
const std::vector<Wait>& waits();
// Virtual cost of one GetTickCount call, in microseconds (default 100).
void setPollCost(uint32_t micros);
// Total virtual time spent in Sleep since reset, in ms.
uint64_t sleptMs();
}  // namespace simclock
