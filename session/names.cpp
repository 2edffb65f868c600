#include "session/names.h"

#include "platform/files.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace session {

namespace {

// The code point at text[*at], *at moved past it; -1 where no well-formed one
// starts (a stray or missing continuation, an overlong form, a surrogate).
long decode(std::string_view text, size_t* at)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(*at);
    const int extra = lead < 0x80             ? 0
                      : (lead & 0xE0) == 0xC0 ? 1
                      : (lead & 0xF0) == 0xE0 ? 2
                      : (lead & 0xF8) == 0xF0 ? 3
                                              : -1;
    if (extra < 0 || text.size() - *at <= static_cast<size_t>(extra))
        return -1;
    long c = lead & (0x7F >> extra);
    for (int i = 1; i <= extra; ++i) {
        const unsigned next = byte(*at + static_cast<size_t>(i));
        if ((next & 0xC0) != 0x80)
            return -1;
        c = c << 6 | (next & 0x3F);
    }
    static constexpr long least[] = {0, 0x80, 0x800, 0x10000};
    if (c < least[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return -1;
    *at += static_cast<size_t>(extra) + 1;
    return c;
}

// The lines that hold a MAC and a name; the others, whatever is in them, are skipped.
void parseNames(std::string_view data, NameMap* names)
{
    while (!data.empty()) {
        const size_t end = data.find('\n');
        std::string_view line = data.substr(0, end);
        data = end == std::string_view::npos ? std::string_view{} : data.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() < 19 || line[17] != '\t')
            continue;
        const std::optional<Mac> mac = Mac::parse(line.substr(0, 17));
        std::string name, why;
        if (mac && checkName(line.substr(18), &name, &why) && !name.empty())
            (*names)[mac->number()] = name;
    }
}

}  // namespace

bool checkName(std::string_view text, std::string* name, std::string* why)
{
    const size_t first = text.find_first_not_of(' ');
    text = first == std::string_view::npos ? std::string_view{}
                                           : text.substr(first, text.find_last_not_of(' ') + 1 - first);
    size_t characters = 0;
    for (size_t at = 0; at < text.size(); ++characters) {
        const long c = decode(text, &at);
        if (c < 0) {
            *why = "the name is not valid UTF-8";
            return false;
        }
        // A name is printed in tables and on terminals: nothing in it may steer them.
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            *why = "the name holds a control character";
            return false;
        }
    }
    if (characters > nameMaxCharacters) {
        *why = "the name is longer than " + std::to_string(nameMaxCharacters) + " characters";
        return false;
    }
    name->assign(text);
    return true;
}

StationNames::Stamp StationNames::current() const
{
    struct stat st;
    if (lstat(path_.c_str(), &st) != 0)
        return {};
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

bool StationNames::load()
{
    names_.clear();
    error_.clear();
    // Taken first: a change made while it is read is read again next time.
    read_ = current();
    readOk_ = false;
    // Another user's file, or one others may write, could put any words beside a MAC.
    std::string why;
    const int fd = platform::openOwnedFile(path_.c_str(), &why);
    if (!why.empty()) {
        error_ = path_ + " is " + why;
        return false;
    }
    readOk_ = fd < 0;
    if (fd < 0)
        return true;  // none yet; a link or a FIFO of that name is replaced by the next set
    std::string data(namesFileMaxBytes + 1, '\0');
    size_t got = 0;
    const bool read = platform::readAll(fd, data.data(), data.size(), &got);
    const int error = errno;
    close(fd);
    if (!read) {
        error_ = path_ + ": " + std::strerror(error);
        return false;
    }
    if (got > namesFileMaxBytes) {
        error_ = path_ + " is larger than " + std::to_string(namesFileMaxBytes / 1024) + " KiB: it is not read";
        return false;
    }
    parseNames(std::string_view(data).substr(0, got), &names_);
    readOk_ = true;
    return true;
}

bool StationNames::loadIfChanged()
{
    const Stamp now = current();
    const auto same = [](const timespec& a, const timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    if (now.device == read_.device && now.inode == read_.inode && now.size == read_.size &&
        same(now.modified, read_.modified) && same(now.changed, read_.changed))
        return readOk_;
    return load();
}

std::string StationNames::get(Mac mac) const
{
    const auto it = names_.find(mac.number());
    return it == names_.end() ? std::string() : it->second;
}

bool StationNames::set(Mac mac, std::string_view text)
{
    std::string name, why;
    if (!checkName(text, &name, &why)) {
        error_ = why;
        return false;
    }
    if (!load())
        return false;  // a file not read is not replaced: what is in it would be lost
    const NameMap before = names_;
    if (name.empty())
        names_.erase(mac.number());
    else
        names_[mac.number()] = name;
    if (names_ == before)
        return true;
    std::string file;
    for (const auto& [number, each] : names_)
        file += Mac(number).text() + '\t' + each + '\n';
    // Nor is one replaced that would be refused now.
    std::string refused = platform::refusedFile(path_.c_str());
    if (!refused.empty())
        error_ = path_ + " is " + refused;
    else if (file.size() > namesFileMaxBytes)
        error_ =
            "too many names: " + path_ + " would be larger than " + std::to_string(namesFileMaxBytes / 1024) + " KiB";
    if (!error_.empty()) {
        names_ = before;
        return false;
    }
    // Private, as "wizard.data" beside it is; one fixed temporary name, as it has.
    const platform::Replaced r = platform::replaceFile(path_, file.data(), file.size(), 0600, path_ + ".new");
    if (!r) {
        names_ = before;
        error_ = (r.failed == platform::Replaced::create ? "cannot create " + r.temporary : "cannot write " + path_) +
                 ": " + std::strerror(r.error);
        return false;
    }
    read_ = current();
    return true;
}

}  // namespace session
