#pragma once
// Recognition of received frames. Each test reads only bytes the frame has.
#include "frames/frame.h"

namespace mme {

inline bool isStationReply(const FrameView& f)
{
    return f.isManagement() && f.hasEntry() && f.at(offEntryType) == typeStationReply;
}

// A ParamReply with its whole 50-byte block present.
inline bool isParamReply(const FrameView& f)
{
    return f.isManagement() && f.has(offParamBlock, paramBlockSize) && f.at(offEntryType) == typeParam &&
           f.at(offEntryLength) == paramReplyEntryLength;
}

// The monitor takes any type-0x1A frame without the exact request mark as a reply.
inline bool isMonitorLinkStatsReply(const FrameView& f)
{
    return f.has(offDeviceType) && f.at(offEntryType) == typeLinkStats && f.at(offDeviceType) != requestMark;
}

inline bool isSelfAddressed(const FrameView& f)
{
    return f.has(offSource, macSize) && std::memcmp(f.destination(), f.source(), macSize) == 0 &&
           !isBroadcast(f.destination());
}

}  // namespace mme
