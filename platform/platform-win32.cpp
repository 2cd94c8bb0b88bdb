// Windows implementation of the platform services over KERNEL32 and the C
// runtime. Only code specific to Windows belongs here.
#include "platform/platform.h"
#include "platform/temporary_name.h"

#include <stddef.h>
#include <string.h>
#include <windows.h>
#include <aclapi.h>
#include <winioctl.h>

namespace vlx {

namespace {

// Keeps the error of a failed service across the clean-up after it.
struct KeepError {
  DWORD saved = GetLastError();
  ~KeepError() { SetLastError(saved); }
};

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

// True when path itself (not what it leads to) is a link or another reparse
// point.
bool is_reparse_point(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The name a symbolic link at path holds, read from its reparse data, made
// absolute against the link's directory when it is relative. False when path
// is no symbolic link or its data cannot be read.
bool read_symbolic_link(const std::wstring& path, std::wstring* target) {
  HANDLE link = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (link == INVALID_HANDLE_VALUE) return false;
  // The layout of a symbolic link's reparse data (REPARSE_DATA_BUFFER).
  struct SymbolicLinkData {
    ULONG tag;
    USHORT data_length, reserved;
    USHORT substitute_offset, substitute_length, print_offset, print_length;
    ULONG flags;
    WCHAR names[1];
  };
  static_assert(offsetof(SymbolicLinkData, names) == 20, "reparse data layout");
  std::string buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE, '\0');
  DWORD size = 0;
  bool read = DeviceIoControl(link, FSCTL_GET_REPARSE_POINT, nullptr, 0, &buffer[0],
                              static_cast<DWORD>(buffer.size()), &size, nullptr);
  CloseHandle(link);
  const SymbolicLinkData* data = reinterpret_cast<const SymbolicLinkData*>(buffer.data());
  if (!read || size < offsetof(SymbolicLinkData, names) || data->tag != IO_REPARSE_TAG_SYMLINK) return false;
  // The print name is the link as it was made; the substitute name has the
  // object manager's prefix (\??\) before an absolute path.
  bool printable = data->print_length > 0;
  USHORT offset = printable ? data->print_offset : data->substitute_offset;
  USHORT length = printable ? data->print_length : data->substitute_length;
  if (offsetof(SymbolicLinkData, names) + offset + length > size) return false;
  std::wstring name(data->names + offset / sizeof(WCHAR), length / sizeof(WCHAR));
  if (!printable && name.compare(0, 4, L"\\??\\") == 0) name.erase(0, 4);
  const ULONG kRelative = 1;  // SYMLINK_FLAG_RELATIVE
  *target = (data->flags & kRelative) ? directory_of(path) + name : name;
  return true;
}

// The file a dangling symbolic link names, through links that lead on to
// other links; false when a link cannot be read or the links loop.
bool follow_dangling_link(std::wstring* target) {
  for (int hops = 0; hops < 40; ++hops) {
    if (!is_reparse_point(target->c_str())) return true;
    if (!read_symbolic_link(*target, target)) return false;
  }
  return false;
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
    // A link to a file not there yet creates that file, as on POSIX; the link
    // itself is never replaced by a plain file.
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND && follow_dangling_link(target) ? kReplaceFile : kRefuse;
  }
  TargetKind kind = kReplaceFile;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(existing) != FILE_TYPE_DISK) {
    kind = kWriteInPlace;
  } else if (!GetFileInformationByHandle(existing, &info) ||
             (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    kind = kRefuse;
    SetLastError(ERROR_ACCESS_DENIED);  // what writing a directory gives
  } else if (is_reparse_point(path)) {
    std::wstring final_name(32768, L'\0');
    DWORD length = GetFinalPathNameByHandleW(existing, &final_name[0], 32768, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= 32768) {
      kind = kRefuse;
    } else {
      target->assign(final_name, 0, length);
    }
  }
  KeepError kept;
  CloseHandle(existing);
  return kind;
}

// The attributes that a copy takes from its source.
constexpr DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Gives path exactly the attributes given; none is FILE_ATTRIBUTE_NORMAL.
bool set_attributes(const wchar_t* path, DWORD attributes) {
  return SetFileAttributesW(path, attributes ? attributes : FILE_ATTRIBUTE_NORMAL) != 0;
}

// Refusals that another program's brief hold on a file explains.
bool is_transient_refusal(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Calls attempt until it succeeds, fails for another reason, or the time
// since started exceeds the wait a held file is given. GetLastError() after a
// failure is attempt's own.
template <typename Attempt>
bool retry_while_held(ULONGLONG started, Attempt attempt) {
  for (DWORD pause = 1;; pause = pause < 125 ? 2 * pause : 250) {
    if (attempt()) return true;
    DWORD error = GetLastError();
    if (!is_transient_refusal(error) || GetTickCount64() - started >= kHeldFileWaitMilliseconds) {
      SetLastError(error);
      return false;
    }
    Sleep(pause);
  }
}

// What an attempt to make a file of a temporary name came to.
NameUse name_use(bool made) {
  if (made) return kNameUsed;
  DWORD error = GetLastError();
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? kNameTaken : kNameFailed;
}

// Creates a new temporary file in directory.
HANDLE create_temporary(const std::wstring& directory, std::wstring* name, ULONGLONG started) {
  HANDLE file = INVALID_HANDLE_VALUE;
  retry_while_held(started, [&] {
    return with_temporary_name(directory, name, [&](const std::wstring& candidate) {
      file = CreateFileW(candidate.c_str(), GENERIC_WRITE | WRITE_DAC | WRITE_OWNER, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
      return name_use(file != INVALID_HANDLE_VALUE);
    });
  });
  return file;
}

// Runs action on path with its read-only attribute cleared, when it has one,
// and gives the attribute back afterwards: Windows refuses to open such a
// file for writing or to replace it.
template <typename Action>
bool with_read_only_cleared(const wchar_t* path, Action action) {
  DWORD attributes = GetFileAttributesW(path);
  bool read_only = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
  if (read_only) SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  bool done = action();
  DWORD error = GetLastError();
  if (read_only && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(path, attributes);
  SetLastError(error);
  return done;
}

// Forces a closed file's contents to the disk. A copy carries its source's
// attributes, so the file may be read-only.
bool flush_closed_file(const wchar_t* path) {
  return with_read_only_cleared(path, [&] {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool flushed = FlushFileBuffers(file) != 0;
    DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return flushed;
  });
}

// Moves from over to, on the disk before it returns. A read-only target has
// its attribute cleared for the move, and keeps it when the move fails.
bool move_over(const std::wstring& from, const std::wstring& to) {
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (MoveFileExW(from.c_str(), to.c_str(), flags)) return true;
  if (GetLastError() != ERROR_ACCESS_DENIED) return false;
  return with_read_only_cleared(to.c_str(), [&] { return MoveFileExW(from.c_str(), to.c_str(), flags) != 0; });
}

// A running program cannot be replaced or deleted, but it can be renamed: it
// goes aside under a temporary name and the new file takes its place. If
// that fails the old file comes back, so the target is never missing.
bool move_past_running_program(const std::wstring& from, const std::wstring& to) {
  std::wstring aside;
  if (!with_temporary_name(directory_of(to), &aside, [&](const std::wstring& candidate) {
        return name_use(MoveFileExW(to.c_str(), candidate.c_str(), MOVEFILE_WRITE_THROUGH) != 0);
      })) {
    return false;
  }
  if (move_over(from, to)) {
    DeleteFileW(aside.c_str());  // refused while the program runs; a later sweep removes it
    return true;
  }
  DWORD error = GetLastError();
  MoveFileExW(aside.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
  SetLastError(error);
  return false;
}

// Gives the file at to the owner, group and access list of the file at from.
// Where the caller has no right to them, to keeps the ones its directory gave
// it: the replacement goes on.
void keep_security(const wchar_t* from, const wchar_t* to) {
  PSID owner = nullptr, group = nullptr;
  PACL access = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(from, SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, &group, &access, nullptr, &descriptor) != ERROR_SUCCESS) {
    return;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  // An access list that inherits nothing from the directory stays so.
  SECURITY_INFORMATION inheritance =
      (control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION;
  wchar_t* name = const_cast<wchar_t*>(to);
  SetNamedSecurityInfoW(name, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | inheritance, nullptr, nullptr, access,
                        nullptr);
  SetNamedSecurityInfoW(name, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, owner, group,
                        nullptr, nullptr);
  LocalFree(descriptor);
}

// Gives the open temporary file the security descriptor and the attributes of
// the file target it is to replace, read-only included: the handle stays
// writable, and the move clears that attribute of the target for itself.
void keep_identity(HANDLE file, const std::wstring& temporary, const std::wstring& target) {
  DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;  // nothing there yet
  keep_security(target.c_str(), temporary.c_str());
  FILE_BASIC_INFO basic = {};  // zero times are left as they are
  basic.FileAttributes = (attributes & kCopiedAttributes) ? attributes & kCopiedAttributes : FILE_ATTRIBUTE_NORMAL;
  SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

// Opens a replacement for path as begin_replacement does, but without giving
// the temporary file the target's identity.
bool begin_plain_replacement(const wchar_t* path, FileReplacement* replacement) {
  replacement->temporary.clear();
  replacement->started = GetTickCount64();
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
  HANDLE file = create_temporary(directory_of(replacement->target), &replacement->temporary, replacement->started);
  replacement->file = from_handle(file);
  if (replacement->file == kInvalidFile) replacement->temporary.clear();
  return replacement->file != kInvalidFile;
}

// Deletes a file that may carry the read-only attribute (a copy takes it from
// its source).
bool delete_file(const wchar_t* path) {
  SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(path) != 0;
}

}  // namespace

bool flush_parent_directory(const wchar_t*) { return true; }

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
  // A directory is refused with ERROR_ACCESS_DENIED, which is no brief hold.
  DWORD attributes = GetFileAttributesW(source);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    SetLastError(ERROR_ACCESS_DENIED);  // what copying a directory gives
    return false;
  }
  FileReplacement replacement;
  if (!begin_plain_replacement(target, &replacement)) return false;
  CloseHandle(to_handle(replacement.file));  // CopyFileExW writes the file itself
  replacement.file = kInvalidFile;
  if (replacement.temporary.empty()) return CopyFileW(source, target, FALSE) != 0;
  const wchar_t* temporary = replacement.temporary.c_str();
  // The copy takes its source's attributes and keeps those of the file it
  // replaces (CopyFileExW gives the source's on Windows, but not onto an
  // existing file under Wine), and that file's security descriptor.
  DWORD replaced = GetFileAttributesW(replacement.target.c_str());
  if (replaced != INVALID_FILE_ATTRIBUTES) attributes |= replaced;
  bool ok = retry_while_held(replacement.started,
                             [&] { return CopyFileExW(source, temporary, nullptr, nullptr, nullptr, 0) != 0; }) &&
            retry_while_held(replacement.started, [&] { return flush_closed_file(temporary); });
  if (ok && replaced != INVALID_FILE_ATTRIBUTES) keep_security(replacement.target.c_str(), temporary);
  ok = ok && set_attributes(temporary, attributes & kCopiedAttributes) && commit_replacement(&replacement);
  if (!ok) discard_replacement(&replacement);
  return ok;
}

bool begin_replacement(const wchar_t* path, FileReplacement* replacement) {
  if (!begin_plain_replacement(path, replacement)) return false;
  if (!replacement->temporary.empty()) {
    keep_identity(to_handle(replacement->file), replacement->temporary, replacement->target);
  }
  return true;
}

bool close_replacement(FileReplacement* replacement) {
  HANDLE file = to_handle(replacement->file);
  replacement->file = kInvalidFile;
  bool flushed = replacement->temporary.empty() || FlushFileBuffers(file);
  return CloseHandle(file) && flushed;
}

bool commit_replacement(FileReplacement* replacement) {
  if (replacement->temporary.empty()) return true;
  const std::wstring &from = replacement->temporary, &to = replacement->target;
  // A refusal that outlasts the wait may be a running program's.
  bool moved = retry_while_held(replacement->started, [&] { return move_over(from, to); }) ||
               (GetLastError() == ERROR_ACCESS_DENIED && move_past_running_program(from, to));
  if (moved) replacement->temporary.clear();
  return moved;
}

void discard_replacement(FileReplacement* replacement) {
  KeepError kept;
  if (replacement->file != kInvalidFile) CloseHandle(to_handle(replacement->file));
  replacement->file = kInvalidFile;
  if (!replacement->temporary.empty()) {
    const wchar_t* temporary = replacement->temporary.c_str();
    retry_while_held(GetTickCount64(), [&] { return delete_file(temporary); });
  }
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

DirectoryLock lock_directory(const wchar_t* directory, FileHandle* lock) {
  std::wstring path = std::wstring(directory) + L"\\.vlxinstall.lock";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    if (lock) *lock = from_handle(file);
    return kLockTaken;
  }
  DWORD error = GetLastError();
  if (error == ERROR_SHARING_VIOLATION) return kLockHeld;
  // A lock file whose holder has just closed it is refused until it is gone.
  if (error == ERROR_ACCESS_DENIED && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
      GetLastError() != ERROR_FILE_NOT_FOUND) {
    return kLockHeld;
  }
  return kLockUnavailable;
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

std::wstring make_absolute(const wchar_t* path) {
  if (!*path) return path;
  DWORD size = GetFullPathNameW(path, 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring absolute(size, L'\0');
  DWORD length = GetFullPathNameW(path, size, &absolute[0], nullptr);
  if (length == 0 || length >= size) return path;
  absolute.resize(length);
  return absolute;
}

std::wstring describe_last_error() {
  DWORD error = GetLastError();
  if (error == ERROR_SUCCESS) return std::wstring();
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring description = length ? std::wstring(text, length) : L"Error " + std::to_wstring(error);
  LocalFree(text);
  while (!description.empty() && (description.back() == L'\n' || description.back() == L'\r' ||
                                  description.back() == L' ')) {
    description.pop_back();
  }
  return description;
}

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
