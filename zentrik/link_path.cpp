#include "zentrik/link_path.h"

#include "platform/files.h"

// Defined only by test programs, which do not sit beside the helper.
extern "C" const char* brennicLinkBuildPath() __attribute__((weak));

const char* const linkHelperGroup = "powerline";

const char* linkHelperInstalledPath() { return BRENNIC_LINK_INSTALLED_PATH; }

std::string linkHelperPath()
{
    if (brennicLinkBuildPath)
        return brennicLinkBuildPath();
    return platform::besideProgramElse("brennic-link", linkHelperInstalledPath());
}
