// Windows implementation of a file held for a change, which readers wait
// for. Only code specific to Windows belongs here.
#include <string>

#include "platform/calls-win32.h"
#include "platform/platform.h"
#include "platform/system-win32.h"

namespace vlx {

namespace {

// The range a hold locks: far past any byte a file holds, so that the lock
// keeps out other holds and readers that ask, and no write or read of data.
constexpr DWORD kHoldOffsetHigh = 0x7FFFFFFF;

bool lock_hold_range(HANDLE file, DWORD flags) {
  OVERLAPPED at = {};
  at.OffsetHigh = kHoldOffsetHigh;
  return LockFileEx(file, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

void unlock_hold_range(HANDLE file) {
  OVERLAPPED at = {};
  at.OffsetHigh = kHoldOffsetHigh;
  UnlockFileEx(file, 0, 1, 0, &at);
}

// Locks the file at target itself, which must be a regular file that the
// caller may open for writing. Its handle reads only, and shares everything,
// so that a store written in place can still open the file.
LockResult lock_file_itself(const std::wstring& target, HANDLE* file) {
  HANDLE probe = file_calls().create_file(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION ? kLockHeld : kLockUnavailable;
  file_calls().close_handle(probe);
  *file = file_calls().create_file(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (*file == INVALID_HANDLE_VALUE) return kLockUnavailable;
  if (GetFileType(*file) == FILE_TYPE_DISK && lock_hold_range(*file, LOCKFILE_EXCLUSIVE_LOCK)) return kLockTaken;
  DWORD error = GetLastError();
  file_calls().close_handle(*file);
  *file = INVALID_HANDLE_VALUE;
  SetLastError(error);
  return error == ERROR_LOCK_VIOLATION ? kLockHeld : kLockUnavailable;
}

}  // namespace

LockResult hold_file_for_change(const wchar_t* path, FileHold* hold) {
  *hold = FileHold();
  // A link is followed to its file; a plain name is not opened, so that
  // holds tried again and again are no holds on the file for a store.
  std::wstring target = full_path(path);
  DWORD attributes = GetFileAttributesW(path);
  bool link = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (link && examine_target(path, &target) == kRefuse) return kLockUnavailable;
  // The lock file beside the file, where it can be made; where not (a
  // directory that refuses new files, something else at its name), the
  // file itself. A hold never keeps the file open beside a lock file: before
  // POSIX-semantics renames, any open handle would keep the store's rename
  // from replacing it.
  std::wstring directory = directory_of(target);
  std::wstring lock_path = directory + L"." + target.substr(directory.size()) + L".lock";
  FileHandle lock = kInvalidFile;
  LockResult beside = lock_file(lock_path.c_str(), &lock);
  if (beside == kLockTaken) {
    hold->lock = lock;
    hold->lock_name = lock_path;
    return kLockTaken;
  }
  if (beside == kLockHeld) return kLockHeld;
  HANDLE file = INVALID_HANDLE_VALUE;
  LockResult itself = lock_file_itself(extended_path(target), &file);
  if (itself == kLockTaken) hold->file = from_handle(file);
  return itself;
}

void release_file_hold(FileHold* hold) {
  if (hold->lock != kInvalidFile) release_file_lock(hold->lock_name.c_str(), hold->lock);
  if (hold->file != kInvalidFile) {
    unlock_hold_range(to_handle(hold->file));
    file_calls().close_handle(to_handle(hold->file));
  }
  *hold = FileHold();
}

bool is_held_for_change(FileHandle file) {
  HANDLE handle = to_handle(file);
  if (lock_hold_range(handle, 0)) {
    unlock_hold_range(handle);
    return false;
  }
  return GetLastError() == ERROR_LOCK_VIOLATION;
}

std::string open_file_signature(FileHandle file) {
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
  HANDLE handle = to_handle(file);
  if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) ||
      !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) {
    return std::string();
  }
  return std::to_string(standard.EndOfFile.QuadPart) + ":" + std::to_string(basic.LastWriteTime.QuadPart) + ":" +
         std::to_string(basic.ChangeTime.QuadPart);
}

}  // namespace vlx
