// Operating-system and run-time services used by the installer and the init
// file library. Two backends implement this header: platform-win32.cpp with
// replacement-win32.cpp (KERNEL32) and platform-posix.cpp with
// replacement-posix.cpp (Linux); console.cpp (the C runtime's streams),
// replacement.cpp and utf8.cpp serve both. No system header is exposed here;
// callers see only plain types.
#ifndef VLX_PLATFORM_PLATFORM_H
#define VLX_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The program's entry. The program defines it; on Windows the C runtime calls
// it, elsewhere the platform's start-up decodes the 8-bit arguments first.
int wmain(int argc, wchar_t* argv[]);

// Native path conventions. PATH_SEP is a wide string literal so that path
// formats can be spelled as literal concatenations: L"%s" PATH_SEP L"bin".
#ifdef _WIN32
#define PATH_SEP L"\\"
#else
#define PATH_SEP L"/"
#endif

// The services are in namespace vlx: the init file library carries them into
// programs of others, whose own names they must not meet.
namespace vlx {

#ifdef _WIN32
constexpr wchar_t kPathSeparator = L'\\';
constexpr int kPathCapacity = 260;  // MAX_PATH, terminator included
constexpr bool kSlashQuestionIsHelp = true;  // Windows programs answer "/?" with their usage
#else
constexpr wchar_t kPathSeparator = L'/';
constexpr int kPathCapacity = 4096;  // PATH_MAX, terminator included
constexpr bool kSlashQuestionIsHelp = false;  // "/?" is a path
#endif

// ---- Program identity ----

// Handle of the running program; null means it could not be obtained.
void* get_module_handle();

// Writes the full file name of the running program, terminated, into buffer
// (capacity wide characters). Returns its length, or 0 when the name is not
// available or does not fit.
int get_module_file_name(void* module, wchar_t* buffer, int capacity);

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

// Creates one directory. Failure (it exists, the parent is missing, ...) is
// not reported: callers find out through the operations that follow.
void create_directory(const wchar_t* path);

// True when path is a directory whose names can be listed. False when it is
// something else (the error then ENOTDIR; ERROR_DIRECTORY on Windows) or
// cannot be listed (the system's error), for describe_last_error.
bool can_list_directory(const wchar_t* path);

// True when something exists at path; a directory counts.
bool file_exists(const wchar_t* path);

// True when path itself is a symbolic link (on Windows a reparse point).
bool is_symbolic_link(const wchar_t* path);

// Whether a file may be copied into an installation, looked at without
// opening it: a file someone else may have put in its place must be a
// regular file, or a link to one within the installation.
enum SourceTrust {
  kSourceAccepted,  // a regular file or a directory (whose copy fails as such), or a link to one within
  kSourceNotAFile,  // a FIFO, a device or a socket, or a link to one
  kSourceOutside,   // a link to a file outside within
};
SourceTrust examine_source(const wchar_t* path, const wchar_t* within);

// An open file; kInvalidFile means none.
using FileHandle = std::intptr_t;
constexpr FileHandle kInvalidFile = -1;

// Copies the regular file source to target through a replacement (below):
// target is at every moment either its old self or a whole copy, unless the
// directory refuses a new file and target is written in place. The copy
// keeps the source's modification time and permission bits (on Windows its
// attributes, added to those of the file it replaces) where the file system
// allows. The source is opened before the target is touched, and a target
// that is the source itself (through a link or another name of it) is left
// as it is and counts as copied. Returns true on success; on failure a
// target replaced by rename is left as it was, no temporary file remains, and
// last_target_damage says what became of a target written in place.
bool copy_file(const wchar_t* source, const wchar_t* target);

// ---- Replacing files ----

// A file being written to take the place of another. A replacement is always
// a new file, as package managers make: the bytes go to a temporary file
// beside the target, which is given what made the old file that file to its
// users, flushed to the disk and renamed over the target. Other names of the
// old file (hard links, snapshots) keep the old contents.
//
// After the data and before the flush, the new file carries, each item
// skipped where the system refuses it (a refusal never fails the
// replacement): on POSIX the group, and the owner where the caller may give
// it; the extended attributes (user.*, access lists, security labels) but
// security.capability, which was granted to the old program and not to new
// bytes; and last the permission bits, so that set-ID bits survive. On
// Windows the owner and group (the group alone where the owner cannot be
// given), the access list, and the attributes.
//
// Only where the directory refuses a new file (EACCES or EPERM; on Windows
// ERROR_ACCESS_DENIED) and the target opens for writing is the target written
// in place, which is not one step: a failure part-way leaves it incomplete.
// On Windows it is written over from its start and cut at the close, so that
// it keeps its bytes until the first new ones are written.
// A target that exists but is not a regular file (a device such as /dev/full
// or NUL, a FIFO) is written in place too. A symbolic link is followed and
// the file it names is replaced, so the link stays a link.
// The wait that one file's replacement gives other programs' brief holds on
// Windows: one budget for all its steps (the move, a move aside and the move
// back), counted from the first refusal of any of them.
struct HeldFileWait {
  bool refused = false;             // a step has been refused
  std::uint64_t first_refusal = 0;  // when, in milliseconds of a steady clock
  std::uint64_t pause = 0;          // the pause given last, in milliseconds
};

struct FileReplacement {
  FileHandle file = kInvalidFile;       // where the new contents go
  std::wstring target;                  // the file replaced, links followed
  std::wstring temporary;               // the new file beside target; empty when written in place
  FileHandle directory = kInvalidFile;  // POSIX: target's directory, where the names are made
  bool replaces = false;                // something stands at the name and is replaced (or written in place)
  bool carries = false;                 // it is a regular file, whose identity the new file may carry
  bool in_place = false;                // the target itself is written: its directory refuses a new file
  // The permission bits (POSIX) or attributes (Windows) that close_replacement
  // gives the file last: the old file's, unless the caller sets others; -1
  // for none (a new file keeps what it was created with).
  long mode = -1;
  // POSIX: the user and group that the set-ID bits of mode belong to; a bit
  // is given only to a new file of that user (group). -1: mode's own file.
  long mode_owner = -1;
  long mode_group = -1;
  HeldFileWait wait;                    // Windows: what its steps have waited so far
};

// How begin_replacement treats what stands at the name.
enum ReplacementMode {
  // A store: a symbolic link is followed and the file it names replaced; a
  // device or FIFO is written in place, and a target written in place is
  // opened now. The new file is ".NAME.XXXXXX.tmp" beside the target NAME,
  // so that one an interrupted store leaves tells what it was.
  kFollowLinks,
  // A file an installation stages: whatever stands at the name (a link, a
  // FIFO, a device) is replaced by the new file, and nothing is written
  // through it; a regular file written in place (its directory refuses new
  // files) is not opened now but at the commit (in_place set, nothing open).
  // The new file is ".vlxinstall-XXXXXX", which the installer's sweep finds.
  kReplaceName,
};

// Opens a replacement for path. False when none could be opened: path names a
// directory, or its directory is missing, or neither a new file in it nor
// the target itself can be written (with kReplaceName: a target that is no
// regular file is never written in place).
bool begin_replacement(const wchar_t* path, FileReplacement* replacement, ReplacementMode mode = kFollowLinks);

// Gives a new file what it carries (above) and mode and flushes it to the
// disk (fsync; FlushFileBuffers). A file written in place is closed; a new
// file stays open for commit_replacement or discard_replacement (on Windows
// unshared, so that no other program can hold it before its move). False
// when the flush or the close fails: the contents may not have reached the
// disk.
bool close_replacement(FileReplacement* replacement);

// Renames the temporary file over the target and closes it (on Windows
// through its own handle). False when that fails; the target is then as it
// was. On Windows a target that is read-only has the attribute cleared for
// the move, and a target that refuses the move past the wait (a running
// program, which Windows lets rename but not replace) is first renamed aside
// under an aside name, which a later sweep removes once the program has ended.
bool commit_replacement(FileReplacement* replacement);

// Abandons a replacement that failed: removes the temporary file (on Windows
// through its own handle while it is open, so that the directory's
// permission to delete is not needed) and closes what is open. A target replaced by rename stays as it was;
// one written in place holds what was written of it.
void discard_replacement(FileReplacement* replacement);

// ---- Replacing files together ----

// Files made ready one by one (staged) beside their targets and then put in
// place together, so that a run that fails before the commit leaves every
// target as it was.
struct StagedFile {
  FileReplacement replacement;  // the new file, whole and flushed, not yet moved
  std::wstring source;          // the file it is a copy of; empty for contents
  std::string contents;         // the bytes it gets, when it is no copy
  bool unchanged = false;       // the target is its source already: nothing to do
  std::wstring kept;            // during the commit: the old file under an aside name
  bool kept_by_move = false;    // the old file was moved there, not linked (its name is empty)
  bool moved = false;           // the new file stands at the target
};

struct StagedFiles {
  std::vector<StagedFile> files;
  // After a commit that failed: the targets that hold their new file because
  // the old one could not be put back.
  std::vector<std::wstring> not_put_back;
};

// Stages a copy of source for target, as copy_file makes it up to the move:
// source is opened first, a target that is the source itself is staged as
// unchanged, and a target whose directory refuses a new file is staged to be
// written in place at the commit. True when staged (files gains one); false,
// with the error as copy_file's, when nothing was.
bool stage_copy(StagedFiles* staged, const wchar_t* source, const wchar_t* target);

// stage_copy from the file staged as files[index], as it was staged.
bool stage_copy_of(StagedFiles* staged, std::size_t index, const wchar_t* target);

// Stages contents as the new file of target, as stage_copy does.
bool stage_contents(StagedFiles* staged, const wchar_t* target, const std::string& contents);

// What the commit does when a file cannot be put in place: true skips it
// (its target stays as it was, its staged file is removed) and goes on;
// false puts back every file moved so far and ends the commit.
using CommitFailure = bool (*)(std::size_t index, void* context);

// Puts the staged files in place: first those written in place (they cannot
// be put back), then, in order, each new file over its target, keeping the
// old file under an aside name (a hard link where the file system has them,
// so that the name is never empty); then flushes each directory that received
// one, and removes the kept files. failed is called right after a file's
// failure, with its error and last_target_damage still to be read; a flush
// that fails is the failure of the last file moved into that directory and
// always puts back. True when every file not skipped stands; false when the
// commit was ended: every moved file was put back but those in not_put_back,
// and no staged file remains.
bool commit_staged_files(StagedFiles* staged, CommitFailure failed, void* context);

// Removes every staged file that was not put in place: a run that fails
// leaves no new file.
void discard_staged_files(StagedFiles* staged);

// What the copy or replacement that failed last on this thread left of its
// target, for the lines under its failure; ask right after the failure, as
// with describe_last_error.
enum TargetDamage {
  kTargetIntact,      // as it was
  kTargetIncomplete,  // a regular file written in place and cut short
  kTargetMovedAside   // Windows: a running program was moved aside and could not be moved back
};
// The damage, and for kTargetMovedAside where the program now is (in
// *moved_to, when not null).
TargetDamage last_target_damage(std::wstring* moved_to);

// Makes the renames into the directory that holds path survive a power cut:
// fsync of the directory on POSIX. Windows has no call that flushes a
// directory: a rename within a volume is recorded in the file system's
// journal, which is committed lazily, so shortly after a power cut a renamed
// file may have its old name back (each file old or new as a whole); this
// does nothing there. False when the flush fails; a directory that cannot be
// opened, or a file system that cannot flush one, is left as it is.
bool flush_parent_directory(const wchar_t* path);

// On Windows every step of a replacement or a copy, and the removal of its
// temporary file, is repeated while another program's brief hold refuses it
// (a virus scanner, the indexer or a backup agent opening a file just
// closed): with pauses growing from 1 ms to 250 ms, for at most this long in
// all the steps of one file, from the first refusal.
constexpr int kHeldFileWaitMilliseconds = 2000;

// The pause in milliseconds before a refused step is tried again, given the
// time of this refusal (now, in milliseconds of the clock of wait); -1 when
// wait's time is used up and the step has failed. The pauses double from
// 1 ms to 250 ms and never reach past the end of the wait.
long long next_held_file_pause(HeldFileWait* wait, std::uint64_t now);

// The names (without a directory) of what replacements that a process killed
// before their end left in directory: temporary files, and on Windows the
// programs renamed aside. None where the directory cannot be listed.
std::vector<std::wstring> list_replacement_leftovers(const wchar_t* directory);

// For name, one that list_replacement_leftovers gave for directory: the
// name that the program had when name is a running program that a run moved
// aside (Windows), which is no left-over but the replaced program still in
// use; empty for any other. Nothing is changed.
std::wstring running_program_moved_aside(const wchar_t* directory, const std::wstring& name);

// Removes from directory the temporary files of replacements that a process
// killed before their end left behind: only names of their own pattern. On
// Windows it also clears the programs that replacements renamed aside: one
// whose name is empty again is moved back there, and any other is removed
// once the program has ended (while it runs it stays, without a message).
void remove_stale_replacements(const wchar_t* directory);

// ---- One run at a time ----

enum LockResult {
  kLockTaken,       // this process holds the lock
  kLockHeld,        // another process holds it
  kLockUnavailable  // it cannot be had: directory missing, not a directory
};

// Tries once, without waiting, to take the lock that one process at a time
// holds through the file lock_path, made where it is missing, which only a
// user who may write its directory can open for writing (a write lock on it
// on POSIX; on Windows opened unshared and deleted on close). A taken lock
// is held until it is released or the process ends, however it ends; lock
// may be null when it is kept to the end.
LockResult lock_file(const wchar_t* lock_path, FileHandle* lock);

// Releases a lock that lock_file took, removing its file, so that the file
// is gone when the process is (Wine closes a dead process's handles a moment
// later; a killed process's file stays, and the next one reuses it).
void release_file_lock(const wchar_t* lock_path, FileHandle lock);

// What tells the file at path from any other version of it (its identity,
// size and modification time); empty when there is no file.
std::string file_signature(const wchar_t* path);

// Opens an existing file (not a directory) for reading, sharing read access.
// Returns kInvalidFile on failure.
FileHandle open_file_for_reading(const wchar_t* path);

// open_file_for_reading, but on Windows a refusal that another program's
// brief hold explains is waited out as the steps of a copy are (for
// kHeldFileWaitMilliseconds from the first refusal).
FileHandle open_file_for_reading_when_free(const wchar_t* path);

// The size in bytes of an open file; false when it cannot be told (a pipe).
bool file_size(FileHandle file, std::uint64_t* size);

// One read of up to size bytes. Returns false on failure; otherwise stores the
// number of bytes read (0 at end of file) in *count.
bool read_file(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* count);

// One write of size bytes. Returns false on failure; otherwise stores the
// number of bytes written, which may be fewer than asked, in *count.
bool write_file(FileHandle file, const void* data, std::uint32_t size, std::uint32_t* count);

// Closes the file: false when the close reports an error, such as a write
// that a network file system could not complete.
bool close_file(FileHandle file);

// ---- Text ----

// UTF-8 to wide characters, losslessly: a byte that is not part of valid UTF-8
// becomes U+DC80 + byte, which encode_utf8 turns back into that byte.
std::wstring decode_utf8(const char* text, std::size_t length);

// Wide characters to UTF-8, the inverse of decode_utf8. Any other unpaired
// surrogate, or a value beyond U+10FFFF, becomes U+FFFD.
std::string encode_utf8(const wchar_t* text);

// A path as the launcher configuration stores it: UTF-8 as the system itself
// converts it (on Windows lone surrogates become U+FFFD; elsewhere the
// conversion is encode_utf8's).
std::string convert_path_to_utf8(const wchar_t* path);

// Compares two 8-bit strings ignoring ASCII letter case; 0 means equal.
int compare_ignoring_case(const char* a, const char* b);

// ---- Console ----

enum ConsoleStream { kStandardOutput, kStandardError };

// Writes 8-bit text; a line feed becomes the platform's console line end.
void write_console(ConsoleStream stream, const char* text, std::size_t length);

// Renders a wide string as 8-bit text for stream: UTF-8, or on a Windows
// console its output code page, with '?' for what the code page lacks.
std::string render_for_console(ConsoleStream stream, const wchar_t* text);

// Writes format to stream with each "%S" replaced by the next wide argument
// (at most two), rendered for that stream.
void print_message(ConsoleStream stream, const char* format, const wchar_t* first = nullptr,
                   const wchar_t* second = nullptr);

// Writes out what the stream holds. False when the stream could not be
// written, then or before (a full disk, a closed pipe): describe_last_error
// says why.
bool flush_console(ConsoleStream stream);

// Reads a line from standard input with fgets semantics: stops after a line
// feed, after size - 1 bytes or at end of input, and terminates. Returns null
// when nothing at all could be read.
char* read_console_line(char* buffer, int size);

// True when the last read_console_line that read nothing found standard input
// at its end or closed (not a read error).
bool console_input_ended();

// Reads one byte from standard input; -1 at end of input or on error.
int read_console_byte();

// True when standard input and output are a console window that no other
// process shares: the program was started on its own (from Explorer), not
// from a shell that keeps the window when the program ends. Never on POSIX
// systems, where a terminal outlives the programs run in it.
bool console_is_own_window();

// Ends the process at once with status, flushing the console streams.
[[noreturn]] void exit_process(int status);

}  // namespace vlx

#endif  // VLX_PLATFORM_PLATFORM_H
