// Console input and output through the C runtime's standard streams, the same
// on both platforms; rendering wide text for the console is the backends'.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "platform/platform.h"

namespace vlx {

namespace {

FILE* stream_file(ConsoleStream stream) { return stream == kStandardOutput ? stdout : stderr; }

}  // namespace

void write_console(ConsoleStream stream, const char* text, std::size_t length) {
  fwrite(text, 1, length, stream_file(stream));
}

void print_message(ConsoleStream stream, const char* format, const wchar_t* first, const wchar_t* second) {
  const wchar_t* arguments[] = {first, second};
  int next = 0;
  std::string text;
  for (const char* p = format; *p; ++p) {
    if (p[0] == '%' && p[1] == 'S' && next < 2) {
      text += render_for_console(stream, escape_for_terminal(arguments[next++]).c_str());
      ++p;
    } else {
      text += *p;
    }
  }
  write_console(stream, text.data(), text.size());
}

bool flush_console(ConsoleStream stream) {
  FILE* file = stream_file(stream);
  return fflush(file) == 0 && !ferror(file);
}

namespace {

// Set when the last read of a line found standard input at its end or closed.
bool input_ended = false;

}  // namespace

char* read_console_line(char* buffer, int size) {
  errno = 0;
  char* line = fgets(buffer, size, stdin);
  // A closed standard input fails its reads as a bad descriptor: it is no
  // more input than one at its end.
  input_ended = !line && (feof(stdin) || errno == EBADF);
  return line;
}

bool console_input_ended() { return input_ended; }

int read_console_byte() {
  int c = getchar();
  return c == EOF ? -1 : c;
}

void exit_process(int status) { exit(status); }

}  // namespace vlx
