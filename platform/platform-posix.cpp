// POSIX (Linux) implementation of the platform services. Only code specific to
// POSIX systems belongs here.
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/system-posix.h"

namespace vlx {

namespace {

// The absolute path without its "." and ".." components and empty ones
// (doubled separators), as the text alone says: links are not resolved, so
// a path through a link keeps its name. A trailing separator stays.
std::wstring remove_dot_components(const std::wstring& path) {
  std::wstring result;
  for (std::wstring::size_type start = 1; start <= path.size();) {
    std::wstring::size_type end = path.find(L'/', start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring component = path.substr(start, end - start);
    if (component == L"..") {
      result.erase(result.empty() ? 0 : result.rfind(L'/'));
    } else if (!component.empty() && component != L".") {
      result += L'/' + component;
    }
    start = end + 1;
  }
  if (result.empty() || path.back() == L'/') result += L'/';
  return result;
}

}  // namespace

bool close_written(int fd) { return close(fd) == 0 || errno == EINTR; }

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

void* get_module_handle() {
  // Nothing to fetch on POSIX: the running program always has an identity.
  static int module;
  return &module;
}

int get_module_file_name(void*, wchar_t* buffer, int capacity) {
  char bytes[PATH_MAX];
  ssize_t n = retry_interrupted([&] { return readlink("/proc/self/exe", bytes, sizeof bytes); });
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

bool can_list_directory(const wchar_t* path) {
  // opendir opens with O_DIRECTORY: a FIFO in the place is refused, not waited on.
  DIR* listing = opendir(to_native(path).c_str());
  if (listing) closedir(listing);
  return listing != nullptr;
}

bool file_exists(const wchar_t* path) {
  std::string native = to_native(path);
  struct stat info;
  return retry_interrupted([&] { return stat(native.c_str(), &info); }) == 0;
}

LockResult lock_file(const wchar_t* lock_path, FileHandle* lock) {
  // Only a user who may write the directory can open the lock file for
  // writing, which a write lock needs: a reader holds up no one. It is never
  // opened through a link, nor waited on as a FIFO.
  std::string path = to_native(lock_path);
  int fd = open_retrying(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return kLockUnavailable;
  struct stat mine, named;
  struct flock whole = {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  LockResult result = kLockUnavailable;
  if (retry_interrupted([&] { return fstat(fd, &mine); }) == 0 && S_ISREG(mine.st_mode)) {
    if (retry_interrupted([&] { return fcntl(fd, F_OFD_SETLK, &whole); }) == 0) {
      // The holder before may have removed the name since it was opened: the
      // lock counts only while the name is this file.
      bool same = retry_interrupted([&] { return lstat(path.c_str(), &named); }) == 0 &&
                  named.st_dev == mine.st_dev && named.st_ino == mine.st_ino;
      result = same ? kLockTaken : kLockHeld;
    } else if (errno == EAGAIN || errno == EACCES) {
      result = kLockHeld;
    }
  }
  if (result == kLockTaken) {
    if (lock) *lock = fd;  // otherwise held open, and so locked, to the end of the process
    return result;
  }
  close(fd);
  return result;
}

void release_file_lock(const wchar_t* lock_path, FileHandle lock) {
  // Removed while still locked, so that no one locks a file that is about
  // to lose its name.
  std::string path = to_native(lock_path);
  retry_interrupted([&] { return unlink(path.c_str()); });
  close(static_cast<int>(lock));
}

std::string file_signature(const wchar_t* path) {
  struct stat info;
  if (retry_interrupted([&] { return stat(to_native(path).c_str(), &info); }) != 0) return std::string();
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" + std::to_string(info.st_size) +
         ":" + std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
}

namespace {

// The name of path with every link resolved; empty when it cannot be had.
std::string resolve(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  std::string name = resolved ? resolved : "";
  free(resolved);
  return name;
}

}  // namespace

void set_invalid_argument_error() { errno = EINVAL; }

void set_invalid_data_error() { errno = EINVAL; }

bool last_error_means_no_file() { return errno == ENOENT || errno == ENOTDIR; }

bool is_symbolic_link(const wchar_t* path) {
  struct stat info;
  return retry_interrupted([&] { return lstat(to_native(path).c_str(), &info); }) == 0 && S_ISLNK(info.st_mode);
}

SourceTrust examine_source(const wchar_t* path, const wchar_t* within) {
  std::string native = to_native(path);
  struct stat info;
  if (retry_interrupted([&] { return stat(native.c_str(), &info); }) != 0) return kSourceAccepted;  // fails as missing
  if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) return kSourceNotAFile;
  struct stat name;
  if (retry_interrupted([&] { return lstat(native.c_str(), &name); }) != 0 || !S_ISLNK(name.st_mode)) {
    return kSourceAccepted;
  }
  std::string file = resolve(native), root = resolve(to_native(within));
  bool inside = !file.empty() && !root.empty() && file.compare(0, root.size(), root) == 0 &&
                (root == "/" || file[root.size()] == '/');
  return inside ? kSourceAccepted : kSourceOutside;
}

FileHandle open_file_for_reading(const wchar_t* path) {
  // A FIFO opens at once, without waiting for a writer (it then reads as
  // empty); reads wait as usual.
  int fd = open_retrying(to_native(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kInvalidFile;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  struct stat info;
  int error = retry_interrupted([&] { return fstat(fd, &info); }) != 0 ? errno : S_ISDIR(info.st_mode) ? EISDIR : 0;
  if (error == 0) return fd;
  close(fd);
  errno = error;
  return kInvalidFile;
}

FileHandle open_file_for_reading_when_free(const wchar_t* path) { return open_file_for_reading(path); }

bool file_size(FileHandle file, std::uint64_t* size) {
  struct stat info;
  if (retry_interrupted([&] { return fstat(static_cast<int>(file), &info); }) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  *size = static_cast<std::uint64_t>(info.st_size);
  return true;
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
  return remove_dot_components(from_native(directory) + L'/' + path);
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
