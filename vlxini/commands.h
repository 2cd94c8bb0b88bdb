// The commands of vlxini, each run on init files named on the command line.
// Each returns the exit status: 0 when it did its work, 1 when what it was
// asked for is not there, 2 when a file cannot be read, does not load,
// cannot hold the change or cannot be stored (its message then on standard
// error). Sections, keys and values are UTF-8; paths are the platform's.
#ifndef VLX_VLXINI_COMMANDS_H
#define VLX_VLXINI_COMMANDS_H

#include <string>

// Prints the value of key in the first section named section, and a line
// feed. A path "-" reads standard input; a file that does not exist is an
// error (status 2), as for list and delete.
int get_value(const wchar_t* path, const std::string& section, const std::string& key);

// Sets key in the first section named section to value, changing only the
// bytes of that entry's line, or adding the line (and the section), and
// stores the file through a replacement; a file that does not exist is made.
int set_value(const wchar_t* path, const std::string& section, const std::string& key, const std::string& value);

// Removes every entry with key in every section named section, or, with key
// null, every such section, and stores the file.
int delete_lines(const wchar_t* path, const std::string& section, const std::string* key);

// Sets every entry of the init file snippet ("-": standard input) in the
// file at path, as set does, in one store: all or nothing. A snippet that
// does not load, or an entry the text cannot hold (named in the message),
// writes nothing: status 2.
int merge_file(const wchar_t* path, const wchar_t* snippet);

// Prints the names of the sections in file order, or, with section not
// null, the KEY=VALUE lines of the first section of that name, as the loader
// reads them. A path "-" reads standard input.
int list_file(const wchar_t* path, const std::string* section);

// Writes "FILE:LINE: reason" to standard error for each file that does not
// load ("FILE: reason" when it cannot be opened or read): 0 when all load.
// A path "-" reads standard input.
int check_files(const wchar_t* const* paths, int count);

#endif  // VLX_VLXINI_COMMANDS_H
