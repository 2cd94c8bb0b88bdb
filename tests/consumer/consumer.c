/* Uses the C interface: loads text, looks values up, changes the document,
   writes it to text and to a file and loads the file back; then works with a
   file named beyond ASCII through UTF-8 paths, and reads the system's error
   of what fails. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "initfile/initfile.h"

#ifdef _WIN32
#include <windows.h>
#define NO_SUCH_DIRECTORY(error) ((error) == ERROR_PATH_NOT_FOUND)
#define NOT_LOADED(error) ((error) == ERROR_INVALID_DATA)
#define SYSTEM_ERROR() GetLastError()
#else
#define NO_SUCH_DIRECTORY(error) ((error) == ENOENT)
#define NOT_LOADED(error) ((error) == EINVAL)
#define SYSTEM_ERROR() errno
#endif

static int fail(const char* what) {
  fprintf(stderr, "consumer.c: %s\n", what);
  return 1;
}

/* The document stored under a name beyond ASCII given as UTF-8, found under
   the same name given wide, changed through an edit that holds it; what
   fails leaves the system's error. */
static int use_utf8_paths(InitFile* file) {
  static const char name[] = "consumer-\xc3\xa9\xe6\xa0\xb9.ini";
  InitLoadError error;
  InitFile* loaded;
  InitEdit* edit;
  InitFileHold* hold = NULL;
  FILE* bad;
  int found;

  if (store_init_file_utf8(file, name) != 0) return fail("UTF-8 path not stored");
  loaded = load_init_file(L"consumer-\u00e9\u6839.ini");
  found = loaded && lookup_init_section(loaded, "vorlax");
  if (loaded) free_init_file(loaded);
  if (!found) return fail("UTF-8 path not the wide one");
  if (hold_init_file_utf8(name, &hold) != 0) return fail("UTF-8 path not held");
  edit = open_init_edit_utf8(name, &error);
  if (!edit || set_init_edit_value(edit, "vorlax", "Progname", "vlxw") != 0 ||
      store_init_edit_utf8(edit, name) != 0) {
    return fail("UTF-8 path not edited");
  }
  free_init_edit(edit);
  release_init_file(hold);
  loaded = load_init_file_reporting_utf8(name, &error);
  found = loaded && strcmp(lookup_init_value(loaded->sections[0], "Progname"), "vlxw") == 0;
  if (loaded) free_init_file(loaded);
  if (!found) return fail("edit not stored");

  if (load_init_file_utf8("missing-\xc3\xa9/x.ini") || !NO_SUCH_DIRECTORY(SYSTEM_ERROR())) {
    return fail("no system error after a failed load");
  }
  if (store_init_file_utf8(file, "missing-\xc3\xa9/x.ini") != -1 || !NO_SUCH_DIRECTORY(SYSTEM_ERROR())) {
    return fail("no system error after a failed store");
  }
  bad = fopen("consumer-bad.ini", "w");
  if (!bad || fputs("k=v\n", bad) < 0 || fclose(bad) != 0) return fail("consumer-bad.ini not written");
  if (load_init_file_reporting_utf8("consumer-bad.ini", &error) || error.line != 1 ||
      !NOT_LOADED(SYSTEM_ERROR())) {
    return fail("no invalid-data error after a file that does not load");
  }
  return 0;
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
  if (use_utf8_paths(file) != 0) return 1;
  free_init_file(file);
  puts("consumer.c: ok");
  return 0;
}
