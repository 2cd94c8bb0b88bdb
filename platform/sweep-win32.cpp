// Windows implementation of what killed replacements leave, and of the
// running programs that replacements moved aside: listing them, and the
// sweep that clears them. Only code specific to Windows belongs here.
#include "platform/calls-win32.h"
#include "platform/platform.h"
#include "platform/replacement.h"
#include "platform/system-win32.h"

namespace vlx {

// True when the file at path is a program being run. A mapped image refuses
// to be opened for writing however others share it, but no handle holds it:
// an open for reading that shares nothing succeeds. A file that another
// program merely holds open without sharing writes refuses both. Neither
// open changes anything.
bool is_running_program(const std::wstring& path) {
  HANDLE file = file_calls().create_file(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    file_calls().close_handle(file);
    return false;
  }
  if (GetLastError() != ERROR_SHARING_VIOLATION) return false;
  file = file_calls().create_file(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  file_calls().close_handle(file);
  return true;
}

bool is_held_elsewhere(const std::wstring& path) {
  KeepError kept;
  HANDLE file = file_calls().create_file(path.c_str(), FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_ACCESS_DENIED;  // its deletion is pending
  file_calls().close_handle(file);
  file = file_calls().create_file(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  file_calls().close_handle(file);
  return false;
}

namespace {

// Removes the name of the file open as file, read-only or not, leaving the
// file's attributes as they were for its other names (hard links, which
// share them): POSIX semantics ignore the attribute where the system has
// them (Windows 10 1809 and later); elsewhere it is cleared for the removal
// and given back through the same handle before the close.
bool remove_name_of(HANDLE file) {
  FILE_BASIC_INFO basic = {};
  if (!file_calls().get_file_information_ex(file, FileBasicInfo, &basic, sizeof basic)) return false;
  if (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    SetLastError(ERROR_ACCESS_DENIED);  // a name of this program's is never a directory's
    return false;
  }
  DispositionInfoEx posix = {kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly};
  if (file_calls().set_file_information(file, kFileDispositionInfoEx, &posix, sizeof posix)) return true;
  bool read_only = (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (read_only) {
    FILE_BASIC_INFO cleared = basic;
    cleared.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (cleared.FileAttributes == 0) cleared.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!file_calls().set_file_information(file, FileBasicInfo, &cleared, sizeof cleared)) return false;
  }
  FILE_DISPOSITION_INFO disposition = {TRUE};
  bool removed = file_calls().set_file_information(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
  KeepError kept;
  if (read_only) file_calls().set_file_information(file, FileBasicInfo, &basic, sizeof basic);
  return removed;
}

}  // namespace

bool delete_file(const wchar_t* path) {
  // With backup semantics, an administrator whose SeRestorePrivilege is on
  // (the sweep's) may open another user's private file to delete it.
  HANDLE file = file_calls().create_file(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool removed = remove_name_of(file);
  KeepError kept;
  file_calls().close_handle(file);
  return removed;
}

namespace {

// Clears one leftover of a killed run in directory (ending in a separator):
// a temporary file is removed; a program moved aside goes back to its name
// when that is empty, and is removed otherwise once it no longer runs.
void clear_leftover(const std::wstring& directory, const std::wstring& name) {
  std::wstring path = directory + name, original = original_of_aside_name(name);
  if (original.empty()) {
    delete_file(path.c_str());
    return;
  }
  // Where it cannot be told whether the name is empty, the kept file stays:
  // it may be the only copy.
  std::wstring home = directory + original;
  if (GetFileAttributesW(home.c_str()) != INVALID_FILE_ATTRIBUTES) {
    delete_file(path.c_str());
  } else if (GetLastError() == ERROR_FILE_NOT_FOUND) {
    file_calls().move_file(path.c_str(), home.c_str(), MOVEFILE_WRITE_THROUGH);
  }
}

}  // namespace

std::wstring running_program_moved_aside(const Place& directory, const std::wstring& name) {
  std::wstring original = original_of_aside_name(name), folder = extended_path(directory.path);
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  return !original.empty() && is_running_program(folder + name) ? original : std::wstring();
}

std::wstring owner_if_another_user(const Place& directory, const std::wstring& name) {
  std::wstring path = extended_path(directory.path);
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  HANDLE file = file_calls().create_file((path + name).c_str(), READ_CONTROL,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::wstring();
  std::wstring owner = describe_owner_if_another(file);
  file_calls().close_handle(file);
  return owner;
}

void remove_stale_replacements(const Place& directory) {
  // What an elevated run of another administrator left is private to it: an
  // administrator's sweep removes it with its privilege.
  with_restore_privilege(
      [](void* context) {
        const Place& place = *static_cast<const Place*>(context);
        std::wstring folder = extended_path(place.path);
        if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
        for (const std::wstring& name : list_replacement_leftovers(place)) clear_leftover(folder, name);
      },
      const_cast<Place*>(&directory));
}

}  // namespace vlx
