// Windows implementation of keeping the file a commit replaces under an
// aside name (a hard link, or for a running program a move), putting it
// back, and removing the kept name once the replacement stands. Only code
// specific to Windows belongs here.
#include "platform/calls-win32.h"
#include "platform/platform.h"
#include "platform/replacement.h"
#include "platform/system-win32.h"

namespace vlx {

bool keep_replaced_file(FileReplacement* replacement, std::wstring* kept, bool* moved) {
  std::wstring target = extended_path(replacement->target), directory = directory_of(target), name;
  std::wstring original = target.substr(directory.size());
  // A name of a file that another program holds can be made but not removed
  // again: the hold is waited out first, with the file's wait. A running
  // program is moved aside, as its replacement would move it.
  HANDLE old = INVALID_HANDLE_VALUE;
  if (!retry_while_held(&replacement->wait, target, [&] {
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
                               : retry_while_held(&replacement->wait, target, [&] {
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
  if (kept.empty()) return retry_while_held(target, [&] { return delete_file(target.c_str()); });
  // The old file goes back over the new one through its own handle, with
  // POSIX semantics where the system has them; elsewhere the new file, which
  // may be read-only, has the attribute cleared for it.
  return retry_while_held(target, [&] {
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

}  // namespace vlx
