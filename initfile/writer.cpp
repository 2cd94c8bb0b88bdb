// Writes a document in the text format the line reader reads back.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "initfile/initfile.h"

namespace {

// The text goes out in blocks of this size: one write per line made a large
// document cost a system call per entry.
constexpr size_t kBlockSize = 1 << 16;

// Collects the text and writes it a block at a time. After a failed write
// nothing more is written.
struct BlockWriter {
  FileHandle handle;
  bool failed;
  size_t used;
  char* block;
};

// Writes the bytes collected so far; each write must take all it was given.
void pass_block(BlockWriter* out) {
  uint32_t written = 0;
  if (!out->failed && out->used > 0) {
    out->failed = !write_file(out->handle, out->block, static_cast<uint32_t>(out->used), &written) ||
                  written != out->used;
  }
  out->used = 0;
}

void put_bytes(BlockWriter* out, const char* bytes, size_t size) {
  while (size > 0) {
    if (out->used == kBlockSize) pass_block(out);
    size_t part = size < kBlockSize - out->used ? size : kBlockSize - out->used;
    memcpy(out->block + out->used, bytes, part);
    out->used += part;
    bytes += part;
    size -= part;
  }
}

// Copies length bytes of text to to, which has room for twice that, with a
// backslash before each ';' and '\', the two bytes that would start a comment
// or an escape when read back; returns the end. The backslash is stored
// before every byte and kept only where it belongs: no branch on the text.
char* copy_escaped(char* to, const char* text, size_t length) {
  for (const char* end = text + length; text < end; ++text) {
    *to = '\\';
    to += (*text == ';') | (*text == '\\');
    *to++ = *text;
  }
  return to;
}

// Puts text escaped, in parts where it does not fit the block.
void put_escaped(BlockWriter* out, const char* text, size_t length) {
  while (length > 0) {
    if (kBlockSize - out->used < 2) pass_block(out);
    size_t part = (kBlockSize - out->used) / 2;
    if (part > length) part = length;
    out->used = static_cast<size_t>(copy_escaped(out->block + out->used, text, part) - out->block);
    text += part;
    length -= part;
  }
}

// Puts the entry's line "key=value\n"; a line that fits a block at its
// longest goes in without further checks.
void put_entry(BlockWriter* out, const InitEntry* entry) {
  size_t key = strlen(entry->key), value = strlen(entry->value);
  size_t longest = 2 * (key + value) + 2;
  if (kBlockSize - out->used < longest) pass_block(out);
  if (longest > kBlockSize) {
    put_escaped(out, entry->key, key);
    put_bytes(out, "=", 1);
    put_escaped(out, entry->value, value);
    put_bytes(out, "\n", 1);
    return;
  }
  char* to = copy_escaped(out->block + out->used, entry->key, key);
  *to++ = '=';
  to = copy_escaped(to, entry->value, value);
  *to++ = '\n';
  out->used = static_cast<size_t>(to - out->block);
}

void put_section(BlockWriter* out, const InitSection* section) {
  put_bytes(out, "[", 1);
  put_bytes(out, section->name, strlen(section->name));
  put_bytes(out, "]\n", 2);
  for (int32_t i = 0; i < section->count && !out->failed; ++i) put_entry(out, section->entries[i]);
}

bool write_document(FileHandle handle, const InitFile* file) {
  BlockWriter out = {handle, false, 0, static_cast<char*>(malloc(kBlockSize))};
  for (int32_t i = 0; i < file->count && !out.failed; ++i) put_section(&out, file->sections[i]);
  pass_block(&out);
  free(out.block);
  return !out.failed;
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
