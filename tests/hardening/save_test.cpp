// Saves of "wizard.data" that cannot complete: a directory the process may not
// write, a file system that fills up halfway through, and a process killed at
// random moments while it saves. The file on disk is always a whole table, the
// old one or the new one.
#include "netstate/profiles.h"
#include "support/scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <vector>

namespace {

using Image = std::vector<uint8_t>;

// A whole profile table with a pattern of its own; `newlines` sets how many
// bytes are 0x0A, which the file stores as two bytes, so tables differ in size on disk.
Image tableImage(uint8_t seed, size_t newlines)
{
    Image image(profileImageSize);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>((i * 131 + seed) % 251);
    for (size_t i = 0; i < image.size(); ++i)
        if (image[i] == 0x0A)
            image[i] = 0x0B;
    for (size_t k = 0; k < newlines; ++k)
        image[(k * 7919 + seed) % image.size()] = 0x0A;
    return image;
}

void setTable(const Image& image) { std::memcpy(static_cast<void*>(profiles), image.data(), image.size()); }

Image encoded(const Image& image)
{
    Image out(2 * image.size());
    out.resize(encodeProfileImage(image.data(), image.size(), out.data()));
    return out;
}

Image readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Image(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Saves `image` as "wizard.data" of `dir`, from a child so the test's working
// directory stays where it is. True when the save succeeded.
bool saveIn(const std::string& dir, const Image& image)
{
    scratch::ChildResult r = scratch::runChild([&] {
        if (chdir(dir.c_str()) != 0)
            return 3;
        setTable(image);
        return saveProfiles() ? 0 : 1;
    });
    return r.exited(0);
}

std::vector<std::string> entriesOf(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    return names;
}

const Image oldTable = tableImage(17, 40);
const Image newTable = tableImage(99, 4000);

TEST(SaveFailure, UnwritableDirectoryKeepsTheOldFileAndSaysWhy)
{
    scratch::Directory dir("brennic-readonly");
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(saveIn(dir.path(), oldTable));
    const Image before = readFile(dir.file(profileFileName));
    ASSERT_EQ(before, encoded(oldTable));
    // The user's own file, in a directory that user may not write.
    ASSERT_EQ(chown(dir.file(profileFileName).c_str(), scratch::nobody, scratch::nobody), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);

    // Root writes anywhere: the child turns into nobody first.
    scratch::ChildResult r = scratch::runChild([&] {
        if (!scratch::dropPrivileges() || chdir(dir.path().c_str()) != 0)
            return 3;
        setTable(newTable);
        if (saveProfiles())
            return 0;
        // The reason the box shows is the one standard error gives.
        return std::strcmp(lastSaveError(), std::strerror(EACCES)) == 0 ? 1 : 4;
    });
    ASSERT_TRUE(r.exited(1)) << "status " << r.status << ", stderr: " << r.errorText;

    EXPECT_EQ(readFile(dir.file(profileFileName)), before);
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{profileFileName}) << "nothing else left behind";
    // One line on standard error that names the file and the reason.
    EXPECT_EQ(std::count(r.errorText.begin(), r.errorText.end(), '\n'), 1) << r.errorText;
    EXPECT_NE(r.errorText.find(profileFileName), std::string::npos) << r.errorText;
    EXPECT_NE(r.errorText.find(std::strerror(EACCES)), std::string::npos) << r.errorText;
}

TEST(SaveFailure, FullFileSystemKeepsTheOldFileAndSaysWhy)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    scratch::Directory dir("brennic-full");
    ASSERT_TRUE(dir.ok());

    // In a mount namespace of the child's own: a tmpfs with room for one table
    // file but not for a second beside it.
    scratch::ChildResult r = scratch::runChild([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return 10;
        if (mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=160k,mode=0755") != 0)
            return 11;
        if (chdir(dir.path().c_str()) != 0)
            return 12;
        setTable(oldTable);
        if (!saveProfiles())
            return 13;
        std::fprintf(stderr, "-- first save done\n");
        setTable(newTable);
        if (saveProfiles())
            return 14;
        if (readFile(profileFileName) != encoded(oldTable))
            return 15;
        if (entriesOf(".") != std::vector<std::string>{profileFileName})
            return 16;
        return 0;
    });
    if (r.exited(10) || r.exited(11))
        GTEST_SKIP() << "no private mount namespace with a tmpfs here";
    ASSERT_TRUE(r.exited(0)) << "status " << r.status << " (13: first save failed, 14: second succeeded, "
                             << "15: old file changed, 16: a file left behind), stderr: " << r.errorText;
    std::string afterFirst = r.errorText.substr(r.errorText.find("-- first save done\n") + 19);
    EXPECT_EQ(std::count(afterFirst.begin(), afterFirst.end(), '\n'), 1) << afterFirst;
    EXPECT_NE(afterFirst.find(profileFileName), std::string::npos) << afterFirst;
    EXPECT_NE(afterFirst.find(std::strerror(ENOSPC)), std::string::npos) << afterFirst;
}

TEST(SaveFailure, ProcessKilledDuringSavesLeavesOldOrNewTable)
{
    constexpr int rounds = 30;
    scratch::Directory dir("brennic-killed");
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(saveIn(dir.path(), oldTable));
    const Image oldFile = encoded(oldTable);
    const Image newFile = encoded(newTable);
    ASSERT_NE(oldFile.size(), newFile.size());

    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> delayMicros(200, 15000);
    int sawOld = 0, sawNew = 0, strayTemps = 0;
    for (int round = 0; round < rounds; ++round) {
        std::fflush(nullptr);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (chdir(dir.path().c_str()) != 0)
                _exit(3);
            for (;;) {
                setTable(newTable);
                saveProfiles();
                setTable(oldTable);
                saveProfiles();
            }
        }
        usleep(static_cast<useconds_t>(delayMicros(random)));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": the child ended by itself, status " << status;

        const Image file = readFile(dir.file(profileFileName));
        ASSERT_TRUE(file == oldFile || file == newFile)
            << "round " << round << ": " << file.size() << " bytes, neither table (" << oldFile.size() << " or "
            << newFile.size() << ")";
        Image decoded(profileImageSize);
        ASSERT_EQ(decodeProfileImage(file.data(), file.size(), decoded.data(), decoded.size()), profileImageSize);
        ASSERT_TRUE(decoded == oldTable || decoded == newTable) << "round " << round;
        (file == oldFile ? sawOld : sawNew)++;

        // A killed save leaves at most its one sibling, which the next save replaces.
        for (const std::string& name : entriesOf(dir.path()))
            if (name != profileFileName) {
                ++strayTemps;
                ASSERT_EQ(name, std::string(profileFileName) + ".new");
            }
        ASSERT_LE(entriesOf(dir.path()).size(), 2u) << "round " << round;
    }
    ASSERT_TRUE(saveIn(dir.path(), newTable));
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{profileFileName});
    std::printf("killed %d saves: old table %d times, new %d times; %d temporary files left by killed saves\n", rounds,
                sawOld, sawNew, strayTemps);
}

}  // namespace
