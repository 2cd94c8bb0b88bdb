// Builds a document from an init file, rejecting malformed files as a whole.
#include <string.h>

#include "initfile/document_internal.h"
#include "initfile/initfile.h"

namespace {

bool is_header_line(const char* line) {
  size_t length = strlen(line);
  return length > 2 && line[0] == '[' && line[length - 1] == ']';
}

// Splits an entry line in place and appends it to section: the key ends at
// the first '=' (spaces before it dropped), the value starts after it (spaces
// after it skipped). False when the line is no entry line.
bool take_entry_line(InitSection* section, char* line) {
  char* equals = strchr(line, '=');
  if (!equals || equals == line) return false;
  for (char* p = equals; p > line && p[-1] == ' ';) *--p = '\0';
  *equals = '\0';
  char* value = equals + 1;
  while (*value == ' ') ++value;
  append_init_entry(section, line, value);
  return true;
}

// Turns a header line into a new section named by what stands between the
// brackets; the line becomes the name.
InitSection* take_header_line(char* line) {
  size_t length = strlen(line);
  memmove(line, line + 1, length - 2);
  line[length - 2] = '\0';
  return adopt_init_section_name(line);
}

}  // namespace

InitFile* load_init_file(const wchar_t* path) {
  FileHandle handle = open_file_for_reading(path);
  if (handle == kInvalidFile) return nullptr;
  InitLineReader reader;
  start_init_line_reader(&reader, handle);

  // The document is built as the lines come: after the first line the entry
  // test comes first, so '[a=b]' there is an entry.
  InitFile* file = create_init_file();
  InitSection* current = nullptr;
  bool valid = true;
  while (char* line = read_init_line(&reader)) {
    if (current && take_entry_line(current, line)) continue;
    if (!is_header_line(line)) {
      free(line);
      valid = false;
      break;
    }
    current = take_header_line(line);
    append_init_section(file, current);
  }
  close_file(handle);
  if (!valid) {
    free_init_file(file);
    return nullptr;
  }
  return file;
}
