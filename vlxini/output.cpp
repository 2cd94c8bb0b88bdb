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

namespace {

// The length of the valid UTF-8 sequence at text[at] (no overlong form, no
// surrogate, nothing past U+10FFFF), or 0.
size_t utf8_length(const std::string& text, size_t at) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(at);
  size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                   : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  }
  unsigned char second = length > 1 ? byte(at + 1) : 0;
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
      (lead == 0xF4 && second >= 0x90)) {
    return 0;
  }
  return length;
}

}  // namespace

std::string json_string(const std::string& text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[at]);
    size_t length = utf8_length(text, at);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (length > 1 || (length == 1 && c >= 0x20 && c != 0x7F)) {
      out.append(text, at, length);
    } else {
      out += "\\u00";
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
      length = 1;
    }
    at += length > 0 ? length : 1;
  }
  return out + "\"";
}

void print_out(const std::string& text, bool raw) {
  if (raw) {
    write_console(kStandardOutput, text.data(), text.size());
    return;
  }
  std::string rendered = render_for_console(kStandardOutput, widen(text.c_str()).c_str());
  write_console(kStandardOutput, rendered.data(), rendered.size());
}
