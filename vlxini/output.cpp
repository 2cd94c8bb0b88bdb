// The forms in which vlxini prints names and values, and its standard input.
#include "vlxini/output.h"

#include <string.h>
#include <wchar.h>

#include "platform/platform.h"

using namespace vlx;

std::wstring widen(const char* text) { return decode_utf8(text, strlen(text)); }

bool is_standard_input(const wchar_t* path) { return wcscmp(path, L"-") == 0; }

std::string read_standard_input() {
  std::string text;
  for (int byte; (byte = read_console_byte()) >= 0;) text += static_cast<char>(byte);
  return text;
}

bool equal_ignoring_case(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

std::string escape_as_written(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == ';' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::string quote_for_shell(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

bool is_shell_name(const std::string& name) {
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (name.empty() || !letter(name[0])) return false;
  for (char c : name) {
    if (!letter(c) && !(c >= '0' && c <= '9')) return false;
  }
  return true;
}

void print_out(const std::string& text, bool raw) {
  if (raw) {
    write_console(kStandardOutput, text.data(), text.size());
    return;
  }
  std::string rendered = render_for_console(kStandardOutput, widen(text.c_str()).c_str());
  write_console(kStandardOutput, rendered.data(), rendered.size());
}
