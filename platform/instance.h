#pragma once
// One running copy per user: a lock held for the life of the process.
namespace platform {
enum class InstanceLock {
    taken,           // this process holds it, or runs without one to be had
    heldByThisUser,  // another copy of the same user runs
    heldBySystem,    // the service, or while the service starts, a user's copy (said on stderr)
};
// The lock named `name`. The user's own lies in a directory only the user can
// write: XDG_RUNTIME_DIR when it is the user's, else /run/user/<uid>, else
// /tmp/<name>-<uid> (0700), so another user's lock never stops this user's
// copy. Then /run/<name>/instance.lock, when the package made it, keeps the
// link-history service and the users' copies apart.
InstanceLock acquireInstanceLock(const char* name);
}  // namespace platform
