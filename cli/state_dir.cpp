// The folder of "wizard.data", "plc.log" and the station names.
#include "cli/cli.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {
// brennic's own: the one brennic-launch gives it.
std::string defaultStateDir(std::string* why)
{
    const char* xdg = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    if (xdg && *xdg)
        return std::string(xdg) + "/brennic";
    if (home && *home)
        return std::string(home) + "/.local/state/brennic";
    *why = "neither XDG_STATE_HOME nor HOME is set: give --state-dir";
    return {};
}
}  // namespace

std::string chosenStateDir(const std::string& option)
{
    // A systemd service's own state folder (StateDirectory=), the first of them, when no other is chosen.
    std::string chosen = option;
    for (const char* variable : {"BRENNIC_STATE_DIR", "STATE_DIRECTORY"})
        if (const char* value = std::getenv(variable); chosen.empty() && value && *value)
            chosen = std::string(value).substr(0, std::string(value).find(':'));
    return chosen;
}

bool enterStateDir(const std::string& chosen, std::string* dir, std::string* why)
{
    std::string path = chosen;
    if (path.empty()) {
        path = defaultStateDir(why);
        if (path.empty())
            return false;
        // Made as brennic-launch makes it.
        for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
            mkdir(path.substr(0, slash).c_str(), 0700);
        if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            *why = path + ": " + std::strerror(errno);
            return false;
        }
        chmod(path.c_str(), 0700);
    }
    char here[4096];
    if (chdir(path.c_str()) != 0 || !getcwd(here, sizeof here)) {
        *why = "state folder " + path + ": " + std::strerror(errno);
        return false;
    }
    *dir = here;
    return true;
}

std::string stateFile(const std::string& chosen, const char* name)
{
    std::string why;
    const std::string dir = chosen.empty() ? defaultStateDir(&why) : chosen;
    return dir.empty() ? std::string() : dir + (dir.back() == '/' ? "" : "/") + name;
}

}  // namespace cli
