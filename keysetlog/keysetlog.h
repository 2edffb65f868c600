#pragma once
// The rolling "plc.log" of unconfirmed key changes and blank parameter blocks.
#include <cstdint>

enum KeySetLogKind { logEeprom = 0, logRam = 1, logSetNek = 2 };

// reply: a ParamReply of at least 68 bytes; its block (offsets 18 to 67) is logged.
void appendKeySetLog(int kind, int retry, const uint8_t* reply);
