#pragma once
// What the fuzz targets share: a check that ends the run where libFuzzer sees
// it, and a scratch working directory for the files the code under test writes.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace fuzzing {

inline void check(bool ok)
{
    if (!ok)
        std::abort();
}

// A fresh directory under /tmp named after the target, entered on the first
// call only and removed with what is in it when the run ends.
inline void enterScratchDirectory(const char* stem)
{
    static std::string dir;
    if (!dir.empty())
        return;
    dir = std::string("/tmp/") + stem + ".XXXXXX";
    check(mkdtemp(dir.data()) != nullptr);
    check(chdir(dir.c_str()) == 0);
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    });
}

}  // namespace fuzzing
