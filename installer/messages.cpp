#include "installer/messages.h"

#include <string>

using namespace vlx;

const char kBailingOut[] = "Cannot continue installation, bailing out.\n";

void print_message(ConsoleStream stream, const char* format, const wchar_t* first,
                   const wchar_t* second) {
  const wchar_t* arguments[] = {first, second};
  int next = 0;
  std::string text;
  for (const char* p = format; *p; ++p) {
    if (p[0] == '%' && p[1] == 'S' && next < 2) {
      text += render_for_console(stream, arguments[next++]);
      ++p;
    } else {
      text += *p;
    }
  }
  write_console(stream, text.data(), text.size());
}

void fail(const char* format, const wchar_t* first, const wchar_t* second) {
  print_message(kStandardError, format, first, second);
  exit_process(1);
}
