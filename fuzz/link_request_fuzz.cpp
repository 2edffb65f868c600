// libFuzzer target for brennic-link's request parser: any bytes, and what it
// accepts stays within what the helper may do.
#include "helper/link_wire.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {
using namespace linkwire;

// What each accepted request may ask: an adapter handle in range, a name that
// names an interface and no path, a management frame of a size the wire
// carries, the filter byte for byte, and nothing else at all.
bool handleInRange(const Request& r, const uint8_t*, size_t) { return r.handle < maxHandles; }

bool openNamesAnInterface(const Request& r, const uint8_t*, size_t)
{
    size_t length = strnlen(r.name, IFNAMSIZ);
    return r.handle == 0 && length > 0 && length < IFNAMSIZ && !std::memchr(r.name, '/', length) &&
           std::strcmp(r.name, ".") != 0 && std::strcmp(r.name, "..") != 0;
}

bool sendCarriesAManagementFrame(const Request& r, const uint8_t* data, size_t size)
{
    return handleInRange(r, data, size) && r.frameLength >= minFrame && r.frameLength <= maxFrame &&
           r.frame == data + headerSize && r.frameLength == size - headerSize && r.frame[12] == 0x88 &&
           r.frame[13] == 0x7B;
}

bool filterIsTheProgram(const Request& r, const uint8_t* data, size_t size)
{
    return handleInRange(r, data, size) && size == headerSize + filterBytes;
}

bool noPayload(const Request& r, const uint8_t* data, size_t size)
{
    return handleInRange(r, data, size) && size == headerSize;
}

bool promiscuousIsOneFlag(const Request& r, const uint8_t* data, size_t size)
{
    return handleInRange(r, data, size) && size == headerSize + 1 && data[headerSize] == (r.on ? 1 : 0);
}

bool wakeIsBare(const Request& r, const uint8_t* data, size_t size)
{
    return r.handle == 0 && noPayload(r, data, size);
}

struct Rule {
    Op op;
    bool (*allowed)(const Request&, const uint8_t*, size_t);
};

constexpr Rule rules[] = {
    {opOpen, openNamesAnInterface},        {opClose, noPayload},
    {opPromiscuous, promiscuousIsOneFlag}, {opFilter, filterIsTheProgram},
    {opSend, sendCarriesAManagementFrame}, {opWake, wakeIsBare},
};

constexpr bool everyOpHasARule()
{
    for (Op op : acceptedOps) {
        bool found = false;
        for (const Rule& rule : rules)
            found = found || rule.op == op;
        if (!found)
            return false;
    }
    return std::size(rules) == std::size(acceptedOps);
}
static_assert(everyOpHasARule(), "an op the parser accepts has no rule in this harness");
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Request r;
    if (!parseRequest(data, size, &r))
        return 0;
    // The parser hands back the op the bytes name, and only one it lists.
    if (static_cast<uint8_t>(r.op) != data[0])
        std::abort();
    for (const Rule& rule : rules)
        if (rule.op == r.op) {
            if (!rule.allowed(r, data, size))
                std::abort();
            return 0;
        }
    std::abort();
}
