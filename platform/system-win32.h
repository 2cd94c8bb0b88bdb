// Helpers shared by the files of the Windows backend. Only code specific to
// Windows belongs here; nothing outside platform/ and the Windows tests
// includes this header.
#ifndef VLX_PLATFORM_SYSTEM_WIN32_H
#define VLX_PLATFORM_SYSTEM_WIN32_H

#include <windows.h>

#include <string>

#include "platform/platform.h"

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

// Refusals that another program's brief hold on a file explains; a file
// mapped into memory by another program refuses to be cut or replaced.
inline bool is_transient_refusal(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_USER_MAPPED_FILE;
}

// Calls attempt until it succeeds, fails for another reason, or refusals have
// used up wait, which the steps of one file share: a long copy before the
// first refusal takes nothing from it. GetLastError() after a failure is
// attempt's own.
template <typename Attempt>
bool retry_while_held(HeldFileWait* wait, Attempt attempt) {
  for (;;) {
    if (attempt()) return true;
    DWORD error = GetLastError();
    if (!is_transient_refusal(error)) return false;
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
bool retry_while_held(Attempt attempt) {
  HeldFileWait wait;
  return retry_while_held(&wait, attempt);
}

}  // namespace vlx

#endif  // VLX_PLATFORM_SYSTEM_WIN32_H
