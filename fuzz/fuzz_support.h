#pragma once
// What the fuzz targets share: a check that ends the run where libFuzzer sees
// it, and a scratch working directory for the files the code under test writes.
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace fuzzing {

inline void check(bool ok)
{
    if (!ok)
        std::abort();
}

// A fresh directory under /tmp named after the target, entered on the first call only.
inline void enterScratchDirectory(const char* stem)
{
    static bool entered = false;
    if (entered)
        return;
    std::string dir = std::string("/tmp/") + stem + ".XXXXXX";
    check(mkdtemp(dir.data()) != nullptr);
    check(chdir(dir.c_str()) == 0);
    entered = true;
}

}  // namespace fuzzing
