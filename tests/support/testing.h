// Services for the test suite only: running the built tool as a user would,
// and causing the conditions it meets. Two backends implement this header:
// testing-posix.cpp and testing-win32.cpp.
#ifndef VLX_TESTS_SUPPORT_TESTING_H
#define VLX_TESTS_SUPPORT_TESTING_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vlx {

struct ProcessResult {
  int status;       // exit status, or 128 + signal number for a killed process
  std::string out;  // everything written to standard output
  std::string err;  // everything written to standard error
};

// Runs program with arguments (argv[1] on) in directory, with input as the
// whole of standard input. Each argument reaches the program exactly as given.
ProcessResult run_process(const std::wstring& program, const std::vector<std::wstring>& arguments,
                          const std::wstring& directory, const std::string& input);

// run_process, calling watch with all that the program has written to
// standard error so far, every few milliseconds while it runs: the test
// acts on what the program says (releases a lock once it waits for it).
ProcessResult run_process_watching(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                   const std::wstring& directory, const std::string& input,
                                   const std::function<void(const std::string& err)>& watch);

// The path of a device that takes no write: every write fails as on a full
// disk (/dev/full; under Wine the same device through drive Z:). Empty where
// there is none.
std::wstring full_device();

// run_process with standard output going to the file or device at output
// instead of being collected (ProcessResult::out stays empty).
ProcessResult run_process_into(const std::wstring& program, const std::vector<std::wstring>& arguments,
                               const std::wstring& directory, const std::string& input, const std::wstring& output);

// A program started by start_process that runs on its own.
using ProcessHandle = std::intptr_t;

// Starts program with arguments in directory and returns at once; -1 when it
// could not be started. Its standard streams are the test's.
ProcessHandle start_process(const std::wstring& program, const std::vector<std::wstring>& arguments,
                            const std::wstring& directory);

// True while the process runs.
bool process_is_running(ProcessHandle process);

// Waits for the process to end and releases what start_process holds of it.
void wait_for_process(ProcessHandle process);

// Full path of the program named base ("vlxinstall") in the directory of the
// running test program, with the platform's executable suffix.
std::wstring locate_sibling_program(const wchar_t* base);

// Calls action while writing a file beyond limit bytes fails, as on a full
// disk (RLIMIT_FSIZE on POSIX). False, without calling action, where the
// platform has no such limit (Windows).
bool run_with_file_size_limit(std::uint64_t limit, const std::function<void()>& action);

// Opens path as another program that holds a file open does on Windows:
// sharing nothing, so that no one else can open, replace or delete it until
// the handle is closed with close_file. kInvalidFile where a file cannot be
// held so (POSIX systems).
FileHandle hold_file_unshared(const std::wstring& path);

// Opens path for reading as a program that lets others read, rename and
// delete it but not write it (as many readers of data files do on Windows);
// kInvalidFile where a file cannot be held so (POSIX systems).
FileHandle hold_file_sharing_delete(const std::wstring& path);

// True while another process has path open for writing (Windows); false
// where that cannot be told (POSIX).
bool file_is_open_for_writing(const std::wstring& path);

// Sets the extended attribute name of path to value; false where the file
// system or the platform (Windows) has none.
bool set_extended_attribute(const std::wstring& path, const char* name, const std::string& value);

// The value of path's extended attribute name; empty when it has none.
std::string read_extended_attribute(const std::wstring& path, const char* name);

// The user id that owns path; -1 where the platform has none (Windows).
long file_owner(const std::wstring& path);

// Gives path to the user id owner (and its group of the same number); false
// where that is not allowed (only root may) or the platform has no owners.
bool change_owner(const std::wstring& path, long owner);

// Gives the symbolic link at path itself (not what it names) to the user id
// owner; false where that is not allowed or the platform has no owners.
bool change_link_owner(const std::wstring& path, long owner);

// Swaps what the names a and b hold in one step (renameat2's
// RENAME_EXCHANGE); false where the system cannot.
bool exchange_names(const std::wstring& a, const std::wstring& b);

// Makes a FIFO at path; false where the platform has none.
bool make_fifo(const std::wstring& path);

// The bytes of the disk that the file at path takes (its holes take none);
// -1 where that cannot be told.
long long allocated_bytes(const std::wstring& path);

// True when the tests and the tools were built with AddressSanitizer, whose
// shadow memory no limit of the address space leaves room for.
bool built_with_sanitizer();

// Sets the environment variable name to value (empty: removes it) for this
// process and the programs it starts.
void set_environment_variable(const char* name, const char* value);

// The access list of path as text (SDDL, "D:..."), for comparing; empty
// where files have none of their own (POSIX) or it cannot be read.
std::string access_list_text(const std::wstring& path);

// True where this process may run code as another user (root on POSIX).
bool can_run_as_other_users();

// Runs action in a child process with the user id user, the group id group
// and the supplementary groups groups: true when action returned true there.
// False where can_run_as_other_users is false.
bool run_as_user(long user, long group, const std::vector<long>& groups, const std::function<bool()>& action);

// What tells one file from another on its file system (the inode number;
// the file index on Windows); 0 when path cannot be examined.
std::uint64_t file_identity(const std::wstring& path);

// Gives path the hidden attribute; false where files have none (POSIX).
bool set_hidden(const std::wstring& path);

// True when path has the hidden attribute.
bool is_hidden(const std::wstring& path);

// Makes directory refuse new files (refuse true), even to root, while the
// files in it stay writable, or accept them again (false): the immutable
// attribute of Linux file systems (chattr +i), under Wine through the host's
// chattr. True when the directory now does as asked; false where the file
// system or the platform (Windows itself) has no such attribute.
bool refuse_new_files(const std::wstring& directory, bool refuse);

// Errors the tool reports, by what happened; each platform has its own code.
enum SystemError {
  kNoSuchFile,        // ENOENT; ERROR_FILE_NOT_FOUND
  kNoSuchDirectory,   // ENOENT; ERROR_PATH_NOT_FOUND
  kIsADirectory,      // EISDIR; ERROR_ACCESS_DENIED
  kNotADirectory,     // ENOTDIR; ERROR_PATH_NOT_FOUND
  kPermissionDenied,  // EACCES; ERROR_ACCESS_DENIED
  kNoSpace,           // ENOSPC; ERROR_DISK_FULL
  kFileTooLarge,      // EFBIG; ERROR_DISK_FULL
  kHeldElsewhere,     // EBUSY; ERROR_SHARING_VIOLATION
  kNotAListing,       // ENOTDIR; ERROR_DIRECTORY: a file where a directory is to be listed
  kOutOfMemory,       // ENOMEM; ERROR_NOT_ENOUGH_MEMORY
};

// The line the tool writes under a failure for error: two spaces, the
// system's own description, a line feed.
std::string reason_line(SystemError error);

// Creates a new, empty directory of its own in the system's temporary
// directory, its name starting with prefix, and returns its path; suites
// running at the same time never share one.
std::wstring make_scratch_directory(const std::wstring& prefix);

// text as it appears on a console stream: each line feed becomes the
// platform's console line end.
std::string console_text(const std::string& text);

}  // namespace vlx

#endif  // VLX_TESTS_SUPPORT_TESTING_H
