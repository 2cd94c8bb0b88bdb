// Fuzz target: loads arbitrary bytes as init file text and, when a document
// comes back, stores it as text; a document that the format can carry
// unchanged must load back equal to itself and store to the same text again.
// Everything stays in memory.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "initfile/initfile.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InitFile* loaded = load_init_text(reinterpret_cast<const char*>(data), size);
  if (!loaded) return 0;
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
