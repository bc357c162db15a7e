// The single-instance lock: one run per installer file and user at a time.
#pragma once

namespace launcher {

// Locks a file in the temporary directory named from the title, the executable's device
// and inode, and the user; another holder ends this process with status 1.
void ExitIfNotOnlyInstance();

// Exit hook: removes the lock file and releases the lock.
void DeleteLockFile();

}  // namespace launcher
