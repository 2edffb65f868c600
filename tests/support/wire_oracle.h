#pragma once
// The rules on the wire that every run of the system keeps, whatever a test
// made it do: the layout of each request, discovery before anything else, the
// order of the key-setting exchanges and the bytes they mirror, and a monitor
// that acts only at its seconds, once a tick, from the event loop. It reads
// nothing of the code under test: only the frames sent, with their times, and
// the spans in which the event loop waited.
#include <cstdint>
#include <string>
#include <vector>

namespace wireoracle {

struct Frame {
    int adapter;
    std::vector<uint8_t> bytes;  // as they went on the wire
    uint64_t atMicros;
};

struct Wait {
    uint64_t fromMicros, toMicros;  // the event loop slept in between
};

// One line per rule broken; empty when the trace keeps them all. Frames in the
// order they were sent; waits in time order.
std::vector<std::string> check(const std::vector<Frame>& frames, const std::vector<Wait>& waits);

}  // namespace wireoracle
