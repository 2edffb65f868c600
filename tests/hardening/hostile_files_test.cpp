// Working files that another local user, or a mistake, put in the way: a FIFO,
// a symlink, a hard link, a umask of 000 and a directory the process may not
// write, for "wizard.data" and "plc.log" alike; and the single-instance lock
// held by another user, and the one shared with the service. Each case runs in
// a child of its own, with an alarm, so a file that blocks fails the case
// instead of hanging the suite.
#include "frames/frame.h"
#include "keysetlog/keysetlog.h"
#include "netstate/profiles.h"
#include "platform/instance.h"
#include "support/saved_files.h"
#include "session/session.h"
#include "support/scratch.h"
#include "support/sim_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <iterator>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <vector>

namespace {

using testsupport::fileText;

using testsupport::writeFile;

std::array<uint8_t, mme::paramReplyLength> paramReply()
{
    std::array<uint8_t, mme::paramReplyLength> r{};
    r[mme::offEthertype] = mme::ethertypeHigh;
    r[mme::offEthertype + 1] = mme::ethertypeLow;
    r[mme::offEntryType] = mme::typeParam;
    r[mme::offEntryLength] = mme::paramReplyEntryLength;
    r[mme::offBlockKind] = mme::blockKindEeprom;
    return r;
}

// One of the two files: how the system reads it, writes it and what a fresh
// write leaves.
struct WorkingFile {
    const char* name;
    // True when what is there was taken for no file at all.
    std::function<bool()> readsAsMissing;
    std::function<bool()> write;
    // The file a write makes when nothing could be read before it.
    std::function<bool(const std::string&)> isFresh;
};

const std::string planted = "planted by someone else\n";

const WorkingFile files[] = {
    {profileFileName,
     [] {
         std::strcpy(profiles[0].networkPassword, "NotDefault");
         loadProfiles();
         return std::strcmp(profiles[0].networkPassword, defaultNetworkPassword) == 0;
     },
     [] { return saveProfiles(); },
     [](const std::string& bytes) { return bytes.size() >= profileImageSize && bytes != planted; }},
    {"plc.log",
     [] {
         // Nothing read: the rewrite holds the new record alone.
         appendKeySetLog(logSetNek, 0, paramReply().data());
         const std::string bytes = fileText("plc.log");
         return std::count(bytes.begin(), bytes.end(), '\n') == 2;
     },
     [] {
         appendKeySetLog(logSetNek, 0, paramReply().data());
         return true;
     },
     [](const std::string& bytes) {
         return bytes.size() > 150 && bytes.find("**SETNEK**Retry=0") != std::string::npos &&
                bytes.find("planted") == std::string::npos;
     }},
};

// Inode, size and change time: enough to tell a file rewritten or replaced,
// and readable by a user who may not read the file itself.
std::string fingerprint(const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return "none";
    return std::to_string(st.st_ino) + "/" + std::to_string(st.st_size) + "/" + std::to_string(st.st_mtim.tv_sec) +
           "." + std::to_string(st.st_mtim.tv_nsec);
}

std::string groupName(gid_t gid)
{
    const struct group* g = getgrgid(gid);
    return g ? g->gr_name : std::to_string(gid);
}

bool isPrivateRegular(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 07777) == 0600 && st.st_nlink == 1;
}

// Runs `body` in a child inside a fresh directory; the child fails with the
// number of the check that did not hold, or is killed by the alarm.
void runCase(const char* hazard, const WorkingFile& f, const std::function<int(const scratch::Directory&)>& body)
{
    scratch::Directory dir("brennic-hostile");
    ASSERT_TRUE(dir.ok());
    scratch::ChildResult r = scratch::runChild([&] {
        alarm(5);
        if (chdir(dir.path().c_str()) != 0)
            return 99;
        return body(dir);
    });
    EXPECT_TRUE(r.exited(0)) << f.name << ", " << hazard << ": status " << r.status
                             << (WIFSIGNALED(r.status) ? " (killed: blocked?)" : "") << ", stderr: " << r.errorText;
}

TEST(WorkingFiles, NeverFollowedBlockedOnOrLeaked)
{
    for (const WorkingFile& f : files) {
        const std::string name = f.name;

        runCase("FIFO", f, [&](const scratch::Directory&) {
            if (mkfifo(name.c_str(), 0666) != 0)
                return 1;
            if (!f.readsAsMissing())
                return 2;
            // A FIFO is replaced, never written through.
            if (!f.write() || !isPrivateRegular(name) || !f.isFresh(fileText(name)))
                return 3;
            return 0;
        });

        runCase("symlink", f, [&](const scratch::Directory& dir) {
            writeFile(dir.file("target"), planted);
            chmod(dir.file("target").c_str(), 0644);
            if (symlink("target", name.c_str()) != 0)
                return 1;
            if (!f.readsAsMissing())
                return 2;
            if (!f.write() || !isPrivateRegular(name) || !f.isFresh(fileText(name)))
                return 3;
            if (fileText(dir.file("target")) != planted)
                return 4;
            return 0;
        });

        runCase("hard link", f, [&](const scratch::Directory& dir) {
            writeFile(dir.file("other"), planted);
            if (link(dir.file("other").c_str(), name.c_str()) != 0)
                return 1;
            if (!f.write() || !isPrivateRegular(name))
                return 3;
            // The other name keeps its own bytes and no log or profile text.
            if (fileText(dir.file("other")) != planted)
                return 4;
            return 0;
        });

        // Planted where others can write: taken for no file, said with who may
        // write it and the cure, and never replaced, the user's own included,
        // nor once made private: the table in memory lacks it (the log is read
        // afresh at each write).
        struct Loose {
            uid_t owner;
            mode_t mode;
            std::string why;
        };
        const std::string cure = "; chmod 600 " + name + " makes it private";
        for (const Loose& l :
             {Loose{scratch::nobody, 0600, "owned by another user (uid 65534)"},
              Loose{geteuid(), 0664, "writable by the group " + groupName(getegid()) + " (mode 0664)" + cure},
              Loose{geteuid(), 0606, "writable by every user (mode 0606)" + cure}})
            runCase(l.why.c_str(), f, [&](const scratch::Directory&) {
                if (l.owner != geteuid() && geteuid() != 0)
                    return 0;  // only root can act as another user
                writeFile(name, planted);
                if (chown(name.c_str(), l.owner, getegid()) != 0 || chmod(name.c_str(), l.mode) != 0)
                    return 1;
                const std::string before = fingerprint(name);
                testing::internal::CaptureStderr();
                const bool missing = name != profileFileName || f.readsAsMissing();
                const bool wrote = f.write();
                const std::string err = testing::internal::GetCapturedStderr();
                if (!missing || err.find(name) == std::string::npos || err.find(l.why) == std::string::npos)
                    return 2;
                if (fileText(name) != planted || fingerprint(name) != before ||
                    (name == profileFileName ? wrote || lastSaveError() != name + " is " + l.why
                                             : keySetLogError() != name + " is " + l.why))
                    return 3;
                if (l.owner != geteuid() || chmod(name.c_str(), 0600) != 0)
                    return 0;
                const bool again = f.write();
                const std::string text = fileText(name);
                if (name == profileFileName)
                    return !again && text == planted && std::strstr(lastSaveError(), "was not read when") ? 0 : 4;
                return text.starts_with("planted by someone else\r\n") && text.find("**SETNEK**") != std::string::npos
                           ? 0
                           : 5;
            });

        runCase("umask 000", f, [&](const scratch::Directory&) {
            umask(0);
            if (!f.write() || !isPrivateRegular(name) || !f.write() || !isPrivateRegular(name))
                return 3;
            return 0;
        });

        runCase("unwritable directory", f, [&](const scratch::Directory& dir) {
            if (!f.write())
                return 1;
            const std::string before = fingerprint(name);
            // The user's own file, in a directory that user may not write.
            if (chown(name.c_str(), scratch::nobody, scratch::nobody) != 0 || chmod(dir.path().c_str(), 0555) != 0 ||
                !scratch::dropPrivileges())
                return 2;
            testing::internal::CaptureStderr();
            const bool wrote = f.write();
            const std::string err = testing::internal::GetCapturedStderr();
            if (fingerprint(name) != before)
                return 4;
            // Says why, on standard error, and for the profiles to the box as well.
            if (err.find(name) == std::string::npos || err.find(std::strerror(EACCES)) == std::string::npos)
                return 5;
            if (name == profileFileName && (wrote || std::strcmp(lastSaveError(), std::strerror(EACCES)) != 0))
                return 6;
            return 0;
        });
    }
}

// A profile file another user planted, or one others may write: Set All
// sends neither its network key nor its device key.
class PlantedProfile : public simsystem::SimSystemTest {};

TEST_F(PlantedProfile, NothingFromItReachesTheWire)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    for (const auto& [owner, mode] : {std::pair<uid_t, mode_t>{scratch::nobody, 0600}, {geteuid(), 0664}}) {
        std::strcpy(profiles[0].networkPassword, "Planted-Key-7");
        seed(0, simsystem::neighbourFourPassword, simsystem::neighbourFour, 0);
        ASSERT_TRUE(saveProfiles() && chown(profileFileName, owner, 0) == 0 && chmod(profileFileName, mode) == 0);
        simsystem::resetSystemState();
        startHome();
        session::setAll(session::networkPassword());
        for (const char* password : {"Planted-Key-7", simsystem::neighbourFourPassword}) {
            const simsystem::Key key = simsystem::derivedKey(password);
            for (const simsystem::Bytes& frame : sent())
                EXPECT_TRUE(std::search(frame.begin(), frame.end(), key.begin(), key.end()) == frame.end()) << owner;
        }
        TearDown();
        SetUp();
    }
}

// A lock another user holds in every place that user can reach: an
// XDG_RUNTIME_DIR of theirs, and the fallback folder they made first (as a
// directory, and as a symlink to one of theirs).
TEST(InstanceLock, AnotherUsersLockNeverStopsThisUsersCopy)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    const std::string name = "brennic-locktest-" + std::to_string(getpid());
    const std::string fallback = "/tmp/" + name + "-0";
    scratch::Directory theirs("brennic-other-user");
    ASSERT_TRUE(theirs.ok());
    ASSERT_EQ(chown(theirs.path().c_str(), scratch::nobody, scratch::nobody), 0);
    ASSERT_EQ(chmod(theirs.path().c_str(), 0700), 0);

    for (bool asSymlink : {false, true}) {
        scratch::Holder other([&] {
            if (!scratch::dropPrivileges())
                return false;
            bool made = asSymlink ? symlink(theirs.path().c_str(), fallback.c_str()) == 0
                                  : mkdir(fallback.c_str(), 0777) == 0 && chmod(fallback.c_str(), 0777) == 0;
            std::vector<std::string> dirs{theirs.path()};
            if (!asSymlink)
                dirs.push_back(fallback);
            for (const std::string& dir : dirs) {
                const int fd = open((dir + "/" + name + ".lock").c_str(), O_RDWR | O_CREAT, 0666);
                made = made && fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
            }
            return made;
        });
        EXPECT_TRUE(other.took) << "the other user could not set its locks up";

        scratch::ChildResult r = scratch::runChild([&] {
            setenv("XDG_RUNTIME_DIR", theirs.path().c_str(), 1);
            return platform::acquireInstanceLock(name.c_str()) == platform::InstanceLock::taken ? 0 : 1;
        });
        EXPECT_TRUE(r.exited(0)) << (asSymlink ? "symlink" : "directory") << ": status " << r.status << ", "
                                 << r.errorText;
        other.release();
        std::filesystem::remove_all(fallback);
    }

    // Without a runtime directory, the user's own 0700 fallback holds the lock
    // for one copy at a time.
    unsetenv("XDG_RUNTIME_DIR");
    scratch::Holder first([&] { return platform::acquireInstanceLock(name.c_str()) == platform::InstanceLock::taken; });
    EXPECT_TRUE(first.took);
    scratch::ChildResult second = scratch::runChild(
        [&] { return platform::acquireInstanceLock(name.c_str()) == platform::InstanceLock::taken ? 0 : 1; });
    EXPECT_TRUE(second.exited(1)) << "a second copy ran beside the first";
    first.release();
    struct stat st {};
    if (lstat(fallback.c_str(), &st) == 0) {
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0700u);
    }
    std::filesystem::remove_all(fallback);
}

// The lock shared with the service, as the package makes it (the service's
// user's, 0640 for the group): a member's flock, which read access allows,
// stops no one; the service and the members' copies exclude each other, each
// naming who holds it.
TEST(InstanceLock, OnlyTheServiceTakesTheSystemLockExclusively)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as other users";
    const std::string name = "brennic-systemlock-" + std::to_string(getpid()), dir = "/run/" + name;
    const std::string path = dir + "/instance.lock";
    const uid_t service = scratch::nobody, member = 65533, second = 65532;
    const gid_t group = 65533;
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    writeFile(path, "");
    ASSERT_EQ(chown(path.c_str(), service, group) | chmod(path.c_str(), 0640), 0);
    unsetenv("XDG_RUNTIME_DIR");  // each user's own lock in /tmp/<name>-<uid>
    const auto as = [&](uid_t uid, const std::function<bool()>& body) {
        return [=] { return setgroups(uid != service, &group) == 0 && setgid(uid) == 0 && setuid(uid) == 0 && body(); };
    };
    const auto gives = [&](platform::InstanceLock want) {
        return [&, want] { return platform::acquireInstanceLock(name.c_str()) == want; };
    };
    scratch::Holder squatter(as(member, [&] {
        const int fd = open(path.c_str(), O_RDONLY);
        return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
    }));
    scratch::Holder user(as(second, gives(platform::InstanceLock::taken)));
    EXPECT_TRUE(squatter.took && user.took) << "a member's flock stopped another member";
    scratch::ChildResult r = scratch::runChild(as(service, gives(platform::InstanceLock::heldBySystem)));
    EXPECT_TRUE(r.exited(1) && r.errorText.find("brennic or brennicctl of a member of the group") != std::string::npos)
        << "the service beside a user's copy: " << r.status << ", " << r.errorText;
    user.release();
    scratch::Holder running(as(service, gives(platform::InstanceLock::taken)));
    EXPECT_TRUE(running.took) << "a member's flock stopped the service";
    r = scratch::runChild(as(member, gives(platform::InstanceLock::heldBySystem)));
    EXPECT_TRUE(r.exited(1) && r.errorText.find("the link-history service (user nobody) is") != std::string::npos)
        << "a user's copy beside the service: " << r.status << ", " << r.errorText;
    running.release();
    squatter.release();
    std::filesystem::remove_all(dir);
    for (uid_t uid : {service, member, second})
        std::filesystem::remove_all("/tmp/" + name + "-" + std::to_string(uid));
}

}  // namespace
