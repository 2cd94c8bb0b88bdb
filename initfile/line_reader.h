// The line reader: logical lines from the bytes of an init file, or of text
// in memory, for the loader. Not part of the library's public interface.
#ifndef VLX_INITFILE_LINE_READER_H
#define VLX_INITFILE_LINE_READER_H

#include <stdint.h>

struct TextBuffer;

namespace vlx {

struct InitLineReader {
  intptr_t handle;      // a vlx::FileHandle: the file read
  int32_t at_end;      // set once the file has no more bytes or a read failed
  uint32_t filled;     // bytes the last read placed in buffer
  int32_t position;    // next unread byte of buffer
  char buffer[1024];
  int32_t read_failed;  // set when a read error ended the input
  uint64_t line_feeds;  // line feeds taken so far: no input makes it overflow
  uint64_t line_start;  // the physical line (from 1) where the last line returned starts
};

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

// Prepares reader to read the open file handle (a vlx::FileHandle) from
// where it stands.
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
