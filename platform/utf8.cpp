// Lossless UTF-8 conversion shared by both backends. wchar_t is UTF-16 on
// Windows and UTF-32 elsewhere; both widths are handled here.
#include "platform/platform.h"

namespace vlx {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kEscapeBase = 0xDC00;  // U+DC80..U+DCFF carry raw bytes
constexpr bool kUtf16 = sizeof(wchar_t) == 2;

void append_code_point(std::wstring& out, char32_t cp) {
  if (kUtf16 && cp > 0xFFFF) {
    cp -= 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<wchar_t>(cp));
  }
}

// Length of the valid UTF-8 sequence at text[0..length), or 0 if the bytes
// there do not form one (overlong forms and encoded surrogates included).
std::size_t measure_sequence(const unsigned char* p, std::size_t length, char32_t* cp) {
  unsigned char lead = p[0];
  std::size_t size;
  char32_t value, minimum;
  if (lead < 0x80) {
    *cp = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    size = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (length < size) return 0;
  for (std::size_t i = 1; i < size; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (p[i] & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *cp = value;
  return size;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::wstring decode_utf8(const char* text, std::size_t length) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  std::wstring out;
  out.reserve(length);
  std::size_t i = 0;
  while (i < length) {
    char32_t cp;
    std::size_t size = measure_sequence(p + i, length - i, &cp);
    if (size == 0) {
      append_code_point(out, kEscapeBase + p[i]);
      ++i;
    } else {
      append_code_point(out, cp);
      i += size;
    }
  }
  return out;
}

std::string encode_utf8(const wchar_t* text) {
  std::string out;
  for (const wchar_t* w = text; *w; ++w) {
    char32_t cp = static_cast<char32_t>(*w) & (kUtf16 ? 0xFFFF : 0xFFFFFFFF);
    if (kUtf16 && cp >= 0xD800 && cp <= 0xDBFF) {
      char32_t low = static_cast<char32_t>(w[1]) & 0xFFFF;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        append_utf8(out, 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00));
        ++w;
        continue;
      }
    }
    if (cp >= kEscapeBase + 0x80 && cp <= kEscapeBase + 0xFF) {
      out.push_back(static_cast<char>(cp - kEscapeBase));
    } else if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      append_utf8(out, kReplacement);
    } else {
      append_utf8(out, cp);
    }
  }
  return out;
}

std::wstring escape_for_terminal(const wchar_t* text) {
  static const wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring shown;
  auto escape = [&](unsigned byte) {
    shown += L"\\x";
    shown += kDigits[byte >> 4];
    shown += kDigits[byte & 15];
  };
  for (const wchar_t* c = text; *c; ++c) {
    unsigned long code = static_cast<unsigned long>(*c);
    if (code == L'\n') {
      shown += L"\\n";
    } else if (code < 0x20 || code == 0x7F) {
      escape(static_cast<unsigned>(code));
    } else if (code >= 0x80 && code <= 0x9F) {
      escape(0xC2);
      escape(static_cast<unsigned>(code));
    } else if (code >= 0xDC80 && code <= 0xDC9F) {
      escape(static_cast<unsigned>(code - 0xDC00));
    } else {
      shown += *c;
    }
  }
  return shown;
}

std::string quote_json(const std::string& text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[at]);
    char32_t code_point;
    size_t length = measure_sequence(reinterpret_cast<const unsigned char*>(text.data()) + at, text.size() - at,
                                     &code_point);
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

}  // namespace vlx
