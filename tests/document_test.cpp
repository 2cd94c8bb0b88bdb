// The in-memory document model and the senses of its results.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "initfile/initfile.h"

namespace {

std::vector<std::string> section_names(InitFile* file) {
  std::vector<std::string> names;
  for (int i = 0; init_section_name_at(file, i); ++i) names.push_back(init_section_name_at(file, i));
  return names;
}

std::vector<std::string> entry_keys(InitSection* section) {
  std::vector<std::string> keys;
  for (int i = 0; init_entry_key_at(section, i); ++i) keys.push_back(init_entry_key_at(section, i));
  return keys;
}

TEST(DocumentTest, ArraysGrowByTenAndKeepTheirElements) {
  InitFile* file = create_init_file();
  EXPECT_EQ(file->capacity, 10);
  InitSection* section = create_init_section("s");
  for (int i = 0; i < 21; ++i) {
    std::string name = std::to_string(i);
    EXPECT_EQ(add_init_section(file, create_init_section(name.c_str())), 1);
    EXPECT_EQ(set_init_entry(section, name.c_str(), ("v" + name).c_str()), 1);
  }
  EXPECT_EQ(file->count, 21);
  EXPECT_EQ(file->capacity, 30);
  EXPECT_EQ(section->capacity, 30);
  for (int i = 0; i < 21; ++i) {
    EXPECT_EQ(init_section_name_at(file, i), std::to_string(i));
    EXPECT_STREQ(lookup_init_value(section, std::to_string(i).c_str()), ("v" + std::to_string(i)).c_str());
  }
  free_init_section(section);
  free_init_file(file);
}

TEST(DocumentTest, AddingAnExistingNameReplacesInPlace) {
  InitFile* file = create_init_file();
  InitSection* first = create_init_section("a");
  set_init_entry(first, "old", "1");
  add_init_section(file, first);
  add_init_section(file, create_init_section("b"));
  InitSection* replacement = create_init_section("a");
  EXPECT_EQ(add_init_section(file, replacement), 0);
  EXPECT_EQ(section_names(file), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(lookup_init_section(file, "a"), replacement);
  EXPECT_EQ(lookup_init_value(replacement, "old"), nullptr);
  // The caller goes on filling a section it has handed over.
  set_init_entry(replacement, "k", "v");
  EXPECT_STREQ(lookup_init_value(lookup_init_section(file, "a"), "k"), "v");
  // Handing over the same section again must not release it.
  EXPECT_EQ(add_init_section(file, replacement), 0);
  EXPECT_STREQ(lookup_init_value(lookup_init_section(file, "a"), "k"), "v");
  free_init_file(file);
}

TEST(DocumentTest, SettingAnExistingKeyKeepsItsPlace) {
  InitSection* section = create_init_section("s");
  EXPECT_EQ(set_init_entry(section, "a", "1"), 1);
  EXPECT_EQ(set_init_entry(section, "b", "2"), 1);
  EXPECT_EQ(set_init_entry(section, "a", "3"), 0);
  EXPECT_EQ(entry_keys(section), (std::vector<std::string>{"a", "b"}));
  EXPECT_STREQ(lookup_init_value(section, "a"), "3");
  // Key and value may come from the entry being replaced.
  EXPECT_EQ(set_init_entry(section, init_entry_key_at(section, 1), lookup_init_value(section, "b")), 0);
  EXPECT_STREQ(lookup_init_value(section, "b"), "2");
  EXPECT_EQ(set_init_entry(section, "A", ""), 1);
  EXPECT_STREQ(lookup_init_value(section, "A"), "");
  EXPECT_EQ(lookup_init_value(section, "B"), nullptr);  // case-sensitive
  free_init_section(section);

  // A loaded or new entry's text follows its record in one block; a replaced
  // value gets a block of its own, and again, each released with the entry.
  const char text[] = "[s]\nk = v\nj=w\n";
  InitFile* file = load_init_text(text, sizeof text - 1);
  section = lookup_init_section(file, "s");
  InitEntry* entry = section->entries[0];
  EXPECT_EQ(entry->key, reinterpret_cast<char*>(entry + 1));
  EXPECT_EQ(entry->value, entry->key + 2);
  EXPECT_EQ(set_init_entry(section, "k", "longer value"), 0);
  EXPECT_NE(entry->key, reinterpret_cast<char*>(entry + 1));
  EXPECT_EQ(set_init_entry(section, "k", entry->value), 0);
  EXPECT_STREQ(lookup_init_value(section, "k"), "longer value");
  EXPECT_EQ(set_init_entry(section, "new", "x"), 1);
  EXPECT_EQ(section->entries[2]->key, reinterpret_cast<char*>(section->entries[2] + 1));
  EXPECT_EQ(delete_init_entry(section, "k"), 0);
  EXPECT_EQ(delete_init_entry(section, "j"), 0);
  free_init_file(file);
}

TEST(DocumentTest, DeletingMovesTheLastElementIntoTheGap) {
  InitSection* section = create_init_section("s");
  for (const char* key : {"k1", "k2", "k3"}) set_init_entry(section, key, "v");
  EXPECT_EQ(delete_init_entry(section, "k1"), 0);
  EXPECT_EQ(entry_keys(section), (std::vector<std::string>{"k3", "k2"}));
  EXPECT_EQ(delete_init_entry(section, "k1"), 1);
  EXPECT_EQ(section->count, 2);
  free_init_section(section);

  InitFile* file = create_init_file();
  for (const char* name : {"x", "y", "z"}) add_init_section(file, create_init_section(name));
  EXPECT_EQ(delete_init_section(file, "x"), 0);
  EXPECT_EQ(section_names(file), (std::vector<std::string>{"z", "y"}));
  EXPECT_EQ(delete_init_section(file, "x"), 1);
  EXPECT_EQ(delete_init_section(file, "y"), 0);
  EXPECT_EQ(section_names(file), (std::vector<std::string>{"z"}));
  EXPECT_EQ(lookup_init_section(file, "y"), nullptr);
  free_init_file(file);
}

TEST(DocumentTest, IndexAccessOutsideTheRangeGivesNull) {
  InitFile* file = create_init_file();
  InitSection* section = create_init_section("s");
  add_init_section(file, section);
  set_init_entry(section, "k", "v");
  EXPECT_STREQ(init_section_name_at(file, 0), "s");
  EXPECT_EQ(init_section_name_at(file, 1), nullptr);
  EXPECT_EQ(init_section_name_at(file, -1), nullptr);
  EXPECT_STREQ(init_entry_key_at(section, 0), "k");
  EXPECT_EQ(init_entry_key_at(section, 1), nullptr);
  EXPECT_EQ(init_entry_key_at(section, -1), nullptr);
  free_init_file(file);
}

TEST(DocumentTest, CopyHoldsOneEntryPerKeyWithTheFirstValue) {
  InitSection* section = create_init_section("s");
  set_init_entry(section, "a", "1");
  set_init_entry(section, "b", "2");
  // Duplicates only come from files: put one in the way the loader does.
  section->entries[1]->key[0] = 'a';
  InitSection* copy = copy_init_section(section, "t");
  EXPECT_STREQ(copy->name, "t");
  EXPECT_EQ(entry_keys(copy), (std::vector<std::string>{"a"}));
  EXPECT_STREQ(lookup_init_value(copy, "a"), "1");
  free_init_section(copy);
  free_init_section(section);
}

}  // namespace
