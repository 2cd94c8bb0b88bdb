// Writes a document in the text format the line reader reads back.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "initfile/initfile.h"
#include "platform/platform.h"
#include "writer_internal.h"

using namespace vlx;

namespace {

// A file's text goes out in blocks of this size: one write per line made a
// large document cost a system call per entry.
constexpr size_t kBlockSize = 1 << 16;

// Collects the text in a block. Where the block has no room for more, drain
// makes room: for a file it writes the block out and empties it, for text in
// memory it grows the block to hold it all.
struct TextOut {
  void (*drain)(TextOut* out, size_t size);
  FileHandle file;  // the file drain writes to
  bool failed;      // a write failed: nothing more is written
  size_t used;
  size_t capacity;
  char* text;
};

// Writes the block out to the file; each write must take all it was given.
void write_block(TextOut* out, size_t) {
  uint32_t written = 0;
  if (!out->failed && out->used > 0) {
    out->failed = !write_file(out->file, out->text, static_cast<uint32_t>(out->used), &written) ||
                  written != out->used;
  }
  out->used = 0;
}

// Grows text in memory to hold size more bytes, at least doubling it.
// A block that cannot grow fails the text, which keeps what it held.
void grow_block(TextOut* out, size_t size) {
  size_t doubled = 2 * out->capacity;
  size_t capacity = doubled > out->used + size ? doubled : out->used + size;
  char* grown = static_cast<char*>(realloc(out->text, capacity));
  if (!grown) {
    out->failed = true;
    set_out_of_memory_error();
    return;
  }
  out->text = grown;
  out->capacity = capacity;
}

// Drains the block when fewer than size bytes are free; a file's block then
// holds at most kBlockSize.
void drain_for(TextOut* out, size_t size) {
  if (out->capacity - out->used < size) out->drain(out, size);
}

void put_bytes(TextOut* out, const char* bytes, size_t size) {
  while (size > 0 && !out->failed) {
    drain_for(out, size < kBlockSize ? size : kBlockSize);
    if (out->failed) return;
    size_t part = size < out->capacity - out->used ? size : out->capacity - out->used;
    memcpy(out->text + out->used, bytes, part);
    out->used += part;
    bytes += part;
    size -= part;
  }
}

// Puts text escaped, in parts where it does not fit a file's block.
void put_escaped(TextOut* out, const char* text, size_t length) {
  while (length > 0 && !out->failed) {
    drain_for(out, 2 * length < kBlockSize ? 2 * length : kBlockSize);
    if (out->failed) return;
    size_t part = (out->capacity - out->used) / 2;
    if (part > length) part = length;
    out->used = static_cast<size_t>(copy_escaped(out->text + out->used, text, part) - out->text);
    text += part;
    length -= part;
  }
}

// Puts the entry's line "key=value\n"; a line that fits at its longest goes
// in without further checks.
void put_entry(TextOut* out, const InitEntry* entry) {
  size_t key = strlen(entry->key), value = strlen(entry->value);
  size_t longest = 2 * (key + value) + 2;
  drain_for(out, longest);
  if (out->capacity - out->used < longest) {
    put_escaped(out, entry->key, key);
    put_bytes(out, "=", 1);
    put_escaped(out, entry->value, value);
    put_bytes(out, "\n", 1);
    return;
  }
  char* to = copy_escaped(out->text + out->used, entry->key, key);
  *to++ = '=';
  to = copy_escaped(to, entry->value, value);
  *to++ = '\n';
  out->used = static_cast<size_t>(to - out->text);
}

void put_document(TextOut* out, const InitFile* file) {
  for (int32_t i = 0; i < file->count && !out->failed; ++i) {
    const InitSection* section = file->sections[i];
    put_bytes(out, "[", 1);
    put_bytes(out, section->name, strlen(section->name));
    put_bytes(out, "]\n", 2);
    for (int32_t j = 0; j < section->count && !out->failed; ++j) put_entry(out, section->entries[j]);
  }
}

bool write_document(FileHandle handle, const void* document) {
  TextOut out = {write_block, handle, false, 0, kBlockSize, static_cast<char*>(malloc(kBlockSize))};
  if (!out.text) {
    set_out_of_memory_error();
    return false;
  }
  put_document(&out, static_cast<const InitFile*>(document));
  write_block(&out, 0);
  free(out.text);
  return !out.failed;
}

}  // namespace

int store_init_file(InitFile* file, const wchar_t* path) { return store_init_bytes(path, write_document, file); }

int vlx::store_init_bytes(const wchar_t* path, bool (*write)(FileHandle file, const void* context),
                          const void* context, const std::string* signature) {
  // Another program's change stands: looked for before anything is written
  // (a file written in place is cut as it is opened), and again right
  // before the rename, so that only the rename can pass it.
  auto changed = [&] { return signature && file_signature(path) != *signature; };
  if (changed()) return -3;
  FileReplacement replacement;
  if (!begin_replacement(path, &replacement)) return -1;
  bool written = write(replacement.file, context);
  bool closed = close_replacement(&replacement);
  if (!written || !closed) {
    discard_replacement(&replacement);
    return -2;
  }
  bool renamed = !replacement.temporary.empty();
  if (renamed && changed()) {
    discard_replacement(&replacement);
    return -3;
  }
  if (!commit_replacement(&replacement)) {
    discard_replacement(&replacement);
    return -1;
  }
  // A caller told 0 relies on the new file after a power cut too, and the
  // rename is not durable until its directory is.
  bool flushed = !renamed || flush_replacement_directory(replacement);
  discard_replacement(&replacement);  // moved: only its directory is left to close
  return flushed ? 0 : -2;
}

char* store_init_text(InitFile* file, size_t* length) {
  constexpr size_t kFirstCapacity = 256;
  TextOut out = {grow_block, kInvalidFile, false, 0, kFirstCapacity, static_cast<char*>(malloc(kFirstCapacity))};
  if (!out.text) {
    set_out_of_memory_error();
    return nullptr;
  }
  put_document(&out, file);
  drain_for(&out, 1);
  if (out.failed) {
    free(out.text);
    return nullptr;
  }
  out.text[out.used] = '\0';
  if (length) *length = out.used;
  return out.text;
}
