// Turns the bytes of an init file into logical lines.
#include <stdint.h>
#include <string.h>

#include "line_reader.h"
#include "platform/platform.h"
#include "text_buffer.h"

using namespace vlx;

namespace {

// Bytes that end a run of plain text: everything else is appended as it is.
struct AttentionTable {
  bool marks[256] = {};
  constexpr AttentionTable() {
    for (unsigned char byte : {'\n', '\r', ';', '\\'}) marks[byte] = true;
  }
};
constexpr AttentionTable kAttention;

bool needs_attention(char byte) { return kAttention.marks[static_cast<unsigned char>(byte)]; }

enum Refill { kFilled, kEnded, kFailed };

// Reads the next block. At the end of the file or on a read error at_end is
// set and the caller learns which.
Refill refill(InitLineReader* reader, const InitByteSource& source) {
  uint32_t count = 0;
  bool read = source.read(source.context, reader->buffer, sizeof reader->buffer, &count);
  if (!read || count == 0) {
    reader->at_end = 1;
    reader->read_failed = !read;
    return read ? kEnded : kFailed;
  }
  reader->filled = count;
  reader->position = 0;
  return kFilled;
}

// Trailing spaces go, escaped ones included; a line that fills its room
// grows once more for the terminator.
void finish_line(TextBuffer* line) {
  while (line->length > 0 && line->text[line->length - 1] == ' ') --line->length;
  if (line->length == line->room) reserve_text(line, 1);
  line->text[line->length] = '\0';
}

// Takes the run of plain bytes at the reader's position, appending it to the
// line; spaces that would lead the line are dropped. False when the byte
// there needs attention of its own.
bool take_plain_run(InitLineReader* reader, TextBuffer* line) {
  const char* start = reader->buffer + reader->position;
  const char* end = reader->buffer + reader->filled;
  const char* p = start;
  if (line->length == 0) {
    while (p < end && *p == ' ') ++p;
  }
  const char* run = p;
  while (p < end && !needs_attention(*p)) ++p;
  if (p == start) return false;
  append_text(line, run, static_cast<size_t>(p - run));
  reader->position += static_cast<int32_t>(p - start);
  return true;
}

// Skips the rest of a comment up to its line feed, if that is in the buffer.
void skip_comment(InitLineReader* reader) {
  const char* start = reader->buffer + reader->position;
  const void* line_feed = memchr(start, '\n', reader->filled - static_cast<uint32_t>(reader->position));
  reader->position = line_feed ? static_cast<int32_t>(static_cast<const char*>(line_feed) - reader->buffer)
                               : static_cast<int32_t>(reader->filled);
}

// Takes the line feeds that follow at the reader's position, eight at a
// time where it can: a run of empty lines produces nothing, and a text of
// nothing but line feeds is read at the speed of memory.
void skip_line_feeds(InitLineReader* reader) {
  const char* start = reader->buffer + reader->position;
  const char* end = reader->buffer + reader->filled;
  const char* p = start;
  const uint64_t kEightLineFeeds = 0x0A0A0A0A0A0A0A0Aull;
  for (uint64_t word; end - p >= 8 && (memcpy(&word, p, 8), word == kEightLineFeeds);) p += 8;
  while (p < end && *p == '\n') ++p;
  reader->line_feeds += static_cast<uint64_t>(p - start);
  reader->position += static_cast<int32_t>(p - start);
}

bool read_from_file(void* handle, char* buffer, uint32_t size, uint32_t* count) {
  return read_file(*static_cast<FileHandle*>(handle), buffer, size, count);
}

}  // namespace

void vlx::start_init_line_reader(InitLineReader* reader, intptr_t handle) {
  reader->handle = handle;
  reader->at_end = 0;
  reader->filled = 0;
  reader->position = 0;
  reader->read_failed = 0;
  reader->line_feeds = 0;
  reader->line_start = 1;
}

int32_t vlx::reported_line(uint64_t line) {
  return line > static_cast<uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(line);
}

InitByteSource vlx::read_from_reader_file(InitLineReader* reader) { return {read_from_file, &reader->handle}; }

char* vlx::read_init_line(InitLineReader* reader) {
  return read_init_line_from(reader, read_from_reader_file(reader));
}

char* vlx::read_init_line_from(InitLineReader* reader, const InitByteSource& source) {
  TextBuffer line;
  start_text(&line);
  if (read_init_line_into(reader, source, &line)) return take_text(&line);
  free_text(&line);
  return nullptr;
}

bool vlx::read_init_line_into(InitLineReader* reader, const InitByteSource& source, TextBuffer* buffer) {
  if (reader->at_end) return false;
  TextBuffer& line = *buffer;
  clear_text(&line);
  bool escape = false, comment = false;
  reader->line_start = reader->line_feeds + 1;
  for (;;) {
    if (static_cast<uint32_t>(reader->position) == reader->filled) {
      Refill refilled = refill(reader, source);
      // A line cut off by a read error is not the line the file holds
      // ("SYSTEM_VSN=10" would read as "SYSTEM_VSN=1"): it is dropped.
      if (refilled == kFailed) line.length = 0;
      if (refilled != kFilled) break;
    }
    // Fast paths: a comment ignores everything up to its line feed (and never
    // has escape set); plain bytes outside one are appended in runs.
    if (comment) {
      skip_comment(reader);
      if (static_cast<uint32_t>(reader->position) == reader->filled) continue;
    } else if (!escape && take_plain_run(reader, &line)) {
      continue;
    }
    char byte = reader->buffer[reader->position++];
    switch (byte) {
      case '\n':
        ++reader->line_feeds;
        if (escape) {
          escape = comment = false;  // continuation: the next physical line joins
        } else if (line.length == 0) {
          comment = false;  // nothing on this line, nor on empty ones after it
          skip_line_feeds(reader);
        } else {
          finish_line(&line);
          return true;
        }
        // Until it holds a byte, the line starts on the next physical line.
        if (line.length == 0) reader->line_start = reader->line_feeds + 1;
        break;
      case '\r':
        break;
      case ' ':
        if (line.length > 0) append_byte(&line, ' ');
        escape = false;
        break;
      case ';':
        if (escape) {
          append_byte(&line, ';');
        } else {
          comment = true;
        }
        escape = false;
        break;
      case '\\':
        if (escape) append_byte(&line, '\\');
        escape = !escape;
        break;
      default:
        append_byte(&line, byte);
        escape = false;
        break;
    }
  }
  if (line.length == 0) return false;
  finish_line(&line);
  return true;
}
