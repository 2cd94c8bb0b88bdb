// POSIX (Linux) implementation of what killed replacements leave: listing
// their temporary files and kept old files, and the sweep that clears them.
// Only code specific to POSIX systems belongs here.
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/replacement.h"
#include "platform/system-posix.h"

namespace vlx {

// Linux replaces a running program like any other file: none goes aside.
std::wstring running_program_moved_aside(const Place&, const std::wstring&) { return std::wstring(); }

std::wstring owner_if_another_user(const Place& directory, const std::wstring& name) {
  struct stat info;
  std::string native = to_native(name.c_str());
  if (retry_interrupted([&] {
        return fstatat(static_cast<int>(directory.directory), native.c_str(), &info, AT_SYMLINK_NOFOLLOW);
      }) != 0 ||
      info.st_uid == geteuid()) {
    return std::wstring();
  }
  return L"user " + std::to_wstring(info.st_uid);
}

void remove_stale_replacements(const Place& directory) {
  int dir = static_cast<int>(directory.directory);
  for (const std::wstring& name : list_replacement_leftovers(directory)) {
    std::string native = to_native(name.c_str()), home = to_native(original_of_aside_name(name).c_str());
    // A file kept by a commit that was killed goes back where its name is
    // empty, and goes where the name holds a file; where that cannot be
    // told, it stays: it may be the only copy. A temporary file goes.
    struct stat there;
    if (home.empty() ||
        retry_interrupted([&] { return fstatat(dir, home.c_str(), &there, AT_SYMLINK_NOFOLLOW); }) == 0) {
      retry_interrupted([&] { return unlinkat(dir, native.c_str(), 0); });
    } else if (errno == ENOENT) {
      retry_interrupted([&] { return renameat(dir, native.c_str(), dir, home.c_str()); });
    }
  }
}

}  // namespace vlx
