// The clock, the store's default place, and MACs as text.
#include "history/history.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace history {

int64_t nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string defaultPath()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string base;
    // A relative value is to be ignored, as the base-directory rules say.
    if (state && state[0] == '/') {
        base = state;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/')
            return {};
        base = std::string(home) + "/.local/state";
    }
    return base + "/brennic/history.sqlite3";
}

}  // namespace history
