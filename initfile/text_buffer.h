// A growable byte buffer. Its room follows the library's growth rule: it
// starts at 10 bytes and grows by 10 whenever it is full, so it is always the
// smallest multiple of 10 that holds what was appended. Short text stays in
// the buffer's own bytes, off the heap; longer text goes to a heap block that
// grows by doubling, so a long line costs a logarithmic number of
// reallocations even where realloc copies. take_text hands the text over in a
// heap block of exactly the room.
#ifndef VLX_INITFILE_TEXT_BUFFER_H
#define VLX_INITFILE_TEXT_BUFFER_H

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

struct TextBuffer {
  char* text;        // local or a heap block
  size_t length;
  size_t room;       // what growing by 10 bytes at a time would have reached
  size_t allocated;  // bytes available at text, at least room
  char local[240];
};

constexpr size_t kTextGrowth = 10;

// Starts an empty buffer. It refers to itself: it must not be copied.
inline void start_text(TextBuffer* buffer) {
  buffer->text = buffer->local;
  buffer->length = 0;
  buffer->room = kTextGrowth;
  buffer->allocated = sizeof buffer->local;
}

// Empties the buffer for the next text, keeping the block it has.
inline void clear_text(TextBuffer* buffer) {
  buffer->length = 0;
  buffer->room = kTextGrowth;
}

inline void free_text(TextBuffer* buffer) {
  if (buffer->text != buffer->local) free(buffer->text);
}

// Makes room for extra more bytes.
inline void reserve_text(TextBuffer* buffer, size_t extra) {
  size_t needed = buffer->length + extra;
  if (needed <= buffer->room) return;
  buffer->room = (needed + kTextGrowth - 1) / kTextGrowth * kTextGrowth;
  if (buffer->room <= buffer->allocated) return;
  size_t doubled = buffer->allocated * 2;
  size_t size = doubled > buffer->room ? doubled : buffer->room;
  if (buffer->text == buffer->local) {
    buffer->text = static_cast<char*>(malloc(size));
    memcpy(buffer->text, buffer->local, buffer->length);
  } else {
    buffer->text = static_cast<char*>(realloc(buffer->text, size));
  }
  buffer->allocated = size;
}

// The terminated text (room > length) in a new heap block of exactly room
// bytes, owned by the caller. The buffer is spent.
inline char* take_text(TextBuffer* buffer) {
  if (buffer->text == buffer->local) {
    char* block = static_cast<char*>(malloc(buffer->room));
    memcpy(block, buffer->local, buffer->length + 1);
    return block;
  }
  if (buffer->allocated == buffer->room) return buffer->text;
  return static_cast<char*>(realloc(buffer->text, buffer->room));
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
