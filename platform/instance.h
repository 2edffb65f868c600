#pragma once
// One running copy per user: a lock held for the life of the process.
namespace platform {
// True when this process now holds the lock named `name`, or when no private
// directory for it exists; false while another copy of the same user holds it.
// The lock file lies in a directory only the user can write: XDG_RUNTIME_DIR
// when it is the user's, else /run/user/<uid>, else /tmp/<name>-<uid> (0700),
// so another user's lock never stops this user's copy.
bool acquireInstanceLock(const char* name);
}  // namespace platform
