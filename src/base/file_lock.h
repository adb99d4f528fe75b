#pragma once
// The lock file behind the tree's writer lock: an advisory lock (flock) that
// excludes other processes, taken at once or refused, dropped by the kernel
// when its descriptor closes or the process ends. It stays outside the file
// system seam: a lock changes no bytes a journal would keep, and no fault test
// needs it to fail. Implemented beside the real file system.
#include <string>

namespace marbloom {

// Opens (creating) the lock file; its descriptor, or -1 with errno. A link or
// anything but a regular file at the path is refused (ELOOP), so the lock
// never creates or holds a file elsewhere. `id` names the file itself
// (device and inode), whatever path reached it.
int OpenLockFile(const std::string& path, unsigned long long* id);
// Locks it at once or not at all; false with errno EWOULDBLOCK when another
// open of the file holds the lock.
bool TryLockFile(int handle);
// Closes the descriptor, which drops its lock.
void CloseLockFile(int handle);

}  // namespace marbloom
