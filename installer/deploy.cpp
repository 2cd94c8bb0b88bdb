#include "installer/deploy.h"

#include "installer/file_tables.h"
#include "installer/messages.h"
#include "installer/paths.h"
#include "installer/root_lock.h"

using namespace vlx;

namespace {

// Copies name from source_dir to bin_dir. False when the copy failed; a
// missing source ends the run.
bool copy_into_bin(const RunState* state, const wchar_t* source_dir, const wchar_t* name) {
  wchar_t source[kPathCapacity], target[kPathCapacity];
  format_path(source, kPathCapacity, L"%s" PATH_SEP L"%s", source_dir, name);
  format_path(target, kPathCapacity, L"%s" PATH_SEP L"%s", state->bin_dir, name);
  if (!file_exists(source)) fail(kMissingFile, source);
  if (copy_file(source, target)) return true;
  report_copy_failure(source, target);
  return false;
}

void copy_launchers(const RunState* state) {
  for (const wchar_t* const* name = kExecutables; *name; ++name) {
    if (!copy_into_bin(state, state->runtime_bin_dir, *name)) {
      print_message(kStandardError, kContinuing);
    }
  }
}

void copy_boot_files(const RunState* state) {
  for (const wchar_t* const* name = kBootFiles; *name; ++name) {
    if (!copy_into_bin(state, state->release_dir, *name)) fail(kBailingOut);
  }
}

// start.boot comes from the copy just placed in bin, not from the release.
void install_start_boot(const RunState* state) {
  wchar_t source[kPathCapacity], target[kPathCapacity];
  const wchar_t* chosen = state->tavrel_start ? L"start_tavrel.boot" : L"start_minimal.boot";
  format_path(source, kPathCapacity, L"%s" PATH_SEP L"%s", state->bin_dir, chosen);
  format_path(target, kPathCapacity, L"%s" PATH_SEP L"start.boot", state->bin_dir);
  copy_or_bail_out(source, target);
}

}  // namespace

void report_copy_failure(const wchar_t* source, const wchar_t* target) {
  std::wstring reason = describe_last_error();
  print_message(kStandardError, kCopyFailed, source, target);
  print_reason(reason);
  print_target_damage(target);
}

void print_target_damage(const wchar_t* target) {
  std::wstring moved_to;
  switch (last_target_damage(&moved_to)) {
    case kTargetIntact:
      break;
    case kTargetIncomplete:
      print_message(kStandardError, kLeftIncomplete, target);
      break;
    case kTargetMovedAside:
      print_message(kStandardError, kLeftMovedAside, target, moved_to.c_str());
      break;
  }
}

void copy_or_bail_out(const wchar_t* source, const wchar_t* target) {
  if (copy_file(source, target)) return;
  report_copy_failure(source, target);
  fail(kBailingOut);
}

void deploy_files(const RunState* state) {
  // A run killed during a copy or a write leaves its temporary file; the next
  // run clears them from both directories it writes into. With the root
  // locked, none of them belongs to a run still going.
  lock_root(state);
  remove_stale_replacements(state->bin_dir);
  remove_stale_replacements(state->runtime_bin_dir);
  copy_launchers(state);
  copy_boot_files(state);
  install_start_boot(state);
}
