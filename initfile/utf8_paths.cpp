// The functions that take a path, for callers whose paths are UTF-8 bytes (a
// C program's argv on Linux): each converts its path and calls the wide one.
#include <string.h>

#include <string>

#include "initfile/initfile.h"
#include "platform/platform.h"

using namespace vlx;

namespace {

// The wide path for the UTF-8 one: losslessly, so that on POSIX the system
// gets the very bytes it was given.
std::wstring widen(const char* path) { return decode_utf8(path, strlen(path)); }

}  // namespace

InitFile* load_init_file_utf8(const char* path) { return load_init_file(widen(path).c_str()); }

InitFile* load_init_file_reporting_utf8(const char* path, InitLoadError* error) {
  return load_init_file_reporting(widen(path).c_str(), error);
}

int store_init_file_utf8(InitFile* file, const char* path) { return store_init_file(file, widen(path).c_str()); }

InitEdit* open_init_edit_utf8(const char* path, InitLoadError* report) {
  return open_init_edit(widen(path).c_str(), report);
}

int store_init_edit_utf8(const InitEdit* edit, const char* path) {
  return store_init_edit(edit, widen(path).c_str());
}

int hold_init_file_utf8(const char* path, InitFileHold** hold) { return hold_init_file(widen(path).c_str(), hold); }
