#include "session/boxes.h"

#include <cstddef>
#include <iterator>

namespace session {

namespace {
struct BoxWords {
    Box box;
    const char* caption;
    const char* text;
};

// The one table of the boxes' words; Box::none has none.
constexpr BoxWords boxWords[] = {
    {Box::invalidConfiguration, invalidConfigCaption, invalidConfigText},
    {Box::invalidNetworkPassword, invalidNetworkPasswordCaption, invalidNetworkPasswordText},
    {Box::invalidDevicePassword, invalidDevicePasswordCaption, invalidDevicePasswordText},
    {Box::duplicatePassword, duplicatePasswordCaption, duplicatePasswordText},
    {Box::noResponse, noResponseCaption, noResponseText},
    {Box::listFull, listFullCaption, listFullText},
    {Box::saveFailed, saveFailedCaption, saveFailedText},
    {Box::linkLost, linkLostCaption, linkLostText},
};
static_assert(std::size(boxWords) == static_cast<size_t>(Box::linkLost), "a row for every box but none");

constexpr BoxWords noWords{Box::none, "", ""};

constexpr const BoxWords& wordsOf(Box box)
{
    for (const BoxWords& words : boxWords)
        if (words.box == box)
            return words;
    return noWords;
}
}  // namespace

const char* boxCaption(Box box) { return wordsOf(box).caption; }

const char* boxText(Box box) { return wordsOf(box).text; }

std::string boxMessage(Box box, const std::string& saveError)
{
    std::string text = boxText(box);
    if (box == Box::saveFailed)
        text += "\n" + (saveError.empty() ? std::string("Unknown error") : saveError);
    return text;
}

}  // namespace session
