// Turns the bytes of an init file into logical lines.
#include <stdint.h>
#include <stdlib.h>
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
  reader->buffer_offset += reader->filled;
  reader->filled = read ? count : 0;
  reader->position = 0;
  if (!read || count == 0) {
    reader->at_end = 1;
    reader->read_failed = !read;
    return read ? kEnded : kFailed;
  }
  return kFilled;
}

// Where the reader's next byte stands in the source.
uint64_t offset_of_position(const InitLineReader* reader) {
  return reader->buffer_offset + static_cast<uint64_t>(reader->position);
}

// Records in map that the next length bytes of the line's text stood at raw
// onwards, the first after lead bytes.
void add_span(InitByteMap* map, uint64_t raw, size_t length, uint64_t lead) {
  if (length == 0) return;
  if (map->failed) return;
  if (map->count == map->capacity) {
    size_t capacity = map->capacity ? 2 * map->capacity : 16;
    InitByteSpan* spans = static_cast<InitByteSpan*>(realloc(map->spans, capacity * sizeof(InitByteSpan)));
    if (!spans) {
      map->failed = 1;
      return;
    }
    map->spans = spans;
    map->capacity = capacity;
  }
  map->spans[map->count++] = {raw, static_cast<uint32_t>(length), static_cast<uint32_t>(lead)};
}

// Records in the reader's map, when it keeps one (kMapped), where the byte
// it just took, which joined the line, stood; escaped: an escape at
// escape_offset made it literal. Without a map (the loader) it is nothing.
template <bool kMapped>
void note_byte(InitLineReader* reader, bool escaped, uint64_t escape_offset) {
  if (!kMapped) return;
  uint64_t offset = offset_of_position(reader) - 1;
  add_span(reader->map, offset, 1, escaped ? offset - escape_offset : 0);
}

// Trailing spaces go, escaped ones included; a line that fills its room
// grows once more for the terminator.
inline void finish_line(TextBuffer* line) {
  while (line->length > 0 && line->text[line->length - 1] == ' ') --line->length;
  if (line->length == line->room && !reserve_text(line, 1)) return;
  line->text[line->length] = '\0';
}

// Ends the reading where a line could not grow: the line is not the one the
// file holds, and nothing after it is read.
template <bool kMapped>
bool ran_out(InitLineReader* reader, const TextBuffer& line) {
  if (!line.failed && !(kMapped && reader->map->failed)) return false;
  reader->out_of_memory = 1;
  reader->at_end = 1;
  set_out_of_memory_error();
  return true;
}

// Takes the run of plain bytes at the reader's position, appending it to the
// line (and, kMapped, to the reader's map); spaces that would lead the line
// are dropped. False when the byte there needs attention of its own.
template <bool kMapped>
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
  if (kMapped) {
    add_span(reader->map, reader->buffer_offset + static_cast<uint64_t>(run - reader->buffer),
             static_cast<size_t>(p - run), 0);
  }
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

bool read_text_block(void* context, char* buffer, uint32_t size, uint32_t* count) {
  InitTextSource* text = static_cast<InitTextSource*>(context);
  size_t part = text->left < size ? text->left : size;
  memcpy(buffer, text->next, part);
  text->next += part;
  text->left -= part;
  *count = static_cast<uint32_t>(part);
  return true;
}

bool read_from_file(void* handle, char* buffer, uint32_t size, uint32_t* count) {
  return read_file(*static_cast<FileHandle*>(handle), buffer, size, count);
}

template <bool kMapped>
bool read_line(InitLineReader* reader, const InitByteSource& source, TextBuffer* buffer) {
  if (reader->at_end) return false;
  TextBuffer& line = *buffer;
  clear_text(&line);
  if (kMapped) reader->map->count = 0;
  bool escape = false, comment = false;
  uint64_t escape_offset = 0;  // where the backslash that set escape stands
  reader->line_start = reader->line_feeds + 1;
  reader->line_start_offset = offset_of_position(reader);
  for (;;) {
    if (ran_out<kMapped>(reader, line)) return false;
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
    } else if (!escape && take_plain_run<kMapped>(reader, &line)) {
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
          reader->line_end_offset = offset_of_position(reader);
          return !ran_out<kMapped>(reader, line);
        }
        // Until it holds a byte, the line starts on the next physical line.
        if (line.length == 0) {
          reader->line_start = reader->line_feeds + 1;
          reader->line_start_offset = offset_of_position(reader);
        }
        break;
      case '\r':
        break;
      case ' ':
        if (line.length > 0) {
          note_byte<kMapped>(reader, escape, escape_offset);
          append_byte(&line, ' ');
        }
        escape = false;
        break;
      case ';':
        if (escape) {
          note_byte<kMapped>(reader, true, escape_offset);
          append_byte(&line, ';');
        } else {
          comment = true;
        }
        escape = false;
        break;
      case '\\':
        if (escape) {
          note_byte<kMapped>(reader, true, escape_offset);
          append_byte(&line, '\\');
        } else {
          escape_offset = offset_of_position(reader) - 1;
        }
        escape = !escape;
        break;
      default:
        note_byte<kMapped>(reader, escape, escape_offset);
        append_byte(&line, byte);
        escape = false;
        break;
    }
  }
  reader->line_end_offset = offset_of_position(reader);
  // Neither has an effect, but bytes after them would.
  reader->escape_at_end = escape;
  reader->open_at_end = escape || line.length > 0;
  if (ran_out<kMapped>(reader, line) || line.length == 0) return false;
  finish_line(&line);
  return !ran_out<kMapped>(reader, line);
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
  reader->buffer_offset = 0;
  reader->line_start_offset = 0;
  reader->line_end_offset = 0;
  reader->map = nullptr;
  reader->escape_at_end = 0;
  reader->open_at_end = 0;
  reader->out_of_memory = 0;
}

void vlx::find_raw_range(const InitByteMap* map, size_t from, size_t to, uint64_t* begin, uint64_t* end) {
  size_t first = 0;  // where the text of the span at i starts
  for (size_t i = 0; i < map->count; first += map->spans[i++].length) {
    const InitByteSpan& span = map->spans[i];
    if (from >= first && from < first + span.length) {
      *begin = span.raw + (from - first) - (from == first ? span.lead : 0);
    }
    if (to - 1 >= first && to - 1 < first + span.length) {
      *end = span.raw + (to - first);
      return;
    }
  }
}

int32_t vlx::reported_line(uint64_t line) {
  return line > static_cast<uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(line);
}

InitByteSource vlx::read_from_text(InitTextSource* text) { return {read_text_block, text}; }

InitByteSource vlx::read_from_reader_file(InitLineReader* reader) { return {read_from_file, &reader->handle}; }

char* vlx::read_init_line(InitLineReader* reader) {
  return read_init_line_from(reader, read_from_reader_file(reader));
}

char* vlx::read_init_line_from(InitLineReader* reader, const InitByteSource& source) {
  TextBuffer line;
  start_text(&line);
  char* text = read_init_line_into(reader, source, &line) ? take_text(&line) : nullptr;
  if (!text) free_text(&line);
  if (!text && !reader->out_of_memory && line.length > 0) {
    reader->out_of_memory = 1;  // the line was read, but no block could hold it
    set_out_of_memory_error();
  }
  return text;
}

bool vlx::read_init_line_into(InitLineReader* reader, const InitByteSource& source, TextBuffer* buffer) {
  // One reading of lines, built twice: the loader's, which keeps no map and
  // pays nothing for one, and the editor's.
  return reader->map ? read_line<true>(reader, source, buffer) : read_line<false>(reader, source, buffer);
}
