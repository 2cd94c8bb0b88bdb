// Windows implementation of what killed replacements leave, and of the
// running programs that replacements moved aside: listing them, and the
// sweep that clears them. Only code specific to Windows belongs here.
#include "platform/platform.h"
#include "platform/replacement.h"
#include "platform/system-win32.h"

namespace vlx {

// True when the file at path is a program being run: it refuses to be
// opened for writing. Opening it changes nothing.
bool is_running_program(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(file);
  return false;
}

// Deletes a file that may carry the read-only attribute (a copy takes it from
// its source).
bool delete_file(const wchar_t* path) {
  SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(path) != 0;
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
    MoveFileExW(path.c_str(), home.c_str(), MOVEFILE_WRITE_THROUGH);
  }
}

}  // namespace

std::vector<std::wstring> list_replacement_leftovers(const Place& directory) {
  std::vector<std::wstring> names;
  std::wstring folder = extended_path(directory.path);
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L".vlxinstall-*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = found.cFileName;
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (is_temporary_name(encode_utf8(name.c_str())) || !original_of_aside_name(name).empty())) {
      names.push_back(name);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

std::wstring running_program_moved_aside(const Place& directory, const std::wstring& name) {
  std::wstring original = original_of_aside_name(name), folder = extended_path(directory.path);
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  return !original.empty() && is_running_program(folder + name) ? original : std::wstring();
}

void remove_stale_replacements(const Place& directory) {
  std::wstring folder = extended_path(directory.path);
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  for (const std::wstring& name : list_replacement_leftovers(directory)) clear_leftover(folder, name);
}

}  // namespace vlx
