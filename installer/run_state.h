// The state of one installation run, filled in step by step and read by the
// steps that follow.
#ifndef VLX_INSTALLER_RUN_STATE_H
#define VLX_INSTALLER_RUN_STATE_H

#include <string>

#include "platform/platform.h"

// A directory of the installation, opened once: every file in it is reached
// from its handle.
struct InstallDirectory {
  vlx::Place place;      // directory kInvalidFile when it could not be opened
  bool missing = false;  // it could not be opened because it is not there
  std::wstring reason;   // why it could not be opened
};

struct RunState {
  // The installation root: the command-line argument as typed, made absolute
  // (absolute_root), or the directory part of module_path.
  const wchar_t* root_dir = nullptr;
  std::wstring absolute_root;
  // No root was named: root_dir is the tool's own directory.
  bool root_from_location = false;
  bool silent = false;
  // --check: say whether the installation is complete, changing nothing;
  // --json: say it as one JSON document.
  bool check = false;
  bool json = false;
  // True selects the standard start-up boot file, false the minimal one.
  bool tavrel_start = false;
  wchar_t module_path[vlx::kPathCapacity] = {};
  wchar_t runtime_bin_dir[vlx::kPathCapacity] = {};
  wchar_t release_dir[vlx::kPathCapacity] = {};
  wchar_t bin_dir[vlx::kPathCapacity] = {};
  // The root as named, and the directories beneath it that a run reads from
  // and writes into.
  InstallDirectory root;
  InstallDirectory runtime_bin;
  InstallDirectory release;
  InstallDirectory bin;
  // The descriptor's "VSN" and "SYSTEM_VSN" values, kept after the
  // descriptor is released.
  std::string runtime_version;
  std::string system_version;
};

#endif  // VLX_INSTALLER_RUN_STATE_H
