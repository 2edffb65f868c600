// libFuzzer target for the plc.log reader: any bytes, read within the table.
#include "keysetlog/keysetlog.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static KeySetLogTable table;
    const size_t total = readKeySetLogLines(data, size, &table);
    const size_t kept = total < size_t(keySetLogReadLines) ? total : size_t(keySetLogReadLines);
    if (table.count < 0 || size_t(table.count) != kept)
        std::abort();
    for (int i = 0; i < table.count; ++i)
        if (strnlen(table.lines[i], keySetLogLineSize) > size_t(keySetLogLineChars))
            std::abort();
    return 0;
}
