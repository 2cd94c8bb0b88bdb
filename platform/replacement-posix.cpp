// POSIX (Linux) implementation of copying and replacing files. Only code
// specific to POSIX systems belongs here.
//
// One rule: a replacement is a new file, made and renamed relative to a
// descriptor of its directory (so that names near PATH_MAX still work),
// given what the old file carried, flushed, and renamed over the old name.
// In place only where the directory refuses a new file.
#include <dirent.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <vector>

#include "platform/platform.h"
#include "platform/replacement.h"
#include "platform/system-posix.h"

namespace vlx {

namespace {

// A capability was granted to the program it is on, not to the new bytes
// that replace it.
const char kCapabilityAttribute[] = "security.capability";

// The name of path within its directory.
std::string base_name(const std::wstring& path) {
  return to_native(path.substr(directory_of(path).size()).c_str());
}

// Moves every byte of source into target, with the kernel's copy offload
// where the file systems allow it and plain reads and writes where not.
bool copy_contents(int source, int target, off_t size) {
  for (off_t left = size; left > 0;) {
    ssize_t n = retry_interrupted(
        [&] { return copy_file_range(source, nullptr, target, nullptr, static_cast<size_t>(left), 0); });
    if (n == 0) break;  // the source shrank under us; take what remains below
    if (n < 0) {
      if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return false;
      break;  // no offload between these files: plain reads and writes
    }
    left -= n;
  }
  char buffer[1 << 16];
  for (;;) {
    ssize_t got = retry_interrupted([&] { return read(source, buffer, sizeof buffer); });
    if (got <= 0) return got == 0;
    if (!write_all(target, buffer, static_cast<size_t>(got))) return false;
  }
}

// True when the link at path is one that the kernel's fs.protected_symlinks
// rule lets the caller follow: a link in a sticky directory that others may
// write (/tmp) is followed only when it is the caller's or the directory's
// owner's, since anyone else may have planted it there. The rule holds here
// whatever the system's setting.
bool may_follow(const std::string& path) {
  std::string directory = to_native(directory_of(from_native(path)).c_str());
  struct stat link, parent;
  if (retry_interrupted([&] { return lstat(path.c_str(), &link); }) != 0 ||
      retry_interrupted([&] { return stat(directory.empty() ? "." : directory.c_str(), &parent); }) != 0) {
    return false;
  }
  bool shared = (parent.st_mode & S_ISVTX) && (parent.st_mode & S_IWOTH);
  return !shared || link.st_uid == geteuid() || link.st_uid == parent.st_uid;
}

// Follows symbolic links in the last component of path to the name of the
// file they lead to (or would create). False when a link cannot be read, may
// not be followed (EACCES) or the links loop: replacing the link itself
// would turn it into a file.
bool follow_links(std::string* path) {
  for (int hops = 0; hops < 40; ++hops) {
    char text[PATH_MAX];
    ssize_t n = retry_interrupted([&] { return readlink(path->c_str(), text, sizeof text); });
    if (n < 0) return errno == EINVAL || errno == ENOENT;  // not a link, or nothing there yet
    if (!may_follow(*path)) {
      errno = EACCES;
      return false;
    }
    if (n == static_cast<ssize_t>(sizeof text)) return false;
    std::string link(text, static_cast<size_t>(n));
    *path = link[0] == '/' ? link : to_native(directory_of(from_native(*path)).c_str()) + link;
  }
  return false;
}

// Gives the new file the extended attributes of the file at path that the
// caller may set, but its capability. What cannot be read or set is left.
void carry_extended_attributes(int target, const std::string& path) {
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

// Gives the new file the owner and group of the regular file it replaces,
// with its extended attributes, all together and only when the new file can
// keep that owner (the caller is the owner, or may give files away):
// otherwise it is a fresh file of the caller's, in the directory's group,
// with nothing of a file someone else controlled. The mode follows in
// close_replacement, after the owner: a change of owner clears set-ID bits.
void carry_identity(int target, const FileReplacement& replacement) {
  struct stat old;
  std::string name = base_name(replacement.target);
  if (retry_interrupted([&] {
        return fstatat(static_cast<int>(replacement.directory), name.c_str(), &old, AT_SYMLINK_NOFOLLOW);
      }) != 0 ||
      !S_ISREG(old.st_mode)) {
    return;
  }
  if (old.st_uid == geteuid()) {
    retry_interrupted([&] { return fchown(target, static_cast<uid_t>(-1), old.st_gid); });
  } else if (retry_interrupted([&] { return fchown(target, old.st_uid, old.st_gid); }) != 0) {
    return;
  }
  carry_extended_attributes(target, to_native(replacement.target.c_str()));
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

// Sets replacement up to write over the existing file target itself.
bool open_in_place(const std::string& target, FileReplacement* replacement) {
  // Never through a link, and never waiting for a FIFO's reader.
  replacement->file = open_retrying(target.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  return replacement->file >= 0;
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

FileHandle open_copy_source(const wchar_t* source) {
  // A FIFO in a source's place must not hold the run up: it opens at once
  // and is refused as no regular file.
  int in = open_retrying(to_native(source).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) return kInvalidFile;
  struct stat info;
  int error = retry_interrupted([&] { return fstat(in, &info); }) != 0 ? errno
              : S_ISDIR(info.st_mode)                                 ? EISDIR
              : !S_ISREG(info.st_mode)                                ? EINVAL
                                                                      : 0;
  if (error == 0) return in;
  close(in);
  errno = error;
  return kInvalidFile;
}

bool is_same_file(FileHandle source, const wchar_t* target, bool follow) {
  struct stat info, there;
  std::string name = to_native(target);
  return retry_interrupted([&] { return fstat(static_cast<int>(source), &info); }) == 0 &&
         retry_interrupted([&] { return follow ? stat(name.c_str(), &there) : lstat(name.c_str(), &there); }) == 0 &&
         there.st_dev == info.st_dev && there.st_ino == info.st_ino;
}

bool copy_into_replacement(FileHandle source, FileReplacement* replacement) {
  int in = static_cast<int>(source), out = static_cast<int>(replacement->file);
  struct stat info;
  if (retry_interrupted([&] { return fstat(in, &info); }) != 0) return false;
  if (!copy_contents(in, out, info.st_size)) return false;
  // A copy has its source's mode and times, also when written in place,
  // but a device is left as it is. The times go after the last write.
  if (replacement->in_place && !replacement->replaces) return true;
  struct timespec times[2] = {info.st_atim, info.st_mtim};
  retry_interrupted([&] { return futimens(out, times); });
  replacement->mode = info.st_mode & 07777;
  replacement->mode_owner = info.st_uid;
  replacement->mode_group = info.st_gid;
  return true;
}

bool open_deferred_in_place(FileReplacement* replacement) {
  return open_in_place(to_native(replacement->target.c_str()), replacement);
}

FileHandle open_staged_for_reading(const FileReplacement& replacement) {
  if (replacement.temporary.empty()) return kInvalidFile;
  std::string name = base_name(replacement.temporary);
  int fd = retry_interrupted(
      [&] { return openat(static_cast<int>(replacement.directory), name.c_str(), O_RDONLY | O_CLOEXEC); });
  return fd < 0 ? kInvalidFile : fd;
}

bool keep_replaced_file(FileReplacement* replacement, std::wstring* kept, bool* moved) {
  int dir = static_cast<int>(replacement->directory);
  std::string target = base_name(replacement->target);
  std::wstring original = replacement->target.substr(directory_of(replacement->target).size()), name;
  // A link keeps the name filled; a file system without links gets the move.
  for (bool link : {true, false}) {
    *moved = !link;
    if (with_temporary_name(&name, [&](const std::wstring& candidate) {
          std::string aside = to_native(make_aside_name(candidate, original).c_str());
          int done = retry_interrupted([&] {
            return link ? linkat(dir, target.c_str(), dir, aside.c_str(), 0)
                        : renameat(dir, target.c_str(), dir, aside.c_str());
          });
          return done == 0 ? kNameUsed : errno == EEXIST ? kNameTaken : kNameFailed;
        })) {
      *kept = directory_of(replacement->target) + make_aside_name(name, original);
      return true;
    }
    if (link && errno != EPERM && errno != EMLINK && errno != EOPNOTSUPP && errno != ENOSYS) return false;
  }
  return false;
}

bool put_back_replaced_file(const FileReplacement& replacement, const std::wstring& kept) {
  std::wstring directory = directory_of(replacement.target);
  int dir = open_retrying(directory.empty() ? "." : to_native(directory.c_str()).c_str(),
                          O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  std::string target = base_name(replacement.target), old = base_name(kept);
  bool done = retry_interrupted([&] {
                return kept.empty() ? unlinkat(dir, target.c_str(), 0)
                                    : renameat(dir, old.c_str(), dir, target.c_str());
              }) == 0;
  KeepError error;
  close(dir);
  return done;
}

void remove_kept_file(const std::wstring& kept) {
  retry_interrupted([&] { return unlink(to_native(kept.c_str()).c_str()); });
}

bool begin_replacement(const wchar_t* path, FileReplacement* replacement, ReplacementMode mode) {
  note_target_damage(kTargetIntact);
  *replacement = FileReplacement();
  std::string target = to_native(path);
  if (mode == kFollowLinks && !follow_links(&target)) return false;
  struct stat existing;
  bool exists = retry_interrupted([&] { return lstat(target.c_str(), &existing); }) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists && S_ISDIR(existing.st_mode)) {
    errno = EISDIR;
    return false;
  }
  bool regular = exists && S_ISREG(existing.st_mode);
  replacement->target = from_native(target);
  // A rename over a device would replace the node (as root): a store writes
  // into it; an installation replaces the name.
  if (exists && !regular && mode == kFollowLinks) {
    replacement->in_place = true;
    return open_in_place(target, replacement);
  }
  std::wstring directory = directory_of(replacement->target);
  int dir = open_retrying(directory.empty() ? "." : to_native(directory.c_str()).c_str(),
                          O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  replacement->replaces = exists;
  replacement->carries = regular;
  std::wstring name;
  int fd = create_temporary(dir, mode == kFollowLinks ? replacement->target.substr(directory.size()) : L"", &name);
  if (fd < 0) {
    KeepError kept;
    close(dir);
    // A directory the caller may not write can hold a file it may write.
    if (!regular || (errno != EACCES && errno != EPERM)) return false;
    replacement->in_place = true;
    return mode == kReplaceName || open_in_place(target, replacement);
  }
  replacement->file = fd;
  replacement->directory = dir;
  replacement->temporary = directory + name;
  replacement->mode = regular ? existing.st_mode & 07777 : creation_mode();
  if (regular) {
    replacement->mode_owner = existing.st_uid;
    replacement->mode_group = existing.st_gid;
  }
  return true;
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
  close_directory(replacement);
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

bool flush_parent_directory(const wchar_t* path) {
  std::wstring directory = directory_of(path);
  std::string native = directory.empty() ? "." : to_native(directory.c_str());
  // A directory the caller may write into but not read (mode 0333) cannot be
  // opened to be flushed, and some file systems cannot flush a directory
  // (EINVAL): what the renames did stands, as durable as the system makes it.
  // Any other failure to open it (EIO, ENOSPC) leaves the renames unflushed.
  int fd = open_retrying(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno == EACCES || errno == EPERM;
  bool flushed = retry_interrupted([&] { return fsync(fd); }) == 0 || errno == EINVAL;
  KeepError kept;
  close(fd);
  return flushed;
}

std::vector<std::wstring> list_replacement_leftovers(const wchar_t* directory) {
  std::vector<std::wstring> names;
  DIR* listing = opendir(to_native(directory).c_str());
  if (!listing) return names;
  while (struct dirent* entry = readdir(listing)) {
    std::wstring name = from_native(entry->d_name);
    // A directory of such a name is no file a run made, and no sweep removes it.
    if (entry->d_type != DT_DIR && (is_temporary_name(entry->d_name) || !original_of_aside_name(name).empty())) {
      names.push_back(name);
    }
  }
  closedir(listing);
  return names;
}

// Linux replaces a running program like any other file: none goes aside.
std::wstring running_program_moved_aside(const wchar_t*, const std::wstring&) { return std::wstring(); }

void remove_stale_replacements(const wchar_t* directory) {
  int dir = open_retrying(to_native(directory).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  for (const std::wstring& name : list_replacement_leftovers(directory)) {
    std::string native = to_native(name.c_str()), home = to_native(original_of_aside_name(name).c_str());
    // A file kept by a commit that was killed goes back where its name is
    // empty; anything else is removed.
    struct stat there;
    bool empty = !home.empty() &&
                 retry_interrupted([&] { return fstatat(dir, home.c_str(), &there, AT_SYMLINK_NOFOLLOW); }) != 0 &&
                 errno == ENOENT;
    retry_interrupted([&] {
      return empty ? renameat(dir, native.c_str(), dir, home.c_str()) : unlinkat(dir, native.c_str(), 0);
    });
  }
  close(dir);
}

}  // namespace vlx
