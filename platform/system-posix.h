// Helpers shared by the files of the POSIX (Linux) backend. Only code
// specific to POSIX systems belongs here; nothing outside platform/ includes
// this header.
#ifndef VLX_PLATFORM_SYSTEM_POSIX_H
#define VLX_PLATFORM_SYSTEM_POSIX_H

#include <errno.h>
#include <fcntl.h>
#include <sys/types.h>

#include <string>

#include "platform/platform.h"

namespace vlx {

// The byte form of a path for system calls, and back.
inline std::string to_native(const wchar_t* path) { return encode_utf8(path); }
inline std::wstring from_native(const std::string& path) { return decode_utf8(path.data(), path.size()); }

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

inline int open_retrying(const char* path, int flags, mode_t mode = 0) {
  return retry_interrupted([&] { return open(path, flags, mode); });
}

// Closes a file that was written. Linux releases the descriptor even when the
// close is interrupted, so only other errors (a network file system's delayed
// write error) mean the contents may be lost.
bool close_written(int fd);

// For a store to path: the directory that will hold the file (opened, the
// caller's to close) and the path of the file, every link on the way and
// at the name followed under the link rule. False on failure, with errno
// or a refusal; EISDIR where path names a directory.
bool resolve_for_store(const wchar_t* path, FileHandle* directory, std::wstring* target);

// The name of path within its directory, for a call relative to it.
inline std::string base_name(const std::wstring& path) {
  return to_native(path.substr(directory_of(path).size()).c_str());
}

// Gives the new file open as target the owner and group of the regular file
// that replacement replaces, with its extended attributes (but a
// capability), all together and only when the new file can keep that owner
// (carry-posix.cpp).
void carry_identity(int target, const FileReplacement& replacement);

// The permission bits a newly created file gets: 0666 less the umask.
mode_t creation_mode();

// Moves every byte of source (size bytes) into target at the same offsets,
// keeping its holes and setting the length last; a device target gets the
// bytes in order (replacement-posix.cpp).
bool copy_contents(int source, int target, off_t size, bool device);

// Sets replacement up to write over the existing file name in its directory
// itself: never through a link, never waiting for a FIFO's reader, and a
// regular file only where regular is set, cut to nothing once its handle
// shows that it is one (in-place-posix.cpp).
bool open_in_place(const std::string& name, bool regular, FileReplacement* replacement);

// Writes all of size bytes, continuing after short writes.
bool write_all(int fd, const char* data, size_t size);

}  // namespace vlx

#endif  // VLX_PLATFORM_SYSTEM_POSIX_H
