// The writer's exact bytes, its failures, and round trips through the reader.
#include <stdlib.h>

#include <algorithm>
#include <random>

#include "platform/replacement.h"
#include "tests/initfile_test_util.h"
#include "tests/tool_runner.h"

using namespace vlx;

namespace {

class WriterTest : public ScratchTest {
 protected:
  // The bytes store_init_file writes for document; store_init_text must give
  // the same bytes.
  std::string store(const Document& document) {
    InitFile* file = build(document);
    fs::path path = scratch / "out.ini";
    EXPECT_EQ(store_init_file(file, to_wide(path).c_str()), 0);
    size_t length = 0;
    char* text = store_init_text(file, &length);
    std::string written = read_contents(path);
    EXPECT_TRUE(same_bytes(std::string(text, length), written));
    EXPECT_EQ(text[length], '\0');
    free(text);
    free_init_file(file);
    return written;
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

TEST_F(WriterTest, WritesLargeDocumentsInBlocksWithTheSameBytes) {
  // Lines of many lengths cross the block boundaries; one value spans blocks.
  Document document;
  std::string expected;
  for (int s = 0; s < 100; ++s) {
    document.push_back({"s" + std::to_string(s), {}});
    expected += "[s" + std::to_string(s) + "]\n";
    for (int i = 0; i < 200; ++i) {
      std::string key = "k" + std::to_string(i), value = std::string(i % 13, '\\') + "x;y";
      document.back().second.emplace_back(key, value);
      expected += key + "=" + std::string(2 * (i % 13), '\\') + "x\\;y\n";
    }
  }
  document.push_back({"huge", {{"v", std::string(300000, ';')}}});
  expected += "[huge]\nv=";
  for (int i = 0; i < 300000; ++i) expected += "\\;";
  EXPECT_TRUE(same_bytes(store(document), expected + "\n"));
}

TEST_F(WriterTest, FailuresLeaveTheOldFileAndNoTemporaryFile) {
  // Each failure leaves the error of the step that failed, for the caller
  // to describe. A device is written in place, never renamed over: as root
  // a rename would replace the machine's /dev/full.
  InitFile* file = build({{"s", {{"k", std::string(100, 'v')}}}});
  auto last_error = [] { return "  " + encode_utf8(describe_last_error().c_str()) + "\n"; };
  if (kPathSeparator == L'/' && fs::exists("/dev/full")) {
    fs::create_symlink("/dev/full", scratch / "full.ini");
    EXPECT_EQ(store_init_file(file, to_wide(scratch / "full.ini").c_str()), -2);
    EXPECT_EQ(last_error(), reason_line(kNoSpace));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    EXPECT_TRUE(fs::is_symlink(scratch / "full.ini"));
  }
  EXPECT_EQ(store_init_file(file, to_wide(scratch / "missing" / "x.ini").c_str()), -1);
  EXPECT_EQ(last_error(), reason_line(kNoSuchDirectory));
  fs::create_directory(scratch / "dir.ini");
  EXPECT_EQ(store_init_file(file, to_wide(scratch / "dir.ini").c_str()), -1);
  EXPECT_EQ(last_error(), reason_line(kIsADirectory));
  write_contents(scratch / "old.ini", "[old]\n");
  run_with_file_size_limit(60, [&] {
    EXPECT_EQ(store_init_file(file, to_wide(scratch / "old.ini").c_str()), -2);
    EXPECT_EQ(last_error(), reason_line(kFileTooLarge));
  });
  EXPECT_EQ(read_contents(scratch / "old.ini"), "[old]\n");
  free_init_file(file);
  std::vector<std::string> left = list_directory(scratch);
  left.erase(std::remove(left.begin(), left.end(), "full.ini"), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"dir.ini", "old.ini"}));
}

TEST_F(WriterTest, TemporaryFilesAreNamedForTheirTargetWithinTheNameLimit) {
  // ".NAME.XXXXXX.tmp", NAME cut short of the 255 bytes a name may have,
  // never inside a character: a store to a long name still succeeds.
  std::wstring name = make_store_temporary_name(L"vlx.ini");
  EXPECT_EQ(name.size(), 19u);
  EXPECT_EQ(name.compare(0, 9, L".vlx.ini."), 0);
  EXPECT_EQ(name.compare(15, 4, L".tmp"), 0);
  EXPECT_NE(make_store_temporary_name(L"vlx.ini"), name);
  std::wstring e_acute(1, static_cast<wchar_t>(0xE9)), smiley = decode_utf8("\xF0\x9F\x98\x80", 4);
  InitFile* file = build({{"s", {{"k", "v"}}}});
  for (const std::wstring& character : {std::wstring(L"a"), e_acute, smiley}) {
    std::wstring target;
    while (encode_utf8((target + character).c_str()).size() <= 255) target += character;
    SCOPED_TRACE(encode_utf8(target.c_str()).size());
    std::wstring temporary = make_store_temporary_name(target);
    std::string bytes = encode_utf8(temporary.c_str());
    EXPECT_LE(bytes.size(), 255u);
    EXPECT_GT(bytes.size() + encode_utf8(character.c_str()).size(), 255u);
    EXPECT_EQ(decode_utf8(bytes.data(), bytes.size()), temporary);  // whole characters only
    EXPECT_EQ(store_init_file(file, (to_wide(scratch) + kPathSeparator + target).c_str()), 0);
  }
  free_init_file(file);
}

TEST_F(WriterTest, ReplacesTheFileALinkNamesKeepingItsIdentity) {
  write_contents(scratch / "out.ini", std::string(100, 'x'));
  EXPECT_EQ(store({{"s", {}}}), "[s]\n");
  InitFile* file = build({{"s", {{"k", "v"}}}});
  if (kPathSeparator != L'/') {
    EXPECT_EQ(store_init_file(file, L"NUL"), 0);  // a device, written in place
    free_init_file(file);
    return;  // links and permission bits as POSIX has them
  }
  fs::create_symlink("/dev/null", scratch / "null.ini");
  EXPECT_EQ(store_init_file(file, to_wide(scratch / "null.ini").c_str()), 0);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  write_contents(scratch / "real" / "config.ini", "old");
  fs::permissions(scratch / "real" / "config.ini", fs::perms::owner_read | fs::perms::group_read);
  fs::create_symlink("real/config.ini", scratch / "link.ini");
  fs::create_symlink(scratch / "link.ini", scratch / "chain.ini");
  fs::create_symlink("real/new.ini", scratch / "dangling.ini");
  EXPECT_EQ(store_init_file(file, to_wide(scratch / "chain.ini").c_str()), 0);
  EXPECT_EQ(store_init_file(file, to_wide(scratch / "dangling.ini").c_str()), 0);
  free_init_file(file);
  EXPECT_EQ(read_contents(scratch / "real" / "config.ini"), "[s]\nk=v\n");
  EXPECT_EQ(fs::status(scratch / "real" / "config.ini").permissions(), fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(read_contents(scratch / "real" / "new.ini"), "[s]\nk=v\n");
  EXPECT_TRUE(fs::is_symlink(scratch / "link.ini") && fs::is_symlink(scratch / "chain.ini") &&
              fs::is_symlink(scratch / "dangling.ini"));
  EXPECT_EQ(list_directory(scratch / "real"), (std::vector<std::string>{"config.ini", "new.ini"}));
}

TEST_F(WriterTest, ReplacedFileIsANewFileCarryingWhatTheOldOneHad) {
  if (kPathSeparator != L'/') GTEST_SKIP() << "hard links, owners and extended attributes as POSIX has them";
  InitFile* file = build({{"s", {{"k", "v"}}}});
  // Other names of the old file keep the old text: the name gets a new file.
  write_contents(scratch / "a.ini", "old");
  fs::create_hard_link(scratch / "a.ini", scratch / "b.ini");
  std::uint64_t identity = file_identity(to_wide(scratch / "a.ini"));
  EXPECT_EQ(store_init_file(file, to_wide(scratch / "a.ini").c_str()), 0);
  EXPECT_EQ(read_contents(scratch / "a.ini"), "[s]\nk=v\n");
  EXPECT_EQ(read_contents(scratch / "b.ini"), "old");
  EXPECT_NE(file_identity(to_wide(scratch / "a.ini")), identity);
  // Extended attributes, an owner other than the writer and permission bits
  // go to the new file (as root); a capability does not.
  std::wstring owned = to_wide(scratch / "owned.ini");
  write_contents(scratch / "owned.ini", "old");
  fs::permissions(scratch / "owned.ini", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  bool attributes = set_extended_attribute(owned, "user.origin", "kept");
  const char capability[] = "\x00\x00\x00\x02\x00\x04\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00";
  bool capable = set_extended_attribute(owned, "security.capability", std::string(capability, 20));
  bool given = change_owner(owned, 65534);
  identity = file_identity(owned);
  EXPECT_EQ(store_init_file(file, owned.c_str()), 0);
  EXPECT_EQ(read_contents(scratch / "owned.ini"), "[s]\nk=v\n");
  EXPECT_NE(file_identity(owned), identity);
  EXPECT_EQ(read_extended_attribute(owned, "user.origin"), attributes ? "kept" : "");
  EXPECT_EQ(file_owner(owned), given ? 65534 : file_owner(to_wide(scratch)));
  EXPECT_EQ(fs::status(scratch / "owned.ini").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  if (capable) {
    EXPECT_EQ(read_extended_attribute(owned, "security.capability"), "");
  }
  free_init_file(file);
  EXPECT_EQ(list_directory(scratch), (std::vector<std::string>{"a.ini", "b.ini", "owned.ini"}));
}

TEST_F(WriterTest, StoresByOtherUsersKeepSetIdBits) {
  if (!can_run_as_other_users()) GTEST_SKIP() << "needs root";
  // A file of user 1000 and its group, in a directory they share: its owner
  // stores it, then a member of the group. A write by either clears the
  // set-group-ID bit, which the mode given last brings back.
  fs::path shared = scratch / "shared", path = shared / "config.ini";
  const fs::perms mode = fs::perms::set_gid | fs::perms::owner_all | fs::perms::group_all |
                         fs::perms::others_read | fs::perms::others_exec;
  write_contents(path, "old");
  for (const fs::path& owned : {shared, path}) {
    ASSERT_TRUE(change_owner(to_wide(owned), 1000));
    fs::permissions(owned, mode);
  }
  fs::permissions(scratch, fs::perms::others_exec, fs::perm_options::add);
  auto store_as = [&](long user, const std::string& value) {
    return run_as_user(user, user, {1000}, [&] {
      InitFile* file = build({{"s", {{"k", value}}}});
      int stored = store_init_file(file, to_wide(path).c_str());
      free_init_file(file);
      return stored == 0;
    });
  };
  EXPECT_TRUE(store_as(1000, "by its owner"));
  EXPECT_EQ(read_contents(path), "[s]\nk=by its owner\n");
  EXPECT_EQ(fs::status(path).permissions(), mode);
  EXPECT_TRUE(store_as(1001, "by a member"));
  EXPECT_EQ(read_contents(path), "[s]\nk=by a member\n");
  EXPECT_EQ(fs::status(path).permissions(), mode);
  EXPECT_EQ(file_owner(to_wide(path)), 1001);  // it may not give the file away
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
