// A strict layer over the Windows backend's file calls (platform/calls-win32.h)
// for the tests that run under Wine: it refuses, over the real calls, what
// Windows documents that it refuses and Wine lets through. It only refuses;
// what it lets pass is the system's own call. Linked into the test programs
// and into the test builds of the tools, it puts itself over the table
// before main runs.
//
// The rules, by call:
//   create_file       a running program's file cannot be opened for writing
//   move_file         a read-only target, a target with any open handle, or
//                     a running program's file cannot be replaced; a file
//                     with a handle that does not share delete cannot be
//                     renamed
//   set_file_information
//                     renaming or deleting through a handle needs DELETE
//                     access; a rename replaces as move_file does, but a
//                     POSIX-semantics rename (FileRenameInfoEx) replaces a
//                     target with open handles, and its flag lets it replace
//                     a read-only one; a read-only file or a running
//                     program's cannot be deleted (but FileDispositionInfoEx
//                     with its flag ignores read-only)
//   delete_file       as deleting through a handle
//                     (with VLX_STRICT_WITHOUT_POSIX set, the POSIX-semantics
//                     forms are refused as unknown, as before Windows 10 1809)
//   get_file_information
//                     the 64-bit file index is not unique (as on ReFS): only
//                     FileIdInfo (get_file_information_ex) tells files apart
//   close_handle, duplicate_handle
//                     keep the access of each handle known
#include "tests/strict/strict-win32.h"

#include <string.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/calls-win32.h"
#include "platform/platform.h"

#include <psapi.h>

namespace vlx {

namespace {

FileCalls system_calls;  // the calls below the layer
std::mutex tracked_lock;
std::map<HANDLE, DWORD> tracked_access;  // handles this process opened, and their access

constexpr DWORD kRenameIgnoreReadOnly = 0x40;  // FILE_RENAME_FLAG_IGNORE_READONLY_ATTRIBUTE
constexpr DWORD kRenamePosixSemantics = 0x2;   // FILE_RENAME_FLAG_POSIX_SEMANTICS
constexpr DWORD kRenameReplace = 0x1;          // FILE_RENAME_FLAG_REPLACE_IF_EXISTS
constexpr DWORD kDispositionDeleteFlag = 0x1;
constexpr DWORD kDispositionIgnoreReadOnlyFlag = 0x10;
constexpr FILE_INFO_BY_HANDLE_CLASS kRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr FILE_INFO_BY_HANDLE_CLASS kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

bool refuse(DWORD error) {
  SetLastError(error);
  return false;
}

// The name of the open file, every link resolved; empty when unknown.
std::wstring name_of(HANDLE file) {
  wchar_t name[32768];
  DWORD length = GetFinalPathNameByHandleW(file, name, 32768, FILE_NAME_NORMALIZED);
  return length == 0 || length >= 32768 ? std::wstring() : std::wstring(name, length);
}

std::wstring name_of(const wchar_t* path) {
  HANDLE file = system_calls.create_file(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::wstring();
  std::wstring name = name_of(file);
  system_calls.close_handle(file);
  return name;
}

// True when the file at path is the program of a running process.
bool is_running_image(const wchar_t* path) {
  std::wstring name = name_of(path);
  if (name.empty()) return false;
  DWORD processes[1024], bytes = 0;
  if (!K32EnumProcesses(processes, sizeof processes, &bytes)) return false;
  for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processes[i]);
    if (!process) continue;
    wchar_t image[32768];
    DWORD length = 32768;
    bool same = QueryFullProcessImageNameW(process, 0, image, &length) &&
                name_of(image) == name;
    system_calls.close_handle(process);
    if (same) return true;
  }
  return false;
}

bool exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

bool is_read_only(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

// True when some handle of the file at path (of any process) has access to
// its data or to delete it: an open that shares nothing is refused.
bool has_open_handles(const wchar_t* path) {
  HANDLE probe = system_calls.create_file(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    system_calls.close_handle(probe);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

// True when a handle of the file at path does not share delete.
bool delete_is_unshared(const wchar_t* path) {
  HANDLE probe = system_calls.create_file(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    system_calls.close_handle(probe);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

// Whether a replace of the existing target may go ahead.
bool may_replace(const wchar_t* target, bool ignore_read_only, bool posix) {
  if (!exists(target)) return true;
  if (is_read_only(target) && !ignore_read_only) return refuse(ERROR_ACCESS_DENIED);
  if (is_running_image(target)) return refuse(ERROR_ACCESS_DENIED);
  if (!posix && has_open_handles(target)) return refuse(ERROR_ACCESS_DENIED);
  return true;
}

// Whether the file at path may lose its name.
bool may_delete(const wchar_t* path, bool ignore_read_only) {
  if (is_read_only(path) && !ignore_read_only) return refuse(ERROR_ACCESS_DENIED);
  if (is_running_image(path)) return refuse(ERROR_ACCESS_DENIED);
  return true;
}

bool handle_has_delete(HANDLE file) {
  std::lock_guard<std::mutex> guard(tracked_lock);
  auto found = tracked_access.find(file);
  return found == tracked_access.end() || (found->second & (DELETE | GENERIC_ALL)) != 0;
}

// The Win32 name in a rename's object manager name ("\??\C:\x" is "C:\x").
std::wstring win32_name(const wchar_t* name, DWORD bytes) {
  std::wstring text(name, bytes / sizeof(wchar_t));
  if (text.compare(0, 8, L"\\??\\UNC\\") == 0) return L"\\\\" + text.substr(8);
  if (text.compare(0, 4, L"\\??\\") == 0) return text.substr(4);
  return text;
}

HANDLE WINAPI strict_create_file(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE model) {
  bool writes = (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
  if (writes && disposition != CREATE_NEW && is_running_image(path)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = system_calls.create_file(path, access, share, security, disposition, flags, model);
  if (file != INVALID_HANDLE_VALUE) {
    std::lock_guard<std::mutex> guard(tracked_lock);
    tracked_access[file] = access;
  }
  return file;
}

BOOL WINAPI strict_close_handle(HANDLE handle) {
  {
    std::lock_guard<std::mutex> guard(tracked_lock);
    tracked_access.erase(handle);
  }
  return system_calls.close_handle(handle);
}

BOOL WINAPI strict_duplicate_handle(HANDLE from_process, HANDLE from, HANDLE to_process, LPHANDLE to, DWORD access,
                                    BOOL inherit, DWORD options) {
  BOOL done = system_calls.duplicate_handle(from_process, from, to_process, to, access, inherit, options);
  if (done && to_process == GetCurrentProcess()) {
    std::lock_guard<std::mutex> guard(tracked_lock);
    auto source = tracked_access.find(from);
    if (source != tracked_access.end()) {
      tracked_access[*to] = (options & DUPLICATE_SAME_ACCESS) ? source->second : access;
    }
  }
  return done;
}

BOOL WINAPI strict_move_file(LPCWSTR from, LPCWSTR to, DWORD flags) {
  if (delete_is_unshared(from)) return refuse(ERROR_SHARING_VIOLATION);
  if ((flags & MOVEFILE_REPLACE_EXISTING) && !may_replace(to, false, false)) return FALSE;
  return system_calls.move_file(from, to, flags);
}

BOOL WINAPI strict_delete_file(LPCWSTR path) {
  if (!may_delete(path, false)) return FALSE;
  return system_calls.delete_file(path);
}

// True where the tests ask for a system without POSIX-semantics renames and
// deletes (before Windows 10 1809), so that the fallbacks are tested too.
bool without_posix_semantics() { return GetEnvironmentVariableW(L"VLX_STRICT_WITHOUT_POSIX", nullptr, 0) > 0; }

BOOL WINAPI strict_set_file_information(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information,
                                        DWORD size) {
  if ((kind == kRenameInfoEx || kind == kDispositionInfoEx) && without_posix_semantics()) {
    return refuse(ERROR_INVALID_PARAMETER);
  }
  bool rename = kind == FileRenameInfo || kind == kRenameInfoEx;
  bool disposition = kind == FileDispositionInfo || kind == kDispositionInfoEx;
  if ((rename || disposition) && !handle_has_delete(file)) return refuse(ERROR_ACCESS_DENIED);
  if (rename) {
    const FILE_RENAME_INFO* info = static_cast<const FILE_RENAME_INFO*>(information);
    DWORD flags = 0;
    if (kind == kRenameInfoEx) {
      memcpy(&flags, information, sizeof flags);  // a union with ReplaceIfExists
    } else {
      flags = info->ReplaceIfExists ? kRenameReplace : 0;
    }
    std::wstring target = win32_name(info->FileName, info->FileNameLength);
    if ((flags & kRenameReplace) &&
        !may_replace(target.c_str(), (flags & kRenameIgnoreReadOnly) != 0, (flags & kRenamePosixSemantics) != 0)) {
      return FALSE;
    }
  }
  if (disposition) {
    DWORD flags = 0;
    if (kind == kDispositionInfoEx) {
      memcpy(&flags, information, sizeof flags);
    } else {
      flags = static_cast<const FILE_DISPOSITION_INFO*>(information)->DeleteFile ? kDispositionDeleteFlag : 0;
    }
    std::wstring name = name_of(file);
    if ((flags & kDispositionDeleteFlag) && !name.empty() &&
        !may_delete(name.c_str(), (flags & kDispositionIgnoreReadOnlyFlag) != 0)) {
      return FALSE;
    }
  }
  return system_calls.set_file_information(file, kind, information, size);
}

BOOL WINAPI strict_get_file_information(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
  if (!system_calls.get_file_information(file, information)) return FALSE;
  // As on ReFS, whose 128-bit identities do not fit this 64-bit index: it
  // tells no two files apart.
  information->nFileIndexHigh = 0;
  information->nFileIndexLow = 0;
  return TRUE;
}

}  // namespace

void install_strict_file_calls() {
  FileCalls& calls = file_calls();
  if (calls.create_file == strict_create_file) return;
  system_calls = calls;
  calls.create_file = strict_create_file;
  calls.close_handle = strict_close_handle;
  calls.duplicate_handle = strict_duplicate_handle;
  calls.move_file = strict_move_file;
  calls.delete_file = strict_delete_file;
  calls.set_file_information = strict_set_file_information;
  calls.get_file_information = strict_get_file_information;
}

namespace {

// Over the table before main, in every program this is linked into.
const bool installed = (install_strict_file_calls(), true);

}  // namespace

}  // namespace vlx
