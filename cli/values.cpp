#include "cli/values.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace cli {

// ISO 8601: "2026-12-08", "2026-12-08T17:00", "2026-12-08T17:00:00.5Z", "... 17:00+01:00".
// Without a zone the time is local, as ISO 8601 has it.
bool parseIsoTime(const std::string& text, long long* ms)
{
    tm t{};
    int used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &t.tm_year, &t.tm_mon, &t.tm_mday, &used) != 3 || used != 10)
        return false;
    size_t at = 10;
    long long millis = 0;
    if (at < text.size() && (text[at] == 'T' || text[at] == ' ')) {
        int n = 0;
        if (std::sscanf(text.c_str() + at + 1, "%2d:%2d%n", &t.tm_hour, &t.tm_min, &n) != 2 || n != 5)
            return false;
        at += 6;
        if (at < text.size() && text[at] == ':') {
            if (std::sscanf(text.c_str() + at + 1, "%2d%n", &t.tm_sec, &n) != 1 || n != 2)
                return false;
            at += 3;
            if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
                long long scale = 100;
                for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10)
                    millis += (text[at] - '0') * scale;
            }
        }
    }
    if (t.tm_mon < 1 || t.tm_mon > 12 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 || t.tm_min > 59 ||
        t.tm_sec > 60 || t.tm_year < 1970)
        return false;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    time_t seconds;
    if (at == text.size()) {
        t.tm_isdst = -1;
        seconds = mktime(&t);
    } else if (text.substr(at) == "Z") {
        seconds = timegm(&t);
    } else {
        int hours = 0, minutes = 0, n = 0;
        const char* zone = text.c_str() + at;
        if ((*zone != '+' && *zone != '-') ||
            !((std::sscanf(zone + 1, "%2d:%2d%n", &hours, &minutes, &n) == 2 && n == 5) ||
              (std::sscanf(zone + 1, "%2d%2d%n", &hours, &minutes, &n) == 2 && n == 4) ||
              (std::sscanf(zone + 1, "%2d%n", &hours, &n) == 1 && n == 2)) ||
            zone + 1 + n != text.c_str() + text.size() || hours > 23 || minutes > 59)
            return false;
        seconds = timegm(&t) - (*zone == '+' ? 1 : -1) * (hours * 3600 + minutes * 60);
    }
    *ms = static_cast<long long>(seconds) * 1000 + millis;
    return true;
}

// "30s", "5m", "1h", "7d", "2w": a whole number and its unit, at most ten years.
bool parseDuration(const std::string& text, long long* ms)
{
    if (text.size() < 2 || text.size() > 8)
        return false;
    long long unit = 0;
    switch (text.back()) {
    case 's': unit = 1000; break;
    case 'm': unit = 60000; break;
    case 'h': unit = 3600000; break;
    case 'd': unit = 86400000; break;
    case 'w': unit = 7 * 86400000LL; break;
    default: return false;
    }
    long long n = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        n = n * 10 + (text[i] - '0');
    }
    if (n <= 0 || n * unit > 3650LL * 86400000)
        return false;
    *ms = n * unit;
    return true;
}

bool parseTime(const std::string& text, HistoryTime* time)
{
    HistoryTime parsed;
    parsed.absolute = !parseDuration(text, &parsed.ms);
    if (parsed.absolute && !parseIsoTime(text, &parsed.ms))
        return false;
    *time = parsed;
    return true;
}

constexpr double maxIntervalSeconds = 86400;

bool parseInterval(const std::string& text, double* seconds)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < 0 || v > maxIntervalSeconds)
        return false;
    *seconds = v;
    return true;
}

}  // namespace cli
