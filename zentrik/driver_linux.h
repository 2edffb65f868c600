#pragma once
// What the files of the Linux packet driver share among themselves; nothing
// above the driver includes this.
#include <cstdint>

namespace zlinux {

// What W32N_GetLastError() reports: set by every call that fails.
extern uint32_t lastError;

// The interface's hardware address into `mac` (6 bytes, left alone on
// failure); 0 or an errno. Asks the kernel, not the helper.
int hardwareAddress(const char* name, uint8_t* mac);

}  // namespace zlinux
