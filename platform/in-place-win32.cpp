// Windows implementation of writing a target in place, where its directory
// refuses a new file: the target saved first, so that a failure can give it
// back, and brief holds waited out. Only code specific to Windows belongs
// here.
#include "platform/calls-win32.h"
#include "platform/platform.h"
#include "platform/replacement.h"
#include "platform/system-win32.h"

namespace vlx {

bool open_deferred_in_place(FileReplacement* replacement) {
  // A device is opened as it is; a file is written over from its start and
  // cut at the close, so that it keeps its bytes until new ones are written.
  // Another program's brief hold is waited out, as for every step.
  DWORD disposition = replacement->replaces ? OPEN_EXISTING : CREATE_ALWAYS;
  DWORD share = replacement->replaces ? FILE_SHARE_READ : FILE_SHARE_WRITE;
  HANDLE file = INVALID_HANDLE_VALUE;
  retry_while_held(&replacement->wait, replacement->target, [&] {
    file = file_calls().create_file(replacement->target.c_str(), GENERIC_WRITE, share, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE;
  });
  replacement->file = from_handle(file);
  return replacement->file != kInvalidFile;
}

FileHandle save_in_place_target(FileReplacement* replacement) {
  HANDLE in = INVALID_HANDLE_VALUE;
  if (!retry_while_held(&replacement->wait, replacement->target, [&] {
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

}  // namespace vlx
