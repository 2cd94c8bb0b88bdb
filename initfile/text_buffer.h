// A growable byte buffer whose room is always a multiple of 10: the room that
// growing by 10 bytes whenever it is full reaches, in one step per append.
#ifndef VLX_INITFILE_TEXT_BUFFER_H
#define VLX_INITFILE_TEXT_BUFFER_H

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

struct TextBuffer {
  char* text;
  size_t length;
  size_t room;
};

constexpr size_t kTextGrowth = 10;

inline void start_text(TextBuffer* buffer) {
  buffer->text = static_cast<char*>(malloc(kTextGrowth));
  buffer->length = 0;
  buffer->room = kTextGrowth;
}

// Makes room for extra more bytes.
inline void reserve_text(TextBuffer* buffer, size_t extra) {
  size_t needed = buffer->length + extra;
  if (needed <= buffer->room) return;
  buffer->room = (needed + kTextGrowth - 1) / kTextGrowth * kTextGrowth;
  buffer->text = static_cast<char*>(realloc(buffer->text, buffer->room));
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
