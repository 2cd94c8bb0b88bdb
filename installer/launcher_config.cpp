#include "installer/launcher_config.h"

#include <stdlib.h>

#include <string>

#include "initfile/initfile.h"
#include "installer/messages.h"
#include "installer/paths.h"
#include "installer/staging.h"

using namespace vlx;

namespace {

// The launcher configuration as a document; a block that cannot be had
// ends the run.
InitFile* build_launcher_config(const RunState* state) {
  InitFile* config = create_init_file();
  InitSection* section = config ? create_init_section("vorlax") : nullptr;
  bool built = section && add_init_section(config, section) >= 0;
  if (!built && section) free_init_section(section);
  built = built && set_init_entry(section, "Bindir", convert_path_to_utf8(state->runtime_bin_dir).c_str()) >= 0 &&
          set_init_entry(section, "Progname", "vlx") >= 0 &&
          set_init_entry(section, "Rootdir", convert_path_to_utf8(state->root_dir).c_str()) >= 0;
  if (!built) {
    if (config) free_init_file(config);
    fail_out_of_memory();
  }
  return config;
}

}  // namespace

std::string launcher_config_text(const RunState* state) {
  InitFile* config = build_launcher_config(state);
  size_t length = 0;
  char* text = store_init_text(config, &length);
  free_init_file(config);
  if (!text) fail_out_of_memory();
  std::string bytes(text, length);
  free(text);
  return bytes;
}

void write_launcher_config(const RunState* state) {
  wchar_t first[kPathCapacity], second[kPathCapacity];
  format_path(first, kPathCapacity, L"%s" PATH_SEP L"vlx.ini", state->runtime_bin_dir);
  format_path(second, kPathCapacity, L"%s" PATH_SEP L"vlx.ini", state->bin_dir);
  if (!stage_install_contents(kLauncherConfig, state->runtime_bin, L"vlx.ini", first, launcher_config_text(state))) {
    report_create_failure(first);
    fail(kBailingOut);
  }
  if (!stage_install_copy_of(kFatalCopy, first, state->bin, L"vlx.ini", second)) {
    report_copy_failure(first, second);
    fail(kBailingOut);
  }
  // Everything is ready: from here the installation is replaced as a whole,
  // both directories flushed before the success line.
  commit_installation();
  if (!state->silent) {
    // The version is shown like a path: in the console's code page on a
    // Windows console, as its bytes elsewhere.
    const std::string& version = state->runtime_version;
    print_message(kStandardOutput, kInstalled,
                  decode_utf8(version.data(), version.size()).c_str());
  }
}
