// Replacing files, alone and together, and what killed replacements leave.
// Part of the platform services (platform.h).
#ifndef VLX_PLATFORM_REPLACING_H
#define VLX_PLATFORM_REPLACING_H

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"

namespace vlx {


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
  FileHandle directory = kInvalidFile;  // POSIX: target's directory, where the names are made, until discarded
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
  // Windows: the attributes of the old file when its read-only attribute was
  // cleared for the move (a system without POSIX-semantics renames); -1 when
  // it was not.
  long replaced_attributes = -1;
};

// Opens a replacement for a store to path: a symbolic link on the way or at
// the name is followed under the link rule (files.h) and the file it names
// replaced, so that the link stays a link; a device or FIFO is written in
// place, and so is a target whose directory refuses a new file, opened now.
// The new file is ".NAME.XXXXXX.tmp" beside the target NAME, so that one an
// interrupted store leaves tells what it was. False when none could be
// opened: path names a directory, or its directory is missing, or neither a
// new file in it nor the target itself can be written.
bool begin_replacement(const wchar_t* path, FileReplacement* replacement);

// Opens a replacement for the file name in directory that an installation
// stages: whatever stands at the name (a link, a FIFO, a device) is replaced
// by the new file, and nothing is written through it; a regular file written
// in place (its directory refuses new files) is not opened now but at the
// commit (in_place set, nothing open). The new file is ".vlxinstall-XXXXXX",
// which the installer's sweep finds. False as begin_replacement; a target
// that is no regular file is never written in place.
bool begin_replacement_in(const Place& directory, const wchar_t* name, FileReplacement* replacement);

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

// Ends a replacement, committed or not: removes a temporary file not moved (on Windows
// through its own handle while it is open, so that the directory's
// permission to delete is not needed) and closes what is open. A target
// replaced by rename stays as it was unless committed; one written in place
// holds what was written of it.
void discard_replacement(FileReplacement* replacement);

// ---- Replacing files together ----

// Files made ready one by one (staged) beside their targets and then put in
// place together, so that a run that fails before the commit leaves every
// target as it was.
struct StagedFile {
  FileReplacement replacement;  // the new file, whole and flushed, not yet moved
  std::wstring source;          // the file it is a copy of; empty for contents
  FileHandle source_file = kInvalidFile;  // the source, open, where the copy is made at the commit
  std::string contents;         // the bytes it gets, when it is no copy
  bool unchanged = false;       // the target is its source already: nothing to do
  std::wstring kept;            // during the commit: the old file under an aside name
  bool kept_by_move = false;    // the old file was moved there, not linked (its name is empty)
  bool moved = false;           // the new file stands at the target
  FileHandle saved = kInvalidFile;  // written in place: the old file's bytes, to give it back
  bool written = false;         // written in place at this commit
};

struct StagedFiles {
  std::vector<StagedFile> files;
  // After a commit that failed: the targets that hold their new file because
  // the old one could not be put back, those new where there was no old file
  // and that could not be removed, and those written in place whose old
  // bytes could not be written back (now incomplete).
  std::vector<std::wstring> not_put_back;
  std::vector<std::wstring> not_removed;
  std::vector<std::wstring> not_restored;
};

// Stages a copy of the open regular file source (its path source_path)
// for name in directory, as copy_file makes it up to the move: a target that
// is the source itself is staged as unchanged, and a target whose directory
// refuses a new file is staged to be written in place at the commit. source
// is the staged set's from then on, whatever the result. True when staged
// (files gains one); false, with the error as copy_file's, when nothing was.
bool stage_copy(StagedFiles* staged, FileHandle source, const wchar_t* source_path, const Place& directory,
                const wchar_t* name);

// stage_copy from the file staged as files[index], as it was staged.
bool stage_copy_of(StagedFiles* staged, std::size_t index, const Place& directory, const wchar_t* name);

// Stages contents as the new file of name in directory, as stage_copy does.
bool stage_contents(StagedFiles* staged, const Place& directory, const wchar_t* name, const std::string& contents);

// What the commit does when a file cannot be put in place: true skips it
// (its target stays as it was, its staged file is removed) and goes on;
// false puts back every file moved so far and ends the commit.
using CommitFailure = bool (*)(std::size_t index, void* context);

// Puts the staged files in place: first those written in place, each saved
// first (its bytes, mode and times, in a private file of the system's
// temporary directory) and, where its write fails, given back its old bytes;
// a fatal failure later gives every file written in place its old bytes
// back. Then, in order, each new file over its target, keeping the
// old file under an aside name (a hard link where the file system has them,
// so that the name is never empty); then flushes each directory that received
// one, and removes the kept files. failed is called right after a file's
// failure, with its error and last_target_damage still to be read; a flush
// that fails is the failure of the last file moved into that directory and
// always puts back. True when every file not skipped stands; false when the
// commit was ended: every moved file was put back but those in not_put_back
// (and new files removed but those in not_removed), every file written in place has its old bytes but those in not_restored,
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

// Makes the renames into the directory of replacement survive a power cut:
// fsync of the directory on POSIX. Windows has no call that flushes a
// directory: a rename within a volume is recorded in the file system's
// journal, which is committed lazily, so shortly after a power cut a renamed
// file may have its old name back (each file old or new as a whole); this
// does nothing there. False when the flush fails; a directory that cannot be
// opened for it, or a file system that cannot flush one, is left as it is.
bool flush_replacement_directory(const FileReplacement& replacement);

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
std::vector<std::wstring> list_replacement_leftovers(const Place& directory);

// For name, one that list_replacement_leftovers gave for directory: the
// name that the program had when name is a running program that a run moved
// aside (Windows), which is no left-over but the replaced program still in
// use; empty for any other. Nothing is changed.
std::wstring running_program_moved_aside(const Place& directory, const std::wstring& name);

// Who made name in directory, when that is not the user running the tool:
// "user <uid>" on POSIX, the owner's SID on Windows; empty for the caller's
// own file, or where the owner cannot be told.
std::wstring owner_if_another_user(const Place& directory, const std::wstring& name);

// Removes from directory the temporary files of replacements that a process
// killed before their end left behind: only names of their own pattern. On
// Windows it also clears the programs that replacements renamed aside: one
// whose name is empty again is moved back there, and any other is removed
// once the program has ended (while it runs it stays, without a message).
void remove_stale_replacements(const Place& directory);

}  // namespace vlx

#endif  // VLX_PLATFORM_REPLACING_H
