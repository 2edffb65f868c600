#pragma once
// Times as the history's readers print them: brennicctl's rows and the
// window's export alike.
#include <cstdint>
#include <string>

namespace history {

// ISO 8601 in UTC, to the millisecond ("2026-12-08T14:05:09.250Z").
std::string isoTime(int64_t ms);

}  // namespace history
