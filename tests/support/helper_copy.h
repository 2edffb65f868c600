#pragma once
// For tests that turn into another user and then start brennic-link: the
// build's helper copied where every user can reach it, started in its place
// while this lasts.
#include "support/scratch.h"
#include "zentrik/link_build_path.h"

namespace testsupport {

class ReachableHelper {
public:
    ReachableHelper() : dir_("brennic-link")
    {
        ok_ = dir_.ok() && scratch::copyProgram(brennicLinkBuildPath(), dir_.file("brennic-link"), 0, 0755);
        if (ok_)
            setLinkHelperBuildPath(dir_.file("brennic-link"));
    }
    ~ReachableHelper() { setLinkHelperBuildPath(""); }

    bool ok() const { return ok_; }
    const scratch::Directory& dir() const { return dir_; }

private:
    scratch::Directory dir_;
    bool ok_ = false;
};

}  // namespace testsupport
