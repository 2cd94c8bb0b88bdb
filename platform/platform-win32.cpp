// Windows implementation of the platform services over KERNEL32 and the C
// runtime. Only code specific to Windows belongs here.
#include "platform/platform.h"
#include "platform/temporary_name.h"

#include <string.h>
#include <windows.h>

namespace vlx {

namespace {

HANDLE to_handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle from_handle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(handle);
}

std::string convert_wide(UINT code_page, const wchar_t* text, const char* default_char) {
  int size = WideCharToMultiByte(code_page, 0, text, -1, nullptr, 0, default_char, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(code_page, 0, text, -1, &out[0], size, default_char, nullptr);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

// The directory part of path, with its separator; empty when there is none.
std::wstring directory_of(const std::wstring& path) {
  std::wstring::size_type separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

// True when path itself (not what it leads to) is a link or another reparse
// point.
bool is_reparse_point(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// What a replacement of path has to do: write in place (a device), replace the
// named file, or nothing (a directory, or the path cannot be examined).
enum TargetKind { kWriteInPlace, kReplaceFile, kRefuse };

// Examines what path names, following reparse points to the final file whose
// name then goes to target. Opening without access rights conflicts with no
// other process's sharing, so a file held open elsewhere is examined too.
TargetKind examine_target(const wchar_t* path, std::wstring* target) {
  *target = path;
  HANDLE existing = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (existing == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? kReplaceFile : kRefuse;
  }
  TargetKind kind = kReplaceFile;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(existing) != FILE_TYPE_DISK) {
    kind = kWriteInPlace;
  } else if (!GetFileInformationByHandle(existing, &info) ||
             (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    kind = kRefuse;
  } else if (is_reparse_point(path)) {
    std::wstring final_name(32768, L'\0');
    DWORD length = GetFinalPathNameByHandleW(existing, &final_name[0], 32768, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= 32768) {
      kind = kRefuse;
    } else {
      target->assign(final_name, 0, length);
    }
  }
  CloseHandle(existing);
  return kind;
}

// Creates a new temporary file in directory, retrying names that exist.
HANDLE create_temporary(const std::wstring& directory, std::wstring* name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string random = make_temporary_name();
    *name = directory + std::wstring(random.begin(), random.end());
    HANDLE file = CreateFileW(name->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

// Deletes a file that may carry the read-only attribute (a copy takes it from
// its source).
void delete_file(const wchar_t* path) {
  SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(path);
}

}  // namespace

void* get_module_handle() { return GetModuleHandleA(nullptr); }

int get_module_file_name(void* module, wchar_t* buffer, int capacity) {
  DWORD n = GetModuleFileNameW(static_cast<HMODULE>(module), buffer, static_cast<DWORD>(capacity));
  // A result equal to the capacity means the name was cut short.
  if (n == 0 || n >= static_cast<DWORD>(capacity)) return 0;
  return static_cast<int>(n);
}

void create_directory(const wchar_t* path) { CreateDirectoryW(path, nullptr); }

bool file_exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

bool copy_file(const wchar_t* source, const wchar_t* target) {
  FileReplacement replacement;
  if (!begin_replacement(target, &replacement)) return false;
  CloseHandle(to_handle(replacement.file));  // CopyFileExW writes the file itself
  replacement.file = kInvalidFile;
  if (replacement.temporary.empty()) return CopyFileW(source, target, FALSE) != 0;
  // The copy goes past the system's cache, so it is on the disk when the
  // move makes it the target.
  bool ok = CopyFileExW(source, replacement.temporary.c_str(), nullptr, nullptr, nullptr,
                        COPY_FILE_NO_BUFFERING) &&
            commit_replacement(&replacement);
  if (!ok) discard_replacement(&replacement);
  return ok;
}

bool begin_replacement(const wchar_t* path, FileReplacement* replacement) {
  replacement->temporary.clear();
  switch (examine_target(path, &replacement->target)) {
    case kRefuse:
      return false;
    case kWriteInPlace:
      replacement->file = from_handle(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      return replacement->file != kInvalidFile;
    case kReplaceFile:
      break;
  }
  replacement->file = from_handle(create_temporary(directory_of(replacement->target), &replacement->temporary));
  if (replacement->file == kInvalidFile) replacement->temporary.clear();
  return replacement->file != kInvalidFile;
}

bool close_replacement(FileReplacement* replacement) {
  HANDLE file = to_handle(replacement->file);
  replacement->file = kInvalidFile;
  bool flushed = replacement->temporary.empty() || FlushFileBuffers(file);
  return CloseHandle(file) && flushed;
}

bool commit_replacement(FileReplacement* replacement) {
  if (replacement->temporary.empty()) return true;
  if (!MoveFileExW(replacement->temporary.c_str(), replacement->target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return false;
  }
  replacement->temporary.clear();
  return true;
}

void discard_replacement(FileReplacement* replacement) {
  if (replacement->file != kInvalidFile) CloseHandle(to_handle(replacement->file));
  replacement->file = kInvalidFile;
  if (!replacement->temporary.empty()) delete_file(replacement->temporary.c_str());
  replacement->temporary.clear();
}

void remove_stale_replacements(const wchar_t* directory) {
  std::wstring folder = directory;
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L".vlxinstall-*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && is_temporary_name(encode_utf8(found.cFileName))) {
      delete_file((folder + found.cFileName).c_str());
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

FileHandle open_file_for_reading(const wchar_t* path) {
  return from_handle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool read_file(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* count) {
  DWORD n = 0;
  if (!ReadFile(to_handle(file), buffer, size, &n, nullptr)) return false;
  *count = n;
  return true;
}

bool write_file(FileHandle file, const void* data, std::uint32_t size, std::uint32_t* count) {
  DWORD n = 0;
  if (!WriteFile(to_handle(file), data, size, &n, nullptr)) return false;
  *count = n;
  return true;
}

bool close_file(FileHandle file) { return CloseHandle(to_handle(file)) != 0; }

std::string convert_path_to_utf8(const wchar_t* path) { return convert_wide(CP_UTF8, path, nullptr); }

int compare_ignoring_case(const char* a, const char* b) { return _stricmp(a, b); }

std::string render_for_console(ConsoleStream stream, const wchar_t* text) {
  // A real console shows its output code page; redirected output is UTF-8.
  DWORD mode;
  HANDLE handle = GetStdHandle(stream == kStandardOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  UINT code_page = GetConsoleMode(handle, &mode) ? GetConsoleOutputCP() : CP_UTF8;
  if (code_page == CP_UTF8) return encode_utf8(text);
  return convert_wide(code_page, text, "?");
}

bool console_is_own_window() {
  // A shell shares its console with the programs it starts; a program
  // started from Explorer gets a console that lists it alone.
  DWORD mode, processes[2];
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) &&
         GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) && GetConsoleProcessList(processes, 2) == 1;
}

}  // namespace vlx
