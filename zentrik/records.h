#pragma once
// Records shared between the packet link and the library, as byte offsets.
// Integers in them are 32-bit little-endian.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace readrec {
constexpr size_t adapterIndex = 0;
constexpr size_t slotIndex = 4;
constexpr size_t status = 24;
constexpr size_t frameLength = 44;
constexpr size_t bufferSize = 52;
constexpr size_t frame = 56;
constexpr size_t frameRoom = 1516;
constexpr size_t size = 1572;
static_assert(frame + frameRoom == size);

constexpr uint32_t statusDone = 0;
constexpr uint32_t statusPending = 259;  // STATUS_PENDING
constexpr uint32_t preparedBufferSize = 1500;
}  // namespace readrec

namespace ndisrec {
constexpr size_t requestType = 20;  // 0 query, 1 set
constexpr size_t oid = 24;
// On a 64-bit build an address does not fit in 32 bits, so this field holds
// the information buffer's signed distance from the record's first byte.
constexpr size_t buffer = 28;
constexpr size_t bufferLength = 32;
constexpr size_t bytesDone = 36;
constexpr size_t bytesNeeded = 40;
constexpr size_t size = 556;

constexpr uint32_t query = 0;
constexpr uint32_t set = 1;
constexpr uint32_t oidCurrentAddress = 0x01010102;
constexpr uint32_t oidPacketFilter = 0x0001010E;
constexpr uint32_t filterPromiscuous = 0x20;
}  // namespace ndisrec

inline uint32_t getU32(const uint8_t* record, size_t offset)
{
    uint32_t v;
    std::memcpy(&v, record + offset, 4);
    return v;
}

inline void putU32(uint8_t* record, size_t offset, uint32_t v) { std::memcpy(record + offset, &v, 4); }

// The buffer an NDIS record points at, from the distance stored in it.
inline uint8_t* ndisBuffer(uint8_t* record)
{
    auto distance = static_cast<int32_t>(getU32(record, ndisrec::buffer));
    return reinterpret_cast<uint8_t*>(reinterpret_cast<intptr_t>(record) + distance);
}

inline bool setNdisBuffer(uint8_t* record, const void* buffer)
{
    intptr_t distance = reinterpret_cast<intptr_t>(buffer) - reinterpret_cast<intptr_t>(record);
    if (distance < INT32_MIN || distance > INT32_MAX)
        return false;
    putU32(record, ndisrec::buffer, static_cast<uint32_t>(static_cast<int32_t>(distance)));
    return true;
}

// An NDIS request as both drivers read it. They carry out these two and
// refuse anything else with errorInvalidParameter.
struct NdisRequest {
    enum Kind { unsupported, queryCurrentAddress, setPacketFilter };
    Kind kind = unsupported;
    uint8_t* buffer = nullptr;  // the address's 6 bytes, or the filter's 4
    bool promiscuous = false;   // setPacketFilter: the filter's promiscuous bit
};

inline NdisRequest decodeNdisRequest(uint8_t* record)
{
    uint32_t type = getU32(record, ndisrec::requestType);
    uint32_t oid = getU32(record, ndisrec::oid);
    uint32_t length = getU32(record, ndisrec::bufferLength);
    uint8_t* buffer = ndisBuffer(record);
    if (type == ndisrec::query && oid == ndisrec::oidCurrentAddress && length >= 6)
        return {NdisRequest::queryCurrentAddress, buffer, false};
    if (type == ndisrec::set && oid == ndisrec::oidPacketFilter && length >= 4)
        return {NdisRequest::setPacketFilter, buffer, (getU32(buffer, 0) & ndisrec::filterPromiscuous) != 0};
    return {};
}
