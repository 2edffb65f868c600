#include "zentrik/link_path.h"

#include <climits>

#include <unistd.h>

// Defined only by test programs, which do not sit beside the helper.
extern "C" const char* brennicLinkBuildPath() __attribute__((weak));

const char* const linkHelperGroup = "powerline";

const char* linkHelperInstalledPath() { return BRENNIC_LINK_INSTALLED_PATH; }

std::string linkHelperPath()
{
    if (brennicLinkBuildPath)
        return brennicLinkBuildPath();
    // The link, not argv[0]: nobody but the kernel chooses it.
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string beside(self, static_cast<size_t>(n));
        beside.resize(beside.rfind('/') + 1);
        beside += "brennic-link";
        if (access(beside.c_str(), F_OK) == 0)
            return beside;
    }
    return linkHelperInstalledPath();
}
