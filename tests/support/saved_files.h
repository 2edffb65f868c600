#pragma once
// The working files, as a test plants them and reads back what the system wrote.
#include "netstate/profiles.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testsupport {

// The whole file; empty when it cannot be read.
inline std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Replaces the file with exactly `bytes`.
inline void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Profile `i` as "wizard.data" holds it now.
inline NetworkProfile savedProfile(int i = 0)
{
    std::string raw = fileText(profileFileName);
    std::vector<uint8_t> decoded(profileImageSize);
    decodeProfileImage(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), decoded.data(), decoded.size());
    NetworkProfile p;
    std::memcpy(static_cast<void*>(&p), decoded.data() + static_cast<size_t>(i) * sizeof p, sizeof p);
    return p;
}

}  // namespace testsupport
