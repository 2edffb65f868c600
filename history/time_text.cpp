#include "history/time_text.h"

#include <cstdio>
#include <ctime>

namespace history {

std::string isoTime(int64_t ms)
{
    time_t seconds = static_cast<time_t>(ms / 1000);
    tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03lldZ", static_cast<long long>(ms % 1000));
    return text;
}

}  // namespace history
