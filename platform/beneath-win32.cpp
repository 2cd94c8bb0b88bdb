// Windows implementation of reaching files beneath a directory by handle.
// Windows names files by path, so a directory is opened once and held open
// without delete sharing: while the handle lives, neither it nor any
// directory above it can be renamed or removed, and the names beneath it
// lead where they led when it was opened. Each directory on the way is
// opened without following a reparse point (a symbolic link or a junction),
// and one is followed only under the link rule, its owner read from the
// handle's security descriptor; a file is judged by the handle opened.
#include <string.h>

#include <vector>

#include <aclapi.h>
#include <sddl.h>

#include "platform/calls-win32.h"
#include "platform/platform.h"
#include "platform/replacement.h"
#include "platform/system-win32.h"

namespace vlx {

namespace {

// An error code of the application's range (bit 29): a refusal of this
// layer's own, described by its words.
constexpr DWORD kRefusalError = 0x20000000 | 1;
thread_local std::wstring refusal;

constexpr DWORD kShareNoDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::wstring join(const std::wstring& directory, const std::wstring& name) {
  if (directory.empty()) return name;
  wchar_t last = directory.back();
  return last == L'\\' || last == L'/' ? directory + name : directory + L'\\' + name;
}

// The owner of the object open as handle, in a buffer that holds it.
bool read_owner(HANDLE handle, std::vector<char>* sid) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  bool copied = owner && IsValidSid(owner);
  if (copied) {
    sid->assign(static_cast<char*>(owner), static_cast<char*>(owner) + GetLengthSid(owner));
  }
  LocalFree(descriptor);
  return copied;
}

// The caller's own user.
bool read_caller(std::vector<char>* sid) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<char> user(size ? size : 1);
  bool known = GetTokenInformation(token, TokenUser, user.data(), size, &size);
  file_calls().close_handle(token);
  if (!known) return false;
  PSID caller = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  sid->assign(static_cast<char*>(caller), static_cast<char*>(caller) + GetLengthSid(caller));
  return true;
}

std::wstring describe_sid(std::vector<char>& sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid.data(), &text)) return L"unknown";
  std::wstring shown = text;
  LocalFree(text);
  return shown;
}

// True when the link open as link, in the directory open as parent, may be
// followed: the caller's own, or the directory owner's. Otherwise the
// refusal names it (at shown) and its owner.
bool may_follow(HANDLE parent, HANDLE link, const std::wstring& shown) {
  std::vector<char> owner, caller, holder;
  if (!read_owner(link, &owner)) return false;
  if ((read_caller(&caller) && EqualSid(owner.data(), caller.data())) ||
      (read_owner(parent, &holder) && EqualSid(owner.data(), holder.data()))) {
    return true;
  }
  set_refusal(L"a link owned by another user (" + describe_sid(owner) + L") stands in place of " + shown);
  return false;
}

// Opens the directory at path to reach names beneath it. A directory that
// is not there fails as the path of any file in it would: path not found.
HANDLE open_directory_handle(const std::wstring& path, bool follow) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE directory = file_calls().create_file(extended_path(path).c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL, kShareNoDelete,
                                 nullptr, OPEN_EXISTING, flags, nullptr);
  if (directory == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) SetLastError(ERROR_PATH_NOT_FOUND);
  return directory;
}

bool is_reparse(HANDLE handle, DWORD* attributes) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!file_calls().get_file_information(handle, &info)) return false;
  *attributes = info.dwFileAttributes;
  return true;
}

// Steps from the directory open as *directory (at *path) to its entry name,
// which must be a directory, under the link rule.
bool step_into(HANDLE* directory, std::wstring* path, const std::wstring& name) {
  std::wstring next_path = join(*path, name);
  HANDLE next = open_directory_handle(next_path, false);
  if (next == INVALID_HANDLE_VALUE) return false;
  DWORD attributes = 0;
  bool ok = is_reparse(next, &attributes);
  if (ok && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    ok = may_follow(*directory, next, next_path);
    HANDLE followed = ok ? open_directory_handle(next_path, true) : INVALID_HANDLE_VALUE;
    KeepError kept;
    file_calls().close_handle(next);
    next = followed;
    ok = next != INVALID_HANDLE_VALUE && is_reparse(next, &attributes);
  }
  if (ok && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetLastError(ERROR_PATH_NOT_FOUND);  // as for any path through a file
    ok = false;
  }
  if (!ok) {
    KeepError kept;
    if (next != INVALID_HANDLE_VALUE) file_calls().close_handle(next);
    return false;
  }
  file_calls().close_handle(*directory);
  *directory = next;
  *path = next_path;
  return true;
}

std::vector<std::wstring> split_names(const std::wstring& relative) {
  std::vector<std::wstring> names;
  std::wstring name;
  for (wchar_t c : relative + L'\\') {
    if (c != L'\\' && c != L'/') {
      name += c;
    } else if (!name.empty()) {
      if (name != L".") names.push_back(name);
      name.clear();
    }
  }
  return names;
}

// True when the open file lies beneath the directory open as within.
bool lies_beneath(HANDLE file, HANDLE within) {
  std::wstring name = final_name(file), root = final_name(within);
  return !name.empty() && !root.empty() && name.size() > root.size() &&
         CompareStringOrdinal(name.c_str(), static_cast<int>(root.size()), root.c_str(),
                              static_cast<int>(root.size()), TRUE) == CSTR_EQUAL &&
         (root.back() == L'\\' || name[root.size()] == L'\\');
}

// Opens path for reading (waiting out a brief hold), a link at its end not
// followed.
HANDLE open_for_reading(const std::wstring& path, DWORD flags) {
  HANDLE file = INVALID_HANDLE_VALUE;
  retry_while_held(path, [&] {
    file = file_calls().create_file(path.c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags,
                       nullptr);
    return file != INVALID_HANDLE_VALUE;
  });
  return file;
}

// Opens the regular file at path (in the directory open as parent, or
// none) for reading, following a link at its end under the link rule,
// judged by the handle; reached says whether a link was followed.
HANDLE open_regular(HANDLE parent, const std::wstring& path, bool* followed) {
  *followed = false;
  // A directory refuses a plain open with ERROR_ACCESS_DENIED, which is no
  // brief hold: it is told at once.
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = open_for_reading(path, FILE_FLAG_OPEN_REPARSE_POINT);
  if (file == INVALID_HANDLE_VALUE) return file;
  BY_HANDLE_FILE_INFORMATION info;
  bool known = file_calls().get_file_information(file, &info);
  if (known && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    bool allowed = parent != INVALID_HANDLE_VALUE ? may_follow(parent, file, path) : true;
    KeepError kept;
    file_calls().close_handle(file);
    if (!allowed) return INVALID_HANDLE_VALUE;
    file = open_for_reading(path, 0);
    if (file == INVALID_HANDLE_VALUE) return file;
    *followed = true;
    known = file_calls().get_file_information(file, &info);
  }
  if (known && GetFileType(file) == FILE_TYPE_DISK && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return file;
  }
  bool directory = known && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  KeepError kept;
  file_calls().close_handle(file);
  if (directory) {
    kept.saved = ERROR_ACCESS_DENIED;
  } else if (known) {
    set_refusal(L"not a regular file: a FIFO, a device or a socket stands in its place");
    kept.saved = kRefusalError;
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace

std::wstring describe_owner_if_another(HANDLE handle) {
  std::vector<char> owner, caller;
  if (!read_owner(handle, &owner) || (read_caller(&caller) && EqualSid(owner.data(), caller.data()))) {
    return std::wstring();
  }
  return describe_sid(owner);
}

void set_refusal(const std::wstring& text) {
  refusal = text;
  SetLastError(kRefusalError);
}

bool describe_refusal(std::wstring* text) {
  if (GetLastError() != kRefusalError) return false;
  *text = refusal;
  return true;
}

bool open_root_directory(const wchar_t* path, Place* root) {
  HANDLE directory = open_directory_handle(*path ? path : L".", true);
  if (directory == INVALID_HANDLE_VALUE) return false;
  root->directory = from_handle(directory);
  root->path = path;
  return true;
}

bool open_directory_beneath(const Place& from, const wchar_t* relative, Place* opened) {
  HANDLE directory = INVALID_HANDLE_VALUE;
  if (!file_calls().duplicate_handle(GetCurrentProcess(), to_handle(from.directory), GetCurrentProcess(), &directory, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return false;
  }
  std::wstring path = from.path;
  for (const std::wstring& name : split_names(relative)) {
    if (!step_into(&directory, &path, name)) {
      KeepError kept;
      file_calls().close_handle(directory);
      return false;
    }
  }
  opened->directory = from_handle(directory);
  opened->path = path;
  return true;
}

FileHandle open_file_beneath(const Place& directory, const wchar_t* name, const Place* within) {
  bool followed = false;
  HANDLE file = open_regular(to_handle(directory.directory), extended_path(join(directory.path, name)), &followed);
  if (file != INVALID_HANDLE_VALUE && followed && within && !lies_beneath(file, to_handle(within->directory))) {
    file_calls().close_handle(file);
    set_refusal(L"a link to a file outside " + within->path);
    return kInvalidFile;
  }
  return from_handle(file);
}

FileHandle open_file_for_reading(const wchar_t* path) {
  std::wstring full = full_path(path), parent_path = directory_of(full);
  HANDLE parent = parent_path.empty() ? INVALID_HANDLE_VALUE : open_directory_handle(parent_path, true);
  bool followed = false;
  HANDLE file = open_regular(parent, extended_path(full), &followed);
  KeepError kept;
  if (parent != INVALID_HANDLE_VALUE) file_calls().close_handle(parent);
  return from_handle(file);
}

bool may_follow_link_at(const wchar_t* path) {
  std::wstring full = extended_path(full_path(path));
  HANDLE link = file_calls().create_file(full.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                         nullptr);
  if (link == INVALID_HANDLE_VALUE) return true;  // nothing there: nothing is followed
  DWORD attributes = 0;
  bool allowed = !is_reparse(link, &attributes) || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (!allowed) {
    HANDLE parent = open_directory_handle(directory_of(full_path(path)), true);
    allowed = parent != INVALID_HANDLE_VALUE && may_follow(parent, link, full_path(path));
    KeepError kept;
    if (parent != INVALID_HANDLE_VALUE) file_calls().close_handle(parent);
  }
  KeepError kept;
  file_calls().close_handle(link);
  return allowed;
}

void create_directory_beneath(const Place& directory, const wchar_t* name) {
  CreateDirectoryW(extended_path(join(directory.path, name)).c_str(), nullptr);
}

bool is_link_beneath(const Place& directory, const wchar_t* name) {
  DWORD attributes = GetFileAttributesW(extended_path(join(directory.path, name)).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool can_list_directory(const Place& directory) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(extended_path(join(directory.path, L"*")).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

bool read_file_at(FileHandle file, std::uint64_t offset, void* buffer, std::uint32_t size, std::uint32_t* count) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD n = 0;
  if (!ReadFile(to_handle(file), buffer, size, &n, &at)) {
    if (GetLastError() != ERROR_HANDLE_EOF) return false;
    n = 0;
  }
  *count = n;
  return true;
}

bool find_data(FileHandle, std::uint64_t from, std::uint64_t size, std::uint64_t* data, std::uint64_t* end) {
  // Holes are not asked for here: the rest of the file counts as data.
  *data = from < size ? from : size;
  *end = size;
  return true;
}

FileHandle duplicate_file(FileHandle file) {
  HANDLE copy = INVALID_HANDLE_VALUE;
  if (!file_calls().duplicate_handle(GetCurrentProcess(), to_handle(file), GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return kInvalidFile;
  }
  return from_handle(copy);
}

}  // namespace vlx
