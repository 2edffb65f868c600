// libFuzzer target for brennic-link's request parser: any bytes, and what it
// accepts stays within what the helper may do.
#include "zentrik/link_wire.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace linkwire;
    Request r;
    if (!parseRequest(data, size, &r))
        return 0;
    if (r.op != opOpen && r.handle >= maxHandles)
        std::abort();
    switch (r.op) {
    case opOpen: {
        size_t length = strnlen(r.name, IFNAMSIZ);
        if (length == 0 || length >= IFNAMSIZ || std::memchr(r.name, '/', length))
            std::abort();
        break;
    }
    case opSend:
        if (r.frameLength < minFrame || r.frameLength > maxFrame || r.frame != data + headerSize ||
            r.frame[12] != 0x88 || r.frame[13] != 0x7B)
            std::abort();
        break;
    case opFilter:
        if (size != headerSize + filterBytes)
            std::abort();
        break;
    case opClose:
    case opPromiscuous:
        break;
    default:
        std::abort();
    }
    return 0;
}
