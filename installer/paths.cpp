#include "installer/paths.h"

#include <stdarg.h>
#include <string.h>
#include <wchar.h>

#include <string>

#include "installer/messages.h"

using namespace vlx;

void format_path(wchar_t* buffer, int capacity, const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::wstring path;
  for (const wchar_t* p = format; *p; ++p) {
    if (p[0] == L'%' && p[1] == L's') {
      path += va_arg(arguments, const wchar_t*);
      ++p;
    } else if (p[0] == L'%' && p[1] == L'S') {
      const char* text = va_arg(arguments, const char*);
      path += decode_utf8(text, strlen(text));
      ++p;
    } else {
      path += *p;
    }
  }
  va_end(arguments);

  size_t room = static_cast<size_t>(capacity) - 1;
  size_t length = path.size() < room ? path.size() : room;
  wmemcpy(buffer, path.data(), length);
  buffer[length] = L'\0';
  if (path.size() > room) fail(kPathTooLong, buffer);
}
