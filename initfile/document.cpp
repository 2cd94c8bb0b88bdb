// The in-memory document: sections and entries in plain growable arrays.
#include <stdlib.h>
#include <string.h>

#include "document_internal.h"
#include "initfile/initfile.h"
#include "platform/platform.h"

using namespace vlx;

namespace {

template <typename T>
T** allocate_slots(int32_t count) {
  return static_cast<T**>(malloc(sizeof(T*) * static_cast<size_t>(count)));
}

// Appends item, growing a full array by exactly kInitGrowth slots. False,
// with nothing changed, when the slots could not be had.
template <typename T>
bool append_slot(T*** slots, int32_t* count, int32_t* capacity, T* item) {
  if (*count == *capacity) {
    T** grown = static_cast<T**>(realloc(*slots, sizeof(T*) * static_cast<size_t>(*capacity + kInitGrowth)));
    if (!grown) return false;
    *slots = grown;
    *capacity += kInitGrowth;
  }
  (*slots)[(*count)++] = item;
  return true;
}

// The index of the first item whose name (a section's name, an entry's key)
// is name, or -1.
template <typename T, typename NameOf>
int find_named(T* const* items, int32_t count, const char* name, NameOf name_of) {
  for (int32_t i = 0; i < count; ++i) {
    if (strcmp(name_of(items[i]), name) == 0) return i;
  }
  return -1;
}

int find_section(const InitFile* file, const char* name) {
  return find_named(file->sections, file->count, name, [](const InitSection* s) { return s->name; });
}

int find_entry(const InitSection* section, const char* key) {
  return find_named(section->entries, section->count, key, [](const InitEntry* e) { return e->key; });
}

// Releases the item at index and moves the last item into its slot: 0, or 1
// when index is -1 (nothing found).
template <typename T, typename Release>
int delete_slot(T** items, int32_t* count, int index, Release release) {
  if (index < 0) return 1;
  release(items[index]);
  items[index] = items[--*count];
  return 0;
}

// An entry's text follows its record in the same block, unless set gave it
// a block of its own.
bool has_own_text_block(const InitEntry* entry) { return entry->key != reinterpret_cast<const char*>(entry + 1); }

void free_entry(InitEntry* entry) {
  if (has_own_text_block(entry)) free(entry->key);
  free(entry);
}

}  // namespace

InitFile* create_init_file() {
  InitFile* file = static_cast<InitFile*>(malloc(sizeof(InitFile)));
  InitSection** sections = allocate_slots<InitSection>(kInitGrowth);
  if (!file || !sections) {
    free(file);
    free(sections);
    set_out_of_memory_error();
    return nullptr;
  }
  file->count = 0;
  file->capacity = kInitGrowth;
  file->sections = sections;
  return file;
}

void free_init_file(InitFile* file) {
  for (int32_t i = 0; i < file->count; ++i) free_init_section(file->sections[i]);
  free(file->sections);
  free(file);
}

InitSection* vlx::adopt_init_section_name(char* name) {
  InitSection* section = static_cast<InitSection*>(malloc(sizeof(InitSection)));
  InitEntry** entries = allocate_slots<InitEntry>(kInitGrowth);
  if (!section || !entries) {
    free(section);
    free(entries);
    set_out_of_memory_error();
    return nullptr;
  }
  section->count = 0;
  section->capacity = kInitGrowth;
  section->name = name;
  section->entries = entries;
  return section;
}

InitSection* create_init_section(const char* name) {
  size_t size = strlen(name) + 1;
  char* copy = static_cast<char*>(malloc(size));
  InitSection* section = copy ? adopt_init_section_name(copy) : nullptr;
  if (copy) {
    memcpy(copy, name, size);
  } else {
    set_out_of_memory_error();
  }
  if (!section) free(copy);
  return section;
}

void free_init_section(InitSection* section) {
  for (int32_t i = 0; i < section->count; ++i) free_entry(section->entries[i]);
  free(section->entries);
  free(section->name);
  free(section);
}

int add_init_section(InitFile* file, InitSection* section) {
  int i = find_section(file, section->name);
  if (i < 0) {
    if (append_slot(&file->sections, &file->count, &file->capacity, section)) return 1;
    set_out_of_memory_error();
    return -1;
  }
  InitSection* old = file->sections[i];
  file->sections[i] = section;
  // A section the document already holds replaces itself: nothing to release.
  if (old != section) free_init_section(old);
  return 0;
}

InitSection* lookup_init_section(InitFile* file, const char* name) {
  int i = find_section(file, name);
  return i < 0 ? nullptr : file->sections[i];
}

int delete_init_section(InitFile* file, const char* name) {
  return delete_slot(file->sections, &file->count, find_section(file, name), free_init_section);
}

char* init_section_name_at(InitFile* file, int index) {
  return index < 0 || index >= file->count ? nullptr : file->sections[index]->name;
}

InitSection* copy_init_section(InitSection* section, const char* new_name) {
  InitSection* copy = create_init_section(new_name);
  for (int32_t i = 0; copy && i < section->count; ++i) {
    const char* key = section->entries[i]->key;
    if (set_init_entry(copy, key, lookup_init_value(section, key)) < 0) {
      free_init_section(copy);
      copy = nullptr;
    }
  }
  return copy;
}

InitEntry* vlx::allocate_init_entry(size_t text_size) {
  InitEntry* entry = static_cast<InitEntry*>(malloc(sizeof(InitEntry) + text_size));
  if (!entry) {
    set_out_of_memory_error();
    return nullptr;
  }
  entry->key = reinterpret_cast<char*>(entry + 1);
  return entry;
}

int set_init_entry(InitSection* section, const char* key, const char* value) {
  // Nothing changes before the text is copied, so key and value may point
  // into the entry that is about to be replaced.
  size_t key_size = strlen(key) + 1, value_size = strlen(value) + 1;
  int i = find_entry(section, key);
  char* text;
  if (i < 0) {
    InitEntry* entry = allocate_init_entry(key_size + value_size);
    if (entry && !append_slot(&section->entries, &section->count, &section->capacity, entry)) {
      free(entry);
      entry = nullptr;
    }
    text = entry ? entry->key : nullptr;
  } else {
    // The record keeps its place; the new text gets a block of its own.
    text = static_cast<char*>(malloc(key_size + value_size));
  }
  if (!text) {
    set_out_of_memory_error();
    return -1;
  }
  memcpy(text, key, key_size);
  memcpy(text + key_size, value, value_size);
  InitEntry* entry = section->entries[i < 0 ? section->count - 1 : i];
  if (i >= 0 && has_own_text_block(entry)) free(entry->key);
  entry->key = text;
  entry->value = text + key_size;
  return i < 0 ? 1 : 0;
}

char* lookup_init_value(InitSection* section, const char* key) {
  int i = find_entry(section, key);
  return i < 0 ? nullptr : section->entries[i]->value;
}

char* init_entry_key_at(InitSection* section, int index) {
  return index < 0 || index >= section->count ? nullptr : section->entries[index]->key;
}

void vlx::remove_init_entry_at(InitSection* section, int32_t index) {
  delete_slot(section->entries, &section->count, index, free_entry);
}

int delete_init_entry(InitSection* section, const char* key) {
  return delete_slot(section->entries, &section->count, find_entry(section, key), free_entry);
}
