// The loader's rules for lines, and its one core routine over any source of
// bytes: load_init_file and load_init_text are its adapters, and the editor
// judges lines by the same rules. Not part of the library's public
// interface.
#ifndef VLX_INITFILE_LOADER_H
#define VLX_INITFILE_LOADER_H

#include <string.h>

#include <string>

#include "initfile/initfile.h"
#include "line_reader.h"
#include "platform/files.h"

namespace vlx {

// What the reporting loaders say when a file cannot be opened, a read error
// ended it early, it does not fit in memory (no document then, and ENOMEM),
// or a change held it for 30 seconds (no document, and the held error).
extern const char kInitCannotOpen[];
extern const char kInitReadError[];
extern const char kInitOutOfMemory[];
extern const char kInitHeld[];

// Reads the open file from where it stands to its end into *text; false
// when a read failed (*text then holds what came before it).
bool read_all(FileHandle file, std::string* text);

// Where an entry line's parts are: the key is its first key_length bytes
// (spaces before the '=' dropped), the '=' is at equals, the value starts at
// value_start (spaces after the '=' skipped) and runs to the line's end.
struct InitEntryParts {
  size_t key_length;
  size_t equals;
  size_t value_start;
};

// True when the line of length bytes is an entry line: it holds a '=' that is
// not its first byte. Then *parts says where its parts are.
inline bool split_entry_line(const char* line, size_t length, InitEntryParts* parts) {
  const char* equals = static_cast<const char*>(memchr(line, '=', length));
  if (!equals || equals == line) return false;
  size_t key_length = static_cast<size_t>(equals - line);
  while (key_length > 0 && line[key_length - 1] == ' ') --key_length;
  size_t value_start = static_cast<size_t>(equals - line) + 1;
  while (value_start < length && line[value_start] == ' ') ++value_start;
  *parts = {key_length, static_cast<size_t>(equals - line), value_start};
  return true;
}

// True when the line is a section header: longer than two bytes, '[' first
// and ']' last. The name is what stands between them.
inline bool is_header_line(const char* line, size_t length) {
  return length > 2 && line[0] == '[' && line[length - 1] == ']';
}

// What is wrong with a line that is neither an entry of the section before
// it nor a section header; first: it is the file's first line.
const char* diagnose_line(const char* line, size_t length, bool first);

// The document for the bytes source gives, or null at the first line that
// breaks the rules, saying where and why in *error (when not null), as
// load_init_file_reporting does.
InitFile* load_init_source(const InitByteSource& source, InitLoadError* error);

// load_init_file_reporting over a file already open for reading, which
// stays open.
InitFile* load_init_handle(vlx::FileHandle file, InitLoadError* error);

}  // namespace vlx

#endif  // VLX_INITFILE_LOADER_H
