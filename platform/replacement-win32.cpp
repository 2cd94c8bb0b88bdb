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

// What an attempt to make a file of a temporary name came to.
NameUse name_use(bool made) {
  if (made) return kNameUsed;
  DWORD error = GetLastError();
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? kNameTaken : kNameFailed;
}

// Creates a new temporary file in directory (in "\\?\" form), named for a
// store to store_target where that is not empty, its whole path left in
// *path. Not repeated: no other program holds a name that does not
// exist yet, so a refusal is the directory's, and final. The handle has the
// right to delete the file, so that removing it does not depend on the
// directory's permission to delete; where even the new file's creator may
// not have that right, it is made without.
HANDLE create_temporary(const std::wstring& directory, const std::wstring& store_target, std::wstring* path,
                        SECURITY_ATTRIBUTES* security) {
  HANDLE file = INVALID_HANDLE_VALUE;
  std::wstring name;
  with_store_temporary_name(store_target, &name, [&](const std::wstring& candidate) {
    *path = directory + candidate;
    for (DWORD access : {static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE | DELETE),
                         static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE)}) {
      file = file_calls().create_file(path->c_str(), access, 0, security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) break;
    }
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

// Runs action on path with its read-only attribute cleared, when it has one
// (the attributes it had go to *cleared, or -1). The attribute comes back
// when the action fails: Windows refuses to replace a read-only file.
template <typename Action>
bool with_read_only_cleared(const wchar_t* path, long* cleared, Action action) {
  DWORD attributes = GetFileAttributesW(path);
  bool read_only = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
  if (read_only) SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  bool done = action();
  KeepError kept;
  if (read_only && !done) SetFileAttributesW(path, attributes);
  *cleared = read_only && done ? static_cast<long>(attributes) : -1;
  return done;
}

// True when the last error says that the system has no such request (a
// Windows older than the one that brought it, or a file system without it).
bool is_unsupported(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

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
            retry_while_held(wait, [&] { return file_calls().move_file(to.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH); }));
      })) {
    return false;
  }
  long cleared = -1;  // a running program is never read-only here: it was just renamed
  if (retry_while_held(wait, [&] { return move_over(from, to, &cleared); })) {
    file_calls().delete_file(aside.c_str());  // refused while the program runs; a later sweep removes it
    return true;
  }
  KeepError kept;
  // Tried at least once, also when the wait is used up.
  if (!retry_while_held(wait, [&] { return file_calls().move_file(aside.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0; })) {
    note_target_damage(kTargetMovedAside, directory_of(shown) + aside.substr(directory.size()));
  }
  return false;
}

// Copies the rest of source into target through their handles.
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

}  // namespace

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
  retry_while_held([&] {
    in = file_calls().create_file(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    return in != INVALID_HANDLE_VALUE;
  });
  return from_handle(in);
}

bool is_same_file(FileHandle source, const FileReplacement& target) {
  return is_same_file(to_handle(source), target.target.c_str(), false);
}

bool open_deferred_in_place(FileReplacement* replacement) {
  // A device is opened as it is; a file is written over from its start and
  // cut at the close, so that it keeps its bytes until new ones are written.
  // Another program's brief hold is waited out, as for every step.
  DWORD disposition = replacement->replaces ? OPEN_EXISTING : CREATE_ALWAYS;
  DWORD share = replacement->replaces ? FILE_SHARE_READ : FILE_SHARE_WRITE;
  HANDLE file = INVALID_HANDLE_VALUE;
  retry_while_held(&replacement->wait, [&] {
    file = file_calls().create_file(replacement->target.c_str(), GENERIC_WRITE, share, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE;
  });
  replacement->file = from_handle(file);
  return replacement->file != kInvalidFile;
}

FileHandle save_in_place_target(FileReplacement* replacement) {
  HANDLE in = INVALID_HANDLE_VALUE;
  if (!retry_while_held(&replacement->wait, [&] {
        in = file_calls().create_file(replacement->target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        return in != INVALID_HANDLE_VALUE;
      })) {
    return kInvalidFile;
  }
  // A file of the caller's alone in the temporary directory, removed when
  // its handle closes, as the process ends at the latest.
  wchar_t directory[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, directory);
  HANDLE saved = INVALID_HANDLE_VALUE;
  std::wstring name;
  if (length > 0 && length <= MAX_PATH) {
    with_temporary_name(&name, [&](const std::wstring& candidate) {
      std::wstring path = extended_path(std::wstring(directory, length) + candidate);
      saved = file_calls().create_file(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
      return name_use(saved != INVALID_HANDLE_VALUE);
    });
  }
  FILETIME created, accessed, written;
  bool copied = saved != INVALID_HANDLE_VALUE && copy_contents(in, saved) &&
                GetFileTime(in, &created, &accessed, &written) && SetFileTime(saved, &created, &accessed, &written);
  KeepError kept;
  if (!copied && saved != INVALID_HANDLE_VALUE) file_calls().close_handle(saved);
  file_calls().close_handle(in);
  return copied ? from_handle(saved) : kInvalidFile;
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

bool keep_replaced_file(FileReplacement* replacement, std::wstring* kept, bool* moved) {
  std::wstring target = extended_path(replacement->target), directory = directory_of(target), name;
  std::wstring original = target.substr(directory.size());
  // A name of a file that another program holds can be made but not removed
  // again: the hold is waited out first, with the file's wait. A running
  // program is moved aside, as its replacement would move it.
  HANDLE old = INVALID_HANDLE_VALUE;
  if (!retry_while_held(&replacement->wait, [&] {
        old = file_calls().create_file(target.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
        return old != INVALID_HANDLE_VALUE;
      })) {
    return false;
  }
  file_calls().close_handle(old);
  for (bool link : {!is_running_program(target), false}) {
    *moved = !link;
    if (with_temporary_name(&name, [&](const std::wstring& candidate) {
          std::wstring aside = directory + make_aside_name(candidate, original);
          return name_use(link ? CreateHardLinkW(aside.c_str(), target.c_str(), nullptr) != 0
                               : retry_while_held(&replacement->wait, [&] {
                                   return file_calls().move_file(target.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
                                 }));
        })) {
      *kept = directory + make_aside_name(name, original);
      return true;
    }
  }
  return false;
}

bool put_back_replaced_file(const FileReplacement& replacement, const std::wstring& kept) {
  std::wstring target = extended_path(replacement.target);
  if (kept.empty()) return retry_while_held([&] { return delete_file(target.c_str()); });
  // The old file goes back over the new one through its own handle, with
  // POSIX semantics where the system has them; elsewhere the new file, which
  // may be read-only, has the attribute cleared for it.
  return retry_while_held([&] {
    HANDLE old = file_calls().create_file(kept.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (old == INVALID_HANDLE_VALUE) return false;
    bool done = rename_through_handle(old, target, true);
    bool unsupported = !done && is_unsupported(GetLastError());
    KeepError error;
    file_calls().close_handle(old);
    if (!unsupported) return done;
    long cleared = -1;
    return with_read_only_cleared(target.c_str(), &cleared, [&] {
      return file_calls().move_file(kept.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    });
  });
}

void give_back_attributes(const FileReplacement& replacement, const std::wstring& kept) {
  if (replacement.replaced_attributes >= 0 && !kept.empty()) {
    SetFileAttributesW(kept.c_str(), static_cast<DWORD>(replacement.replaced_attributes));
  }
}

void remove_kept_file(const FileReplacement&, const std::wstring& kept) { delete_file(kept.c_str()); }

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
  FileHandle checked = open_file_for_reading(path);
  if (checked != kInvalidFile) close_file(checked);
  std::wstring refused;
  if (checked == kInvalidFile && describe_refusal(&refused) && refused.rfind(L"a link", 0) == 0) return false;
  return begin_at(path, replacement, true);
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
    if ((in_place && !SetEndOfFile(file)) || !FlushFileBuffers(file)) return false;
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
  // refusal that outlasts the wait is the target's, as a running program's.
  bool moved = retry_while_held(wait, [&] { return move_over(from, to, &replacement->replaced_attributes); }) ||
               (GetLastError() == ERROR_ACCESS_DENIED && move_past_running_program(from, to, replacement->target, wait));
  if (!moved) return false;
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
    retry_while_held([&] { return delete_file(temporary); });
  } else if (in_place && replacement->replaces && touched) {
    note_target_damage(kTargetIncomplete);
  }
  replacement->temporary.clear();
}

bool flush_replacement_directory(const FileReplacement&) { return true; }

}  // namespace vlx
