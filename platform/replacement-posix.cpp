// POSIX (Linux) implementation of copying and replacing files. Only code
// specific to POSIX systems belongs here.
//
// One rule: a replacement is a new file, made and renamed relative to a
// descriptor of its directory (so that names near PATH_MAX still work),
// given what the old file carried, flushed, and renamed over the old name.
// In place only where the directory refuses a new file.
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/platform.h"
#include "platform/replacement.h"
#include "platform/system-posix.h"

namespace vlx {

namespace {

// Copies [from, end) of source into target at the same offsets, with the
// kernel's copy offload where the file systems allow it and plain reads and
// writes where not.
bool copy_range(int source, int target, off_t from, off_t end) {
  off_t in = from, out = from;
  while (in < end) {
    ssize_t n = retry_interrupted(
        [&] { return copy_file_range(source, &in, target, &out, static_cast<size_t>(end - in), 0); });
    if (n == 0) return true;  // the source shrank under us
    if (n < 0) {
      if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return false;
      break;  // no offload between these files: plain reads and writes
    }
  }
  char buffer[1 << 16];
  while (in < end) {
    size_t want = static_cast<size_t>(end - in) < sizeof buffer ? static_cast<size_t>(end - in) : sizeof buffer;
    ssize_t got = retry_interrupted([&] { return pread(source, buffer, want, in); });
    if (got <= 0) return got == 0;
    for (ssize_t put = 0; put < got;) {
      ssize_t n = retry_interrupted([&] { return pwrite(target, buffer + put, static_cast<size_t>(got - put), in + put); });
      if (n == 0) errno = EIO;
      if (n <= 0) return false;
      put += n;
    }
    in += got;
  }
  return true;
}

// Creates a new temporary file in the directory open as directory, named
// for a store to store_target where that is not empty, readable and writable
// by its owner alone until close_replacement gives it its mode: another user
// must not read what it holds before then. On failure errno says why.
int create_temporary(int directory, const std::wstring& store_target, std::wstring* name) {
  int fd = -1;
  with_store_temporary_name(store_target, name, [&](const std::wstring& candidate) {
    std::string native = to_native(candidate.c_str());
    fd = retry_interrupted(
        [&] { return openat(directory, native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600); });
    return fd >= 0 ? kNameUsed : errno == EEXIST ? kNameTaken : kNameFailed;
  });
  return fd;
}

// Forces the written bytes to the disk. File systems without the operation
// (some FUSE mounts) have nothing to force.
bool flush_to_disk(int fd) {
  KeepError kept;  // a file without the operation leaves the error of before
  if (retry_interrupted([&] { return fsync(fd); }) == 0) return true;
  if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) return true;
  kept.saved = errno;
  return false;
}

void close_directory(FileReplacement* replacement) {
  if (replacement->directory != kInvalidFile) close(static_cast<int>(replacement->directory));
  replacement->directory = kInvalidFile;
}

}  // namespace

bool copy_contents(int source, int target, off_t size, bool device) {
  if (device) {
    char buffer[1 << 16];
    for (;;) {
      ssize_t got = retry_interrupted([&] { return read(source, buffer, sizeof buffer); });
      if (got <= 0) return got == 0;
      if (!write_all(target, buffer, static_cast<size_t>(got))) return false;
    }
  }
  for (std::uint64_t at = 0; at < static_cast<std::uint64_t>(size);) {
    std::uint64_t data = 0, end = 0;
    if (!find_data(source, at, static_cast<std::uint64_t>(size), &data, &end)) return false;
    if (data >= static_cast<std::uint64_t>(size)) break;
    if (!copy_range(source, target, static_cast<off_t>(data), static_cast<off_t>(end))) return false;
    at = end;
  }
  return retry_interrupted([&] { return ftruncate(target, size); }) == 0;
}

FileHandle open_copy_source(const wchar_t* source) { return open_file_for_reading(source); }

FileHandle duplicate_file(FileHandle file) {
  int fd = retry_interrupted([&] { return fcntl(static_cast<int>(file), F_DUPFD_CLOEXEC, 0); });
  return fd < 0 ? kInvalidFile : fd;
}

bool is_same_file(FileHandle source, const FileReplacement& target) {
  struct stat info, there;
  std::string name = base_name(target.target);
  return retry_interrupted([&] { return fstat(static_cast<int>(source), &info); }) == 0 &&
         retry_interrupted([&] {
           return fstatat(static_cast<int>(target.directory), name.c_str(), &there, AT_SYMLINK_NOFOLLOW);
         }) == 0 &&
         there.st_dev == info.st_dev && there.st_ino == info.st_ino;
}

bool copy_into_replacement(FileHandle source, FileReplacement* replacement) {
  int in = static_cast<int>(source), out = static_cast<int>(replacement->file);
  struct stat info;
  if (retry_interrupted([&] { return fstat(in, &info); }) != 0) return false;
  bool device = replacement->in_place && !replacement->carries;
  if (!copy_contents(in, out, info.st_size, device)) return false;
  // A copy has its source's mode and times, also when written in place,
  // but a device is left as it is. The times go after the last write.
  if (device) return true;
  struct timespec times[2] = {info.st_atim, info.st_mtim};
  retry_interrupted([&] { return futimens(out, times); });
  replacement->mode = info.st_mode & 07777;
  replacement->mode_owner = info.st_uid;
  replacement->mode_group = info.st_gid;
  return true;
}

FileHandle open_staged_for_reading(const FileReplacement& replacement) {
  if (replacement.temporary.empty()) return kInvalidFile;
  std::string name = base_name(replacement.temporary);
  int fd = retry_interrupted([&] {
    return openat(static_cast<int>(replacement.directory), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  });
  return fd < 0 ? kInvalidFile : fd;
}

namespace {

// Sets replacement up for the name in the directory open as dir (which it
// then owns), shown as target: a new temporary file beside it, or where the
// directory refuses one, the name itself written in place (a store opens
// it now, an installation at its commit).
bool begin_at(int dir, const std::wstring& target, bool store, FileReplacement* replacement) {
  replacement->directory = dir;
  replacement->target = target;
  std::string name = base_name(target);
  struct stat existing;
  bool exists = retry_interrupted([&] { return fstatat(dir, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW); }) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists && S_ISDIR(existing.st_mode)) {
    errno = EISDIR;
    return false;
  }
  bool regular = exists && S_ISREG(existing.st_mode);
  // A rename over a device would replace the node (as root): a store writes
  // into it; an installation replaces the name.
  if (exists && !regular && store) {
    replacement->in_place = true;
    return open_in_place(name, false, replacement);
  }
  replacement->replaces = exists;
  replacement->carries = regular;
  std::wstring temporary;
  int fd = create_temporary(dir, store ? target.substr(directory_of(target).size()) : L"", &temporary);
  if (fd < 0) {
    // A directory the caller may not write can hold a file it may write.
    if (!regular || (errno != EACCES && errno != EPERM)) return false;
    replacement->in_place = true;
    return !store || open_in_place(name, true, replacement);
  }
  replacement->file = fd;
  replacement->temporary = directory_of(target) + temporary;
  replacement->mode = regular ? existing.st_mode & 07777 : creation_mode();
  if (regular) {
    replacement->mode_owner = existing.st_uid;
    replacement->mode_group = existing.st_gid;
  }
  return true;
}

// Starts a replacement with what failed already closed.
bool begin_or_close(int dir, const std::wstring& target, bool store, FileReplacement* replacement) {
  if (begin_at(dir, target, store, replacement)) return true;
  KeepError kept;
  close_directory(replacement);
  return false;
}

}  // namespace

bool begin_replacement(const wchar_t* path, FileReplacement* replacement) {
  note_target_damage(kTargetIntact);
  *replacement = FileReplacement();
  FileHandle dir = kInvalidFile;
  std::wstring target;
  if (!resolve_for_store(path, &dir, &target)) return false;
  return begin_or_close(static_cast<int>(dir), target, true, replacement);
}

bool begin_replacement_in(const Place& directory, const wchar_t* name, FileReplacement* replacement) {
  note_target_damage(kTargetIntact);
  *replacement = FileReplacement();
  int dir = retry_interrupted([&] { return fcntl(static_cast<int>(directory.directory), F_DUPFD_CLOEXEC, 0); });
  if (dir < 0) return false;
  std::wstring target = directory.path;
  if (target.empty() || target.back() != L'/') target += L'/';
  return begin_or_close(dir, target + name, false, replacement);
}

bool close_replacement(FileReplacement* replacement) {
  int fd = static_cast<int>(replacement->file);
  replacement->file = kInvalidFile;
  if (!replacement->temporary.empty() && replacement->carries) carry_identity(fd, *replacement);
  if (replacement->mode >= 0) {
    // A set-ID bit belongs to its user or group: it goes only to a file of theirs.
    // Where the new file's owner cannot be told, the bits go.
    mode_t mode = static_cast<mode_t>(replacement->mode);
    struct stat now;
    if (mode & (S_ISUID | S_ISGID)) {
      bool known = retry_interrupted([&] { return fstat(fd, &now); }) == 0;
      if (replacement->mode_owner >= 0 && (!known || now.st_uid != static_cast<uid_t>(replacement->mode_owner))) {
        mode &= ~S_ISUID;
      }
      if (replacement->mode_group >= 0 && (!known || now.st_gid != static_cast<gid_t>(replacement->mode_group))) {
        mode &= ~S_ISGID;
      }
    }
    retry_interrupted([&] { return fchmod(fd, mode); });
  }
  bool flushed = flush_to_disk(fd);
  return close_written(fd) && flushed;
}

bool commit_replacement(FileReplacement* replacement) {
  if (replacement->temporary.empty()) return true;
  int dir = static_cast<int>(replacement->directory);
  std::string from = base_name(replacement->temporary), to = base_name(replacement->target);
  if (retry_interrupted([&] { return renameat(dir, from.c_str(), dir, to.c_str()); }) != 0) return false;
  replacement->temporary.clear();
  return true;
}

void discard_replacement(FileReplacement* replacement) {
  KeepError kept;
  if (replacement->file != kInvalidFile) close(static_cast<int>(replacement->file));
  replacement->file = kInvalidFile;
  if (!replacement->temporary.empty()) {
    std::string name = base_name(replacement->temporary);
    retry_interrupted([&] { return unlinkat(static_cast<int>(replacement->directory), name.c_str(), 0); });
  } else if (replacement->replaces && replacement->in_place) {
    note_target_damage(kTargetIncomplete);  // it was cut short by the open
  }
  replacement->temporary.clear();
  close_directory(replacement);
}

bool flush_replacement_directory(const FileReplacement& replacement) {
  // A directory the caller may write into but not read (mode 0333) cannot be
  // opened to be flushed, and some file systems cannot flush a directory
  // (EINVAL): what the renames did stands, as durable as the system makes it.
  // Any other failure to open it (EIO, ENOSPC) leaves the renames unflushed.
  int fd = retry_interrupted([&] {
    return openat(static_cast<int>(replacement.directory), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  });
  if (fd < 0) return errno == EACCES || errno == EPERM;
  bool flushed = retry_interrupted([&] { return fsync(fd); }) == 0 || errno == EINVAL;
  KeepError kept;
  close(fd);
  return flushed;
}

}  // namespace vlx
