// Windows implementation of the renames of a replacement: through the new
// file's own handle, with POSIX semantics where the system has them, past a
// read-only target or a running program where it has not. Only code
// specific to Windows belongs here.
#include <string.h>

#include <vector>

#include "platform/calls-win32.h"
#include "platform/platform.h"
#include "platform/replacement.h"
#include "platform/system-win32.h"

namespace vlx {

// Renames the file open as file over to (in "\\?\" form), through its own
// handle: the new file is never closed before its move, so no other program
// can hold it in between, and the handle's right to delete it is all the
// rename needs. With posix, a POSIX-semantics rename (Windows 10 1809 and
// later) that also replaces a target that is read-only or has open handles.
bool rename_through_handle(HANDLE file, const std::wstring& to, bool posix) {
  // The object manager's form of the name, which the rename takes as it is.
  std::wstring name = to.compare(0, 8, L"\\\\?\\UNC\\") == 0 ? L"\\??\\UNC\\" + to.substr(8)
                      : to.compare(0, 4, L"\\\\?\\") == 0   ? L"\\??\\" + to.substr(4)
                                                              : to;
  DWORD bytes = static_cast<DWORD>(name.size() * sizeof(wchar_t)), size = sizeof(FILE_RENAME_INFO) + bytes;
  std::vector<ULONGLONG> buffer(size / sizeof(ULONGLONG) + 1);  // aligned for the structure
  FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  if (posix) {
    DWORD flags = kRenameReplaceIfExists | kRenamePosixSemantics | kRenameIgnoreReadOnly;
    memcpy(rename, &flags, sizeof flags);  // the flags share their place with ReplaceIfExists
  } else {
    rename->ReplaceIfExists = TRUE;
  }
  rename->FileNameLength = bytes;
  memcpy(rename->FileName, name.data(), bytes);
  return file_calls().set_file_information(file, posix ? kFileRenameInfoEx : FileRenameInfo, rename, size) != 0;
}

// Moves the file open as file over to: with POSIX semantics where the system
// has them, which leave the old file as it was; elsewhere a read-only target
// has its attribute cleared for the move, and *cleared says what it was, so
// that the old file gets it back (give_back_attributes).
bool move_over(HANDLE file, const std::wstring& to, long* cleared) {
  *cleared = -1;
  if (rename_through_handle(file, to, true)) return true;
  if (!is_unsupported(GetLastError())) return false;
  if (rename_through_handle(file, to, false)) return true;
  if (GetLastError() != ERROR_ACCESS_DENIED) return false;
  return with_read_only_cleared(to.c_str(), cleared, [&] { return rename_through_handle(file, to, false); });
}

// A running program cannot be replaced or deleted, but it can be renamed: it
// goes aside under an aside name and the new file takes its place. If that
// fails the old file comes back; if even that fails, the damage note says
// where it is (shown is the name the target is known by), and a later sweep
// moves it back once its name is free. The steps share the file's wait.
bool move_past_running_program(HANDLE from, const std::wstring& to, const std::wstring& shown,
                               HeldFileWait* wait) {
  std::wstring directory = directory_of(to), original = to.substr(directory.size()), aside, name;
  if (!with_temporary_name(&name, [&](const std::wstring& candidate) {
        aside = directory + make_aside_name(candidate, original);
        return name_use(
            retry_while_held(wait, to, [&] { return file_calls().move_file(to.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH); }));
      })) {
    return false;
  }
  long cleared = -1;  // a running program is never read-only here: it was just renamed
  if (retry_while_held(wait, to, [&] { return move_over(from, to, &cleared); })) {
    file_calls().delete_file(aside.c_str());  // refused while the program runs; a later sweep removes it
    return true;
  }
  KeepError kept;
  // Tried at least once, also when the wait is used up.
  if (!retry_while_held(wait, aside, [&] { return file_calls().move_file(aside.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0; })) {
    note_target_damage(kTargetMovedAside, directory_of(shown) + aside.substr(directory.size()));
  }
  return false;
}

}  // namespace vlx
