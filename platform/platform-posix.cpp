// POSIX (Linux) implementation of the platform services. Only code specific to
// POSIX systems belongs here.
#include "platform/platform.h"
#include "platform/temporary_name.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <vector>

namespace vlx {

namespace {

// The byte form of a path for system calls, and back.
std::string to_native(const wchar_t* path) { return encode_utf8(path); }
std::wstring from_native(const std::string& path) { return decode_utf8(path.data(), path.size()); }

// Keeps errno, the error of a failed service, across the clean-up after it.
struct KeepError {
  int saved = errno;
  ~KeepError() { errno = saved; }
};

// Repeats a system call that a signal interrupted before it did anything.
template <typename Call>
auto retry_interrupted(Call call) -> decltype(call()) {
  decltype(call()) result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

int open_retrying(const char* path, int flags, mode_t mode = 0) {
  return retry_interrupted([&] { return open(path, flags, mode); });
}

// Closes a file that was written. Linux releases the descriptor even when the
// close is interrupted, so only other errors (a network file system's delayed
// write error) mean the contents may be lost.
bool close_written(int fd) { return close(fd) == 0 || errno == EINTR; }

// Writes all of size bytes, continuing after short writes.
bool write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t put = retry_interrupted([&] { return write(fd, data, size); });
    if (put == 0) errno = EIO;  // a write that takes nothing and says nothing
    if (put <= 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
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

// Gives the copy the source's permission bits and times. False when the file
// system refuses (vfat, exFAT, some network mounts): the copy stands anyway.
bool keep_mode_and_times(int target, const struct stat& source) {
  struct timespec times[2] = {source.st_atim, source.st_mtim};
  bool mode_kept = retry_interrupted([&] { return fchmod(target, source.st_mode & 07777); }) == 0;
  return retry_interrupted([&] { return futimens(target, times); }) == 0 && mode_kept;
}

// The extended attributes of the file at path, names and values one after
// the other; false when they cannot be read. A file system without them has
// none.
bool read_extended_attributes(const std::string& path, std::vector<std::string>* attributes) {
  ssize_t size = retry_interrupted([&] { return listxattr(path.c_str(), nullptr, 0); });
  if (size <= 0) return size == 0 || errno == ENOTSUP;
  std::string names(static_cast<size_t>(size), '\0');
  size = retry_interrupted([&] { return listxattr(path.c_str(), &names[0], names.size()); });
  if (size < 0) return false;
  for (const char* name = names.data(); name < names.data() + size; name += strlen(name) + 1) {
    ssize_t length = retry_interrupted([&] { return getxattr(path.c_str(), name, nullptr, 0); });
    if (length < 0) return false;
    std::string value(static_cast<size_t>(length), '\0');
    if (retry_interrupted([&] { return getxattr(path.c_str(), name, &value[0], value.size()); }) != length) {
      return false;
    }
    attributes->push_back(name);
    attributes->push_back(value);
  }
  return true;
}

// Gives a replacement what makes the file it replaces that file to its users:
// owner and group, extended attributes (access lists and security labels are
// among them) and permission bits, the owner first, since changing it clears
// set-user-ID bits that fchmod restores. False when the owner, the group or
// an attribute cannot be given (only root may give a file away); permission
// bits that the file system refuses are no reason to give up.
bool keep_identity(int target, const std::string& existing_path, const struct stat& existing) {
  std::vector<std::string> attributes;
  if (retry_interrupted([&] { return fchown(target, existing.st_uid, existing.st_gid); }) != 0 ||
      !read_extended_attributes(existing_path, &attributes)) {
    return false;
  }
  for (size_t i = 0; i < attributes.size(); i += 2) {
    const std::string &name = attributes[i], &value = attributes[i + 1];
    if (retry_interrupted([&] { return fsetxattr(target, name.c_str(), value.data(), value.size(), 0); }) != 0) {
      return false;
    }
  }
  retry_interrupted([&] { return fchmod(target, existing.st_mode & 07777); });
  return true;
}

// Follows symbolic links in the last component of path to the name of the
// file they lead to (or would create). False when a link cannot be read or
// the links loop: replacing the link itself would turn it into a file.
bool follow_links(std::string* path) {
  for (int hops = 0; hops < 40; ++hops) {
    char text[PATH_MAX];
    ssize_t n = retry_interrupted([&] { return readlink(path->c_str(), text, sizeof text); });
    if (n < 0) return errno == EINVAL || errno == ENOENT;  // not a link, or nothing there yet
    if (n == static_cast<ssize_t>(sizeof text)) return false;
    std::string link(text, static_cast<size_t>(n));
    *path = link[0] == '/' ? link : to_native(directory_of(from_native(*path)).c_str()) + link;
  }
  return false;
}

// Creates a new temporary file in directory with the permission bits a newly
// created file gets (0666 less the umask). On failure errno says why.
int create_temporary(const std::wstring& directory, std::wstring* name) {
  int fd = -1;
  with_temporary_name(directory, name, [&](const std::wstring& candidate) {
    fd = open_retrying(to_native(candidate.c_str()).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd >= 0 ? kNameUsed : errno == EEXIST ? kNameTaken : kNameFailed;
  });
  return fd;
}

// Sets replacement up to write over the existing file target itself: not in
// one step, but the file stays the file it was.
bool write_in_place(const std::string& target, FileReplacement* replacement) {
  replacement->file = open_retrying(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
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


}  // namespace

void* get_module_handle() {
  // Nothing to fetch on POSIX: the running program always has an identity.
  static int module;
  return &module;
}

int get_module_file_name(void*, wchar_t* buffer, int capacity) {
  char bytes[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", bytes, sizeof bytes);
  if (n <= 0 || n >= static_cast<ssize_t>(sizeof bytes)) return 0;
  std::wstring name = decode_utf8(bytes, static_cast<size_t>(n));
  if (name.size() >= static_cast<size_t>(capacity)) return 0;
  wmemcpy(buffer, name.c_str(), name.size() + 1);
  return static_cast<int>(name.size());
}

void create_directory(const wchar_t* path) {
  std::string native = to_native(path);
  retry_interrupted([&] { return mkdir(native.c_str(), 0777); });
}

bool file_exists(const wchar_t* path) {
  std::string native = to_native(path);
  struct stat info;
  return retry_interrupted([&] { return stat(native.c_str(), &info); }) == 0;
}

bool copy_file(const wchar_t* source, const wchar_t* target) {
  int in = open_retrying(to_native(source).c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat info, there;
  FileReplacement replacement;
  bool ok = retry_interrupted([&] { return fstat(in, &info); }) == 0;
  if (ok && !S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    ok = false;
  }
  // A target that is its source (through a link) is already a whole copy;
  // writing it in place would cut its own source short.
  bool target_exists = ok && retry_interrupted([&] { return stat(to_native(target).c_str(), &there); }) == 0;
  if (ok && target_exists && there.st_dev == info.st_dev && there.st_ino == info.st_ino) {
    close(in);
    return true;
  }
  ok = ok && begin_replacement(target, &replacement);
  if (ok) {
    ok = copy_contents(in, static_cast<int>(replacement.file), info.st_size);
    // A copy has its source's mode and times, also when written in place,
    // but a device is left as it is.
    if (ok && (!target_exists || S_ISREG(there.st_mode))) keep_mode_and_times(static_cast<int>(replacement.file), info);
    ok = close_replacement(&replacement) && ok && commit_replacement(&replacement);
    if (!ok) discard_replacement(&replacement);
  }
  KeepError kept;
  close(in);
  return ok;
}

bool begin_replacement(const wchar_t* path, FileReplacement* replacement) {
  std::string target = to_native(path);
  if (!follow_links(&target)) return false;
  struct stat existing;
  bool exists = retry_interrupted([&] { return lstat(target.c_str(), &existing); }) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists && S_ISDIR(existing.st_mode)) {
    errno = EISDIR;
    return false;
  }
  replacement->target = from_native(target);
  replacement->temporary.clear();
  // A rename over a device would replace the node (as root), and over a file
  // of several names it would part them.
  if (exists && (!S_ISREG(existing.st_mode) || existing.st_nlink > 1)) return write_in_place(target, replacement);
  std::wstring temporary;
  int fd = create_temporary(directory_of(replacement->target), &temporary);
  if (fd < 0) {
    // A directory the caller may not write can hold a file it may write.
    return exists && (errno == EACCES || errno == EPERM) && write_in_place(target, replacement);
  }
  if (exists && !keep_identity(fd, target, existing)) {
    close(fd);  // what write_in_place says of the file counts, not this
    retry_interrupted([&] { return unlink(to_native(temporary.c_str()).c_str()); });
    return write_in_place(target, replacement);
  }
  replacement->file = fd;
  replacement->temporary = temporary;
  return true;
}

bool close_replacement(FileReplacement* replacement) {
  int fd = static_cast<int>(replacement->file);
  replacement->file = kInvalidFile;
  bool flushed = flush_to_disk(fd);
  return close_written(fd) && flushed;
}

bool commit_replacement(FileReplacement* replacement) {
  if (replacement->temporary.empty()) return true;
  std::string from = to_native(replacement->temporary.c_str()), to = to_native(replacement->target.c_str());
  if (retry_interrupted([&] { return rename(from.c_str(), to.c_str()); }) != 0) return false;
  replacement->temporary.clear();
  return true;
}

void discard_replacement(FileReplacement* replacement) {
  KeepError kept;
  if (replacement->file != kInvalidFile) close(static_cast<int>(replacement->file));
  replacement->file = kInvalidFile;
  std::string temporary = to_native(replacement->temporary.c_str());
  if (!temporary.empty()) retry_interrupted([&] { return unlink(temporary.c_str()); });
  replacement->temporary.clear();
}

bool flush_parent_directory(const wchar_t* path) {
  std::wstring directory = directory_of(path);
  std::string native = directory.empty() ? "." : to_native(directory.c_str());
  // A directory the caller may write into but not read (mode 0333) cannot be
  // opened to be flushed, and some file systems cannot flush a directory
  // (EINVAL): what the renames did stands, as durable as the system makes it.
  int fd = open_retrying(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return true;
  bool flushed = retry_interrupted([&] { return fsync(fd); }) == 0 || errno == EINVAL;
  close(fd);
  return flushed;
}

void remove_stale_replacements(const wchar_t* directory) {
  DIR* listing = opendir(to_native(directory).c_str());
  if (!listing) return;
  while (struct dirent* entry = readdir(listing)) {
    if (is_temporary_name(entry->d_name)) {
      retry_interrupted([&] { return unlinkat(dirfd(listing), entry->d_name, 0); });
    }
  }
  closedir(listing);
}

DirectoryLock lock_directory(const wchar_t* directory, FileHandle* lock) {
  int fd = open_retrying(to_native(directory).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return kLockUnavailable;
  if (retry_interrupted([&] { return flock(fd, LOCK_EX | LOCK_NB); }) == 0) {
    if (lock) *lock = fd;  // otherwise held open, and so locked, to the end of the process
    return kLockTaken;
  }
  bool held = errno == EWOULDBLOCK;
  close(fd);
  return held ? kLockHeld : kLockUnavailable;
}

FileHandle open_file_for_reading(const wchar_t* path) {
  int fd = open_retrying(to_native(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kInvalidFile;
  struct stat info;
  if (retry_interrupted([&] { return fstat(fd, &info); }) != 0 || S_ISDIR(info.st_mode)) {
    int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    close(fd);
    errno = error;
    return kInvalidFile;
  }
  return fd;
}

bool read_file(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* count) {
  ssize_t n = retry_interrupted([&] { return read(static_cast<int>(file), buffer, size); });
  if (n < 0) return false;
  *count = static_cast<std::uint32_t>(n);
  return true;
}

bool write_file(FileHandle file, const void* data, std::uint32_t size, std::uint32_t* count) {
  // A short write is followed by another for the rest, so that a write that
  // cannot take everything ends in an error that says why (ENOSPC, EFBIG).
  if (!write_all(static_cast<int>(file), static_cast<const char*>(data), size)) return false;
  *count = size;
  return true;
}

bool close_file(FileHandle file) { return close_written(static_cast<int>(file)); }

std::wstring make_absolute(const wchar_t* path) {
  if (!*path || *path == L'/') return path;
  char directory[PATH_MAX];
  if (!getcwd(directory, sizeof directory)) return path;
  std::wstring absolute = from_native(directory);
  if (absolute.back() != L'/') absolute += L'/';
  return absolute + path;
}

std::wstring describe_last_error() {
  if (errno == 0) return std::wstring();
  const char* text = strerror(errno);
  return decode_utf8(text, strlen(text));
}

std::string convert_path_to_utf8(const wchar_t* path) { return encode_utf8(path); }

int compare_ignoring_case(const char* a, const char* b) { return strcasecmp(a, b); }

std::string render_for_console(ConsoleStream, const wchar_t* text) { return encode_utf8(text); }

bool console_is_own_window() { return false; }

}  // namespace vlx
