// Windows implementation of looking at what stands at a target's name: a
// file, a device, a directory or a reparse point, and where a symbolic link
// leads. Only code specific to Windows belongs here.
#include <stddef.h>

#include <string>

#include "platform/calls-win32.h"
#include "platform/platform.h"
#include "platform/system-win32.h"

#include <winioctl.h>

namespace vlx {

// True when path itself (not what it leads to) is a link or another reparse
// point.
bool is_reparse_point(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The name of the open file with every link resolved; empty when unknown.
std::wstring final_name(HANDLE file) {
  std::wstring name(32768, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file, &name[0], 32768, FILE_NAME_NORMALIZED);
  if (length == 0 || length >= 32768) return std::wstring();
  name.resize(length);
  return name;
}

namespace {

// The name a symbolic link at path holds, read from its reparse data, made
// absolute against the link's directory when it is relative. False when path
// is no symbolic link or its data cannot be read.
bool read_symbolic_link(const std::wstring& path, std::wstring* target) {
  HANDLE link = file_calls().create_file(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
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
  file_calls().close_handle(link);
  const SymbolicLinkData* data = reinterpret_cast<const SymbolicLinkData*>(buffer.data());
  if (!read || size < offsetof(SymbolicLinkData, names) || data->tag != IO_REPARSE_TAG_SYMLINK) return false;
  // The print name is the link as it was made; the substitute name is the
  // object manager's, which an absolute link always has.
  bool printable = data->print_length > 0;
  USHORT offset = printable ? data->print_offset : data->substitute_offset;
  USHORT length = printable ? data->print_length : data->substitute_length;
  if (offsetof(SymbolicLinkData, names) + offset + length > size) return false;
  std::wstring name(data->names + offset / sizeof(WCHAR), length / sizeof(WCHAR));
  if (!printable) name = name_from_nt_path(name);
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

}  // namespace

// Examines what path names, following reparse points to the final file whose
// full name then goes to target. Opening without access rights conflicts with
// no other process's sharing, so a file held open elsewhere is examined too.
TargetKind examine_target(const wchar_t* path, std::wstring* target) {
  *target = full_path(path);
  HANDLE existing = file_calls().create_file(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);

  if (existing == INVALID_HANDLE_VALUE) {
    // A link to a file not there yet creates that file, as on POSIX; the link
    // itself is never replaced by a plain file.
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND && follow_dangling_link(target) ? kNewFile : kRefuse;
  }
  TargetKind kind = kReplaceFile;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(existing) != FILE_TYPE_DISK) {
    kind = kWriteInPlace;
  } else if (!file_calls().get_file_information(existing, &info) ||
             (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    kind = kRefuse;
    SetLastError(ERROR_ACCESS_DENIED);  // what writing a directory gives
  } else if (is_reparse_point(path)) {
    *target = final_name(existing);
    if (target->empty()) kind = kRefuse;
  }
  KeepError kept;
  file_calls().close_handle(existing);
  return kind;
}

std::wstring full_path(const std::wstring& path) {
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring full(size, L'\0');
  DWORD length = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
  if (length == 0 || length >= size) return path;
  full.resize(length);
  return full;
}

std::wstring extended_path(const std::wstring& path) {
  if (path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0) return path;
  std::wstring full = full_path(path);
  if (full.compare(0, 4, L"\\\\.\\") == 0) return full;
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::wstring name_from_nt_path(const std::wstring& name) {
  if (name.compare(0, 8, L"\\??\\UNC\\") == 0) return L"\\\\" + name.substr(8);
  if (name.compare(0, 4, L"\\??\\") == 0) return name.substr(4);
  return name;
}

}  // namespace vlx
