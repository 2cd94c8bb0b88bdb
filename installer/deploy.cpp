#include "installer/deploy.h"

#include <algorithm>
#include <string>
#include <vector>

#include "installer/directories.h"
#include "installer/file_tables.h"
#include "installer/messages.h"
#include "installer/paths.h"
#include "installer/root_lock.h"
#include "installer/staging.h"

using namespace vlx;

namespace {

// Ends the run for a source that is not there; where its whole runtime
// directory is missing, VSN most likely names another release than the
// root holds: the line under the message names those it has.
[[noreturn]] void fail_missing_source(const RunState* state, const InstallDirectory& source_dir,
                                      const wchar_t* source) {
  print_message(kStandardError, kMissingFile, source);
  if (&source_dir == &state->runtime_bin && source_dir.missing && state->root.place.directory != kInvalidFile) {
    const std::string& version = state->runtime_version;
    std::wstring named = L"vlxcore-" + decode_utf8(version.data(), version.size()), found;
    std::vector<std::wstring> names;
    for (const DirectoryEntry& entry : list_directory_entries(state->root.place)) {
      if (entry.directory && entry.name.compare(0, 8, L"vlxcore-") == 0) names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end());
    for (const std::wstring& name : names) found += (found.empty() ? L"" : L", ") + name;
    bool there = std::find(names.begin(), names.end(), named) != names.end();  // only its bin is missing
    if (!there && found.empty()) print_message(kStandardError, kNoRuntimeDirectoryHint);
    if (!there && !found.empty()) print_message(kStandardError, kRuntimeDirectoriesHint, found.c_str());
  }
  exit_process(get_failure_status());
}

// Stages the copy of name from the directory source_dir (at source_path)
// into bin. False when it could not be staged (reported); a missing source
// ends the run.
bool stage_into_bin(const RunState* state, const InstallDirectory& source_dir, const wchar_t* source_path,
                    const wchar_t* name, InstalledKind kind) {
  wchar_t source[kPathCapacity], target[kPathCapacity];
  format_path(source, kPathCapacity, L"%s" PATH_SEP L"%s", source_path, name);
  format_path(target, kPathCapacity, L"%s" PATH_SEP L"%s", state->bin_dir, name);
  bool missing = false;
  std::wstring reason;
  // What another user may have put in a source's place is not copied: it is
  // judged by the handle opened.
  FileHandle in = open_install_file(state, source_dir, name, &missing, &reason);
  if (in == kInvalidFile && missing) fail_missing_source(state, source_dir, source);
  if (in != kInvalidFile && stage_install_copy(kind, in, source, state->bin, name, target)) return true;
  if (in == kInvalidFile) {
    print_message(kStandardError, kCopyFailed, source, target);
    print_reason(reason);
  } else {
    report_copy_failure(source, target);
  }
  return false;
}

void stage_launchers(const RunState* state) {
  for (const wchar_t* const* name = kExecutables; *name; ++name) {
    if (!stage_into_bin(state, state->runtime_bin, state->runtime_bin_dir, *name, kLauncherCopy)) {
      print_message(kStandardError, kContinuing);
    }
  }
}

void stage_boot_files(const RunState* state) {
  for (const wchar_t* const* name = kBootFiles; *name; ++name) {
    if (!stage_into_bin(state, state->release, state->release_dir, *name, kFatalCopy)) fail(kBailingOut);
  }
}

// start.boot comes from the copy just staged for bin, not from the release.
void stage_start_boot(const RunState* state) {
  wchar_t source[kPathCapacity], target[kPathCapacity];
  const wchar_t* chosen = state->tavrel_start ? L"start_tavrel.boot" : L"start_minimal.boot";
  format_path(source, kPathCapacity, L"%s" PATH_SEP L"%s", state->bin_dir, chosen);
  format_path(target, kPathCapacity, L"%s" PATH_SEP L"start.boot", state->bin_dir);
  if (stage_install_copy_of(kFatalCopy, source, state->bin, L"start.boot", target)) return;
  report_copy_failure(source, target);
  fail(kBailingOut);
}

}  // namespace

void deploy_files(const RunState* state) {
  // A run killed during a copy or a write leaves its temporary file, or an
  // old file kept under an aside name; the next run clears them from both
  // directories it writes into. With the root locked, none of them belongs
  // to a run still going.
  lock_root(state);
  for (const InstallDirectory* directory : {&state->bin, &state->runtime_bin}) {
    if (directory->place.directory != kInvalidFile) remove_stale_replacements(directory->place);
  }
  stage_launchers(state);
  stage_boot_files(state);
  stage_start_boot(state);
}
