// Lossless conversion between UTF-8 and wide strings.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

using namespace vlx;

namespace {

std::wstring decode(const std::string& bytes) { return decode_utf8(bytes.data(), bytes.size()); }

TEST(Utf8Test, ValidTextRoundTrips) {
  for (const char* text : {"", "plain", "\xc3\xa9t\xc3\xa9", "\xe6\xa0\xb9", "\xf0\x9f\x98\x80 x"}) {
    EXPECT_EQ(encode_utf8(decode(text).c_str()), text);
  }
  EXPECT_EQ(decode("\xc3\xa9"), L"\u00e9");
  EXPECT_EQ(encode_utf8(L"\U0001F600"), "\xf0\x9f\x98\x80");
}

TEST(Utf8Test, InvalidBytesBecomeEscapesAndComeBack) {
  // Stray continuation, overlong form, encoded surrogate, truncated sequence,
  // a lead byte that never starts UTF-8.
  for (const char* bytes : {"\x80", "a\xc0\xaf", "\xed\xa0\x80", "x\xe6\xa0", "\xff\xfe"}) {
    std::wstring wide = decode(bytes);
    for (wchar_t c : wide) EXPECT_TRUE(c < 0x80 || (c >= 0xDC80 && c <= 0xDCFF)) << int(c);
    EXPECT_EQ(encode_utf8(wide.c_str()), bytes);
  }
  EXPECT_EQ(decode("\xff"), std::wstring(1, wchar_t(0xDCFF)));
}

TEST(Utf8Test, OtherLoneSurrogatesBecomeReplacementCharacters) {
  std::wstring lone(1, wchar_t(0xD800));
  EXPECT_EQ(encode_utf8(lone.c_str()), "\xef\xbf\xbd");
}

TEST(Utf8Test, ControlsAreShownAsEscapesForTheTerminal) {
  const struct {
    std::string bytes;
    const char* shown;
  } cases[] = {
      {"plain name \xc3\xa9 \xe6\xa0\xb9", "plain name \xc3\xa9 \xe6\xa0\xb9"},  // printable text as it is
      {"a\x1b]2;OWNED\x07\x1b[2J", "a\\x1b]2;OWNED\\x07\\x1b[2J"},              // C0 controls
      {"one\ntwo\tthree\r", "one\\ntwo\\x09three\\x0d"},                      // a line feed as \n
      {"del\x7f", "del\\x7f"},
      {"c1 \xc2\x9b and \xc2\x85", "c1 \\xc2\\x9b and \\xc2\\x85"},          // C1 as UTF-8
      {"raw \x9b \x80 \x9f", "raw \\x9b \\x80 \\x9f"},                         // C1 as bytes outside UTF-8
      {"other \xa0\xff", "other \xa0\xff"},                                  // other stray bytes stay
      {"C:\\dir\\x", "C:\\dir\\x"},                                          // backslashes stay
      {std::string("zero\0", 5), "zero"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(encode_utf8(escape_for_terminal(decode(c.bytes).c_str()).c_str()), c.shown) << c.shown;
  }
}

}  // namespace
