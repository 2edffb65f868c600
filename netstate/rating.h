#pragma once
// The three link-quality ratings, named once: the word, the text the Network
// page shows, and the code the history stores (0: none).
#include <string_view>

namespace rating {

enum Code { none = 0, poor = 1, fair = 2, excellent = 3 };

inline constexpr const char* words[] = {"", "Poor", "Fair", "Excellent"};
inline constexpr const char* texts[] = {"", "Link Quality: Poor", "Link Quality: Fair", "Link Quality: Excellent"};
inline constexpr const char* labels[] = {"", "poor", "fair", "excellent"};  // metrics' label values

// The code of a shown text; none for any other.
constexpr int codeOf(std::string_view text)
{
    for (int i = poor; i <= excellent; ++i)
        if (text == texts[i])
            return i;
    return none;
}

}  // namespace rating
