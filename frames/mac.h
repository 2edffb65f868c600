#pragma once
// A station's MAC address: six bytes on the wire, a 48-bit number in the
// history's rows, "aa:bb:cc:dd:ee:ff" wherever a person reads it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace frames {

class Mac {
public:
    constexpr Mac() = default;
    // The first byte on the wire is the highest of the number.
    constexpr explicit Mac(uint64_t number) : number_(number & 0xFFFFFFFFFFFFu) {}
    static constexpr Mac of(const uint8_t* bytes)
    {
        uint64_t v = 0;
        for (int i = 0; i < 6; ++i)
            v = v << 8 | bytes[i];
        return Mac(v);
    }
    // Six pairs of hex digits in either case, split by colons; nothing else.
    static constexpr std::optional<Mac> parse(std::string_view text)
    {
        if (text.size() != 17)
            return std::nullopt;
        uint64_t v = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (i % 3 == 2) {
                if (c != ':')
                    return std::nullopt;
                continue;
            }
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (d < 0)
                return std::nullopt;
            v = v << 4 | static_cast<uint64_t>(d);
        }
        return Mac(v);
    }

    constexpr uint64_t number() const { return number_; }
    // Lower-case hex, as every text and file of the system writes it.
    std::string text() const
    {
        static constexpr char digits[] = "0123456789abcdef";
        std::string s(17, ':');
        for (int i = 0; i < 6; ++i) {
            const unsigned byte = static_cast<unsigned>(number_ >> (40 - 8 * i) & 0xFF);
            s[static_cast<size_t>(3 * i)] = digits[byte >> 4];
            s[static_cast<size_t>(3 * i + 1)] = digits[byte & 0xF];
        }
        return s;
    }
    friend constexpr bool operator==(Mac, Mac) = default;

private:
    uint64_t number_ = 0;
};

}  // namespace frames
