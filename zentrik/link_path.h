#pragma once
// Where the packet driver finds brennic-link, and who may start it.
#include <string>

// The group the installed helper is reserved for.
extern const char* const linkHelperGroup;

// Where the package installs the helper (root:powerline, 0750, cap_net_raw+ep).
const char* linkHelperInstalledPath();

// The helper beside the running program if there is one (a build tree), else
// the installed one. Test programs link a seam that names the build's helper.
std::string linkHelperPath();
