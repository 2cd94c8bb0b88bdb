// Writes a document in the text format the line reader reads back.
#include <string.h>

#include "initfile/initfile.h"
#include "initfile/text_buffer.h"

namespace {

// One write that must take every byte.
bool write_whole(FileHandle handle, const char* bytes, size_t size) {
  uint32_t written = 0;
  return write_file(handle, bytes, static_cast<uint32_t>(size), &written) && written == size;
}

// Appends text with a backslash before each ';' and '\', the two bytes that
// would start a comment or an escape when read back.
void append_escaped(TextBuffer* line, const char* text) {
  size_t size = 0;
  for (const char* p = text; *p; ++p) size += (*p == ';' || *p == '\\') ? 2 : 1;
  reserve_text(line, size);
  char* out = line->text + line->length;
  for (const char* p = text; *p; ++p) {
    if (*p == ';' || *p == '\\') *out++ = '\\';
    *out++ = *p;
  }
  line->length += size;
}

bool write_section(FileHandle handle, const InitSection* section, TextBuffer* line) {
  if (!write_whole(handle, "[", 1) || !write_whole(handle, section->name, strlen(section->name)) ||
      !write_whole(handle, "]\n", 2)) {
    return false;
  }
  for (int32_t i = 0; i < section->count; ++i) {
    const InitEntry* entry = section->entries[i];
    line->length = 0;
    append_escaped(line, entry->key);
    append_byte(line, '=');
    append_escaped(line, entry->value);
    append_byte(line, '\n');
    if (!write_whole(handle, line->text, line->length)) return false;
  }
  return true;
}

}  // namespace

int store_init_file(InitFile* file, const wchar_t* path) {
  FileHandle handle = create_file_for_writing(path);
  if (handle == kInvalidFile) return -1;
  TextBuffer line;
  start_text(&line);
  int result = 0;
  for (int32_t i = 0; i < file->count && result == 0; ++i) {
    if (!write_section(handle, file->sections[i], &line)) result = -2;
  }
  free_text(&line);
  close_file(handle);
  return result;
}
