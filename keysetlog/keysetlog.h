#pragma once
// The rolling "plc.log" of unconfirmed key changes and blank parameter blocks.
#include <cstddef>
#include <cstdint>
#include <ctime>

enum KeySetLogKind { logEeprom = 0, logRam = 1, logSetNek = 2 };

constexpr int keySetLogTableLines = 50;
constexpr int keySetLogLineSize = 200;  // 199 characters and a NUL
constexpr int keySetLogLineChars = keySetLogLineSize - 1;
constexpr int keySetLogReadLines = keySetLogTableLines - 2;  // room for the new record
constexpr int keySetLogMaxLines = 20;                        // 10 records of two lines
constexpr int keySetLogTimeSize = 25;                        // "Www Mmm DD hh:mm:ss YYYY" and a NUL

// The working table: lines without their line ends, oldest first.
struct KeySetLogTable {
    char lines[keySetLogTableLines][keySetLogLineSize];
    int count;
};

// Reads the bytes of a plc.log into table: a line ends at LF, a CR right
// before it is dropped, a line longer than 199 characters is split into pieces
// of 199 that count as lines. Only the newest 48 lines are kept; returns how
// many lines the bytes held in all.
size_t readKeySetLogLines(const uint8_t* data, size_t size, KeySetLogTable* table);

// "Www Mmm DD hh:mm:ss YYYY" with English names whatever the locale.
void formatKeySetLogTime(const struct tm& local, char out[keySetLogTimeSize]);

// reply: a ParamReply of at least 68 bytes; its block (offsets 18 to 67) is logged.
// The file is replaced whole (a sibling created 0600, flushed, renamed over it),
// never written through; one that cannot be written is reported on standard
// error only and the old log stays.
void appendKeySetLog(int kind, int retry, const uint8_t* reply);

// The monitor's tick: while held, records wait in memory and flushKeySetLog
// writes them with one rewrite, the same file as one append each would give.
// Blank-block records made while held are limited to one per station (source
// address) and block kind until startKeySetLogCycle, and to
// keySetLogBlankPerCycle in all, so a flood cannot push the unconfirmed-key
// records out of the log.
void holdKeySetLog();
void flushKeySetLog();
void startKeySetLogCycle();

constexpr int keySetLogBlankPerCycle = 4;

// Why the last rewrite of "plc.log" was not done ("plc.log is writable by ...",
// "cannot write plc.log: Permission denied"); empty once one is done.
const char* keySetLogError();

// Nothing held, no blank block seen this cycle: as a fresh process has it.
void resetKeySetLogState();
