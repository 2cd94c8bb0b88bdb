// A user's program that reads an init file as such a program pays for it: in
// a process of its own, the whole load, a walk over every entry, and the
// release. run.py starts it afresh for each run, and the same for the peers
// on the same file.
//   user_program vlx FILE        this library: load_init_file, walk, free_init_file
//   user_program inih FILE       inih counting the same entries (builds no document)
//   user_program gkeyfile FILE   GLib's GKeyFile: load, walk, free (when built with it)
//   user_program store FILE SECTION KEY VALUE
//                                this library changing one value the way a
//                                document does it: load, set, store, free
// Prints the number of entries and the bytes of their keys and values.
#include <ini.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "initfile/initfile.h"
#ifdef VLX_WITH_GKEYFILE
#include <glib.h>
#endif

namespace {

struct Totals {
  long entries = 0;
  long bytes = 0;
};

Totals walk_vlx(const char* path) {
  Totals totals;
  InitFile* file = load_init_file(std::filesystem::path(path).wstring().c_str());
  if (!file) return totals;
  for (int32_t i = 0; i < file->count; ++i) {
    const InitSection* section = file->sections[i];
    for (int32_t j = 0; j < section->count; ++j) {
      totals.bytes += static_cast<long>(std::strlen(section->entries[j]->key) + std::strlen(section->entries[j]->value));
    }
    totals.entries += section->count;
  }
  free_init_file(file);
  return totals;
}

Totals walk_inih(const char* path) {
  Totals totals;
  ini_parse(
      path,
      [](void* user, const char*, const char* name, const char* value) {
        Totals* t = static_cast<Totals*>(user);
        ++t->entries;
        t->bytes += static_cast<long>(std::strlen(name) + std::strlen(value));
        return 1;
      },
      &totals);
  return totals;
}

#ifdef VLX_WITH_GKEYFILE
Totals walk_gkeyfile(const char* path) {
  Totals totals;
  GKeyFile* file = g_key_file_new();
  if (g_key_file_load_from_file(file, path, G_KEY_FILE_NONE, nullptr)) {
    gchar** groups = g_key_file_get_groups(file, nullptr);
    for (gchar** group = groups; *group; ++group) {
      gchar** keys = g_key_file_get_keys(file, *group, nullptr, nullptr);
      for (gchar** key = keys; key && *key; ++key) {
        gchar* value = g_key_file_get_value(file, *group, *key, nullptr);
        ++totals.entries;
        totals.bytes += static_cast<long>(std::strlen(*key) + (value ? std::strlen(value) : 0));
        g_free(value);
      }
      g_strfreev(keys);
    }
    g_strfreev(groups);
  }
  g_key_file_free(file);
  return totals;
}
#endif

}  // namespace

// Loads the file, sets key in section to value and stores the document over
// the file: what vlxini set does, with the comments lost.
int store_vlx(char* argv[]) {
  std::wstring path = std::filesystem::path(argv[2]).wstring();
  InitFile* file = load_init_file(path.c_str());
  InitSection* section = file ? lookup_init_section(file, argv[3]) : nullptr;
  bool stored = section && set_init_entry(section, argv[4], argv[5]) >= 0 && store_init_file(file, path.c_str()) == 0;
  if (file) free_init_file(file);
  return stored ? 0 : 1;
}

int main(int argc, char* argv[]) {
  if (argc == 6 && std::string(argv[1]) == "store") return store_vlx(argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: user_program vlx|inih|gkeyfile FILE, or store FILE SECTION KEY VALUE\n");
    return 2;
  }
  std::string reader = argv[1];
  Totals totals;
  if (reader == "vlx") {
    totals = walk_vlx(argv[2]);
  } else if (reader == "inih") {
    totals = walk_inih(argv[2]);
#ifdef VLX_WITH_GKEYFILE
  } else if (reader == "gkeyfile") {
    totals = walk_gkeyfile(argv[2]);
#endif
  } else {
    std::fprintf(stderr, "user_program: no reader %s\n", argv[1]);
    return 2;
  }
  std::printf("%ld entries, %ld bytes\n", totals.entries, totals.bytes);
  return totals.entries > 0 ? 0 : 1;
}
