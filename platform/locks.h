// One process at a time: locks held through a file. Part of the platform
// services (platform.h).
#ifndef VLX_PLATFORM_LOCKS_H
#define VLX_PLATFORM_LOCKS_H

#include "platform/files.h"

namespace vlx {

// ---- One run at a time ----

enum LockResult {
  kLockTaken,       // this process holds the lock
  kLockHeld,        // another process holds it
  kLockUnavailable  // it cannot be had: directory missing, not a directory
};

// Tries once, without waiting, to take the lock that one process at a time
// holds through the file lock_path, made where it is missing, which only a
// user who may write its directory can open for writing (a write lock on it
// on POSIX; on Windows opened unshared and deleted on close). A taken lock
// is held until it is released or the process ends, however it ends; lock
// may be null when it is kept to the end.
LockResult lock_file(const wchar_t* lock_path, FileHandle* lock);

// lock_file for the file name in directory, reached from its handle.
LockResult lock_file_in(const Place& directory, const wchar_t* name, FileHandle* lock);

// Releases a lock that lock_file took, removing its file, so that the file
// is gone when the process is (Wine closes a dead process's handles a moment
// later; a killed process's file stays, and the next one reuses it).
void release_file_lock(const wchar_t* lock_path, FileHandle lock);

// release_file_lock for a lock that lock_file_in took.
void release_file_lock_in(const Place& directory, const wchar_t* name, FileHandle lock);

}  // namespace vlx

#endif  // VLX_PLATFORM_LOCKS_H
