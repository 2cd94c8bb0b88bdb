// The editor: golden edits, byte for byte, and its files.
#include <string.h>

#include "initfile/initfile.h"
#include "initfile/editor_internal.h"
#include "initfile/initfile.hpp"
#include "tests/initfile_test_util.h"
#include "tests/tool_runner.h"

using namespace vlx;
namespace ini = vlx::initfile;

namespace {

using EditorTest = ScratchTest;

enum Change { kSet, kDeleteEntry, kDeleteSection };

// The text of an edit, as a string.
std::string text_of(const InitEdit* edit) {
  size_t length = 0;
  const char* text = init_edit_text(edit, &length);
  return std::string(text, length);
}

TEST_F(EditorTest, ChangesTouchOnlyTheBytesTheyName) {
  const struct {
    const char* before;
    Change change;
    const char* section;
    const char* key;
    const char* value;
    int result;
    const char* after;
  } cases[] = {
      // Comments, blank lines and spacing stay; only the raw value changes.
      {"; top\n[s] ; c\na = 1 ; one\n\n; between\nb=2\n", kSet, "s", "a", "x", 0,
       "; top\n[s] ; c\na = x ; one\n\n; between\nb=2\n"},
      {"[s]\r\na=1\r\n", kSet, "s", "b", "2", 1, "[s]\r\na=1\r\nb=2\r\n"},
      {"[s]\nk=v ; note\n", kSet, "s", "k", "w;x\\", 0, "[s]\nk=w\\;x\\\\ ; note\n"},
      // A continued value becomes one line; the comment of its last line stays.
      {"[s]\nk=one \\\n   two ; c\nz=1\n", kSet, "s", "k", "new", 0, "[s]\nk=new ; c\nz=1\n"},
      {"[s]\nk=a\\;b\n", kSet, "s", "k", "c", 0, "[s]\nk=c\n"},
      {"[s]\nk=\\;b\n", kSet, "s", "k", "x", 0, "[s]\nk=x\n"},
      {"[s]\nk = v \\ \\ ; c\r\n", kSet, "s", "k", "w", 0, "[s]\nk = w \\ \\ ; c\r\n"},
      // An empty value is set where the loader starts it.
      {"[s]\nk=  ; c\n", kSet, "s", "k", "v", 0, "[s]\nk=  v; c\n"},
      {"[s]\nk=v ; c\n", kSet, "s", "k", "", 0, "[s]\nk= ; c\n"},
      // The first section of a name and its first entry of a key.
      {"[s]\nk=1\nk=2\n[s]\nk=3\n", kSet, "s", "k", "9", 0, "[s]\nk=9\nk=2\n[s]\nk=3\n"},
      {"[s]\nk=1\nk=2\n[s]\nk=3\n", kSet, "s", "j", "5", 1, "[s]\nk=1\nk=2\nj=5\n[s]\nk=3\n"},
      // A new key follows the last entry, before trailing comments, indented
      // as the entry above it; after the header of an empty section.
      {"[s]\n  a=1\n; trailing\n\n[t]\n", kSet, "s", "b", "2", 1, "[s]\n  a=1\n  b=2\n; trailing\n\n[t]\n"},
      {"[s] ; empty\n\n[t]\nx=1\n", kSet, "s", "k", "v", 1, "[s] ; empty\nk=v\n\n[t]\nx=1\n"},
      {"[s]\r\nk=v", kSet, "s", "j", "w", 1, "[s]\r\nk=v\r\nj=w\r\n"},
      // A new section goes at the end, after a line end where there is none;
      // a backslash that ends the text keeps its meaning.
      {"[s]\nk=v", kSet, "t", "a", "1", 1, "[s]\nk=v\n[t]\na=1\n"},
      {"[s]\nk=v\\", kSet, "t", "a", "1", 1, "[s]\nk=v\\ \n[t]\na=1\n"},
      {"[s]\nk=v\\", kSet, "s", "j", "w", 1, "[s]\nk=v\\ \nj=w\n"},
      {"[s]\nk=v\\\n", kSet, "t", "a", "1", 1, "[s]\nk=v\\\n\n[t]\na=1\n"},  // a continued line is closed first
      {"; only a comment", kSet, "a;b", "k\\", "v;w", 1, "; only a comment\n[a\\;b]\nk\\\\=v\\;w\n"},
      {"", kSet, " s ", "k", "", 1, "[ s ]\nk=\n"},
      // Deleting removes the physical lines of an entry, or a section with
      // the comment lines right above its header, up to those of the next.
      {"[s]\na=1\nb=2 ; c \\\nc=3\n", kDeleteEntry, "s", "b", "", 0, "[s]\na=1\nc=3\n"},
      {"[s]\na=1\n", kDeleteEntry, "s", "x", "", 1, "[s]\na=1\n"},
      {"[s]\na=1\n; c\n[t]\nb=2\n", kDeleteSection, "s", "", "", 0, "; c\n[t]\nb=2\n"},
      {"[a]\nx=1\n; about b\n[b]\ny=2\n; about c\n[c]\nz=3\n", kDeleteSection, "b", "", "", 0,
       "[a]\nx=1\n; about c\n[c]\nz=3\n"},
      {"[a]\nx=1\n\n; about b\n[b]\ny=2\n\n; about c\n[c]\nz=3\n", kDeleteSection, "b", "", "", 0,
       "[a]\nx=1\n\n; about c\n[c]\nz=3\n"},
      {"[a]\r\nx=1\r\n  ; about b\r\n\r; more\r\n[b]\r\ny=2\r\n", kDeleteSection, "b", "", "", 0, "[a]\r\nx=1\r\n"},
      // The walk back over the comments above a header stops at the end of
      // the line above: a comment line that a backslash continues into is
      // that entry's, and stays.
      {"[a]\nx=1 \\\n; about x\n; about b\n[b]\ny=2\n", kDeleteSection, "b", "", "", 0,
       "[a]\nx=1 \\\n; about x\n"},
      {"; about a\n[a]\nx=1\n[b]\n", kDeleteSection, "a", "", "", 0, "[b]\n"},
      {"; the file\n\n[a]\nx=1\n[b]\n", kDeleteSection, "a", "", "", 0, "; the file\n\n[b]\n"},
      {"; s\n[s]\na=1\n; t\n[t]\n; s again\n[s]\nb=2\n", kDeleteSection, "s", "", "", 0, "; t\n[t]\n"},
      // A line that a backslash continues into a comment is its entry's.
      {"[a]\nx=1 \\\n; part of x\n[b]\ny=2\n", kDeleteSection, "b", "", "", 0, "[a]\nx=1 \\\n; part of x\n"},
      {"[a]\n; about b\n[b]\n", kDeleteSection, "a", "", "", 0, "; about b\n[b]\n"},
      {"[s]\na=1\n[t]\nb=2", kDeleteSection, "t", "", "", 0, "[s]\na=1\n"},
      {"[s]\n", kDeleteSection, "t", "", "", 1, "[s]\n"},
      // What the text cannot hold so that it reads back changes nothing.
      {"[s]\nk=v\n", kSet, "s", "k", " v", -1, "[s]\nk=v\n"},
      {"[s]\nk=v\n", kSet, "s", "k", "v ", -1, "[s]\nk=v\n"},
      {"[s]\nk=v\n", kSet, "s", "k", "a\rb", -1, "[s]\nk=v\n"},
      {"[s]\nk=v\n", kSet, "s", "k", "a\nb", -1, "[s]\nk=v\n"},
      {"[s]\nk=v\n", kSet, "s", "", "v", -1, "[s]\nk=v\n"},
      {"[s]\nk=v\n", kSet, "s", "a=b", "v", -1, "[s]\nk=v\n"},
      {"[s]\nk=v\n", kSet, "s", " k", "v", -1, "[s]\nk=v\n"},
      {"[s]\nk=v\n", kSet, "s", "k ", "v", -1, "[s]\nk=v\n"},
      {"[s]\nk=v\n", kSet, "s", "a\rb", "v", -1, "[s]\nk=v\n"},
      {"[s]\nk=v\n", kSet, "", "k", "v", -1, "[s]\nk=v\n"},
      {"[s]\nk=v\n", kSet, "a=b", "k", "v", -1, "[s]\nk=v\n"},
      {"[s]\nk=v\n", kSet, "a\nb", "k", "v", -1, "[s]\nk=v\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.before) + " | " + c.section + " " + c.key + " " + c.value);
    InitLoadError report = {-1, "stale"};
    InitEdit* edit = open_init_edit_text(c.before, strlen(c.before), &report);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(report.line, 0);
    EXPECT_EQ(report.reason, nullptr);
    int result = c.change == kSet            ? set_init_edit_value(edit, c.section, c.key, c.value)
                 : c.change == kDeleteEntry ? delete_init_edit_entry(edit, c.section, c.key)
                                            : delete_init_edit_section(edit, c.section);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(text_of(edit), c.after);
    if (c.change == kSet && result >= 0) {
      EXPECT_STREQ(init_edit_value(edit, c.section, c.key), c.value);
    }
    free_init_edit(edit);
  }
}

TEST_F(EditorTest, ZeroByteEndsALineAsForTheLoader) {
  // The loader reads a line up to a zero byte: a value set there must stay
  // before it, and a value emptied keeps what follows it.
  const std::string text("[s]\nk=\\\n  \0x\nj=ab\0cd\n", 21);
  InitEdit* edit = open_init_edit_text(text.data(), text.size(), nullptr);
  ASSERT_NE(edit, nullptr);
  EXPECT_STREQ(init_edit_value(edit, "s", "k"), "");
  EXPECT_EQ(set_init_edit_value(edit, "s", "k", "v"), 0);
  EXPECT_EQ(set_init_edit_value(edit, "s", "j", "w"), 0);
  EXPECT_EQ(text_of(edit), std::string("[s]\nk=\\\n  v\0x\nj=w\0cd\n", 21));
  InitFile* file = load_init_text(init_edit_text(edit, nullptr), 21);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(describe(file), (Document{{"s", {{"k", "v"}, {"j", "w"}}}}));
  free_init_file(file);
  free_init_edit(edit);
}

TEST_F(EditorTest, LooksUpWhatTheLoaderReads) {
  const char text[] = "; c\n[s]\nk = a\\;b \\\n  c ; note\nk=2\n[t]\n[s]\nj=3\n";
  InitEdit* edit = open_init_edit_text(text, sizeof text - 1, nullptr);
  ASSERT_NE(edit, nullptr);
  InitFile* file = load_init_text(text, sizeof text - 1);
  EXPECT_STREQ(init_edit_value(edit, "s", "k"), lookup_init_value(lookup_init_section(file, "s"), "k"));
  EXPECT_STREQ(init_edit_value(edit, "s", "k"), "a;b   c");
  EXPECT_EQ(init_edit_value(edit, "s", "j"), nullptr);  // in the second [s]
  EXPECT_EQ(init_edit_value(edit, "u", "k"), nullptr);
  // Looked up again and again, an unchanged edit holds one value per entry.
  const char* first = init_edit_value(edit, "s", "k");
  for (int i = 0; i < 1000000; ++i) ASSERT_EQ(init_edit_value(edit, "s", "k"), first);
  EXPECT_EQ(count_held_values(edit), 1u);
  free_init_file(file);
  free_init_edit(edit);
}

TEST_F(EditorTest, StoreLeavesAnotherProgramsChange) {
  write_contents(scratch / "f.ini", "[s]\nk=1\n");
  std::wstring path = to_wide(scratch / "f.ini");
  InitEdit* edit = open_init_edit(path.c_str(), nullptr);
  ASSERT_NE(edit, nullptr);
  ASSERT_EQ(set_init_edit_value(edit, "s", "j", "2"), 1);
  write_contents(scratch / "f.ini", "[s]\nk=1\nother=3\n");  // another program's change meanwhile
  EXPECT_EQ(store_init_edit(edit, path.c_str()), -3);
  EXPECT_EQ(read_contents(scratch / "f.ini"), "[s]\nk=1\nother=3\n");
  // Stored elsewhere it is written; its own store updates what it knows.
  EXPECT_EQ(store_init_edit(edit, to_wide(scratch / "copy.ini").c_str()), 0);
  free_init_edit(edit);
  edit = open_init_edit(path.c_str(), nullptr);
  ASSERT_EQ(set_init_edit_value(edit, "s", "j", "2"), 1);
  EXPECT_EQ(store_init_edit(edit, path.c_str()), 0);
  ASSERT_EQ(set_init_edit_value(edit, "s", "j", "4"), 0);
  EXPECT_EQ(store_init_edit(edit, path.c_str()), 0);
  EXPECT_EQ(read_contents(scratch / "f.ini"), "[s]\nk=1\nother=3\nj=4\n");
  free_init_edit(edit);
}

TEST_F(EditorTest, MovedFromEditStoresNothing) {
  write_contents(scratch / "f.ini", "[s]\nk=v\n");
  std::optional<ini::Edit> opened = ini::open_edit(scratch / "f.ini");
  ASSERT_TRUE(opened.has_value());
  ini::Edit taken = std::move(*opened);
  EXPECT_NE(opened->store(scratch / "f.ini"), ini::StoreResult::stored);  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(store_init_edit(nullptr, to_wide(scratch / "f.ini").c_str()), -1);
  EXPECT_EQ(read_contents(scratch / "f.ini"), "[s]\nk=v\n");
  EXPECT_EQ(taken.store(scratch / "f.ini"), ini::StoreResult::stored);
}

TEST_F(EditorTest, RejectsWhatTheLoaderRejectsWithItsReport) {
  for (const char* text : {"k=v\n[s]\n", "[s]\n\norphan ; x\n", "\xef\xbb\xbf[s]\n", "[s]\n=v\n"}) {
    SCOPED_TRACE(text);
    InitLoadError edited = {-1, nullptr}, loaded = {-1, nullptr};
    EXPECT_EQ(open_init_edit_text(text, strlen(text), &edited), nullptr);
    EXPECT_EQ(load_init_text_reporting(text, strlen(text), &loaded), nullptr);
    EXPECT_EQ(edited.line, loaded.line);
    EXPECT_STREQ(edited.reason, loaded.reason);
  }
}

TEST_F(EditorTest, OpensAndStoresFiles) {
  std::wstring path = to_wide(scratch / "config.ini");
  InitLoadError report = {-1, nullptr};
  InitEdit* edit = open_init_edit(path.c_str(), &report);  // no file yet: an empty text
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(report.line, 0);
  EXPECT_STREQ(report.reason, "the file does not exist");
  EXPECT_EQ(set_init_edit_value(edit, "s", "k", "v"), 1);
  EXPECT_EQ(store_init_edit(edit, path.c_str()), 0);
  free_init_edit(edit);
  EXPECT_EQ(read_contents(scratch / "config.ini"), "[s]\nk=v\n");

  // Opening and storing without a change gives the same bytes.
  const std::string kept = "; settings\r\n[s]\r\n  k = v ; why\r\n\r\n[t]\r\nx=\\\\\r\n";
  write_contents(scratch / "config.ini", kept);
  edit = open_init_edit(path.c_str(), &report);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(report.reason, nullptr);
  EXPECT_EQ(store_init_edit(edit, path.c_str()), 0);
  EXPECT_EQ(read_contents(scratch / "config.ini"), kept);
  EXPECT_EQ(store_init_edit(edit, to_wide(scratch / "missing" / "x.ini").c_str()), -1);
  free_init_edit(edit);

  write_contents(scratch / "bad.ini", "[s]\norphan\n");
  EXPECT_EQ(open_init_edit(to_wide(scratch / "bad.ini").c_str(), &report), nullptr);
  EXPECT_EQ(report.line, 2);
  EXPECT_EQ(open_init_edit(to_wide(scratch).c_str(), &report), nullptr);
  EXPECT_STREQ(report.reason, "the file cannot be opened");
}

TEST_F(EditorTest, CppEditChangesOneValueAndKeepsTheRest) {
  ini::LoadError error;
  std::optional<ini::Edit> edit = ini::edit_text("; settings\n\n[server]\nport = 80 ; http\n", error);
  ASSERT_TRUE(edit);
  EXPECT_EQ(edit->value("server", "port"), std::optional<std::string_view>("80"));
  EXPECT_EQ(edit->value_as<int>("server", "port"), 80);
  EXPECT_EQ(edit->set("server", "port", "8080"), ini::SetResult::replaced);
  EXPECT_EQ(edit->set("server", "host", "example"), ini::SetResult::added);
  EXPECT_EQ(edit->set("server", "host", " padded"), ini::SetResult::unrepresentable);
  EXPECT_EQ(edit->set("server", std::string_view("k\0x", 3), "v"), ini::SetResult::unrepresentable);
  EXPECT_EQ(edit->value("server", std::string_view("port\0x", 6)), std::nullopt);
  EXPECT_EQ(edit->text(), "; settings\n\n[server]\nport = 8080 ; http\nhost=example\n");
  EXPECT_TRUE(edit->remove("server", "host"));
  EXPECT_FALSE(edit->remove("server", "host"));
  EXPECT_TRUE(edit->remove_section("server"));
  EXPECT_EQ(edit->text(), "; settings\n\n");
  EXPECT_FALSE(ini::edit_text("k=v\n", error));
  EXPECT_EQ(error.line, 1);
  fs::path path = scratch / "absent.ini";
  std::optional<ini::Edit> created = ini::open_edit(path, error);
  ASSERT_TRUE(created);
  EXPECT_EQ(error.reason, "the file does not exist");
  EXPECT_EQ(created->set("a", "b", "c"), ini::SetResult::added);
  EXPECT_EQ(created->store(path), ini::StoreResult::stored);
  EXPECT_EQ(read_contents(path), "[a]\nb=c\n");
  ini::Edit moved = std::move(*created);
  EXPECT_EQ(created->text(), "");  // NOLINT(bugprone-use-after-move): defined as empty
  EXPECT_EQ(created->set("x", "y", "z"), ini::SetResult::added);
  EXPECT_EQ(created->text(), "[x]\ny=z\n");
  EXPECT_EQ(moved.text(), "[a]\nb=c\n");
}

TEST_F(EditorTest, RenamesTouchOnlyTheNames) {
  const struct {
    const char* before;
    const char* key;  // null: rename the section
    const char* new_name;
    int result;
    const char* after;
  } cases[] = {
      // Every section of the name; comments, spacing and escapes around stay.
      {"; a\n[s] ; c\r\nk=1\n[t]\n[s]\n", nullptr, "u", 0, "; a\n[u] ; c\r\nk=1\n[t]\n[u]\n"},
      {"[s]\n", nullptr, "a;b\\", 0, "[a\\;b\\\\]\n"},
      // The key in every section of the name, wherever its line starts.
      {"[s]\n  k = v ; c\n[t]\nk=2\n[s]\nk=3\nk=4\n", "k", "j", 0,
       "[s]\n  j = v ; c\n[t]\nk=2\n[s]\nj=3\nj=4\n"},
      {"[s]\nk\\;x=1\n", "k;x", "y", 0, "[s]\ny=1\n"},
      // A name that is there, or that cannot read back, changes nothing.
      {"[s]\n[t]\n", nullptr, "t", -2, "[s]\n[t]\n"},
      {"[s]\nk=1\nj=2\n", "k", "j", -2, "[s]\nk=1\nj=2\n"},
      {"[s]\nk=1\n", "k", " j", -1, "[s]\nk=1\n"},
      {"[s]\n", nullptr, "a=b", -1, "[s]\n"},
      {"[s]\nk=1\n", "x", "y", 1, "[s]\nk=1\n"},
      {"[s]\n", nullptr, "s", 0, "[s]\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before);
    InitEdit* edit = open_init_edit_text(c.before, strlen(c.before), nullptr);
    ASSERT_NE(edit, nullptr);
    int result = c.key ? rename_init_edit_key(edit, "s", c.key, c.new_name)
                       : rename_init_edit_section(edit, "s", c.new_name);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(text_of(edit), c.after);
    free_init_edit(edit);
  }
  std::optional<ini::Edit> edit = ini::edit_text("[s]\nk=1\n");
  ASSERT_TRUE(edit);
  EXPECT_EQ(edit->rename_key("s", "k", "j"), ini::RenameResult::renamed);
  EXPECT_EQ(edit->rename_section("s", "t"), ini::RenameResult::renamed);
  EXPECT_EQ(edit->rename_section("s", "t"), ini::RenameResult::missing);
  EXPECT_EQ(edit->rename_key("t", "j", std::string_view("a\0b", 3)), ini::RenameResult::unrepresentable);
  EXPECT_EQ(edit->text(), "[t]\nj=1\n");
}

TEST_F(EditorTest, VisitsGiveEachLineWhereItStarts) {
  const char text[] = "; c\n[a]\nk=v \\\n  w\n\n[b] ; x\nj = 1\n";
  std::string seen;
  auto visit = [](void* context, int32_t line, const char* section, const char* key, const char* value) {
    std::string* out = static_cast<std::string*>(context);
    *out += std::to_string(line) + ":" + section + (key ? std::string(" ") + key + "=" + value : "") + "|";
    return 0;
  };
  EXPECT_EQ(visit_init_text(text, strlen(text), visit, &seen, nullptr), 0);
  EXPECT_EQ(seen, "2:a|3:a k=v   w|6:b|7:b j=1|");
  seen.clear();
  InitLoadError error;
  EXPECT_EQ(visit_init_text("[a]\nk=1\nbad\n", 12, visit, &seen, &error), -1);
  EXPECT_EQ(seen, "1:a|2:a k=1|");
  EXPECT_EQ(error.line, 3);
  auto stop = [](void*, int32_t, const char*, const char*, const char*) { return 1; };
  EXPECT_EQ(visit_init_text(text, strlen(text), stop, nullptr, nullptr), 1);
  write_contents(scratch / "v.ini", text);
  seen.clear();
  EXPECT_EQ(visit_init_file(to_wide(scratch / "v.ini").c_str(), visit, &seen, nullptr), 0);
  EXPECT_EQ(seen, "2:a|3:a k=v   w|6:b|7:b j=1|");
  EXPECT_EQ(visit_init_file(to_wide(scratch / "absent.ini").c_str(), visit, &seen, &error), -1);
  EXPECT_STREQ(error.reason, "the file cannot be opened");
}

}  // namespace
