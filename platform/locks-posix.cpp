// POSIX implementation of the locks: one process at a time through a lock
// file, and a file held for a change, which readers wait for. Only code
// specific to POSIX systems belongs here.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "platform/system-posix.h"

namespace vlx {

namespace {

// An open-file-description write lock of the whole file open as fd, tried
// once: kLockHeld when another description has a lock in the way,
// kLockUnavailable when the file system has none.
LockResult lock_whole(int fd) {
  struct flock whole = {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  if (retry_interrupted([&] { return fcntl(fd, F_OFD_SETLK, &whole); }) == 0) return kLockTaken;
  return errno == EAGAIN || errno == EACCES ? kLockHeld : kLockUnavailable;
}

// True when the name in the directory open as directory is the file open
// as fd (described by info): a lock counts only while the name leads to it.
bool name_is_file(int directory, const std::string& name, const struct stat& info) {
  struct stat named;
  return retry_interrupted([&] { return fstatat(directory, name.c_str(), &named, AT_SYMLINK_NOFOLLOW); }) == 0 &&
         named.st_dev == info.st_dev && named.st_ino == info.st_ino;
}

// True when the user uid may write what guarded describes: its owner, root,
// anyone where others may write it, and where its group may, a user whose
// file of that group (the lock file) shows membership.
bool may_write(uid_t uid, gid_t gid, const struct stat& guarded) {
  return uid == 0 || uid == guarded.st_uid || (guarded.st_mode & S_IWOTH) ||
         ((guarded.st_mode & S_IWGRP) && gid == guarded.st_gid);
}

// lock_file for the name in the directory open as directory (or the
// current one, AT_FDCWD). With guarded, a lock file that exists already and
// belongs to neither the caller nor a user who may write what guarded
// describes is no lock of that file: kLockUnavailable (EPERM), and it stays.
LockResult lock_at(int directory, const std::string& name, FileHandle* lock, const struct stat* guarded) {
  // Only a user who may write the directory can open the lock file for
  // writing, which a write lock needs: a reader holds up no one. It is never
  // opened through a link, nor waited on as a FIFO.
  const int kFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = retry_interrupted([&] { return openat(directory, name.c_str(), kFlags | O_CREAT | O_EXCL, 0666); });
  bool made = fd >= 0;  // a lock file this process made goes with it where it is not locked
  if (!made && errno == EEXIST) fd = retry_interrupted([&] { return openat(directory, name.c_str(), kFlags); });
  if (fd < 0) return kLockUnavailable;
  struct stat mine;
  LockResult result = kLockUnavailable;
  if (retry_interrupted([&] { return fstat(fd, &mine); }) == 0 && S_ISREG(mine.st_mode)) {
    if (!made && guarded && mine.st_uid != geteuid() && !may_write(mine.st_uid, mine.st_gid, *guarded)) {
      errno = EPERM;
    } else {
      result = lock_whole(fd);
      // The holder before may have removed the name since it was opened.
      if (result == kLockTaken && !name_is_file(directory, name, mine)) result = kLockHeld;
    }
  }
  if (result == kLockTaken) {
    if (lock) *lock = fd;  // otherwise held open, and so locked, to the end of the process
    return result;
  }
  // A lock that could not be had leaves no file behind that this process
  // made: the run goes on unlocked, and nothing of it stays in bin.
  KeepError kept;
  if (made && result == kLockUnavailable) retry_interrupted([&] { return unlinkat(directory, name.c_str(), 0); });
  close(fd);
  return result;
}

// Write-locks the regular file name in the directory open as directory
// through a descriptor of its own, left in *file: kLockTaken, kLockHeld, or
// kLockUnavailable where the caller may not open it for writing, it is
// missing or no regular file, or the file system has no locks (*file is
// then -1, and *info says nothing).
LockResult lock_file_itself(int directory, const std::string& name, int* file, struct stat* info) {
  *file = retry_interrupted(
      [&] { return openat(directory, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); });
  if (*file < 0) return kLockUnavailable;
  LockResult result = kLockUnavailable;
  if (retry_interrupted([&] { return fstat(*file, info); }) == 0 && S_ISREG(info->st_mode)) {
    result = lock_whole(*file);
    // A store of another holder may have put a new file in its place.
    if (result == kLockTaken && !name_is_file(directory, name, *info)) result = kLockHeld;
  }
  if (result != kLockTaken) {
    KeepError kept;
    close(*file);
    *file = -1;
  }
  return result;
}

}  // namespace

LockResult lock_file(const wchar_t* lock_path, FileHandle* lock) {
  return lock_at(AT_FDCWD, to_native(lock_path), lock, nullptr);
}

LockResult lock_file_in(const Place& directory, const wchar_t* name, FileHandle* lock) {
  return lock_at(static_cast<int>(directory.directory), to_native(name), lock, nullptr);
}

void release_file_lock(const wchar_t* lock_path, FileHandle lock) {
  // Removed while still locked, so that no one locks a file that is about
  // to lose its name.
  std::string path = to_native(lock_path);
  retry_interrupted([&] { return unlink(path.c_str()); });
  close(static_cast<int>(lock));
}

void release_file_lock_in(const Place& directory, const wchar_t* name, FileHandle lock) {
  std::string path = to_native(name);
  retry_interrupted([&] { return unlinkat(static_cast<int>(directory.directory), path.c_str(), 0); });
  close(static_cast<int>(lock));
}

LockResult hold_file_for_change(const wchar_t* path, FileHold* hold) {
  *hold = FileHold();
  FileHandle directory = kInvalidFile;
  std::wstring target;
  if (!resolve_for_store(path, &directory, &target)) return kLockUnavailable;
  int dir = static_cast<int>(directory);
  std::string name = base_name(target), lock_name = "." + name + ".lock";
  // The file itself first: its lock is what readers wait for, and what
  // holds the change where no lock file can be had.
  int file = -1;
  struct stat info;
  LockResult itself = lock_file_itself(dir, name, &file, &info);
  struct stat guarded;
  bool known = itself == kLockTaken || retry_interrupted([&] { return fstat(dir, &guarded); }) == 0;
  if (itself == kLockTaken) guarded = info;
  FileHandle lock = kInvalidFile;
  LockResult beside = itself == kLockHeld ? kLockHeld : lock_at(dir, lock_name, &lock, known ? &guarded : nullptr);
  if (beside == kLockHeld || (beside == kLockUnavailable && itself != kLockTaken)) {
    KeepError kept;
    if (file >= 0) close(file);
    close(dir);
    return beside == kLockHeld ? kLockHeld : kLockUnavailable;
  }
  hold->directory = directory;
  hold->file = file;
  if (beside == kLockTaken) {
    hold->lock = lock;
    hold->lock_name = from_native(lock_name);
  }
  return kLockTaken;
}

void release_file_hold(FileHold* hold) {
  if (hold->lock != kInvalidFile) {
    Place directory;
    directory.directory = hold->directory;
    release_file_lock_in(directory, hold->lock_name.c_str(), hold->lock);
  }
  if (hold->file != kInvalidFile) close(static_cast<int>(hold->file));
  if (hold->directory != kInvalidFile) close(static_cast<int>(hold->directory));
  *hold = FileHold();
}

bool is_held_for_change(FileHandle file) {
  struct flock whole = {};
  whole.l_type = F_RDLCK;
  whole.l_whence = SEEK_SET;
  return retry_interrupted([&] { return fcntl(static_cast<int>(file), F_OFD_GETLK, &whole); }) == 0 &&
         whole.l_type != F_UNLCK;
}

std::string open_file_signature(FileHandle file) {
  struct stat info;
  if (retry_interrupted([&] { return fstat(static_cast<int>(file), &info); }) != 0) return std::string();
  return std::to_string(info.st_size) + ":" + std::to_string(info.st_mtim.tv_sec) + "." +
         std::to_string(info.st_mtim.tv_nsec) + ":" + std::to_string(info.st_ctim.tv_sec) + "." +
         std::to_string(info.st_ctim.tv_nsec);
}

}  // namespace vlx
