#include "keysetlog/keysetlog.h"

#include "frames/frame.h"
#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char logFileName[] = "plc.log";
// One fixed name: a rewrite cut short leaves at most this file, which the next one replaces.
constexpr char tempFileName[] = "plc.log.new";
constexpr char lineEnd[] = "\r\n";
constexpr size_t readChunk = 4096;

constexpr const char* dayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* monthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Splits bytes into lines and keeps the newest 48 in a ring, so a file of any
// length is read within the bounds of the working table.
class LineCollector {
public:
    void feed(const uint8_t* data, size_t size)
    {
        for (size_t i = 0; i < size; ++i) {
            const char c = char(data[i]);
            if (pendingCr_) {
                pendingCr_ = false;
                if (c == '\n') {
                    endLine();
                    continue;
                }
                append('\r');
            }
            if (c == '\r')
                pendingCr_ = true;
            else if (c == '\n')
                endLine();
            else
                append(c);
        }
    }

    // A last line without LF still counts; a CR at the very end is kept as text.
    size_t finish(KeySetLogTable* table)
    {
        if (pendingCr_) {
            pendingCr_ = false;
            append('\r');
        }
        if (pieceLength_ > 0)
            endLine();

        const size_t kept = total_ < size_t(keySetLogReadLines) ? total_ : size_t(keySetLogReadLines);
        size_t slot = (total_ - kept) % keySetLogReadLines;
        for (size_t i = 0; i < kept; ++i) {
            std::memcpy(table->lines[i], ring_[slot], keySetLogLineSize);
            slot = (slot + 1) % keySetLogReadLines;
        }
        table->count = int(kept);
        return total_;
    }

private:
    // A piece is closed only when a 200th character arrives, so a line of
    // exactly 199 characters stays one line.
    void append(char c)
    {
        if (pieceLength_ == keySetLogLineChars)
            endLine();
        piece_[pieceLength_++] = c;
    }

    void endLine()
    {
        char* line = ring_[total_ % keySetLogReadLines];
        std::memcpy(line, piece_, size_t(pieceLength_));
        line[pieceLength_] = '\0';
        ++total_;
        pieceLength_ = 0;
    }

    char ring_[keySetLogReadLines][keySetLogLineSize] = {};
    char piece_[keySetLogLineChars] = {};
    int pieceLength_ = 0;
    bool pendingCr_ = false;
    size_t total_ = 0;
};

// Why the last rewrite was not done, empty once one is.
std::string writeError;

// False when the file is there but refused.
bool readLogFile(KeySetLogTable* table)
{
    // Neither followed nor waited on: a link or a FIFO named plc.log is not
    // read, and the rewrite replaces it; nor is a file others could have
    // written, and that one is left as it is, older records and all.
    std::string why;
    const int fd = platform::openOwnedFile(logFileName, &why);
    if (!why.empty()) {
        writeError = std::string(logFileName) + " is " + why;
        std::fprintf(stderr, "%s: %s neither read nor rewritten: %s\n", program_invocation_short_name, logFileName,
                     why.c_str());
        return false;
    }
    if (fd < 0)
        return true;  // no log yet
    LineCollector collector;
    uint8_t chunk[readChunk];
    // A short chunk is the end of the file; an error ends the reading as the end would.
    size_t got = sizeof chunk;
    for (bool ok = true; ok && got == sizeof chunk;) {
        ok = platform::readAll(fd, chunk, sizeof chunk, &got);
        collector.feed(chunk, got);
    }
    close(fd);
    collector.finish(table);
    return true;
}

void formatEventLine(int kind, int retry, const uint8_t* block, char* line)
{
    int length;
    switch (kind) {
    case logEeprom: length = std::snprintf(line, keySetLogLineSize, "**EEPROM**"); break;
    case logRam: length = std::snprintf(line, keySetLogLineSize, "** RAM  **"); break;
    default: length = std::snprintf(line, keySetLogLineSize, "**SETNEK**Retry=%d", retry); break;
    }
    for (size_t i = 0; i < mme::paramBlockSize && length + 3 < keySetLogLineSize; ++i)
        length += std::snprintf(line + length, size_t(keySetLogLineSize - length), " %.2x", block[i]);
}

void reportWriteFailure(int error)
{
    writeError = std::string("cannot write ") + logFileName + ": " + std::strerror(error);
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, writeError.c_str());
}

// The records hold the device's keys: the new file is private whatever the
// umask, and it replaces the old name so a link is never written through.
void writeLogFile(const KeySetLogTable& table, int first, int last)
{
    const std::string refused = platform::refusedFile(logFileName);
    if (!refused.empty()) {
        writeError = std::string(logFileName) + " is " + refused;
        std::fprintf(stderr, "%s: cannot write %s: it is %s\n", program_invocation_short_name, logFileName,
                     refused.c_str());
        return;
    }
    std::string text;
    for (int i = first; i <= last; ++i)
        text.append(table.lines[i]).append(lineEnd, 2);
    const platform::Replaced r = platform::replaceFile(logFileName, text.data(), text.size(), 0600, tempFileName);
    if (!r)
        reportWriteFailure(r.error);
    else
        writeError.clear();
}

struct Record {
    char time[keySetLogTimeSize];
    int kind;
    int retry;
    uint8_t block[mme::paramBlockSize];
};

// Eleven appends leave only their own ten newest records in any file, so the
// records held beyond eleven can be dropped without changing what is written.
constexpr int heldLimit = keySetLogMaxLines / 2 + 1;

bool holding = false;
Record held[heldLimit];
size_t heldTotal = 0;

struct BlankSource {
    uint8_t mac[mme::macSize];
    int kind;
};
BlankSource blankSeen[keySetLogBlankPerCycle];
int blankSeenCount = 0;

bool admitBlank(const uint8_t* source, int kind)
{
    for (int i = 0; i < blankSeenCount; ++i)
        if (blankSeen[i].kind == kind && std::memcmp(blankSeen[i].mac, source, mme::macSize) == 0)
            return false;
    if (blankSeenCount == keySetLogBlankPerCycle)
        return false;
    std::memcpy(blankSeen[blankSeenCount].mac, source, mme::macSize);
    blankSeen[blankSeenCount].kind = kind;
    ++blankSeenCount;
    return true;
}

// One read and one rewrite for any number of records, each added as a single
// append would add it.
void writeRecords(const Record* const* records, int count)
{
    static KeySetLogTable table;
    std::memset(&table, 0, sizeof table);
    if (!readLogFile(&table))
        return;
    int n = table.count;
    int first = 0;
    for (int r = 0; r < count; ++r) {
        // From 20 lines on, the 18 newest lines stay before the new record. For the
        // 20 lines this system writes these are lines 2 to 19; a longer file from
        // elsewhere keeps its newest lines too instead of lines 2 to 19.
        if (n - first >= keySetLogMaxLines)
            first = n - (keySetLogMaxLines - 2);
        if (n + 2 > keySetLogTableLines) {
            std::memmove(table.lines, table.lines[first], size_t(n - first) * keySetLogLineSize);
            n -= first;
            first = 0;
        }
        std::memcpy(table.lines[n], records[r]->time, keySetLogTimeSize);
        formatEventLine(records[r]->kind, records[r]->retry, records[r]->block, table.lines[n + 1]);
        n += 2;
    }
    writeLogFile(table, first, n - 1);
}

}  // namespace

size_t readKeySetLogLines(const uint8_t* data, size_t size, KeySetLogTable* table)
{
    LineCollector collector;
    collector.feed(data, size);
    return collector.finish(table);
}

void formatKeySetLogTime(const struct tm& local, char out[keySetLogTimeSize])
{
    // Fields out of range still give 24 characters: they are folded into their widths.
    const auto fold = [](int value, int modulus) { return (value % modulus + modulus) % modulus; };
    const char* day = local.tm_wday >= 0 && local.tm_wday < 7 ? dayNames[local.tm_wday] : "???";
    const char* month = local.tm_mon >= 0 && local.tm_mon < 12 ? monthNames[local.tm_mon] : "???";
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d", day, month, fold(local.tm_mday, 100),
                  fold(local.tm_hour, 100), fold(local.tm_min, 100), fold(local.tm_sec, 100),
                  fold(local.tm_year % 10000 + 1900, 10000));
    std::memcpy(out, text, keySetLogTimeSize - 1);
    out[keySetLogTimeSize - 1] = '\0';
}

void appendKeySetLog(int kind, int retry, const uint8_t* reply)
{
    if (reply == nullptr || kind < logEeprom || kind > logSetNek)
        return;
    if (holding && kind != logSetNek && !admitBlank(reply + mme::offSource, kind))
        return;

    static Record single;
    Record& record = holding ? held[heldTotal++ % heldLimit] : single;
    const std::time_t now = std::time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    formatKeySetLogTime(local, record.time);
    record.kind = kind;
    record.retry = retry;
    std::memcpy(record.block, reply + mme::offParamBlock, mme::paramBlockSize);
    if (!holding) {
        const Record* one = &record;
        writeRecords(&one, 1);
    }
}

void holdKeySetLog() { holding = true; }

void flushKeySetLog()
{
    holding = false;
    if (heldTotal == 0)
        return;
    const int count = heldTotal < size_t(heldLimit) ? int(heldTotal) : heldLimit;
    const Record* order[heldLimit];
    for (int i = 0; i < count; ++i)
        order[i] = &held[(heldTotal - size_t(count) + size_t(i)) % heldLimit];
    heldTotal = 0;
    writeRecords(order, count);
}

void startKeySetLogCycle() { blankSeenCount = 0; }

const char* keySetLogError() { return writeError.c_str(); }

void resetKeySetLogState()
{
    writeError.clear();
    holding = false;
    heldTotal = 0;
    blankSeenCount = 0;
}
