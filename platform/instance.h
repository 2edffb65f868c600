#pragma once
// One running copy per user: a lock held for the life of the process.
namespace platform {
// True when this process now holds the lock named `name`; false while
// another process holds it. The lock ends with the process.
bool acquireInstanceLock(const char* name);
}  // namespace platform
