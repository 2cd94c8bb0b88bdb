// Windows implementation of copying and replacing files. Only code specific
// to Windows belongs here.
//
// One rule, as on POSIX: a replacement is a new file beside the target,
// given what the old file carried, flushed, and moved over it; in place only
// where the directory refuses a new file. Windows adds files held for a
// moment by other programs (each step is repeated while they refuse it),
// read-only targets, and running programs, which can be renamed but not
// replaced. The names made beside a target go through the "\\?\" form, so
// that a target within MAX_PATH never fails for a longer temporary name.
#include <stddef.h>
#include <string.h>

#include <vector>

#include <aclapi.h>
#include <winioctl.h>

#include "platform/calls-win32.h"
#include "platform/platform.h"
#include "platform/replacement.h"
#include "platform/system-win32.h"

namespace vlx {

namespace {

// The attributes that a copy takes from its source.
constexpr DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Creates a new temporary file in directory (in "\\?\" form), named for a
// store to store_target where that is not empty, its whole path left in
// *path. Not repeated: no other program holds a name that does not
// exist yet, so a refusal is the directory's, and final. The handle has the
// right to delete the file, which its rename into place and its removal
// take.
HANDLE create_temporary(const std::wstring& directory, const std::wstring& store_target, std::wstring* path,
                        SECURITY_ATTRIBUTES* security) {
  HANDLE file = INVALID_HANDLE_VALUE;
  std::wstring name;
  with_store_temporary_name(store_target, &name, [&](const std::wstring& candidate) {
    *path = directory + candidate;
    // DELETE is what the rename through the handle needs: a file that cannot
    // be had with it could never be moved into place.
    file = file_calls().create_file(path->c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, security, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    return name_use(file != INVALID_HANDLE_VALUE);
  });
  return file;
}

// Deletes the file open as file through its handle, read-only or not. False
// where the handle lacks the right (the name is then deleted by name).
bool delete_through_handle(HANDLE file) {
  FILE_BASIC_INFO basic = {};  // zero times are left as they are
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  file_calls().set_file_information(file, FileBasicInfo, &basic, sizeof basic);
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return file_calls().set_file_information(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// True when the open file source and the file at target are one file, under
// two names (a hard link) or the same one.
bool is_same_file(HANDLE source, const wchar_t* target, bool follow) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE other = file_calls().create_file(target, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, flags, nullptr);
  if (other == INVALID_HANDLE_VALUE) return false;
  FileIdentity a, b;
  bool same = read_file_identity(source, &a) && read_file_identity(other, &b) && a == b;
  file_calls().close_handle(other);
  return same;
}

// True when something has been written to the file open as file (its
// position has moved): a target written in place is then no longer as it was.
bool has_written(HANDLE file) {
  LARGE_INTEGER zero = {}, position = {};
  return !SetFilePointerEx(file, zero, &position, FILE_CURRENT) || position.QuadPart > 0;
}

}  // namespace

bool copy_contents(HANDLE source, HANDLE target) {
  char buffer[1 << 16];
  for (;;) {
    DWORD got = 0, put = 0;
    if (!ReadFile(source, buffer, sizeof buffer, &got, nullptr)) return false;
    if (got == 0) return true;
    if (!WriteFile(target, buffer, got, &put, nullptr)) return false;
    if (put != got) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
  }
}


bool copy_into_replacement(FileHandle source, FileReplacement* replacement) {
  // The new file stays open from its creation to its move, so that nothing
  // but the move follows.
  HANDLE in = to_handle(source), out = to_handle(replacement->file);
  LARGE_INTEGER start = {};  // a source shared with another copy is read from its start
  if (!SetFilePointerEx(in, start, nullptr, FILE_BEGIN)) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!file_calls().get_file_information(in, &info)) return false;
  DWORD attributes = info.dwFileAttributes;
  FILETIME written;
  if (!copy_contents(in, out) || !GetFileTime(in, nullptr, nullptr, &written)) return false;
  SetFileTime(out, nullptr, nullptr, &written);  // a file system without times keeps the copy
  if (replacement->temporary.empty()) return true;  // in place the file keeps its attributes
  DWORD replaced = replacement->mode >= 0 ? static_cast<DWORD>(replacement->mode) : 0;
  replacement->mode = static_cast<long>((attributes | replaced) & kCopiedAttributes);
  return true;
}

FileHandle open_copy_source(const wchar_t* source) {
  // A directory is refused with ERROR_ACCESS_DENIED, which is no brief hold.
  DWORD attributes = GetFileAttributesW(source);
  if (attributes == INVALID_FILE_ATTRIBUTES) return kInvalidFile;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    SetLastError(ERROR_ACCESS_DENIED);  // what copying a directory gives
    return kInvalidFile;
  }
  HANDLE in = INVALID_HANDLE_VALUE;
  retry_while_held(source, [&] {
    in = file_calls().create_file(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    return in != INVALID_HANDLE_VALUE;
  });
  return from_handle(in);
}

bool is_same_file(FileHandle source, const FileReplacement& target) {
  return is_same_file(to_handle(source), target.target.c_str(), false);
}

FileHandle open_staged_for_reading(const FileReplacement& replacement) {
  if (replacement.temporary.empty() || replacement.file == kInvalidFile) return kInvalidFile;
  // The new file is open unshared: it is read through a handle of its own
  // handle, from its start.
  HANDLE copy = INVALID_HANDLE_VALUE;
  if (!file_calls().duplicate_handle(GetCurrentProcess(), to_handle(replacement.file), GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return kInvalidFile;
  }
  LARGE_INTEGER start = {};
  SetFilePointerEx(copy, start, nullptr, FILE_BEGIN);
  return from_handle(copy);
}

namespace {

// begin_replacement for a store (true) or begin_replacement_in.
bool begin_at(const wchar_t* path, FileReplacement* replacement, bool store) {
  note_target_damage(kTargetIntact);
  *replacement = FileReplacement();
  // An installation replaces a link (a reparse point) at the name itself.
  bool link = !store && is_reparse_point(path);
  TargetKind kind = link ? kReplaceFile : examine_target(path, &replacement->target);
  if (link) replacement->target = full_path(path);
  if (kind == kRefuse) return false;
  if (kind == kWriteInPlace) {
    replacement->in_place = true;
    return open_deferred_in_place(replacement);
  }
  replacement->replaces = kind == kReplaceFile;
  replacement->carries = replacement->replaces && !link;
  std::wstring directory = directory_of(extended_path(replacement->target));
  // A new file that is to carry an old one's security is private until then.
  PrivateSecurity security;
  std::wstring store_target = store ? replacement->target.substr(directory_of(replacement->target).size())
                                   : std::wstring();
  HANDLE file = create_temporary(directory, store_target, &replacement->temporary,
                                 replacement->carries && security.ready ? &security.attributes : nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    replacement->temporary.clear();
    // A directory the caller may not write can hold a file it may write. It
    // is written over from its start and cut at the close, so that it keeps
    // all its bytes until the first new ones are ready.
    if (!replacement->carries || GetLastError() != ERROR_ACCESS_DENIED) return false;
    replacement->in_place = true;
    return !store || open_deferred_in_place(replacement);
  }
  if (replacement->carries) {
    DWORD attributes = GetFileAttributesW(replacement->target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) replacement->mode = static_cast<long>(attributes & kCopiedAttributes);
  }
  replacement->file = from_handle(file);
  return replacement->file != kInvalidFile;
}

}  // namespace

bool begin_replacement(const wchar_t* path, FileReplacement* replacement) {
  // A link at the name is followed under the link rule, as a read follows it.
  return may_follow_link_at(path) && begin_at(path, replacement, true);
}

bool begin_replacement_in(const Place& directory, const wchar_t* name, FileReplacement* replacement) {
  std::wstring path = directory.path;
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
  return begin_at((path + name).c_str(), replacement, false);
}

bool close_replacement(FileReplacement* replacement) {
  HANDLE file = to_handle(replacement->file);
  bool in_place = replacement->temporary.empty();
  if (GetFileType(file) == FILE_TYPE_DISK) {
    if (!in_place && replacement->carries && !carry_security(replacement->temporary, replacement->target)) {
      inherit_security(replacement->temporary);
    }
    if (replacement->mode >= 0) {
      FILE_BASIC_INFO basic = {};  // zero times are left as they are
      basic.FileAttributes = replacement->mode ? static_cast<DWORD>(replacement->mode) : FILE_ATTRIBUTE_NORMAL;
      file_calls().set_file_information(file, FileBasicInfo, &basic, sizeof basic);
    }
    // Cutting a file written in place marks it modified now: the time its
    // copy carried (or the old one it is given back) is set again after.
    FILETIME written;
    bool timed = in_place && GetFileTime(file, nullptr, nullptr, &written);
    if ((in_place && !SetEndOfFile(file)) || !FlushFileBuffers(file)) return false;
    if (timed) SetFileTime(file, nullptr, nullptr, &written);
  }
  // A new file stays open for its move, or for its removal.
  if (!in_place) return true;
  replacement->file = kInvalidFile;
  return file_calls().close_handle(file) != 0;
}

bool commit_replacement(FileReplacement* replacement) {
  if (replacement->temporary.empty()) return true;
  HANDLE from = to_handle(replacement->file);
  std::wstring to = extended_path(replacement->target);
  HeldFileWait* wait = &replacement->wait;
  // No other program can hold the new file, which is open unshared: a
  // refusal is the target's. A running program, or a target that a hold
  // kept from being replaced for the whole wait (before POSIX-semantics
  // renames, any open handle does), goes aside for the new file; any other
  // refusal is the run's answer.
  if (!retry_while_held(wait, to, [&] { return move_over(from, to, &replacement->replaced_attributes); })) {
    DWORD error = GetLastError();
    bool aside = error == ERROR_ACCESS_DENIED && (is_running_program(to) || is_held_elsewhere(to));
    SetLastError(error);
    if (!aside || !move_past_running_program(from, to, replacement->target, wait)) return false;
  }
  replacement->temporary.clear();
  replacement->file = kInvalidFile;
  file_calls().close_handle(from);  // renamed already: nothing of the move depends on the close
  return true;
}

void discard_replacement(FileReplacement* replacement) {
  KeepError kept;
  HANDLE file = to_handle(replacement->file);
  bool in_place = replacement->temporary.empty();
  bool removed = false, touched = true;
  if (file != INVALID_HANDLE_VALUE) {
    if (!in_place) removed = delete_through_handle(file);
    if (in_place) touched = has_written(file);
    file_calls().close_handle(file);
  }
  replacement->file = kInvalidFile;
  if (!in_place && !removed) {
    const wchar_t* temporary = replacement->temporary.c_str();
    retry_while_held(replacement->temporary, [&] { return delete_file(temporary); });
  } else if (in_place && replacement->replaces && touched) {
    note_target_damage(kTargetIncomplete);
  }
  replacement->temporary.clear();
}

bool flush_replacement_directory(const FileReplacement&) { return true; }

}  // namespace vlx
