#pragma once
// Heap blocks the process holds, counted by the replaced global operator new
// and delete of this test executable.
#include <cstdint>

namespace alloccount {
int64_t liveBlocks();
}  // namespace alloccount
