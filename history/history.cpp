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

bool parseMac(const std::string& text, uint64_t* mac)
{
    if (text.size() != 17)
        return false;
    uint64_t v = 0;
    for (size_t i = 0; i < 17; ++i) {
        char c = text[i];
        if (i % 3 == 2) {
            if (c != ':')
                return false;
            continue;
        }
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0)
            return false;
        v = v << 4 | static_cast<uint64_t>(d);
    }
    *mac = v;
    return true;
}

std::string macString(uint64_t mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", static_cast<unsigned>(mac >> 40 & 0xff),
                  static_cast<unsigned>(mac >> 32 & 0xff), static_cast<unsigned>(mac >> 24 & 0xff),
                  static_cast<unsigned>(mac >> 16 & 0xff), static_cast<unsigned>(mac >> 8 & 0xff),
                  static_cast<unsigned>(mac & 0xff));
    return text;
}

}  // namespace history
