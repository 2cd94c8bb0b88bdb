/* Uses the C interface: loads text, looks values up, changes the document,
   writes it to text and to a file and loads the file back. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "initfile/initfile.h"

static int fail(const char* what) {
  fprintf(stderr, "consumer.c: %s\n", what);
  return 1;
}

int main(void) {
  static const char text[] = "; launcher\n[vorlax]\nBindir = C:\\\\V\\\\bin ; where\nProgname=vlx\n";
  static const char expected[] = "[vorlax]\nBindir=C:\\\\V\\\\bin\nProgname=vlx\nRootdir=C:\\\\V\\;x\n";
  InitFile* file = load_init_text(text, sizeof text - 1);
  InitSection* section = file ? lookup_init_section(file, "vorlax") : NULL;
  const char* bindir = section ? lookup_init_value(section, "Bindir") : NULL;
  size_t length = 0;
  char* stored;
  InitFile* again;
  int same;

  if (!bindir || strcmp(bindir, "C:\\V\\bin") != 0) return fail("Bindir not read");
  if (set_init_entry(section, "Rootdir", "C:\\V;x") != 1) return fail("Rootdir not added");
  stored = store_init_text(file, &length);
  same = length == strlen(expected) && memcmp(stored, expected, length) == 0;
  free(stored);
  if (!same) return fail("unexpected text");
  if (store_init_file(file, L"consumer-c.ini") != 0) return fail("file not stored");
  again = load_init_file(L"consumer-c.ini");
  if (!again || strcmp(init_section_name_at(again, 0), "vorlax") != 0 ||
      strcmp(lookup_init_value(again->sections[0], "Rootdir"), "C:\\V;x") != 0) {
    return fail("file not loaded back");
  }
  free_init_file(again);
  free_init_file(file);
  puts("consumer.c: ok");
  return 0;
}
