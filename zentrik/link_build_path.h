#pragma once
// Test programs and benchmarks only: the brennic-link they start.
#include <string>

extern "C" const char* brennicLinkBuildPath();

// Starts `path` from now on instead of the build's own helper; an empty path
// goes back to the build's.
void setLinkHelperBuildPath(const std::string& path);
