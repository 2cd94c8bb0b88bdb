// A growable byte buffer. Its room follows the library's growth rule: it
// starts at 10 bytes and grows by 10 whenever it is full, so it is always the
// smallest multiple of 10 that holds what was appended. Short text stays in
// the buffer's own bytes, off the heap; longer text goes to a heap block that
// grows by doubling, so a long line costs a logarithmic number of
// reallocations even where realloc copies. take_text hands the text over in a
// heap block of exactly the room. A buffer whose block cannot be had is
// failed: it takes nothing more, and its owner reports the failure.
#ifndef VLX_INITFILE_TEXT_BUFFER_H
#define VLX_INITFILE_TEXT_BUFFER_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

struct TextBuffer {
  char* text;        // local or a heap block
  size_t length;
  size_t room;       // what growing by 10 bytes at a time would have reached
  size_t allocated;  // bytes available at text, at least room
  bool failed;       // a block could not be had: the text is incomplete
  char local[240];
};

constexpr size_t kTextGrowth = 10;

// Starts an empty buffer. It refers to itself: it must not be copied.
inline void start_text(TextBuffer* buffer) {
  buffer->text = buffer->local;
  buffer->length = 0;
  buffer->room = kTextGrowth;
  buffer->allocated = sizeof buffer->local;
  buffer->failed = false;
}

// Empties the buffer for the next text, keeping the block it has.
inline void clear_text(TextBuffer* buffer) {
  buffer->length = 0;
  buffer->room = kTextGrowth;
}

inline void free_text(TextBuffer* buffer) {
  if (buffer->text != buffer->local) free(buffer->text);
}

// Makes room for extra more bytes. False, with the buffer failed, when the
// block cannot be had (or the size cannot be told).
inline bool reserve_text(TextBuffer* buffer, size_t extra) {
  if (buffer->failed) return false;
  size_t needed = buffer->length + extra;
  if (needed < buffer->length || needed > SIZE_MAX - kTextGrowth) {
    buffer->failed = true;
    return false;
  }
  if (needed <= buffer->room) return true;
  size_t room = (needed + kTextGrowth - 1) / kTextGrowth * kTextGrowth;
  if (room <= buffer->allocated) {
    buffer->room = room;
    return true;
  }
  size_t doubled = buffer->allocated <= SIZE_MAX / 2 ? buffer->allocated * 2 : room;
  size_t size = doubled > room ? doubled : room;
  char* block = buffer->text == buffer->local ? static_cast<char*>(malloc(size))
                                              : static_cast<char*>(realloc(buffer->text, size));
  if (!block) {
    buffer->failed = true;
    return false;
  }
  if (buffer->text == buffer->local) memcpy(block, buffer->local, buffer->length);
  buffer->text = block;
  buffer->room = room;
  buffer->allocated = size;
  return true;
}

// The terminated text (room > length) in a new heap block of exactly room
// bytes, owned by the caller, or null when that block cannot be had. The
// buffer is spent (a null leaves its block for free_text).
inline char* take_text(TextBuffer* buffer) {
  if (buffer->text == buffer->local) {
    char* block = static_cast<char*>(malloc(buffer->room));
    if (block) memcpy(block, buffer->local, buffer->length + 1);
    return block;
  }
  if (buffer->allocated == buffer->room) return buffer->text;
  char* block = static_cast<char*>(realloc(buffer->text, buffer->room));
  if (block) buffer->text = buffer->local;  // handed over: nothing left to free
  return block;
}

inline void append_text(TextBuffer* buffer, const char* bytes, size_t size) {
  if (!reserve_text(buffer, size)) return;
  memcpy(buffer->text + buffer->length, bytes, size);
  buffer->length += size;
}

inline void append_byte(TextBuffer* buffer, char byte) {
  if (!reserve_text(buffer, 1)) return;
  buffer->text[buffer->length++] = byte;
}

#endif  // VLX_INITFILE_TEXT_BUFFER_H
