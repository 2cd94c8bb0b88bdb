// A growable byte buffer. Its room follows the library's growth rule: it
// starts at 10 bytes and grows by 10 whenever it is full, so it is always the
// smallest multiple of 10 that holds what was appended. The allocation may
// run ahead of the room, doubling, so that a long line costs a logarithmic
// number of reallocations even where realloc copies; trim_text brings the
// allocation back to the room.
#ifndef VLX_INITFILE_TEXT_BUFFER_H
#define VLX_INITFILE_TEXT_BUFFER_H

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

struct TextBuffer {
  char* text;
  size_t length;
  size_t room;       // what growing by 10 bytes at a time would have reached
  size_t allocated;  // bytes allocated for text, at least room
};

constexpr size_t kTextGrowth = 10;

inline void start_text(TextBuffer* buffer) {
  buffer->text = static_cast<char*>(malloc(kTextGrowth));
  buffer->length = 0;
  buffer->room = kTextGrowth;
  buffer->allocated = kTextGrowth;
}

// Makes room for extra more bytes.
inline void reserve_text(TextBuffer* buffer, size_t extra) {
  size_t needed = buffer->length + extra;
  if (needed <= buffer->room) return;
  buffer->room = (needed + kTextGrowth - 1) / kTextGrowth * kTextGrowth;
  if (buffer->room <= buffer->allocated) return;
  size_t doubled = buffer->allocated * 2;
  buffer->allocated = doubled > buffer->room ? doubled : buffer->room;
  buffer->text = static_cast<char*>(realloc(buffer->text, buffer->allocated));
}

// Releases what the allocation holds beyond the room.
inline void trim_text(TextBuffer* buffer) {
  if (buffer->allocated == buffer->room) return;
  buffer->text = static_cast<char*>(realloc(buffer->text, buffer->room));
  buffer->allocated = buffer->room;
}

inline void append_text(TextBuffer* buffer, const char* bytes, size_t size) {
  reserve_text(buffer, size);
  memcpy(buffer->text + buffer->length, bytes, size);
  buffer->length += size;
}

inline void append_byte(TextBuffer* buffer, char byte) {
  reserve_text(buffer, 1);
  buffer->text[buffer->length++] = byte;
}

#endif  // VLX_INITFILE_TEXT_BUFFER_H
