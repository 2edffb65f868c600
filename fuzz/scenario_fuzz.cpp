// Scenario files come from users: any bytes must give a scenario or a clear error.
#include "emulator/model.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    emu::Network network;
    std::string error;
    if (!emu::parseScenario(text, "fuzz.json", network, &error) && error.empty())
        __builtin_trap();  // a refusal must say why
    // Whatever schedule was accepted gives a value at any time of the day.
    for (int a = 0; a < network.adapterCount(); ++a)
        for (const emu::RemoteStation& s : network.adapter(a).stations)
            for (int64_t t : {int64_t{-1}, int64_t{0}, int64_t{43210}, int64_t{1700000000}})
                if (s.schedule && s.schedule->points.empty())
                    __builtin_trap();
                else if (s.schedule)
                    (void)emu::scheduledLinkValue(*s.schedule, t);
    return 0;
}
