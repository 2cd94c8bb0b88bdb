// Fuzz target: loads arbitrary bytes as an init file and, when a document
// comes back, stores it; a document that the format can carry unchanged must
// load back equal to itself.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "initfile/initfile.h"

namespace {

std::filesystem::path make_scratch_path(const char* suffix) {
  static const unsigned tag = std::random_device{}();
  return std::filesystem::temp_directory_path() /
         ("vlx-fuzz-" + std::to_string(tag) + suffix);
}

bool has_any(const char* text, const char* bytes) { return strpbrk(text, bytes) != nullptr; }

bool is_trimmed(const char* text) {
  size_t length = strlen(text);
  return length == 0 || (text[0] != ' ' && text[length - 1] != ' ');
}

// True when every name, key and value survives a store and load unchanged.
bool is_carried_unchanged(const InitFile* file) {
  for (int32_t i = 0; i < file->count; ++i) {
    const InitSection* section = file->sections[i];
    if (!*section->name || has_any(section->name, ";\\]=\r\n") || !is_trimmed(section->name)) return false;
    for (int32_t j = 0; j < section->count; ++j) {
      const InitEntry* entry = section->entries[j];
      if (!*entry->key || has_any(entry->key, "=\r\n") || !is_trimmed(entry->key)) return false;
      if (has_any(entry->value, "\r\n") || !is_trimmed(entry->value)) return false;
    }
  }
  return true;
}

bool equal_documents(const InitFile* a, const InitFile* b) {
  if (a->count != b->count) return false;
  for (int32_t i = 0; i < a->count; ++i) {
    const InitSection* s = a->sections[i];
    const InitSection* t = b->sections[i];
    if (strcmp(s->name, t->name) != 0 || s->count != t->count) return false;
    for (int32_t j = 0; j < s->count; ++j) {
      if (strcmp(s->entries[j]->key, t->entries[j]->key) != 0 ||
          strcmp(s->entries[j]->value, t->entries[j]->value) != 0) {
        return false;
      }
    }
  }
  return true;
}

const std::filesystem::path kInput = make_scratch_path(".in");
const std::filesystem::path kOutput = make_scratch_path(".out");

void remove_scratch_files() {
  std::error_code ignored;
  std::filesystem::remove(kInput, ignored);
  std::filesystem::remove(kOutput, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::atexit(remove_scratch_files);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::wstring input = kInput.wstring();
  static const std::wstring output = kOutput.wstring();
  {
    std::ofstream file(kInput, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  InitFile* loaded = load_init_file(input.c_str());
  if (!loaded) return 0;
  if (store_init_file(loaded, output.c_str()) != 0) abort();
  if (is_carried_unchanged(loaded)) {
    InitFile* again = load_init_file(output.c_str());
    if (!again || !equal_documents(loaded, again)) abort();
    free_init_file(again);
  }
  free_init_file(loaded);
  return 0;
}
