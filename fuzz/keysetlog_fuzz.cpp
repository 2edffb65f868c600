// libFuzzer target for plc.log: any bytes read within the table, and the file
// round trip in a scratch directory. The bytes are the old log; one append and
// a held batch of appends must each leave a log of whole CR LF lines of at most
// 199 characters, private to its owner, the batch the same as single appends.
// The first byte also picks the batch size and, with bit 7, puts a FIFO or a
// symlink in the log's place.
#include "frames/frame.h"
#include "fuzz/fuzz_support.h"
#include "keysetlog/keysetlog.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using fuzzing::check;

void checkTable(const uint8_t* data, size_t size)
{
    static KeySetLogTable table;
    const size_t total = readKeySetLogLines(data, size, &table);
    const size_t kept = total < size_t(keySetLogReadLines) ? total : size_t(keySetLogReadLines);
    check(table.count >= 0 && size_t(table.count) == kept);
    for (int i = 0; i < table.count; ++i)
        check(strnlen(table.lines[i], keySetLogLineSize) <= size_t(keySetLogLineChars));
}

std::string readLog()
{
    std::string bytes;
    FILE* f = std::fopen("plc.log", "rb");
    check(f != nullptr);
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.append(chunk, got);
    std::fclose(f);
    return bytes;
}

void plant(const uint8_t* data, size_t size, uint8_t how)
{
    unlink("plc.log");
    if (how == 1) {
        check(mkfifo("plc.log", 0600) == 0);
        return;
    }
    if (how == 2) {
        check(symlink("elsewhere", "plc.log") == 0);
        return;
    }
    FILE* f = std::fopen("plc.log", "wb");
    check(f != nullptr);
    check(std::fwrite(data, 1, size, f) == size);
    std::fclose(f);
}

// The written log as lines, time stamps blanked: runs a second apart still compare.
std::vector<std::string> checkedLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find("\r\n", start);
        check(end != std::string::npos);
        std::string line = bytes.substr(start, end - start);
        check(line.size() <= size_t(keySetLogLineChars));
        if (line.size() == keySetLogTimeSize - 1 && line[3] == ' ' && line[7] == ' ' && line[19] == ' ')
            line = "T";
        lines.push_back(line);
        start = end + 2;
    }
    check(lines.size() >= 2 && lines.size() <= size_t(keySetLogMaxLines) + 1);
    struct stat st {};
    check(lstat("plc.log", &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0777) == 0600);
    check(access("plc.log.new", F_OK) != 0);
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    checkTable(data, size);

    fuzzing::enterScratchDirectory("keysetlog_fuzz");
    const uint8_t control = size > 0 ? data[0] : 0;
    const uint8_t how = (control & 0x80) ? uint8_t(1 + (control & 1)) : 0;
    const int records = 1 + control % 13;
    std::array<uint8_t, mme::paramReplyLength> reply{};
    for (size_t i = 0; i < reply.size() && i < size; ++i)
        reply[i] = data[size - 1 - i];

    plant(data, size, how);
    for (int r = 0; r < records; ++r)
        appendKeySetLog(logSetNek, r, reply.data());
    const std::vector<std::string> single = checkedLines(readLog());
    check(single.back().rfind("**SETNEK**Retry=", 0) == 0);

    plant(data, size, how);
    holdKeySetLog();
    for (int r = 0; r < records; ++r)
        appendKeySetLog(logSetNek, r, reply.data());
    flushKeySetLog();
    check(checkedLines(readLog()) == single);
    return 0;
}
