#include "keysetlog/keysetlog.h"

#include "frames/frame.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

namespace {

constexpr char logFileName[] = "plc.log";
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

void readLogFile(KeySetLogTable* table)
{
    std::FILE* file = std::fopen(logFileName, "rb");
    if (file == nullptr)
        return;  // no log yet
    // Only a regular file is read: a device such as /dev/zero would never end.
    struct stat info{};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fclose(file);
        return;
    }
    LineCollector collector;
    uint8_t chunk[readChunk];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        collector.feed(chunk, got);
    std::fclose(file);
    collector.finish(table);
}

void formatEventLine(int kind, int retry, const uint8_t* block, char* line)
{
    int length;
    switch (kind) {
    case logEeprom:
        length = std::snprintf(line, keySetLogLineSize, "**EEPROM**");
        break;
    case logRam:
        length = std::snprintf(line, keySetLogLineSize, "** RAM  **");
        break;
    default:
        length = std::snprintf(line, keySetLogLineSize, "**SETNEK**Retry=%d", retry);
        break;
    }
    for (size_t i = 0; i < mme::paramBlockSize && length + 3 < keySetLogLineSize; ++i)
        length += std::snprintf(line + length, size_t(keySetLogLineSize - length), " %.2x", block[i]);
}

void reportWriteFailure(int error)
{
    std::fprintf(stderr, "brennic: cannot write plc.log: %s\n", std::strerror(error));
}

void writeLogFile(const KeySetLogTable& table, int first, int last)
{
    std::FILE* file = std::fopen(logFileName, "wb");
    if (file == nullptr) {
        reportWriteFailure(errno);
        return;
    }
    int error = 0;
    for (int i = first; i <= last && error == 0; ++i) {
        const char* line = table.lines[i];
        const size_t length = std::strlen(line);
        if (std::fwrite(line, 1, length, file) != length || std::fwrite(lineEnd, 1, 2, file) != 2)
            error = errno != 0 ? errno : EIO;
    }
    errno = 0;
    // Buffered bytes reach the disk at close: a full disk shows up here.
    if (std::fclose(file) != 0 && error == 0)
        error = errno != 0 ? errno : EIO;
    if (error != 0)
        reportWriteFailure(error);
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

    static KeySetLogTable table;
    std::memset(&table, 0, sizeof table);
    readLogFile(&table);
    const int n = table.count;

    const std::time_t now = std::time(nullptr);
    struct tm local{};
    localtime_r(&now, &local);
    formatKeySetLogTime(local, table.lines[n]);
    formatEventLine(kind, retry, reply + mme::offParamBlock, table.lines[n + 1]);

    // From 20 lines on, the 18 newest lines stay before the new record. For the
    // 20 lines this system writes these are lines 2 to 19; a longer file from
    // elsewhere keeps its newest lines too instead of lines 2 to 19.
    const int first = n < keySetLogMaxLines ? 0 : n - (keySetLogMaxLines - 2);
    writeLogFile(table, first, n + 1);
}
