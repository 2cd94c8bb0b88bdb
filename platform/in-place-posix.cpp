// POSIX (Linux) implementation of writing a target in place, where its
// directory refuses a new file: the target opened itself, never through a
// link, and saved first so that a failure can give it back. Only code
// specific to POSIX systems belongs here.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/replacement.h"
#include "platform/system-posix.h"

namespace vlx {

namespace {

// A new file in the system's temporary directory that no name reaches,

}  // namespace

bool open_in_place(const std::string& name, bool regular, FileReplacement* replacement) {
  int fd = retry_interrupted([&] {
    return openat(static_cast<int>(replacement->directory), name.c_str(),
                  O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  });
  if (fd < 0) return false;
  struct stat info;
  if (retry_interrupted([&] { return fstat(fd, &info); }) != 0) {
    KeepError kept;
    close(fd);
    return false;
  }
  if (S_ISREG(info.st_mode) != regular) {
    close(fd);
    set_refusal(L"not a regular file: a FIFO, a device or a socket stands in its place");
    return false;
  }
  if (regular && retry_interrupted([&] { return ftruncate(fd, 0); }) != 0) {
    KeepError kept;
    close(fd);
    note_target_damage(kTargetIncomplete);  // how much of it the failed cut took is not known
    return false;
  }
  replacement->file = fd;
  return true;
}


// readable and writable by its owner alone; -1 on failure.
int create_anonymous_file() {
  const char* directory = getenv("TMPDIR");
  std::string place = directory && *directory ? directory : "/tmp";
  int fd = open_retrying(place.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  // A file system without unnamed files: a named one, unnamed at once.
  std::string name = place + "/.vlxinstall-XXXXXX";
  fd = mkostemp(&name[0], O_CLOEXEC);
  if (fd >= 0) unlink(name.c_str());
  return fd;
}

FileHandle save_in_place_target(FileReplacement* replacement) {
  std::string name = base_name(replacement->target);
  int in = retry_interrupted([&] {
    return openat(static_cast<int>(replacement->directory), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  });
  if (in < 0) return kInvalidFile;
  struct stat info;
  int saved = -1;
  if (retry_interrupted([&] { return fstat(in, &info); }) == 0 && S_ISREG(info.st_mode) &&
      (saved = create_anonymous_file()) >= 0) {
    struct timespec times[2] = {info.st_atim, info.st_mtim};
    bool copied = copy_contents(in, saved, info.st_size, false) &&
                  retry_interrupted([&] { return fchmod(saved, info.st_mode & 07777); }) == 0 &&
                  retry_interrupted([&] { return futimens(saved, times); }) == 0;
    if (!copied) {
      KeepError kept;
      close(saved);
      saved = -1;
    }
  } else if (saved < 0 && errno == 0) {
    errno = EINVAL;
  }
  KeepError kept;
  close(in);
  return saved < 0 ? kInvalidFile : saved;
}

bool open_deferred_in_place(FileReplacement* replacement) {
  return open_in_place(base_name(replacement->target), true, replacement);
}

}  // namespace vlx
