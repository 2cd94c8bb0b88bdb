// Fuzz target: loads arbitrary bytes as init file text, through the C and
// the C++ interface and from a file, which must all agree; a rejection must
// name a line of the text. When a document comes back it is stored as text;
// a document that the format can carry unchanged must load back equal to
// itself and store to the same text again. The C++ document is then changed
// through every kind of view.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "initfile/initfile.h"
#include "initfile/initfile.hpp"
#include "tests/support/testing.h"

namespace ini = vlx::initfile;

namespace {

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

// The file the inputs are written to, in a scratch directory of the run's own
// that goes when the fuzzer ends.
const std::filesystem::path& input_file() {
  static const std::filesystem::path directory = vlx::make_scratch_directory(L"vlx-fuzz");
  static const bool cleaned = atexit([] { std::filesystem::remove_all(directory); }) == 0;
  (void)cleaned;
  static const std::filesystem::path file = directory / "input.ini";
  return file;
}

// The same bytes from a file: the same document or the same report.
void check_file_path(const char* data, size_t size, const InitFile* loaded, const InitLoadError& error) {
  std::ofstream(input_file(), std::ios::binary).write(data, static_cast<std::streamsize>(size));
  InitLoadError file_error;
  InitFile* from_file = load_init_file_reporting(input_file().wstring().c_str(), &file_error);
  if (!from_file != !loaded || file_error.line != error.line) abort();
  if (from_file && !equal_documents(loaded, from_file)) abort();
  if (from_file) free_init_file(from_file);
}

// Walks and changes the document through the C++ views: lookups, typed
// values, a copy onto the section being read, removal while walking.
void exercise_cpp(ini::Document document, const InitFile* loaded) {
  if (document.size() != static_cast<size_t>(loaded->count)) abort();
  for (ini::Section section : document.sections()) {
    for (ini::Entry entry : section.entries()) {
      if (!section.contains(entry.key)) abort();
      (void)section.value_as<int>(entry.key);
      (void)section.value_as<double>(entry.key);
      (void)section.value_as<bool>(entry.key);
    }
    std::string name(section.name());
    document.copy_section(name, name);
  }
  for (ini::Section section : document.sections()) {
    section.erase_if([](ini::Entry entry) { return entry.value.empty(); });
    for (ini::Entry entry : section.entries()) section.set(entry.key, "changed");
    for (ini::Entry entry : section.entries()) section.remove(entry.key);
    document.remove_section(section.name());
  }
  (void)document.text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  InitLoadError error;
  InitFile* loaded = load_init_text_reporting(bytes, size, &error);
  check_file_path(bytes, size, loaded, error);
  ini::LoadError cpp_error;
  std::optional<ini::Document> document = ini::load_text(std::string_view(bytes, size), cpp_error);
  if (!document != !loaded || cpp_error.line != error.line) abort();
  if (!loaded) {
    int lines = 1 + static_cast<int>(std::count(bytes, bytes + size, '\n'));
    if (!error.reason || error.line < 1 || error.line > lines) abort();
    return 0;
  }
  exercise_cpp(std::move(*document), loaded);
  size_t length = 0;
  char* text = store_init_text(loaded, &length);
  if (text[length] != '\0') abort();
  if (is_carried_unchanged(loaded)) {
    InitFile* again = load_init_text(text, length);
    if (!again || !equal_documents(loaded, again)) abort();
    size_t again_length = 0;
    char* again_text = store_init_text(again, &again_length);
    if (again_length != length || memcmp(again_text, text, length) != 0) abort();
    free(again_text);
    free_init_file(again);
  }
  free(text);
  free_init_file(loaded);
  return 0;
}
