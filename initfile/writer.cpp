// Writes a document in the text format the line reader reads back.
#include <string.h>

#include "initfile/initfile.h"
#include "initfile/text_buffer.h"

namespace {

// The text goes out in blocks of about this size: one write per line made a
// large document cost a system call per entry.
constexpr size_t kBlockSize = 1 << 16;

// Writes every byte of the block, in writes of at most 1 GiB (a line has no
// limit); each write must take all it was given.
bool write_block(FileHandle handle, const char* bytes, size_t size) {
  constexpr size_t kMostPerWrite = 1 << 30;
  while (size > 0) {
    uint32_t asked = static_cast<uint32_t>(size < kMostPerWrite ? size : kMostPerWrite);
    uint32_t written = 0;
    if (!write_file(handle, bytes, asked, &written) || written != asked) return false;
    bytes += asked;
    size -= asked;
  }
  return true;
}

// Appends text with a backslash before each ';' and '\', the two bytes that
// would start a comment or an escape when read back.
void append_escaped(TextBuffer* out, const char* text) {
  size_t size = 0;
  for (const char* p = text; *p; ++p) size += (*p == ';' || *p == '\\') ? 2 : 1;
  reserve_text(out, size);
  char* to = out->text + out->length;
  for (const char* p = text; *p; ++p) {
    if (*p == ';' || *p == '\\') *to++ = '\\';
    *to++ = *p;
  }
  out->length += size;
}

// Writes out what the buffer holds once it reaches a block.
bool pass_full_block(FileHandle handle, TextBuffer* out) {
  if (out->length < kBlockSize) return true;
  bool written = write_block(handle, out->text, out->length);
  out->length = 0;
  return written;
}

bool write_section(FileHandle handle, const InitSection* section, TextBuffer* out) {
  append_byte(out, '[');
  append_text(out, section->name, strlen(section->name));
  append_text(out, "]\n", 2);
  for (int32_t i = 0; i < section->count; ++i) {
    if (!pass_full_block(handle, out)) return false;
    const InitEntry* entry = section->entries[i];
    append_escaped(out, entry->key);
    append_byte(out, '=');
    append_escaped(out, entry->value);
    append_byte(out, '\n');
  }
  return pass_full_block(handle, out);
}

bool write_document(FileHandle handle, const InitFile* file) {
  TextBuffer out;
  start_text(&out);
  bool written = true;
  for (int32_t i = 0; i < file->count && written; ++i) written = write_section(handle, file->sections[i], &out);
  written = written && write_block(handle, out.text, out.length);
  free_text(&out);
  return written;
}

}  // namespace

int store_init_file(InitFile* file, const wchar_t* path) {
  FileReplacement replacement;
  if (!begin_replacement(path, &replacement)) return -1;
  bool written = write_document(replacement.file, file);
  bool closed = close_replacement(&replacement);
  if (!written || !closed) {
    discard_replacement(&replacement);
    return -2;
  }
  if (!commit_replacement(&replacement)) {
    discard_replacement(&replacement);
    return -1;
  }
  return 0;
}
