#include "helper/link_wire.h"

#include <cstring>

namespace linkwire {

namespace {
uint32_t u32At(const uint8_t* p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

bool isFilterProgram(const uint8_t* p, size_t length)
{
    if (length != filterBytes)
        return false;
    for (const sock_filter& insn : filterProgram) {
        if ((uint32_t{p[0]} | uint32_t{p[1]} << 8) != insn.code || p[2] != insn.jt || p[3] != insn.jf ||
            u32At(p + 4) != insn.k)
            return false;
        p += 8;
    }
    return true;
}

// Interface names as the kernel allows them, and nothing a path could hide in.
bool isInterfaceName(const uint8_t* p, size_t length)
{
    if (length == 0 || length >= IFNAMSIZ)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (p[i] <= ' ' || p[i] >= 0x7F || p[i] == '/' || p[i] == ':')
            return false;
    return !(length == 1 && p[0] == '.') && !(length == 2 && p[0] == '.' && p[1] == '.');
}
}  // namespace

bool parseRequest(const uint8_t* data, size_t length, Request* out)
{
    if (!data || !out || length < headerSize || length > maxRequest)
        return false;
    if (data[1] != 0 || data[2] != 0 || data[3] != 0)
        return false;
    Request r;
    r.handle = u32At(data + 4);
    const uint8_t* payload = data + headerSize;
    size_t size = length - headerSize;
    switch (data[0]) {
    case opOpen:
        if (r.handle != 0 || !isInterfaceName(payload, size))
            return false;
        std::memcpy(r.name, payload, size);
        break;
    case opWake:
        if (r.handle != 0 || size != 0)
            return false;
        break;
    case opClose:
        if (size != 0)
            return false;
        break;
    case opPromiscuous:
        if (size != 1 || payload[0] > 1)
            return false;
        r.on = payload[0] == 1;
        break;
    case opFilter:
        if (!isFilterProgram(payload, size))
            return false;
        break;
    case opSend:
        if (size < minFrame || size > maxFrame || payload[12] != managementType >> 8 ||
            payload[13] != (managementType & 0xFF))
            return false;
        r.frame = payload;
        r.frameLength = size;
        break;
    default: return false;
    }
    if (data[0] != opOpen && r.handle >= maxHandles)
        return false;
    r.op = static_cast<Op>(data[0]);
    *out = r;
    return true;
}

}  // namespace linkwire
