#pragma once
// The requests the system sends, each built to its exact bytes and handed to
// sendFrame. True when the frame was handed to the adapter.
#include <cstdint>

bool sendStationQuery(int a, const uint8_t* source, const uint8_t* destination);
bool sendParamQuery(int a, const uint8_t* source, const uint8_t* destination, uint8_t selector);
bool sendLinkStatsQuery(int a, const uint8_t* source, const uint8_t* destination);
// From deviceMac when all six bytes are nonzero, else from ownMac; to broadcast.
bool sendDiscoveryProbe(int a);
bool sendControlFrame(int a, const uint8_t* source, const uint8_t* destination, uint8_t controlFlags,
                      uint8_t controlMark, uint8_t controlValue);
