// Paths, errors, reading and writing files, and reaching them beneath a
// directory by handle. Part of the platform services (platform.h).
#ifndef VLX_PLATFORM_FILES_H
#define VLX_PLATFORM_FILES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vlx {

// ---- Files ----

// A relative path made absolute against the current directory, without its
// "." and ".." components; an absolute or empty path as it is, but on
// Windows. On POSIX the components are removed lexically, as the text says:
// links are not resolved, so a root reached through a link keeps that name;
// doubled separators become one, a trailing one stays. On Windows the
// system's full path rules apply (GetFullPathNameW) to every path, which
// resolve "." and ".." and drive-relative forms the same way and keep a
// trailing separator. path as it is when the current directory cannot be
// had.
std::wstring make_absolute(const wchar_t* path);

// The directory part of path, with its separator ('/' or, on Windows, '\'
// too); empty when there is none.
std::wstring directory_of(const std::wstring& path);

// The system's own description of the error that made the last service of
// this header fail ("No such file or directory"; on Windows FormatMessageW's
// text in the system's language), without a line end; empty when there is
// none. Ask before anything else is done: a later call may change it.
std::wstring describe_last_error();

// True when the last service of this header failed because there is no
// such file: ENOENT or ENOTDIR (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND),
// and not because it could not be reached (no permission, a loop of links).
bool last_error_means_no_file();

// Makes describe_last_error tell of an invalid argument (EINVAL;
// ERROR_INVALID_PARAMETER), for a service that refuses one of its own.
void set_invalid_argument_error();

// Sets the error of the calling thread to "invalid data" (EINVAL;
// ERROR_INVALID_DATA): what a file that was read but does not load leaves.
void set_invalid_data_error();

// The error code that the last service of this header left (errno;
// GetLastError), and setting it again, so that a report made after a
// clean-up gives the failure's own reason.
long last_error_code();
void set_last_error_code(long code);

// Sets the error of the calling thread to what listing a file that is no
// directory gives (ENOTDIR; ERROR_DIRECTORY).
void set_not_a_directory_error();

// Sets the error of the calling thread to "out of memory" (ENOMEM;
// ERROR_NOT_ENOUGH_MEMORY): what a block that could not be had leaves.
void set_out_of_memory_error();

// Sets the error of the calling thread to what a file held by another
// process for too long leaves (EWOULDBLOCK; ERROR_LOCK_VIOLATION), and tells
// it: a failure that trying again later may mend.
void set_held_error();
bool last_error_means_held();

// True when something exists at path; a directory counts.
bool file_exists(const wchar_t* path);

// An open file; kInvalidFile means none.
using FileHandle = std::intptr_t;
constexpr FileHandle kInvalidFile = -1;

// ---- Reaching files beneath a directory by handle ----
//
// A directory is opened once and every name in it is reached from that
// handle, so that nothing renamed or planted along its path after the open
// moves what is reached, and what a name is is judged from the handle that
// opening it gave, never from a look at the name before. A symbolic link
// (on Windows a symbolic link or a junction) that stands on the way is
// followed only when it belongs to the caller or to the owner of the
// directory that holds it, in every directory: anyone else's may have been
// planted there. Such a link refuses the reach, and describe_last_error then
// says "a link owned by another user (<who>) stands in place of <path>".

// An open directory and the path it was reached by, for messages (and on
// Windows for the names beneath it, which the open handles keep from being
// moved).
struct Place {
  FileHandle directory = kInvalidFile;
  std::wstring path;
};

// Opens the directory at path as named, its links followed: the root that
// the user gave. False on failure, with the system's error.
bool open_root_directory(const wchar_t* path, Place* root);

// Opens the directory at relative (names separated by the separator)
// beneath from, under the link rule, without blocking; opened->path is
// from.path, a separator and relative. False on failure: the system's error
// (last_error_means_no_file for a missing one), or a link's refusal.
bool open_directory_beneath(const Place& from, const wchar_t* relative, Place* opened);

// Opens the file name in directory for reading, under the link rule, never
// blocking, and judges it by the open handle: a regular file is opened; a
// directory fails with the system's error for one (EISDIR;
// ERROR_ACCESS_DENIED), anything else (a FIFO, a device, a socket) is
// refused with "not a regular file: a FIFO, a device or a socket stands in
// its place". Where within is given, a file reached through a link must lie
// beneath it, or it is refused with "a link to a file outside <within>".
// kInvalidFile on failure.
FileHandle open_file_beneath(const Place& directory, const wchar_t* name, const Place* within = nullptr);

// Creates the directory name in directory. Failure (it exists, ...) is not
// reported: the opens that follow find out.
void create_directory_beneath(const Place& directory, const wchar_t* name);

// True when name in directory is itself a symbolic link (on Windows a
// reparse point), which is not followed to tell.
bool is_link_beneath(const Place& directory, const wchar_t* name);

// True when the names in directory can be listed; false with the system's
// error (no permission to read it) otherwise.
bool can_list_directory(const Place& directory);

// The names in directory (without "." and ".."), each with whether it is a
// directory; empty where it cannot be listed.
struct DirectoryEntry {
  std::wstring name;
  bool directory;
};
std::vector<DirectoryEntry> list_directory_entries(const Place& directory);

// What tells the file at path from any other version of it (its identity,
// size and modification time); empty when there is no file.
std::string file_signature(const wchar_t* path);

// Opens an existing regular file for reading, sharing read access, as
// open_file_beneath opens a name: every link on the path under the link
// rule, never blocking, judged by the open handle. Returns kInvalidFile on
// failure.
FileHandle open_file_for_reading(const wchar_t* path);

// The size in bytes of an open file; false when it cannot be told (a pipe).
bool file_size(FileHandle file, std::uint64_t* size);

// One read of up to size bytes. Returns false on failure; otherwise stores the
// number of bytes read (0 at end of file) in *count.
bool read_file(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* count);

// One read of up to size bytes at offset, the file's position unchanged;
// as read_file otherwise.
bool read_file_at(FileHandle file, std::uint64_t offset, void* buffer, std::uint32_t size, std::uint32_t* count);

// The first stretch of data at or after from in the open regular file of
// size bytes: [*data, *end). *data is size where only holes (bytes never
// written, read as zeros) remain. A system that cannot tell holes reports
// the rest of the file as data. False when the file cannot be asked.
bool find_data(FileHandle file, std::uint64_t from, std::uint64_t size, std::uint64_t* data, std::uint64_t* end);

// One write of size bytes. Returns false on failure; otherwise stores the
// number of bytes written, which may be fewer than asked, in *count.
bool write_file(FileHandle file, const void* data, std::uint32_t size, std::uint32_t* count);

// Closes the file: false when the close reports an error, such as a write
// that a network file system could not complete.
bool close_file(FileHandle file);

}  // namespace vlx

#endif  // VLX_PLATFORM_FILES_H
