// The commands of vlxini, each run on init files named on the command line.
// Each returns the exit status, the same for every command: kDone when it
// did its work, kNotThere when what it was asked for is not there, kError
// when a file cannot be read, does not load, cannot hold the change or
// cannot be stored, and kTryAgain when another program changed the file
// since it was read or a change held it for 30 seconds (messages on
// standard error). Sections, keys and values are UTF-8; paths are the
// platform's; "-" reads standard input where a command reads only.
#ifndef VLX_VLXINI_COMMANDS_H
#define VLX_VLXINI_COMMANDS_H

#include <string>

enum Status { kDone = 0, kNotThere = 1, kError = 2, kTryAgain = 3 };

// How get, list and check print: as the file writes entries, as lines a
// POSIX shell can eval, or as one JSON document.
enum Format { kPlainFormat, kShellFormat, kJsonFormat };

// Prints the value of the entry the library's look-up finds: the first
// entry with key in the first section named section. Where there is none
// (nor a file, with fallback), fallback is printed instead when not null.
int get_value(const wchar_t* path, const std::string& section, const std::string& key, Format format,
              const std::string* fallback);

// Prints the names of the sections in file order, or, with section not
// null, the entries of the first section of that name.
int list_file(const wchar_t* path, const std::string* section, Format format);

// Prints "FILE: ok" or "FILE:LINE: reason" for each file (or one JSON
// document), with a warning on standard error for each section and key
// that is there again: kDone when every file loads, kError otherwise.
int check_files(const wchar_t* const* paths, int count, Format format);

// Sets key in the first section named section to value, changing only the
// bytes of that entry's line, or adding the line (and the section).
int set_value(const wchar_t* path, const std::string& section, const std::string& key, const std::string& value);

// Removes every entry with key in every section named section, or, with key
// null, every such section.
int delete_lines(const wchar_t* path, const std::string& section, const std::string* key);

// Sets in the file every entry of the snippet ("-": standard input, read
// before the file is held) that the snippet's own look-up finds, in one
// store: all or nothing.
int merge_file(const wchar_t* path, const wchar_t* snippet);

// Renames every section named section, or with key not null that key in
// every section of that name, to new_name.
int rename_names(const wchar_t* path, const std::string& section, const std::string* key, const std::string& new_name);

#endif  // VLX_VLXINI_COMMANDS_H
