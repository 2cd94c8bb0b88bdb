// Text: UTF-8 and wide characters, and names made safe for a terminal.
// Part of the platform services (platform.h).
#ifndef VLX_PLATFORM_TEXT_H
#define VLX_PLATFORM_TEXT_H

#include <cstddef>
#include <string>

namespace vlx {

// ---- Text ----

// UTF-8 to wide characters, losslessly: a byte that is not part of valid UTF-8
// becomes U+DC80 + byte, which encode_utf8 turns back into that byte.
std::wstring decode_utf8(const char* text, std::size_t length);

// Wide characters to UTF-8, the inverse of decode_utf8. Any other unpaired
// surrogate, or a value beyond U+10FFFF, becomes U+FFFD.
std::string encode_utf8(const wchar_t* text);

// A path as the launcher configuration stores it: UTF-8 as the system itself
// converts it (on Windows lone surrogates become U+FFFD; elsewhere the
// conversion is encode_utf8's).
std::string convert_path_to_utf8(const wchar_t* path);

// text with every character that could act on a terminal shown as an
// escape instead: C0 controls and DEL as "\x1b" (a line feed as "\n"), the
// C1 controls as the "\xc2\x9b" of their UTF-8 bytes, and a byte 0x80-0x9F
// outside valid UTF-8 (U+DC80 + byte) as "\x9b". Everything else, a
// backslash too, stays as it is, so that a name reads as it is named.
std::wstring escape_for_terminal(const wchar_t* text);

// The bytes of text as a JSON string, quotes included: valid UTF-8 as it
// is, '"', '\' and control characters escaped, and each byte that is not
// part of valid UTF-8 as the \u00XX of its Latin-1 reading.
std::string quote_json(const std::string& text);

// Compares two 8-bit strings ignoring ASCII letter case; 0 means equal.
int compare_ignoring_case(const char* a, const char* b);

}  // namespace vlx

#endif  // VLX_PLATFORM_TEXT_H
