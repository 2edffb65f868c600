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
    return 0;
}
