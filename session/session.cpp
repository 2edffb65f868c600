#include "session/session.h"

#include "link/link.h"
#include "session/internal.h"

#include <cstring>

namespace session {

bool passwordText(std::string_view text, char out[passwordFieldSize])
{
    std::memset(out, 0, passwordFieldSize);
    if (text.size() > static_cast<size_t>(passwordMaxLength) || text.find('\0') != std::string_view::npos)
        return false;
    std::memcpy(out, text.data(), text.size());
    return checkPassword(out);
}

bool noteLinkLost(Outcome& outcome)
{
    if (!::linkLost())
        return false;
    outcome.box = Box::linkLost;
    return true;
}

void saveInto(Outcome& outcome)
{
    if (noteLinkLost(outcome)) {
        outcome.saved = false;
        outcome.saveTried = true;
        return;
    }
    const bool ok = saveProfiles();
    outcome.saved = ok && (outcome.saved || !outcome.saveTried);
    outcome.saveTried = true;
    if (!ok) {
        outcome.saveError = lastSaveError();
        outcome.box = Box::saveFailed;
    }
}

Outcome save()
{
    Outcome result;
    saveInto(result);
    return result;
}

void resetSessionState()
{
    resetStartState();
    resetScanState();
    resetRecordingState();
}

}  // namespace session
