// Helpers shared by the files of the Windows backend. Only code specific to
// Windows belongs here; nothing outside platform/ and the Windows tests
// includes this header.
#ifndef VLX_PLATFORM_SYSTEM_WIN32_H
#define VLX_PLATFORM_SYSTEM_WIN32_H

#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/replacement.h"

namespace vlx {

// Keeps the error of a failed service across the clean-up after it.
struct KeepError {
  DWORD saved = GetLastError();
  ~KeepError() { SetLastError(saved); }
};

inline HANDLE to_handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

inline FileHandle from_handle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(handle);
}

// path by the system's full path rules (GetFullPathNameW): made absolute
// against the current directory, or the drive's own for "D:name"; "." and
// ".." resolved. path as it is when the rules cannot be applied.
std::wstring full_path(const std::wstring& path);

// The "\\?\" form of path, which no MAX_PATH limit applies to: what a name
// beside a file that fits the limit needs when it is longer than that file's.
std::wstring extended_path(const std::wstring& path);

// The Win32 name for a name of the object manager's, as a link's substitute
// name holds it: "\??\C:\x" is "C:\x" and "\??\UNC\server\share\x" is
// "\\server\share\x"; any other name as it is.
std::wstring name_from_nt_path(const std::wstring& name);

// True when the last error is a refusal of the platform's own
// (set_refusal); its words then go to *text.
bool describe_refusal(std::wstring* text);

// A security descriptor that grants the caller alone all access to a file:
// a new file made with it is private until it is given its own, so that no
// one else reads what it holds before then. ready is false where the
// caller's identity cannot be had.
struct PrivateSecurity {
  std::vector<char> user, list;
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes = {sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
  bool ready = false;

  PrivateSecurity();
};

// Makes the file at path one of the caller's like any new file there: its
// access list is what its directory passes on, and nothing else.
void inherit_security(const std::wstring& path);

// Gives the new file at path the owner, group and access list of the file
// target, all together and only where the new file keeps that owner. False
// when the old file's security was not carried: the caller then makes the
// new file a fresh one (security-win32.cpp).
bool carry_security(const std::wstring& path, const std::wstring& target);

// Calls action(context) with SeRestorePrivilege enabled where the caller's
// token holds it (an elevated administrator), which lets a file be opened to
// be deleted whatever its access list says (security-win32.cpp).
void with_restore_privilege(void (*action)(void*), void* context);

// True unless a link (a reparse point) stands at path that the link rule
// does not let the caller follow: the caller's own, or its directory
// owner's; the refusal is then the error (beneath-win32.cpp).
bool may_follow_link_at(const wchar_t* path);

// The owner of the object open as handle (with READ_CONTROL) as its SID,
// when it is not the user running the program; empty for the caller's own,
// or where the owner cannot be read (beneath-win32.cpp).
std::wstring describe_owner_if_another(HANDLE handle);

// True when the file at path is a program being run: it refuses to be
// opened for writing although no handle holds it. False for a file another
// program holds open, also a running program that one holds (the commit
// still moves that aside when its replace is refused). Changes nothing.
bool is_running_program(const std::wstring& path);

// What tells a file from every other: its volume's serial number and its
// 128-bit identity on that volume (FileIdInfo); where the system cannot give
// that, the 64-bit file index, which ReFS does not keep unique.
struct FileIdentity {
  ULONGLONG volume = 0;
  BYTE id[16] = {};
  bool operator==(const FileIdentity& other) const;
  std::string text() const;  // for a file's signature
};

// The identity of the open file; false when it cannot be had.
bool read_file_identity(HANDLE file, FileIdentity* identity);

// Parts of Windows 10's file information that the headers give only to
// programs built for Windows 10 alone: the documented values. An older
// system refuses them (ERROR_INVALID_PARAMETER), and callers fall back.
constexpr FILE_INFO_BY_HANDLE_CLASS kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
struct DispositionInfoEx {
  DWORD flags;
};
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;
constexpr FILE_INFO_BY_HANDLE_CLASS kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD kRenameReplaceIfExists = 0x1;
constexpr DWORD kRenamePosixSemantics = 0x2;
constexpr DWORD kRenameIgnoreReadOnly = 0x40;

// Removes the name path, read-only or not, without changing the attributes
// that the file's other names (hard links) share; false when it cannot.
bool delete_file(const wchar_t* path);

// True when path itself (not what it leads to) is a link or another reparse
// point (examine-win32.cpp).
bool is_reparse_point(const wchar_t* path);

// The name of the open file with every link resolved; empty when unknown.
std::wstring final_name(HANDLE file);

// What a replacement of path has to do: write in place (a device), replace
// the named file, make it anew, or nothing (a directory, or the path cannot
// be examined).
enum TargetKind { kWriteInPlace, kReplaceFile, kNewFile, kRefuse };

// Examines what path names, following reparse points to the final file whose
// full name then goes to target. Opening without access rights conflicts with
// no other process's sharing, so a file held open elsewhere is examined too.
TargetKind examine_target(const wchar_t* path, std::wstring* target);

// What an attempt to make a file of a temporary name came to.
inline NameUse name_use(bool made) {
  if (made) return kNameUsed;
  DWORD error = GetLastError();
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? kNameTaken : kNameFailed;
}

// Copies the rest of source into target through their handles
// (replacement-win32.cpp).
bool copy_contents(HANDLE source, HANDLE target);

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
inline bool is_unsupported(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

// Renames the file open as file over to (in "\\?\" form) through its own
// handle, which needs only its right to delete it; with posix, a
// POSIX-semantics rename (Windows 10 1809 and later) that also replaces a
// target that is read-only or has open handles (rename-win32.cpp).
bool rename_through_handle(HANDLE file, const std::wstring& to, bool posix);

// Moves the file open as file over to: with POSIX semantics where the system
// has them; elsewhere a read-only target has its attribute cleared for the
// move, and *cleared says what it was (-1 for nothing cleared).
bool move_over(HANDLE file, const std::wstring& to, long* cleared);

// Moves from over to where to is a running program, which Windows lets
// rename but not replace: it goes aside first (shown: the name the target is
// known by, for the damage note); the steps share wait.
bool move_past_running_program(HANDLE from, const std::wstring& to, const std::wstring& shown, HeldFileWait* wait);

// Refusals that say by themselves that another program holds a file; a
// file mapped into memory by another program refuses to be cut or replaced.
inline bool is_hold_refusal(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_USER_MAPPED_FILE;
}

// How many ERROR_ACCESS_DENIED in a row that no hold explains make a refusal.
constexpr DWORD kUnexplainedRefusals = 5;

// True when another program's hold explains an ERROR_ACCESS_DENIED of a
// step on the file at path: a handle holds it (an open that shares nothing
// is refused), or its deletion is pending (every open is refused until its
// last handle closes). A running program, a read-only file or a refusal by
// the file's access list is no hold. Leaves the last error as it was.
bool is_held_elsewhere(const std::wstring& path);

// Calls attempt until it succeeds, fails for another reason, or refusals have
// used up wait, which the steps of one file share: a long copy before the
// first refusal takes nothing from it. subject is the file whose hold would
// explain an ERROR_ACCESS_DENIED: kUnexplainedRefusals in a row that no
// hold explains are told within some 15 ms.
// GetLastError() after a failure is attempt's own.
template <typename Attempt>
bool retry_while_held(HeldFileWait* wait, const std::wstring& subject, Attempt attempt) {
  // A hold may be gone by the time it is looked for (a scanner opens a file
  // again and again): an ERROR_ACCESS_DENIED that no hold explains is tried
  // again after 1, 2, 4 and 8 ms, and is final when five come in a row, some
  // 15 ms instead of the hold's 2 seconds.
  DWORD unexplained = 0;
  for (;;) {
    if (attempt()) return true;
    DWORD error = GetLastError();
    bool held = is_hold_refusal(error) || (error == ERROR_ACCESS_DENIED && is_held_elsewhere(subject));
    unexplained = held ? 0 : unexplained + 1;
    if (!held && (error != ERROR_ACCESS_DENIED || unexplained == kUnexplainedRefusals)) return false;
    if (!held) {
      Sleep(1u << (unexplained - 1));
      continue;
    }
    long long pause = next_held_file_pause(wait, GetTickCount64());
    if (pause < 0) {
      SetLastError(error);
      return false;
    }
    Sleep(static_cast<DWORD>(pause));
  }
}

// retry_while_held for a step that has a wait of its own.
template <typename Attempt>
bool retry_while_held(const std::wstring& subject, Attempt attempt) {
  HeldFileWait wait;
  return retry_while_held(&wait, subject, attempt);
}

}  // namespace vlx

#endif  // VLX_PLATFORM_SYSTEM_WIN32_H
