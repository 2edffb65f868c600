// Test programs start the helper of their own build tree, or a copy of it
// that a user they turn into can reach.
#include "zentrik/link_build_path.h"

namespace {
std::string& chosenPath()
{
    static std::string path = BRENNIC_LINK_BUILD_PATH;
    return path;
}
}  // namespace

extern "C" const char* brennicLinkBuildPath() { return chosenPath().c_str(); }

void setLinkHelperBuildPath(const std::string& path) { chosenPath() = path.empty() ? BRENNIC_LINK_BUILD_PATH : path; }
