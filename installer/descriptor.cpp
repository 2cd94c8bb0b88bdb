#include "installer/descriptor.h"

#include "initfile/initfile.h"
#include "installer/messages.h"
#include "installer/paths.h"

using namespace vlx;

namespace {

// Releases the descriptor before a fatal message: nothing else holds it.
[[noreturn]] void reject(InitFile* descriptor, const char* format, const wchar_t* path) {
  free_init_file(descriptor);
  fail(format, path);
}

}  // namespace

void read_release_descriptor(RunState* state) {
  wchar_t path[kPathCapacity];
  format_path(path, kPathCapacity, L"%s" PATH_SEP L"Install.ini", state->root_dir);
  InitFile* descriptor = load_init_file(path);
  if (!descriptor) fail("Cannot open init file %S\n", path);

  InitSection* install = lookup_init_section(descriptor, "Install");
  if (!install) reject(descriptor, "No [Install] section in init file %S\n", path);
  const char* version = lookup_init_value(install, "VSN");
  if (!version) reject(descriptor, "No key VSN in init file %S\n", path);
  state->runtime_version = version;
  format_path(state->runtime_bin_dir, kPathCapacity, L"%s" PATH_SEP L"vlxcore-%S" PATH_SEP L"bin",
              state->root_dir, state->runtime_version.c_str());

  const char* release = lookup_init_value(install, "SYSTEM_VSN");
  if (!release) reject(descriptor, "No key SYSTEM_VSN in init file %S\n", path);
  format_path(state->release_dir, kPathCapacity, L"%s" PATH_SEP L"releases" PATH_SEP L"%S",
              state->root_dir, release);
  format_path(state->bin_dir, kPathCapacity, L"%s" PATH_SEP L"bin", state->root_dir);

  // An existing bin is the normal case on a second run; any other failure
  // shows in the copies that follow.
  create_directory(state->bin_dir);
  free_init_file(descriptor);
}
