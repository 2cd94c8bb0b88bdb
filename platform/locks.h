// One process at a time: locks held through a file. Part of the platform
// services (platform.h).
#ifndef VLX_PLATFORM_LOCKS_H
#define VLX_PLATFORM_LOCKS_H

#include <string>

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

// ---- A file held for a change ----

// What holds a file for a read-change-store: the lock file ".NAME.lock"
// beside it, the file itself write-locked, or both.
struct FileHold {
  FileHandle directory = kInvalidFile;  // the file's directory (POSIX)
  FileHandle lock = kInvalidFile;       // the lock file, where one is held
  std::wstring lock_name;               // its name in the directory (POSIX) or its path (Windows)
  FileHandle file = kInvalidFile;       // the file itself, where it is locked
};

// Tries once, without waiting, to hold the file at path for a change. Links
// on the way and at the name are followed under the link rule first, so
// that every name of one file takes the same hold. The file itself is
// locked wherever the caller may open it for writing (readers that see the
// lock wait: is_held_for_change), and the lock file beside it is taken too,
// unless it cannot be made (a directory the caller may not write, something
// else at its name) or was made by a user who may not write the file, whose
// lock holds no change up. kLockTaken (release it with release_file_hold),
// kLockHeld (another process holds the file: try again), kLockUnavailable
// (neither lock can be had: the system's error; the change must not go
// ahead).
LockResult hold_file_for_change(const wchar_t* path, FileHold* hold);

// Lets go of a hold, removing the lock file it took.
void release_file_hold(FileHold* hold);

// True while a change holds the open file, so that it may be being written
// in place; false where the file system cannot tell.
bool is_held_for_change(FileHandle file);

// What changes when the open file is written: its size and times. Empty
// when it cannot be told.
std::string open_file_signature(FileHandle file);

}  // namespace vlx

#endif  // VLX_PLATFORM_LOCKS_H
