// The C++ interface: the same documents as the C functions, in C++ terms.
#include <stdlib.h>

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
  for (ini::Section section : document.sections()) {
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
