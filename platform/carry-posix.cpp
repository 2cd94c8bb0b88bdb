// POSIX (Linux) implementation of what a new file carries of the file it
// replaces: owner, group and extended attributes, and the mode a new file
// is created with. Only code specific to POSIX systems belongs here.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/system-posix.h"

namespace vlx {

namespace {

// A capability was granted to the program it is on, not to the new bytes
// that replace it.
const char kCapabilityAttribute[] = "security.capability";

// Gives the new file the extended attributes of the file open (O_PATH) as
// old that the caller may set, but its capability. What cannot be read or
// set is left. The attributes are read through the descriptor's own name
// in /proc, which leads to that file whatever its name is now.
void carry_extended_attributes(int target, int old) {
  std::string path = "/proc/self/fd/" + std::to_string(old);
  ssize_t size = retry_interrupted([&] { return listxattr(path.c_str(), nullptr, 0); });
  if (size <= 0) return;
  std::string names(static_cast<size_t>(size), '\0');
  size = retry_interrupted([&] { return listxattr(path.c_str(), &names[0], names.size()); });
  for (const char* name = names.data(); size > 0 && name < names.data() + size; name += strlen(name) + 1) {
    if (strcmp(name, kCapabilityAttribute) == 0) continue;
    ssize_t length = retry_interrupted([&] { return getxattr(path.c_str(), name, nullptr, 0); });
    if (length < 0) continue;
    std::string value(static_cast<size_t>(length), '\0');
    length = retry_interrupted([&] { return getxattr(path.c_str(), name, &value[0], value.size()); });
    if (length < 0) continue;
    retry_interrupted([&] { return fsetxattr(target, name, value.data(), static_cast<size_t>(length), 0); });
  }
}

}  // namespace

// Gives the new file the owner and group of the regular file it replaces,
// with its extended attributes, all together and only when the new file can
// keep that owner (the caller is the owner, or may give files away):
// otherwise it is a fresh file of the caller's, in the directory's group,
// with nothing of a file someone else controlled. The mode follows in
// close_replacement, after the owner: a change of owner clears set-ID bits.
// The old file is judged and read through one descriptor of its own.
void carry_identity(int target, const FileReplacement& replacement) {
  std::string name = base_name(replacement.target);
  int old = retry_interrupted([&] {
    return openat(static_cast<int>(replacement.directory), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  });
  if (old < 0) return;
  struct stat info;
  if (retry_interrupted([&] { return fstat(old, &info); }) == 0 && S_ISREG(info.st_mode)) {
    bool kept = info.st_uid == geteuid()
                    ? (retry_interrupted([&] { return fchown(target, static_cast<uid_t>(-1), info.st_gid); }), true)
                    : retry_interrupted([&] { return fchown(target, info.st_uid, info.st_gid); }) == 0;
    if (kept) carry_extended_attributes(target, old);
  }
  close(old);
}

// The permission bits a newly created file gets: 0666 less the umask, read
// without changing it (the kernel reports it since Linux 4.7).
mode_t creation_mode() {
  static const mode_t mode = [] {
    FILE* status = fopen("/proc/self/status", "re");
    unsigned int mask = 022;
    char line[256];
    while (status && fgets(line, sizeof line, status) && sscanf(line, "Umask: %o", &mask) != 1) {
    }
    if (status) fclose(status);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

}  // namespace vlx
