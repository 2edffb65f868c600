#pragma once
// The names a user gives stations and local devices, by MAC. They are kept
// beside "wizard.data" in a file of their own, one "aa:bb:cc:dd:ee:ff<TAB>name"
// line per MAC in MAC order, so that the profile file keeps its layout.
#include "frames/mac.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <ctime>
#include <sys/types.h>

namespace session {

using frames::Mac;

constexpr const char* namesFileName = "station-names";  // in the folder the program runs in
constexpr size_t nameMaxCharacters = 32;                // code points
// A file larger than this is not read, nor replaced: it is nothing this program wrote.
constexpr size_t namesFileMaxBytes = 64 * 1024;

// By the MAC's number, which orders them as their text does.
using NameMap = std::map<uint64_t, std::string>;

// `text` without its leading and trailing blanks in *name (empty: no name).
// False with the reason in *why when it is no name: not UTF-8, a control
// character (C0, DEL, C1) or more than 32 characters.
bool checkName(std::string_view text, std::string* name, std::string* why);

class StationNames {
public:
    explicit StationNames(std::string path = namesFileName) : path_(std::move(path)) {}

    // Reads the file; no file is no names. False, with no names and the reason
    // in error(), when one is there but not read: another user's, one others
    // may write, larger than 64 KiB or unreadable. Bad lines are skipped.
    bool load();
    // load() when the file is not the one read last; true when nothing changed.
    bool loadIfChanged();

    // Empty when `mac` has no name.
    std::string get(Mac mac) const;
    const NameMap& all() const { return names_; }

    // Names `mac`; an empty name (after trimming) clears it. The file is read
    // again first, so that names given meanwhile elsewhere are kept, and then
    // replaced whole. False, with nothing written and the reason in error(),
    // when the name is no name or the file is not read or not written.
    bool set(Mac mac, std::string_view name);
    bool clear(Mac mac) { return set(mac, {}); }

    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

private:
    struct Stamp {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        timespec modified{}, changed{};  // changed: a chmod too
    };
    Stamp current() const;

    std::string path_;
    NameMap names_;
    std::string error_;
    Stamp read_;          // the file as load() found it
    bool readOk_ = true;  // and what load() made of it
};

}  // namespace session
