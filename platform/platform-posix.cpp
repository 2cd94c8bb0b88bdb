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

bool file_exists(const wchar_t* path) {
  std::string native = to_native(path);
  struct stat info;
  return retry_interrupted([&] { return stat(native.c_str(), &info); }) == 0;
}

std::vector<DirectoryEntry> list_directory_entries(const Place& directory) {
  std::vector<DirectoryEntry> entries;
  int fd = retry_interrupted(
      [&] { return openat(static_cast<int>(directory.directory), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  DIR* listing = fd < 0 ? nullptr : fdopendir(fd);
  if (!listing) {
    if (fd >= 0) close(fd);
    return entries;
  }
  while (struct dirent* entry = readdir(listing)) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    entries.push_back({from_native(entry->d_name), entry->d_type == DT_DIR});
  }
  closedir(listing);
  return entries;
}

std::string file_signature(const wchar_t* path) {
  struct stat info;
  if (retry_interrupted([&] { return stat(to_native(path).c_str(), &info); }) != 0) return std::string();
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" + std::to_string(info.st_size) +
         ":" + std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
}

void set_invalid_argument_error() { errno = EINVAL; }

void set_invalid_data_error() { errno = EINVAL; }

long last_error_code() { return errno; }

void set_last_error_code(long code) { errno = static_cast<int>(code); }

void set_not_a_directory_error() { errno = ENOTDIR; }

void set_out_of_memory_error() { errno = ENOMEM; }

void set_held_error() { errno = EWOULDBLOCK; }

bool last_error_means_held() { return errno == EWOULDBLOCK; }

bool last_error_means_no_file() { return errno == ENOENT || errno == ENOTDIR; }

bool file_size(FileHandle file, std::uint64_t* size) {
  struct stat info;
  if (retry_interrupted([&] { return fstat(static_cast<int>(file), &info); }) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  *size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool read_file_at(FileHandle file, std::uint64_t offset, void* buffer, std::uint32_t size, std::uint32_t* count) {
  ssize_t n = retry_interrupted([&] { return pread(static_cast<int>(file), buffer, size, static_cast<off_t>(offset)); });
  if (n < 0) return false;
  *count = static_cast<std::uint32_t>(n);
  return true;
}

bool find_data(FileHandle file, std::uint64_t from, std::uint64_t size, std::uint64_t* data, std::uint64_t* end) {
  int fd = static_cast<int>(file);
  *data = *end = size;
  if (from >= size) return true;
  off_t start = retry_interrupted([&] { return lseek(fd, static_cast<off_t>(from), SEEK_DATA); });
  if (start < 0 && errno == ENXIO) return true;  // holes to the end
  if (start < 0 && (errno == EINVAL || errno == ENOTSUP)) {
    *data = from;  // a file system that cannot tell: all of it is data
    return true;
  }
  if (start < 0) return false;
  off_t stop = retry_interrupted([&] { return lseek(fd, start, SEEK_HOLE); });
  if (stop < 0) return false;
  *data = static_cast<std::uint64_t>(start) < size ? static_cast<std::uint64_t>(start) : size;
  *end = static_cast<std::uint64_t>(stop) < size ? static_cast<std::uint64_t>(stop) : size;
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

namespace {

// A refusal of this layer's own stands as an error no file service of the
// system gives, with its words beside it.
constexpr int kRefusalError = EMEDIUMTYPE;
thread_local std::wstring refusal;

}  // namespace

void set_refusal(const std::wstring& text) {
  refusal = text;
  errno = kRefusalError;
}

std::wstring describe_last_error() {
  if (errno == 0) return std::wstring();
  if (errno == kRefusalError) return refusal;
  const char* text = strerror(errno);
  return decode_utf8(text, strlen(text));
}

std::string convert_path_to_utf8(const wchar_t* path) { return encode_utf8(path); }

int compare_ignoring_case(const char* a, const char* b) { return strcasecmp(a, b); }

std::string render_for_console(ConsoleStream, const wchar_t* text) { return encode_utf8(text); }

bool console_is_own_window() { return false; }

}  // namespace vlx
