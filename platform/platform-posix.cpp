// POSIX (Linux) implementation of the platform services. Only code specific to
// POSIX systems belongs here.
#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The byte form of a path for system calls.
std::string to_native(const wchar_t* path) { return encode_utf8(path); }

int open_retrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Moves every byte of source into target, with the kernel's copy offload
// where the file systems allow it and plain reads and writes where not.
bool copy_contents(int source, int target, off_t size) {
  off_t left = size;
  while (left > 0) {
    ssize_t n = copy_file_range(source, nullptr, target, nullptr, static_cast<size_t>(left), 0);
    if (n > 0) {
      left -= n;
      continue;
    }
    if (n == 0) break;  // the source shrank under us; take what remains below
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return false;
    break;
  }
  char buffer[1 << 16];
  for (;;) {
    ssize_t got = read(source, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t done = 0; done < got;) {
      ssize_t put = write(target, buffer + done, static_cast<size_t>(got - done));
      if (put < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      done += put;
    }
  }
}

// Writes the copy into a fresh temporary file beside target and renames it
// over target, so a reader never sees half a file and a failure leaves the
// old target untouched.
bool replace_with_copy(int source, const struct stat& info, const std::string& target) {
  std::string::size_type slash = target.rfind('/');
  std::string temp = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) +
                     ".vlxinstall-XXXXXX";
  int out = mkstemp(&temp[0]);
  if (out < 0) return false;
  struct timespec times[2] = {info.st_atim, info.st_mtim};
  bool ok = copy_contents(source, out, info.st_size) && fchmod(out, info.st_mode & 07777) == 0 &&
            futimens(out, times) == 0;
  ok = close(out) == 0 && ok;
  ok = ok && rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  return ok;
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

void create_directory(const wchar_t* path) { mkdir(to_native(path).c_str(), 0777); }

bool file_exists(const wchar_t* path) {
  struct stat info;
  return stat(to_native(path).c_str(), &info) == 0;
}

bool copy_file(const wchar_t* source, const wchar_t* target) {
  int in = open_retrying(to_native(source).c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat info;
  bool ok = fstat(in, &info) == 0 && S_ISREG(info.st_mode);
  std::string target_path = to_native(target);
  struct stat existing;
  if (ok && stat(target_path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) ok = false;
  ok = ok && replace_with_copy(in, info, target_path);
  close(in);
  return ok;
}

FileHandle open_file_for_reading(const wchar_t* path) {
  int fd = open_retrying(to_native(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kInvalidFile;
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    close(fd);
    return kInvalidFile;
  }
  return fd;
}

FileHandle create_file_for_writing(const wchar_t* path) {
  int fd = open_retrying(to_native(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return fd < 0 ? kInvalidFile : fd;
}

bool read_file(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* count) {
  ssize_t n;
  do {
    n = read(static_cast<int>(file), buffer, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return false;
  *count = static_cast<std::uint32_t>(n);
  return true;
}

bool write_file(FileHandle file, const void* data, std::uint32_t size, std::uint32_t* count) {
  ssize_t n;
  do {
    n = write(static_cast<int>(file), data, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return false;
  *count = static_cast<std::uint32_t>(n);
  return true;
}

void close_file(FileHandle file) { close(static_cast<int>(file)); }

std::string convert_path_to_utf8(const wchar_t* path) { return encode_utf8(path); }

int compare_ignoring_case(const char* a, const char* b) { return strcasecmp(a, b); }

void write_console(ConsoleStream stream, const char* text, std::size_t length) {
  fwrite(text, 1, length, stream == kStandardOutput ? stdout : stderr);
}

std::string render_for_console(ConsoleStream, const wchar_t* text) { return encode_utf8(text); }

void flush_console(ConsoleStream stream) { fflush(stream == kStandardOutput ? stdout : stderr); }

char* read_console_line(char* buffer, int size) { return fgets(buffer, size, stdin); }

int read_console_byte() {
  int c = getchar();
  return c == EOF ? -1 : c;
}

void exit_process(int status) { exit(status); }
