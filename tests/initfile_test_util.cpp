#include "tests/initfile_test_util.h"

Document describe(const InitFile* file) {
  Document document;
  for (int32_t i = 0; i < file->count; ++i) {
    const InitSection* section = file->sections[i];
    Entries entries;
    for (int32_t j = 0; j < section->count; ++j) {
      entries.emplace_back(section->entries[j]->key, section->entries[j]->value);
    }
    document.emplace_back(section->name, entries);
  }
  return document;
}

InitFile* build(const Document& document) {
  InitFile* file = create_init_file();
  for (const auto& [name, entries] : document) {
    InitSection* section = create_init_section(name.c_str());
    for (const auto& [key, value] : entries) set_init_entry(section, key.c_str(), value.c_str());
    add_init_section(file, section);
  }
  return file;
}
