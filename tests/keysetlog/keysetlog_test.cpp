#include "frames/frame.h"
#include "keysetlog/keysetlog.h"
#include "support/saved_files.h"
#include "support/scratch.h"

#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Reply = std::array<uint8_t, mme::paramReplyLength>;

// A ParamReply whose 50-byte block holds first, first + 1, ...
Reply paramReply(uint8_t kind, uint8_t first)
{
    Reply r{};
    for (size_t i = 0; i < 6; ++i)
        r[mme::offDestination + i] = 0xFF;
    const uint8_t source[6] = {0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    std::memcpy(r.data() + mme::offSource, source, 6);
    r[mme::offEthertype] = mme::ethertypeHigh;
    r[mme::offEthertype + 1] = mme::ethertypeLow;
    r[mme::offEntryCount] = 1;
    r[mme::offEntryType] = mme::typeParam;
    r[mme::offEntryLength] = mme::paramReplyEntryLength;
    r[mme::offBlockKind] = kind;
    for (size_t i = 0; i < mme::paramBlockSize; ++i)
        r[mme::offParamBlock + i] = uint8_t(first + i);
    return r;
}

std::string blockText(uint8_t first)
{
    std::string out;
    char group[4];
    for (size_t i = 0; i < mme::paramBlockSize; ++i) {
        std::snprintf(group, sizeof group, " %.2x", unsigned(uint8_t(first + i)));
        out += group;
    }
    return out;
}

using testsupport::fileText;
using testsupport::writeFile;

// The file split at CR LF; every line must end with it.
std::vector<std::string> crlfLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "line without CR LF at byte " << start;
        if (end == std::string::npos)
            break;
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

const std::regex timeStamp(R"(^(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) )"
                           R"([0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}$)");

std::string numberedLines(int count, const char* prefix, const char* end)
{
    std::string out;
    char line[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "%s%03d%s", prefix, i, end);
        out += line;
    }
    return out;
}

// Each test works in a fresh directory of its own under the scratch directory.
class KeySetLog : public testing::Test {
protected:
    void SetUp() override
    {
        home_ = fs::current_path();
        const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
        dir_ = home_ / (std::string(info->test_suite_name()) + "." + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::current_path(dir_);
    }
    void TearDown() override
    {
        fs::current_path(home_);
        fs::permissions(dir_, fs::perms::owner_all);
        fs::remove_all(dir_);
    }

    fs::path home_;
    fs::path dir_;
};

TEST_F(KeySetLog, FirstRecordHasExactLines)
{
    struct Case {
        int kind;
        int retry;
        std::string marker;
    };
    const Case cases[] = {
        {logEeprom, 0, "**EEPROM**"},
        {logRam, 0, "** RAM  **"},
        {logSetNek, 0, "**SETNEK**Retry=0"},
        {logSetNek, 2, "**SETNEK**Retry=2"},
    };
    for (const Case& c : cases) {
        std::remove("plc.log");
        const Reply reply = paramReply(uint8_t(c.kind + 1), 0xF0);
        const std::time_t before = std::time(nullptr);
        appendKeySetLog(c.kind, c.retry, reply.data());
        const std::time_t after = std::time(nullptr);

        const std::string bytes = fileText("plc.log");
        const std::vector<std::string> lines = crlfLines(bytes);
        ASSERT_EQ(lines.size(), 2u) << c.marker;
        EXPECT_TRUE(std::regex_match(lines[0], timeStamp)) << lines[0];
        EXPECT_EQ(lines[1], c.marker + blockText(0xF0));
        EXPECT_EQ(bytes, lines[0] + "\r\n" + lines[1] + "\r\n");

        // The stamp is the local time of the call.
        bool matched = false;
        for (std::time_t t = before; t <= after; ++t) {
            struct tm local {};
            localtime_r(&t, &local);
            char expected[keySetLogTimeSize];
            formatKeySetLogTime(local, expected);
            matched = matched || lines[0] == expected;
        }
        EXPECT_TRUE(matched) << lines[0];
    }
}

TEST_F(KeySetLog, EventLineLengths)
{
    // Kind 0: 10 + 150 characters; kind 2: 10 + 7 + 150.
    appendKeySetLog(logEeprom, 0, paramReply(1, 0).data());
    appendKeySetLog(logSetNek, 1, paramReply(1, 0).data());
    const std::vector<std::string> lines = crlfLines(fileText("plc.log"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].size(), 160u);
    EXPECT_EQ(lines[3].size(), 167u);
    EXPECT_EQ(lines[1].substr(0, 14), "**EEPROM** 00 ");
    EXPECT_EQ(lines[3].substr(0, 21), "**SETNEK**Retry=1 00 ");
    EXPECT_EQ(lines[3].substr(164), " 31");
}

TEST(KeySetLogTime, EnglishNamesWhateverTheLocale)
{
    // Try a locale with other names where the machine has one; our names do not move.
    const char* locales[] = {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "fr_FR"};
    for (const char* l : locales)
        if (std::setlocale(LC_ALL, l) != nullptr)
            break;

    struct tm t {};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_hour = 3;
    t.tm_min = 54;
    t.tm_sec = 43;
    t.tm_wday = 1;
    char out[keySetLogTimeSize];
    formatKeySetLogTime(t, out);
    EXPECT_STREQ(out, "Mon Dec 07 03:54:43 2026");

    const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int d = 0; d < 7; ++d) {
        t.tm_wday = d;
        formatKeySetLogTime(t, out);
        EXPECT_EQ(std::string(out).substr(0, 4), std::string(days[d]) + " ");
    }
    for (int m = 0; m < 12; ++m) {
        t.tm_mon = m;
        t.tm_mday = 31;
        t.tm_hour = 23;
        t.tm_min = 0;
        t.tm_sec = 9;
        t.tm_year = 1999 - 1900;
        formatKeySetLogTime(t, out);
        EXPECT_EQ(std::string(out).substr(4), std::string(months[m]) + " 31 23:00:09 1999");
    }
    std::setlocale(LC_ALL, "C");
}

TEST_F(KeySetLog, EighteenLinesGrowToTwenty)
{
    const std::string old = numberedLines(18, "old", "\r\n");
    writeFile("plc.log", old);
    appendKeySetLog(logRam, 0, paramReply(2, 0x10).data());

    const std::string bytes = fileText("plc.log");
    const std::vector<std::string> lines = crlfLines(bytes);
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_EQ(bytes.substr(0, old.size()), old);
    EXPECT_TRUE(std::regex_match(lines[18], timeStamp));
    EXPECT_EQ(lines[19], "** RAM  **" + blockText(0x10));
}

TEST_F(KeySetLog, TwentyLinesRollTheOldestRecordOut)
{
    writeFile("plc.log", numberedLines(20, "old", "\r\n"));
    appendKeySetLog(logSetNek, 1, paramReply(1, 0x20).data());

    const std::vector<std::string> lines = crlfLines(fileText("plc.log"));
    ASSERT_EQ(lines.size(), 20u);
    for (int i = 0; i < 18; ++i) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "old%03d", i + 2);
        EXPECT_EQ(lines[size_t(i)], expected);
    }
    EXPECT_TRUE(std::regex_match(lines[18], timeStamp));
    EXPECT_EQ(lines[19], "**SETNEK**Retry=1" + blockText(0x20));
}

TEST_F(KeySetLog, KeepsTheTenNewestRecords)
{
    for (int call = 0; call < 13; ++call) {
        // Three mismatches of one try share its number.
        appendKeySetLog(logSetNek, call / 3, paramReply(1, uint8_t(call)).data());
        const std::vector<std::string> lines = crlfLines(fileText("plc.log"));
        ASSERT_EQ(lines.size(), size_t(std::min(2 * (call + 1), 20)));
    }
    const std::vector<std::string> lines = crlfLines(fileText("plc.log"));
    for (int record = 0; record < 10; ++record) {
        const int call = record + 3;
        EXPECT_TRUE(std::regex_match(lines[size_t(2 * record)], timeStamp));
        EXPECT_EQ(lines[size_t(2 * record + 1)],
                  "**SETNEK**Retry=" + std::to_string(call / 3) + blockText(uint8_t(call)));
    }
}

// The lines of a log with every time stamp replaced by "T": two runs a second
// apart must still compare equal.
std::vector<std::string> withoutTimes(const std::string& bytes)
{
    std::vector<std::string> lines = crlfLines(bytes);
    for (std::string& line : lines)
        if (std::regex_match(line, timeStamp))
            line = "T";
    return lines;
}

Reply fromStation(Reply reply, uint8_t last)
{
    reply[mme::offSource + 5] = last;
    return reply;
}

TEST_F(KeySetLog, HeldRecordsAreOneRewriteOfWhatSingleAppendsWrite)
{
    // Files this system writes and files from elsewhere (odd, long, LF only),
    // and batches below, at and beyond the ten records the log keeps.
    const std::string starts[] = {"",
                                  numberedLines(1, "one", "\r\n"),
                                  numberedLines(18, "old", "\r\n"),
                                  numberedLines(19, "odd", "\r\n"),
                                  numberedLines(20, "full", "\r\n"),
                                  numberedLines(100, "L", "\n")};
    for (const std::string& start : starts) {
        for (int records : {1, 2, 9, 10, 11, 12, 25}) {
            const auto record = [](int i) { return paramReply(1, uint8_t(i * 3)); };
            writeFile("plc.log", start);
            for (int i = 0; i < records; ++i)
                appendKeySetLog(logSetNek, i % 3, record(i).data());
            const std::vector<std::string> single = withoutTimes(fileText("plc.log"));

            writeFile("plc.log", start);
            holdKeySetLog();
            for (int i = 0; i < records; ++i)
                appendKeySetLog(logSetNek, i % 3, record(i).data());
            EXPECT_EQ(fileText("plc.log"), start) << "written before the flush";
            flushKeySetLog();
            EXPECT_EQ(withoutTimes(fileText("plc.log")), single)
                << start.size() << " bytes to start, " << records << " records";
        }
    }
    EXPECT_FALSE(fs::exists("plc.log.new"));
}

TEST_F(KeySetLog, HeldBlankBlocksAreLimitedPerStationAndCycle)
{
    startKeySetLogCycle();
    for (int i = 0; i < 10; ++i)
        appendKeySetLog(logSetNek, 0, paramReply(1, uint8_t(i)).data());
    const Reply blankE = paramReply(1, 0), blankR = paramReply(2, 0);

    // A flood from one station: one record per block kind, the unconfirmed-key
    // records stay but for the two oldest.
    holdKeySetLog();
    for (int i = 0; i < 1000; ++i) {
        appendKeySetLog(logEeprom, 0, blankE.data());
        appendKeySetLog(logRam, 0, blankR.data());
    }
    flushKeySetLog();
    std::vector<std::string> lines = withoutTimes(fileText("plc.log"));
    ASSERT_EQ(lines.size(), 20u);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(lines[size_t(2 * i + 1)], "**SETNEK**Retry=0" + blockText(uint8_t(i + 2)));
    EXPECT_EQ(lines[17], "**EEPROM**" + blockText(0));
    EXPECT_EQ(lines[19], "** RAM  **" + blockText(0));

    // Later ticks of the same cycle: nothing new from that station, no rewrite;
    // unconfirmed keys are never limited.
    struct stat before {};
    ASSERT_EQ(stat("plc.log", &before), 0);
    holdKeySetLog();
    appendKeySetLog(logEeprom, 0, blankE.data());
    flushKeySetLog();
    struct stat after {};
    ASSERT_EQ(stat("plc.log", &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "rewritten without a record";
    holdKeySetLog();
    appendKeySetLog(logSetNek, 2, paramReply(1, 0x40).data());
    appendKeySetLog(logSetNek, 2, paramReply(1, 0x41).data());
    flushKeySetLog();
    lines = withoutTimes(fileText("plc.log"));
    EXPECT_EQ(lines[17], "**SETNEK**Retry=2" + blockText(0x40));
    EXPECT_EQ(lines[19], "**SETNEK**Retry=2" + blockText(0x41));

    // Many stations (or forged addresses): no more than the cap in one cycle.
    std::remove("plc.log");
    holdKeySetLog();
    for (int station = 0; station < 50; ++station)
        appendKeySetLog(logEeprom, 0, fromStation(paramReply(1, 0), uint8_t(station)).data());
    flushKeySetLog();
    EXPECT_EQ(crlfLines(fileText("plc.log")).size(), size_t(2 * (keySetLogBlankPerCycle - 2)))
        << "two of the cap went to the station above";

    // A new cycle admits each station once more.
    startKeySetLogCycle();
    holdKeySetLog();
    for (int i = 0; i < 3; ++i)
        appendKeySetLog(logEeprom, 0, blankE.data());
    flushKeySetLog();
    lines = withoutTimes(fileText("plc.log"));
    EXPECT_EQ(lines.size(), size_t(2 * (keySetLogBlankPerCycle - 1)));
    EXPECT_EQ(lines.back(), "**EEPROM**" + blockText(0));

    // The reset of a fresh process: nothing held any more, every station admitted again.
    holdKeySetLog();
    appendKeySetLog(logSetNek, 3, paramReply(1, 0x50).data());
    resetKeySetLogState();
    std::remove("plc.log");
    appendKeySetLog(logSetNek, 1, paramReply(1, 0x51).data());
    holdKeySetLog();
    appendKeySetLog(logEeprom, 0, blankE.data());
    flushKeySetLog();
    lines = withoutTimes(fileText("plc.log"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "**SETNEK**Retry=1" + blockText(0x51));
    EXPECT_EQ(lines[3], "**EEPROM**" + blockText(0));
    startKeySetLogCycle();
}

TEST_F(KeySetLog, LfOnlyFileIsWrittenBackWithCrLf)
{
    writeFile("plc.log", "first\nsecond\r\nthird\n\nfifth");
    appendKeySetLog(logEeprom, 0, paramReply(1, 0).data());
    const std::string bytes = fileText("plc.log");
    const std::vector<std::string> lines = crlfLines(bytes);
    ASSERT_EQ(lines.size(), 7u);
    const std::string rewritten = "first\r\nsecond\r\nthird\r\n\r\nfifth\r\n";
    EXPECT_EQ(bytes.substr(0, rewritten.size()), rewritten);
    EXPECT_EQ(lines[6], "**EEPROM**" + blockText(0));
}

TEST_F(KeySetLog, HundredLinesKeepTheNewest)
{
    writeFile("plc.log", numberedLines(100, "L", "\n"));
    appendKeySetLog(logRam, 0, paramReply(2, 0).data());
    const std::vector<std::string> lines = crlfLines(fileText("plc.log"));
    ASSERT_EQ(lines.size(), 20u);
    for (int i = 0; i < 18; ++i) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "L%03d", 82 + i);
        EXPECT_EQ(lines[size_t(i)], expected);
    }
    EXPECT_EQ(lines[19], "** RAM  **" + blockText(0));
}

TEST_F(KeySetLog, LongLinesAreSplitWithinBounds)
{
    // Ten lines of 1000 characters: 5 pieces of 199 and one of 5 each.
    std::string old;
    for (int i = 0; i < 10; ++i)
        old += std::string(1000, char('a' + i)) + "\r\n";
    writeFile("plc.log", old);
    appendKeySetLog(logEeprom, 0, paramReply(1, 0).data());

    const std::vector<std::string> lines = crlfLines(fileText("plc.log"));
    ASSERT_EQ(lines.size(), 20u);
    // The newest 18 pieces: the last line's 6, the one before's 6, and 6 of 'h'.
    const size_t pieceSizes[6] = {199, 199, 199, 199, 199, 5};
    for (int i = 0; i < 18; ++i) {
        const char letter = char('h' + i / 6);
        EXPECT_EQ(lines[size_t(i)], std::string(pieceSizes[i % 6], letter)) << "line " << i;
    }
    EXPECT_EQ(lines[19], "**EEPROM**" + blockText(0));
}

TEST_F(KeySetLog, PlcLogThatIsADirectoryIsReportedOnStderr)
{
    fs::create_directory("plc.log");
    testing::internal::CaptureStderr();
    appendKeySetLog(logEeprom, 0, paramReply(1, 0).data());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string(program_invocation_short_name) + ": cannot write plc.log: " + std::strerror(EISDIR) + "\n");
    EXPECT_TRUE(fs::is_directory("plc.log"));
}

TEST_F(KeySetLog, FailedWriteKeepsTheOldLogAndSaysWhy)
{
    const std::string old = numberedLines(6, "old ", "\r\n");
    writeFile("plc.log", old);
    // A file size limit below the new log's size: the write fails part way.
    const scratch::ChildResult child = scratch::runChild([] {
        signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {100, 100};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 2;
        appendKeySetLog(logSetNek, 0, paramReply(1, 0).data());
        return 0;
    });
    ASSERT_TRUE(child.exited(0)) << child.status;
    EXPECT_EQ(child.errorText,
              std::string(program_invocation_short_name) + ": cannot write plc.log: " + std::strerror(EFBIG) + "\n");
    EXPECT_EQ(fileText("plc.log"), old);
    EXPECT_FALSE(fs::exists("plc.log.new"));
}

// Runs appendKeySetLog in the current directory and returns what it wrote on
// standard error. As root, whom directory permissions do not bind, it runs in a
// child that has become nobody; nullopt when that cannot be done.
std::optional<std::string> appendAsUnprivileged()
{
    if (geteuid() != 0) {
        testing::internal::CaptureStderr();
        appendKeySetLog(logEeprom, 0, paramReply(1, 0).data());
        return testing::internal::GetCapturedStderr();
    }
    const scratch::ChildResult child = scratch::runChild([] {
        if (!scratch::dropPrivileges())
            return 2;
        appendKeySetLog(logEeprom, 0, paramReply(1, 0).data());
        return 0;
    });
    if (!child.exited(0))
        return std::nullopt;
    return child.errorText;
}

TEST_F(KeySetLog, UnwritableDirectoryIsReportedOnStderr)
{
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const std::optional<std::string> err = appendAsUnprivileged();
    if (!err)
        GTEST_SKIP() << "could not run without the rights that ignore directory permissions";
    EXPECT_EQ(*err,
              std::string(program_invocation_short_name) + ": cannot write plc.log: " + std::strerror(EACCES) + "\n");
    EXPECT_FALSE(fs::exists("plc.log"));
}

TEST_F(KeySetLog, MissingFileOrBadKindWritesNothingOnStderr)
{
    testing::internal::CaptureStderr();
    appendKeySetLog(logEeprom, 0, paramReply(1, 0).data());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    const std::string before = fileText("plc.log");
    appendKeySetLog(3, 0, paramReply(1, 0).data());
    appendKeySetLog(-1, 0, paramReply(1, 0).data());
    appendKeySetLog(logEeprom, 0, nullptr);
    EXPECT_EQ(fileText("plc.log"), before);
}

struct ReadCase {
    const char* name;
    std::string input;
    size_t total;
    std::vector<std::string> lines;
};

TEST(KeySetLogReader, SplitsLines)
{
    const std::string s199(199, 'x');
    const ReadCase cases[] = {
        {"empty", "", 0, {}},
        {"one line without end", "abc", 1, {"abc"}},
        {"CR LF", "a\r\nb\r\n", 2, {"a", "b"}},
        {"LF only", "a\nb\n", 2, {"a", "b"}},
        {"empty lines", "\n\r\n\n", 3, {"", "", ""}},
        {"lone CR kept", "a\rb\r\n", 1, {"a\rb"}},
        {"CR at the very end kept", "a\r", 1, {"a\r"}},
        {"CR CR LF keeps one", "a\r\r\n", 1, {"a\r"}},
        {"199 characters is one line", s199 + "\r\n", 1, {s199}},
        {"199 characters then CR then text", s199 + "\rz\n", 2, {s199, "\rz"}},
        {"200 characters are two", s199 + "y\n", 2, {s199, "y"}},
        {"398 characters are two", s199 + s199 + "\n", 2, {s199, s199}},
        {"piece then line", s199 + "yy\nq", 3, {s199, "yy", "q"}},
    };
    for (const ReadCase& c : cases) {
        KeySetLogTable table;
        const size_t total =
            readKeySetLogLines(reinterpret_cast<const uint8_t*>(c.input.data()), c.input.size(), &table);
        EXPECT_EQ(total, c.total) << c.name;
        ASSERT_EQ(size_t(table.count), c.lines.size()) << c.name;
        for (size_t i = 0; i < c.lines.size(); ++i)
            EXPECT_EQ(table.lines[i], c.lines[i]) << c.name << " line " << i;
    }
}

TEST(KeySetLogReader, KeepsTheNewest48)
{
    const std::string input = numberedLines(1000, "n", "\r\n");
    KeySetLogTable table;
    EXPECT_EQ(readKeySetLogLines(reinterpret_cast<const uint8_t*>(input.data()), input.size(), &table), 1000u);
    ASSERT_EQ(table.count, keySetLogReadLines);
    for (int i = 0; i < keySetLogReadLines; ++i) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "n%03d", 1000 - keySetLogReadLines + i);
        EXPECT_STREQ(table.lines[i], expected);
    }
}

TEST(KeySetLogReader, SeedCorpusStaysWithinBounds)
{
    int files = 0;
    for (const auto& entry : fs::directory_iterator(KEYSETLOG_CORPUS_DIR)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        KeySetLogTable table;
        const size_t total = readKeySetLogLines(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &table);
        EXPECT_LE(table.count, keySetLogReadLines) << entry.path();
        EXPECT_EQ(size_t(table.count), std::min(total, size_t(keySetLogReadLines))) << entry.path();
        for (int i = 0; i < table.count; ++i)
            EXPECT_LE(strnlen(table.lines[i], keySetLogLineSize), size_t(keySetLogLineChars)) << entry.path();
        ++files;
    }
    EXPECT_GE(files, 3);
}

}  // namespace
