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

}  // namespace
