// Init files: sectioned key=value text files with comments, backslash escapes
// and continuation lines, and their in-memory documents.
//
// Text format, as the reader takes it:
//   [section]           a header: '[' name ']', more than two bytes long
//   key = value         an entry: spaces around the first '=' are dropped
//   ; comment           from an unescaped ';' to the end of the physical line
//   \; \\ \<other>      a backslash makes the next byte literal
//   text \              a backslash at the end of a line joins the next line
// Only the space is blank; leading and trailing spaces of a line are removed,
// carriage returns are ignored, empty lines produce nothing.
//
// All text is 8-bit and null-terminated. Arrays start with 10 slots and grow
// by 10. Names and keys compare byte for byte; the first match wins.
//
// This header is C and C++. The caller owns each document it creates or
// loads, each edit it opens and every block a function returns; a document
// owns its sections, a section its name and entries. Documents and edits
// share nothing: different ones may be used from different threads at once,
// one document from one thread at a time (or from several that only look
// values up), one edit from one thread at a time. initfile.hpp is the C++
// interface over these functions.
#ifndef VLX_INITFILE_INITFILE_H
#define VLX_INITFILE_INITFILE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// The structures below are the library's. A caller reads their fields
// (counts, names, keys, values) and changes nothing through them: their
// storage is laid out as the library chooses (an entry's text may share the
// block of its record), so no name, key, value, array or record may be
// freed, reallocated or kept after the library releases it. Documents and
// sections are released with free_init_file and free_init_section, entries
// and sections removed with delete_init_entry and delete_init_section.

// An entry: its key and its value.
typedef struct InitEntry {
  char* key;
  char* value;
} InitEntry;

typedef struct InitSection {
  int32_t count;     // entries in use
  int32_t capacity;  // slots of entries
  char* name;        // owned, without brackets
  InitEntry** entries;
} InitSection;

typedef struct InitFile {
  int32_t count;     // sections in use
  int32_t capacity;  // slots of sections
  InitSection** sections;
} InitFile;

// ---- Documents ----

// Memory. Every block the library takes is checked: a function that could not
// have one changes nothing and fails as it says below, with ENOMEM
// (ERROR_NOT_ENOUGH_MEMORY on Windows) as the system's error; a load then
// gives null with line 0.

// A new empty document, owned by the caller and released with free_init_file;
// null when no memory could be had.
InitFile* create_init_file(void);

// Releases the document with all its sections and entries.
void free_init_file(InitFile* file);

// A new empty section holding its own copy of name, or null when no memory
// could be had. It belongs to the caller until added to a document.
InitSection* create_init_section(const char* name);

// Releases the section with its name and entries.
void free_init_section(InitSection* section);

// Gives section to the document: 1 if it was appended; 0 if it replaced (and
// released) the first section of the same name, in that section's place; -1
// when the document could not grow (section stays the caller's).
// The caller may keep filling section through its own pointer.
int add_init_section(InitFile* file, InitSection* section);

// The first section named name, or null. It stays owned by the document.
InitSection* lookup_init_section(InitFile* file, const char* name);

// Releases the first section named name and moves the last section into its
// slot: 0 if a section was removed, 1 if none has that name.
int delete_init_section(InitFile* file, const char* name);

// Name of the section at index, or null when index is negative or not below
// count. The name belongs to the section.
char* init_section_name_at(InitFile* file, int index);

// A new section named new_name with a copy of each key of section, carrying
// the value of the key's first entry. Owned by the caller; null when no
// memory could be had.
InitSection* copy_init_section(InitSection* section, const char* new_name);

// ---- Entries ----

// Sets key to a copy of value: 1 if a new entry was appended; 0 if the first
// entry with that key got the new value and kept its place; -1, with the
// section unchanged, when no memory could be had for the copy.
int set_init_entry(InitSection* section, const char* key, const char* value);

// The value of the first entry with key, or null. Valid until that entry is
// replaced or deleted or the document released.
char* lookup_init_value(InitSection* section, const char* key);

// Key of the entry at index, or null when index is negative or not below
// count.
char* init_entry_key_at(InitSection* section, int index);

// Releases the first entry with key and moves the last entry into its slot:
// 0 if an entry was removed, 1 if none has that key.
int delete_init_entry(InitSection* section, const char* key);

// ---- Files ----

// Paths are wide strings: UTF-16 on Windows; elsewhere each character is a
// Unicode code point, U+DC80 to U+DCFF standing for a byte that is not UTF-8.
// Each function that takes a path has a form for UTF-8 paths too, its name
// ending in _utf8 (at the end of this header).
//
// The system's error. A function of this header that fails for a reason of
// the system leaves the system's error code for the caller to read (errno on
// POSIX, GetLastError() on Windows): a load or an open of an edit that gives
// null with line 0 (the file could not be opened: ENOENT, EACCES, EISDIR,
// ELOOP, ...; a read error while an edit read the file), a store's -1 (the
// new file could not be made or put in place) and -2 (a write, flush or close
// failed: ENOSPC, EFBIG, EIO, ...), and hold_init_file's -1. A file that was
// read but does not load (null with line > 0) leaves EINVAL
// (ERROR_INVALID_DATA). -3 of store_init_edit is no error of the system.

// Reads an init file into a new document owned by the caller. Null when the
// file cannot be opened or is malformed: its first line is not a header, or a
// later line is neither an entry nor a header. A file without lines gives an
// empty document. A read error ends the file after its last complete line:
// the line it cut off is dropped.
InitFile* load_init_file(const wchar_t* path);

// Where and why a load failed.
typedef struct InitLoadError {
  // The physical line (from 1) where the offending logical line starts; 0
  // when the file could not be opened or read, and after a success.
  int32_t line;
  // A short English phrase that names what is wrong ("an entry before the
  // first section header", "the file cannot be opened", ...): static text,
  // never null after a failed load. After a success null, or the phrase for a
  // read error that ended the file early (the document holds what came
  // before it). The system's own description of an open or read error is
  // the caller's to add.
  const char* reason;
} InitLoadError;

// load_init_file, saying in *error (when error is not null) where and why
// the file was rejected. The same loader: load_init_file is this with the
// report ignored. Both read a file only while no change of this library
// holds it (hold_init_file; a change may write the file in place), and
// read again when it changed while it was read, so that no half-written
// file is loaded; after 30 seconds of that, null with "another change held
// the file for 30 seconds" and the held error (EWOULDBLOCK;
// ERROR_LOCK_VIOLATION), which trying again later may mend.
InitFile* load_init_file_reporting(const wchar_t* path, InitLoadError* error);

// Writes the document to path: one "[name]" line per section and one
// "key=value" line per entry with ';' and '\' escaped in keys and values, each
// line ended by a line feed. The file is replaced by a new one: the text goes
// to a temporary file beside it, ".NAME.XXXXXX.tmp" for the target NAME,
// readable by the caller alone until it is ready, which is given the old
// file's permission bits (on Windows its attributes) and, only where it keeps
// the old owner (the caller is that owner or may give files away), its
// owner, group and extended attributes (on Windows its security descriptor);
// a set-ID bit stays only with its user or group. It is flushed (fsync;
// FlushFileBuffers) and renamed over the old file, and on POSIX the directory
// is flushed after the rename. path then holds at every moment either its old
// contents or all the new ones; other names of the old file (hard links)
// keep the old contents. Only where the directory refuses a new file is the
// file written in place, and a failure part-way leaves it cut short. A
// symbolic link is followed and the file it names replaced, but not one in a
// sticky directory that others may write (/tmp) that is neither the caller's
// nor the directory owner's (-1, EACCES); a device or FIFO is written in
// place. Windows has no call that flushes a directory: there the rename is as
// durable as the file system's journal makes it. Returns 0 when all was
// written and flushed; -1 when the file could not be created or put in
// place; -2 when a write, a flush or the close failed. On -1 and on -2 before
// the rename, a file replaced by rename is untouched (one written in place,
// or a device, has what was written) and no temporary file remains; -2 from
// the directory's flush comes after the rename, and the file holds the new
// text. Only a process that ends part-way leaves its temporary file.
int store_init_file(InitFile* file, const wchar_t* path);

// ---- Text in memory ----

// The document for the length bytes at text, read by the same rules as a
// file's: zero bytes are data, as in a file. Null when malformed.
InitFile* load_init_text(const char* text, size_t length);

// load_init_text, saying in *error (when not null) where and why the text was
// rejected, as load_init_file_reporting does.
InitFile* load_init_text_reporting(const char* text, size_t length, InitLoadError* error);

// Exactly the bytes store_init_file would write for the document, in a block
// the caller releases with free(). The block is terminated for convenience;
// *length, when length is not null, is the number of bytes without the
// terminator. Null when no block could hold the text.
char* store_init_text(InitFile* file, size_t* length);

// ---- Visiting the lines of a text ----

// What visit_init_text and visit_init_file call for each section header
// (key and value null) and each entry, in file order: line is the physical
// line (from 1) where its logical line starts, section the name of the
// section it is in, key and value as the loader reads them. The texts are
// valid during the call only. Non-zero stops the visit.
typedef int (*InitVisitor)(void* context, int32_t line, const char* section, const char* key,
                           const char* value);

// Calls visit for every header and entry of the length bytes at text, by the
// loader's rules: 0 when every line was visited, 1 when visit stopped it, -1
// at the first line that breaks the rules or when no memory could be had
// (*report, when report is not null, as load_init_text_reporting gives it;
// the lines before it were visited).
int visit_init_text(const char* text, size_t length, InitVisitor visit, void* context, InitLoadError* report);

// visit_init_text for the file at path, read whole first as
// load_init_file_reporting reads it: -1 also when it cannot be opened or
// read, or stayed held (then nothing was visited).
int visit_init_file(const wchar_t* path, InitVisitor visit, void* context, InitLoadError* report);

// ---- Editing a file and keeping everything else ----

// The text of an init file, changed where a change names and nowhere else:
// comments, blank lines, spacing, escapes, order and line ends all stay.
// Look-ups and sets find the first section of a name and its first entry of
// a key, as lookup_init_section and lookup_init_value do; deletes remove
// every match. The text always reads back, with load_init_text, as the
// document the same changes would make of the loaded original
// (set_init_entry, create_init_section with add_init_section for a new
// section, and delete_init_entry or delete_init_section repeated while one
// matches), but that deletions keep the order. Opaque: made by the open
// functions, released with free_init_edit. Strings it returns stay valid
// until the next change or its release.
typedef struct InitEdit InitEdit;

// The text of the file at path to edit, or null when the file cannot be read
// or does not load. The report (when report is not null) is that of
// load_init_file_reporting, but for two cases: a path where there is no such
// file (ENOENT or ENOTDIR; ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND)
// opens as an empty text, with line 0 and the reason "the file does not
// exist" (a first set and a store create the file), and a read error part-way
// gives null with line 0 and the reason "a read error ended the file early",
// since a store would otherwise cut the file short. Any other failure to open
// (no permission, a loop of links) gives null with line 0 and "the file
// cannot be opened", the system's error left to be read. A file that was read
// whole leaves the reason null.
InitEdit* open_init_edit(const wchar_t* path, InitLoadError* report);

// The length bytes at text to edit, or null when they do not load, with the
// report (when report is not null) of load_init_text_reporting.
InitEdit* open_init_edit_text(const char* text, size_t length, InitLoadError* report);

// The value of the first entry with key in the first section named section,
// as the loader gives it; null when there is none. The edit holds one value
// per entry looked up until its next change, however often it is looked up.
const char* init_edit_value(const InitEdit* edit, const char* section, const char* key);

// Sets key in the first section named section to value: 0 when the first
// entry with key already reads as value (then no byte changes), or when its
// value was replaced, only the bytes of its raw value
// rewritten (escaped as the writer escapes; a value continued over several
// lines becomes one line, and the comment of its last line stays; an empty
// value is set where the loader starts it, after the '=' and its spaces); 1
// when a new line "key=value" was put right after the section's last entry
// line, or its header when it has none, with the leading spaces of the entry
// line above it; 1 also when the section was added at the end of the text,
// "[section]" (escaped the same way) and then that line. New lines end as
// the text's first line does (CR LF or LF), and a line end is put first
// where the text lacks one. -1, and nothing changes, when the text cannot
// hold the change so that it reads back: a value that begins or ends with a
// space or holds CR or LF; a key that is empty, holds '=', CR or LF or begins
// or ends with a space; a section name that is empty or holds '=', CR or LF.
int set_init_edit_value(InitEdit* edit, const char* section, const char* key, const char* value);

// Removes the physical lines of every entry with key in every section named
// section, so that no look-up finds one afterwards: 0 when any was removed,
// 1 when there is none.
int delete_init_edit_entry(InitEdit* edit, const char* section, const char* key);

// Removes every section named section: each from the comment lines directly
// above its header (no empty line between) to those directly above the next
// header, which stay with it. The walk back over comment lines stops at the
// end of the line above: a comment line that a backslash continues into
// belongs to that entry, and stays. 0 when any was removed, 1 when there is
// none.
int delete_init_edit_section(InitEdit* edit, const char* section);

// Renames every section named section to new_name: only the bytes of the
// names between the brackets change (new_name escaped as the writer escapes
// names). 0 when renamed (or new_name is section), 1 when there is no such
// section, -1 when new_name is empty or holds '=', CR or LF, -2 when a
// section named new_name is there already, -3 when no memory could be had;
// on any but 0 nothing changes.
int rename_init_edit_section(InitEdit* edit, const char* section, const char* new_name);

// Renames key to new_key in every section named section, every entry with
// it: only the bytes of the keys change. 0, 1 (no such entry), -1 (new_key
// empty, holding '=', CR or LF, or beginning or ending with a space), -2
// (new_key is in one of those sections already) and -3 as for sections.
int rename_init_edit_key(InitEdit* edit, const char* section, const char* key, const char* new_key);

// The current text, terminated for convenience; *length (when length is not
// null) is the number of bytes without the terminator.
const char* init_edit_text(const InitEdit* edit, size_t* length);

// Writes the current text to path, with the replacement and the results of
// store_init_file: 0, -1 or -2; and -3, writing nothing, when path is the
// one the edit was opened from and the file there is no longer the one it
// read or last stored (another program changed, replaced, made or removed
// it since): a store never writes over another's change. A null edit (what
// a move leaves in C++) is -1 with an invalid-argument error, and writes
// nothing.
int store_init_edit(const InitEdit* edit, const wchar_t* path);

// A hold of a file for a whole read-change-store: one process at a time
// holds a file, so that changes made by several processes all land. The
// hold is a lock on the file "." name ".lock" beside it (made where
// missing, removed on release); a process that ends, however it ends, lets
// go of it, so a killed holder never blocks.
typedef struct InitFileHold InitFileHold;

// Tries once, without waiting, to hold the file at path: 0 held (*hold set,
// to be released), 1 another process holds it (try again later), -1 it
// cannot be held (its directory may not be written; the system's error).
int hold_init_file(const wchar_t* path, InitFileHold** hold);

// Lets go of a hold and removes its lock file.
void release_init_file(InitFileHold* hold);

// Releases the edit.
void free_init_edit(InitEdit* edit);

// ---- UTF-8 paths ----

// The functions above for a path given as UTF-8 bytes, such as a C program's
// argv on Linux, each with the same results and errors. On POSIX the bytes
// are the path as the system takes it, whether or not they are valid UTF-8.
// On Windows the path is converted to UTF-16, so that any path can be named;
// a byte that is not part of valid UTF-8 becomes U+DC80 plus the byte.
InitFile* load_init_file_utf8(const char* path);
InitFile* load_init_file_reporting_utf8(const char* path, InitLoadError* error);
int store_init_file_utf8(InitFile* file, const char* path);
InitEdit* open_init_edit_utf8(const char* path, InitLoadError* report);
int store_init_edit_utf8(const InitEdit* edit, const char* path);
int hold_init_file_utf8(const char* path, InitFileHold** hold);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // VLX_INITFILE_INITFILE_H
