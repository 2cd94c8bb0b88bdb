#include "installer/directories.h"

using namespace vlx;

namespace {

void note_failure(InstallDirectory* directory) {
  directory->missing = last_error_means_no_file();
  directory->reason = describe_last_error();
}

}  // namespace

bool open_install_root(RunState* state) {
  if (open_root_directory(state->root_dir, &state->root.place)) return true;
  note_failure(&state->root);
  return false;
}

void open_install_directory(const RunState* state, const wchar_t* relative, InstallDirectory* directory) {
  *directory = InstallDirectory();
  if (state->root.place.directory == kInvalidFile) {
    *directory = state->root;
    return;
  }
  if (!open_directory_beneath(state->root.place, relative, &directory->place)) note_failure(directory);
}

FileHandle open_install_file(const RunState* state, const InstallDirectory& directory, const wchar_t* name,
                             bool* missing, std::wstring* reason) {
  if (directory.place.directory == kInvalidFile) {
    *missing = directory.missing;
    *reason = directory.reason;
    return kInvalidFile;
  }
  FileHandle file = open_file_beneath(directory.place, name, &state->root.place);
  if (file == kInvalidFile) {
    *missing = last_error_means_no_file();
    *reason = describe_last_error();
  }
  return file;
}
