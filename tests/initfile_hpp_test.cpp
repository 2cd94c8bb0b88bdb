// The C++ interface: the same documents as the C functions, in C++ terms.
#include <stdlib.h>

#include <cstdint>
#include <limits>
#include <utility>

#include "initfile/initfile.hpp"
#include "tests/initfile_test_util.h"
#include "tests/tool_runner.h"

namespace {

namespace ini = vlx::initfile;
using View = std::optional<std::string_view>;

// Every section and entry in the order the ranges give them.
std::string walk(const ini::Document& document) {
  std::string walked;
  for (ini::ConstSection section : document.sections()) {
    walked += "[" + std::string(section.name()) + "]";
    for (auto [key, value] : section.entries()) walked += std::string(key) + "=" + std::string(value) + ";";
  }
  return walked;
}

using InitFileHppTest = ScratchTest;

TEST_F(InitFileHppTest, WalksAndLooksUpInFileOrder) {
  std::optional<ini::Document> document = ini::load_text("[s]\nk = 1\nk=2\nj=\n[t]\n[s]\nk=3\n");
  ASSERT_TRUE(document);
  EXPECT_EQ(walk(*document), "[s]k=1;k=2;j=;[t][s]k=3;");
  EXPECT_EQ(document->size(), 3u);
  EXPECT_EQ(document->value("s", "k"), View("1"));  // the first of each name wins
  EXPECT_EQ(document->value("s", "j"), View(""));
  EXPECT_EQ(document->value("s", "x"), std::nullopt);
  EXPECT_EQ(document->value("u", "k"), std::nullopt);
  EXPECT_EQ(document->section("t")->size(), 0u);
  EXPECT_FALSE(ini::load_text("k=v\n[s]\n"));
  EXPECT_TRUE(ini::load_text("")->size() == 0);
}

TEST_F(InitFileHppTest, ChangesWhatTheCFunctionsChange) {
  ini::Document document;
  EXPECT_TRUE(document.emplace_section("s").set("a", "1"));
  EXPECT_FALSE(document.emplace_section("s").set("a", "2"));  // the same section, the same entry
  document.set("s", "b", "x;y");
  document.set("t", "c", "3");
  EXPECT_EQ(document.copy_section("s", "t")->size(), 2u);     // replaces t in its place
  EXPECT_EQ(document.copy_section("absent", "u"), std::nullopt);
  EXPECT_EQ(walk(document), "[s]a=2;b=x;y;[t]a=2;b=x;y;");
  EXPECT_TRUE(document.section("t")->remove("a"));
  EXPECT_FALSE(document.section("t")->remove("a"));
  EXPECT_TRUE(document.remove_section("s"));
  EXPECT_FALSE(document.remove_section("s"));
  EXPECT_EQ(document.text(), "[t]\nb=x\\;y\n");
}

TEST_F(InitFileHppTest, StoresAndLoadsFilesAndText) {
  ini::Document document(build({{"s", {{"k", "C:\\V"}}}}));
  size_t length = 0;
  char* text = store_init_text(document.c_file(), &length);
  EXPECT_EQ(document.text(), std::string(text, length));
  free(text);

  fs::path path = scratch / fs::u8path("r\xc3\xa9pertoire") / "config.ini";
  EXPECT_EQ(document.store(path), ini::StoreResult::not_created);
  fs::create_directory(path.parent_path());
  EXPECT_EQ(document.store(path), ini::StoreResult::stored);
  std::optional<ini::Document> loaded = ini::load_file(path);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->value("s", "k"), View("C:\\V"));
  EXPECT_FALSE(ini::load_file(scratch / "absent.ini"));
  if (vlx::kPathSeparator == L'/' && fs::exists("/dev/full")) {
    fs::create_symlink("/dev/full", scratch / "full.ini");
    EXPECT_EQ(document.store(scratch / "full.ini"), ini::StoreResult::not_written);
  }
}

TEST_F(InitFileHppTest, SaysWhereATextIsWrong) {
  ini::LoadError error;
  EXPECT_FALSE(ini::load_text("[s]\nk=v\n\norphan ; note\n", error));
  EXPECT_EQ(error.line, 4);
  EXPECT_EQ(error.reason, "a line that is neither a section header nor an entry");
  EXPECT_TRUE(ini::load_text("[s]\n", error));
  EXPECT_EQ(error.line, 0);
  EXPECT_FALSE(ini::load_file(scratch / "absent.ini", error));
  EXPECT_EQ(error.line, 0);
  EXPECT_EQ(error.reason, "the file cannot be opened");
}

TEST_F(InitFileHppTest, ReadsTypedValuesWithinTheirLimits) {
  std::optional<ini::Document> document = ini::load_text(
      "[n]\nmax=2147483647\nover=2147483648\nmin=-2147483648\nplus=+1\nhex=0x10\nword=12ab\nempty=\n"
      "short=65535\nbig=65536\nnegative=-1\nhuge=9223372036854775807\n"
      "[d]\nhalf=0.5\nexp=-1.25e3\ncomma=1,5\ntoo=1e400\ninf=inf\nINF=-INFINITY\nnan=nan\nnanq=nan(1)\n"
      "[b]\nT=TRUE\ny=Yes\non=on\none=1\nf=False\nn=NO\noff=Off\nzero=0\ntwo=2\nyess=yess\n");
  ASSERT_TRUE(document);
  ini::ConstSection n = *std::as_const(*document).section("n");
  EXPECT_EQ(n.value_as<int>("max"), std::numeric_limits<int>::max());
  EXPECT_EQ(n.value_as<int>("over"), std::nullopt);
  EXPECT_EQ(n.value_as<long long>("over"), 2147483648LL);
  EXPECT_EQ(n.value_as<int>("min"), std::numeric_limits<int>::min());
  for (const char* key : {"plus", "hex", "word", "empty", "absent"}) EXPECT_EQ(n.value_as<int>(key), std::nullopt) << key;
  EXPECT_EQ(n.value_as<std::uint16_t>("short"), 65535);
  EXPECT_EQ(n.value_as<std::uint16_t>("big"), std::nullopt);
  EXPECT_EQ(n.value_as<unsigned>("negative"), std::nullopt);
  EXPECT_EQ(n.value_as<std::int64_t>("huge"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(document->value_as<double>("d", "half"), 0.5);
  EXPECT_EQ(document->value_as<double>("d", "exp"), -1250.0);
  EXPECT_EQ(document->value_as<double>("d", "comma"), std::nullopt);
  EXPECT_EQ(document->value_as<double>("d", "too"), std::nullopt);
  for (const char* key : {"inf", "INF", "nan", "nanq"}) {
    EXPECT_EQ(document->value_as<double>("d", key), std::nullopt) << key;  // no number is no setting
  }
  for (const char* key : {"T", "y", "on", "one"}) EXPECT_EQ(document->value_as<bool>("b", key), true) << key;
  for (const char* key : {"f", "n", "off", "zero"}) EXPECT_EQ(document->value_as<bool>("b", key), false) << key;
  for (const char* key : {"two", "yess"}) EXPECT_EQ(document->value_as<bool>("b", key), std::nullopt) << key;
}

TEST_F(InitFileHppTest, RemovesWhileWalkingWithoutTouchingFreedMemory) {
  std::optional<ini::Document> document = ini::load_text("[s]\na=1\nx1=2\nb=3\nx2=4\nx3=5\nc=6\nx=7\nx=8\n[t]\n[u]\n");
  ASSERT_TRUE(document);
  ini::Section s = *document->section("s");
  EXPECT_TRUE(s.contains("x1"));
  EXPECT_EQ(s.erase_if([](ini::Entry e) { return e.key[0] == 'x'; }), 5u);  // duplicates included
  EXPECT_EQ(walk(*document), "[s]a=1;c=6;b=3;[t][u]");
  EXPECT_FALSE(s.contains("x1"));
  // A removal in a range-for moves the last element into the gap, which the
  // loop then steps over: removing every element leaves every other one.
  for (ini::Entry entry : s.entries()) s.remove(entry.key);
  EXPECT_EQ(walk(*document), "[s]b=3;[t][u]");
  for (ini::Section section : document->sections()) document->remove_section(section.name());
  EXPECT_EQ(walk(*document), "[u]");
  EXPECT_FALSE(document->empty());
  EXPECT_TRUE(document->section("u")->empty());
  EXPECT_FALSE(document->contains("s") || document->contains("t"));
}

TEST_F(InitFileHppTest, LoopsThatAddElementsEnd) {
  std::optional<ini::Document> document = ini::load_text("[a]\nk=1\n[b]\n");
  ASSERT_TRUE(document);
  int visited = 0;
  for (ini::Section section : document->sections()) {
    document->copy_section(section.name(), std::string(section.name()) + ".bak");
    ASSERT_LT(++visited, 3);
  }
  EXPECT_EQ(walk(*document), "[a]k=1;[b][a.bak]k=1;[b.bak]");
  ini::Section a = *document->section("a");
  visited = 0;
  for (ini::Entry entry : a.entries()) {
    a.set(std::string(entry.key) + "x", "2");
    ASSERT_LT(++visited, 2);
  }
  EXPECT_EQ(walk(*document), "[a]k=1;kx=2;[b][a.bak]k=1;[b.bak]");
}

TEST_F(InitFileHppTest, CopiesOntoTheSectionItReads) {
  std::optional<ini::Document> document = ini::load_text("[t]\nk=1\nk=2\nj=3\n[u]\n");
  ASSERT_TRUE(document);
  std::optional<ini::Section> held = document->section("t");
  std::optional<ini::Section> copy = document->copy_section(held->name(), held->name());
  ASSERT_TRUE(copy);
  EXPECT_EQ(walk(*document), "[t]k=1;j=3;[u]");
  copy = document->copy_section("t", "u");
  EXPECT_EQ(walk(*document), "[t]k=1;j=3;[u]k=1;j=3;");
}

TEST_F(InitFileHppTest, MovedFromDocumentIsEmpty) {
  ini::Document document = std::move(*ini::load_text("[a]\nk=v\n"));
  ini::Document taken = std::move(document);
  EXPECT_EQ(document.size(), 0u);  // NOLINT(bugprone-use-after-move): defined as empty
  EXPECT_TRUE(document.empty());
  EXPECT_EQ(document.sections().begin(), document.sections().end());
  EXPECT_EQ(document.section("a"), std::nullopt);
  EXPECT_EQ(document.value("a", "k"), std::nullopt);
  EXPECT_EQ(document.text(), "");
  EXPECT_FALSE(document.remove_section("a"));
  document.set("b", "k", "w");
  EXPECT_EQ(walk(document), "[b]k=w;");
  EXPECT_EQ(walk(taken), "[a]k=v;");
}

TEST_F(InitFileHppTest, MovesOwnership) {
  std::optional<ini::Document> first = ini::load_text("[a]\n");
  ini::Document second = std::move(*first);
  ini::Document third;
  third = std::move(second);  // releases third's own empty document
  EXPECT_EQ(walk(third), "[a]");
  InitFile* file = third.release();
  EXPECT_EQ(third.c_file(), nullptr);
  free_init_file(file);
}

}  // namespace
