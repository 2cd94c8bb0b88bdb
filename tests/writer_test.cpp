// The writer's exact bytes, its failures, and round trips through the reader.
#include <random>

#include "tests/initfile_test_util.h"
#include "tests/tool_runner.h"

namespace {

class WriterTest : public ScratchTest {
 protected:
  // The bytes store_init_file writes for document.
  std::string store(const Document& document) {
    InitFile* file = build(document);
    fs::path path = scratch / "out.ini";
    EXPECT_EQ(store_init_file(file, to_wide(path).c_str()), 0);
    free_init_file(file);
    return read_file(path);
  }

  // The document stored and loaded back; empty with a failure when rejected.
  Document round_trip(const Document& document) {
    InitFile* file = build(document);
    fs::path path = scratch / "trip.ini";
    store_init_file(file, to_wide(path).c_str());
    free_init_file(file);
    InitFile* loaded = load_init_file(to_wide(path).c_str());
    if (!loaded) {
      ADD_FAILURE() << "stored file was rejected";
      return {};
    }
    Document result = describe(loaded);
    free_init_file(loaded);
    return result;
  }
};

TEST_F(WriterTest, WritesTheExactBytes) {
  EXPECT_EQ(store({}), "");
  EXPECT_EQ(store({{"empty", {}}}), "[empty]\n");
  EXPECT_EQ(store({{"s", {{"a;b", "c\\d"}}}}), "[s]\na\\;b=c\\\\d\n");
  EXPECT_EQ(store({{"n;a\\m", {{"k", "  v  "}}}, {"t", {{"k=x", "1\r\n2"}}}}),
            "[n;a\\m]\nk=  v  \n[t]\nk=x=1\r\n2\n");
  EXPECT_EQ(store({{"", {{"", ""}}}}), "[]\n=\n");
  EXPECT_EQ(store({{"vorlax", {{"Bindir", "C:\\V\\vlxcore-2.4.1\\bin"}, {"Progname", "vlx"},
                               {"Rootdir", "C:\\V"}}}}),
            "[vorlax]\nBindir=C:\\\\V\\\\vlxcore-2.4.1\\\\bin\nProgname=vlx\nRootdir=C:\\\\V\n");
}

TEST_F(WriterTest, WhatTheFormatCannotCarryReadsBackChanged) {
  EXPECT_EQ(round_trip({{"s", {{"k", "  lead"}, {"t", "trail  "}, {"a=b", "c"}}}}),
            (Document{{"s", {{"k", "lead"}, {"t", "trail"}, {"a", "b=c"}}}}));
  EXPECT_EQ(round_trip({{"x];y", {{"k", "v"}}}}), (Document{{"x", {{"k", "v"}}}}));
  EXPECT_EQ(round_trip({{"a\\b", {}}}), (Document{{"ab", {}}}));
  EXPECT_EQ(round_trip({{"s", {}}, {"k=v;c", {{"a", "1"}}}}),
            (Document{{"s", {{"[k", "v"}, {"a", "1"}}}}));
}

TEST_F(WriterTest, ReportsFailures) {
  InitFile* file = build({{"s", {{"k", "v"}}}});
  EXPECT_EQ(store_init_file(file, (scratch / "missing" / "x.ini").wstring().c_str()), -1);
  EXPECT_EQ(store_init_file(file, to_wide(scratch).c_str()), -1);
  if (kPathSeparator == L'/' && fs::exists("/dev/full")) {
    fs::create_symlink("/dev/full", scratch / "full.ini");
    EXPECT_EQ(store_init_file(file, (scratch / "full.ini").wstring().c_str()), -2);
  }
  free_init_file(file);
}

TEST_F(WriterTest, ReplacesAnExistingFile) {
  write_file(scratch / "out.ini", std::string(100, 'x'));
  EXPECT_EQ(store({{"s", {}}}), "[s]\n");
}

// What the format cannot carry: a name with ';', '\\', ']' or '=', a key
// with '=', CR or LF anywhere, leading or trailing spaces, an empty name or key.
enum TextKind { kName, kKey, kValue };

// Random text from an alphabet that stresses the escapes, within what the
// format carries.
std::string random_text(std::mt19937& random, TextKind kind) {
  static const char kAlphabet[] = "ab Z09=;\\[]#\t\x01\x7f\xc3\xa9\xff";
  std::uniform_int_distribution<int> length(kind == kValue ? 0 : 1, 12), pick(0, sizeof kAlphabet - 2);
  std::string text;
  for (int n = length(random); static_cast<int>(text.size()) < n;) {
    char c = kAlphabet[pick(random)];
    if (kind == kName && (c == ';' || c == '\\' || c == ']')) continue;
    if (kind != kValue && c == '=') continue;
    text += c;
  }
  while (!text.empty() && text.front() == ' ') text.erase(0, 1);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text.empty() && kind != kValue ? "n" : text;
}

TEST_F(WriterTest, SafeDocumentsRoundTripUnchanged) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 200; ++round) {
    Document document;
    for (int s = 0; s < static_cast<int>(random() % 4); ++s) {
      Entries entries;
      for (int e = 0; e < static_cast<int>(random() % 5); ++e) {
        std::string key = random_text(random, kKey);
        bool taken = false;
        for (const auto& entry : entries) taken |= entry.first == key;
        if (!taken) entries.emplace_back(key, random_text(random, kValue));
      }
      std::string name = random_text(random, kName);
      bool taken = false;
      for (const auto& section : document) taken |= section.first == name;
      if (!taken) document.emplace_back(name, entries);
    }
    ASSERT_EQ(round_trip(document), document) << "round " << round;
  }
}

}  // namespace
