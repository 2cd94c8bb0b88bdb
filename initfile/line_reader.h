// The line reader: logical lines from the bytes of an init file, or of text
// in memory, for the loader and the editor. Not part of the library's public
// interface. Besides each line's text it says where the line stands in the
// bytes, and, when asked, from which bytes each byte of its text came: what
// the editor needs to change a value and nothing else.
#ifndef VLX_INITFILE_LINE_READER_H
#define VLX_INITFILE_LINE_READER_H

#include <stddef.h>
#include <stdint.h>

struct TextBuffer;

namespace vlx {

// Bytes of a line's text that came from the same place in the source: length
// bytes that stood at raw onwards, the first of them after lead bytes that
// made it (the backslash of an escape, and carriage returns after it). The
// spans of a line follow each other without gaps in its text.
struct InitByteSpan {
  uint64_t raw;
  uint32_t length;
  uint32_t lead;
};

// The spans of the last line read, in order.
struct InitByteMap {
  InitByteSpan* spans;  // a malloc'd array
  size_t count;
  size_t capacity;
  int32_t failed;  // set when the array could not grow: the spans are incomplete
};

struct InitLineReader {
  intptr_t handle;      // a vlx::FileHandle: the file read
  int32_t at_end;      // set once the file has no more bytes or a read failed
  uint32_t filled;     // bytes the last read placed in buffer
  int32_t position;    // next unread byte of buffer
  char buffer[1024];
  int32_t read_failed;  // set when a read error ended the input
  uint64_t line_feeds;  // line feeds taken so far: no input makes it overflow
  uint64_t line_start;  // the physical line (from 1) where the last line returned starts
  uint64_t buffer_offset;      // where buffer[0] stands in the bytes read
  uint64_t line_start_offset;  // where the first physical line of the last line returned starts
  uint64_t line_end_offset;    // just past its last physical line: past its line feed, or the end
  InitByteMap* map;            // null, or where the spans of each line's text go
  int32_t escape_at_end;       // set when the bytes ended in an escape not yet applied
  int32_t open_at_end;         // set when they ended in a line that no line feed closed
  int32_t out_of_memory;       // set when a line (or its map) could not grow: reading ended there
};

// The bytes of the source from which the bytes [from, to) of the text of the
// last line read came (from < to, both within its text), as [*begin, *end):
// the lead of its first byte included.
void find_raw_range(const InitByteMap* map, size_t from, size_t to, uint64_t* begin, uint64_t* end);

// The physical line a report gives for line: INT32_MAX for a line beyond it.
int32_t reported_line(uint64_t line);

// Where a reader's bytes come from: read places up to size bytes in buffer
// and stores how many in *count (0 at the end); false on a read error.
struct InitByteSource {
  bool (*read)(void* context, char* buffer, uint32_t size, uint32_t* count);
  void* context;
};

// The source that reads the reader's own file handle.
InitByteSource read_from_reader_file(InitLineReader* reader);

// Bytes in memory, handed to a reader a block at a time.
struct InitTextSource {
  const char* next;
  size_t left;
};

// The source that reads the bytes of text, which must outlive it.
InitByteSource read_from_text(InitTextSource* text);

// Prepares reader to read the open file handle (a vlx::FileHandle) from
// where it stands, offsets counted from there, without a map.
void start_init_line_reader(InitLineReader* reader, intptr_t handle);

// The next logical line, with comments, escapes, continuations and the
// leading and trailing spaces resolved, as a new string the caller releases
// with free(); null when no line is left (and on every call after that). A
// read error ends the input; the line it interrupted is dropped.
char* read_init_line(InitLineReader* reader);

// The same, with the bytes taken from source instead of the reader's file.
char* read_init_line_from(InitLineReader* reader, const InitByteSource& source);

// The same into line, a buffer started with start_text and kept from call
// to call, so that reading allocates nothing for lines that fit what it
// holds: true with the terminated line in it (line->length bytes before the
// terminator), false when no line is left.
bool read_init_line_into(InitLineReader* reader, const InitByteSource& source, TextBuffer* line);

}  // namespace vlx

#endif  // VLX_INITFILE_LINE_READER_H
