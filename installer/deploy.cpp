#include "installer/deploy.h"

#include "installer/file_tables.h"
#include "installer/messages.h"
#include "installer/paths.h"
#include "installer/root_lock.h"
#include "installer/staging.h"

using namespace vlx;

namespace {

// Stages the copy of name from source_dir into bin_dir. False when it could
// not be staged (reported); a missing source ends the run.
bool stage_into_bin(const RunState* state, const wchar_t* source_dir, const wchar_t* name, InstalledKind kind) {
  wchar_t source[kPathCapacity], target[kPathCapacity];
  format_path(source, kPathCapacity, L"%s" PATH_SEP L"%s", source_dir, name);
  format_path(target, kPathCapacity, L"%s" PATH_SEP L"%s", state->bin_dir, name);
  if (!file_exists(source)) fail(kMissingFile, source);
  // What another user may have put in a source's place is not copied.
  SourceTrust trust = examine_source(source, state->root_dir);
  if (trust != kSourceAccepted) {
    print_message(kStandardError, kCopyFailed, source, target);
    print_reason(describe_refused_source(trust, state->root_dir));
    return false;
  }
  if (stage_install_copy(kind, source, target)) return true;
  report_copy_failure(source, target);
  return false;
}

void stage_launchers(const RunState* state) {
  for (const wchar_t* const* name = kExecutables; *name; ++name) {
    if (!stage_into_bin(state, state->runtime_bin_dir, *name, kLauncherCopy)) {
      print_message(kStandardError, kContinuing);
    }
  }
}

void stage_boot_files(const RunState* state) {
  for (const wchar_t* const* name = kBootFiles; *name; ++name) {
    if (!stage_into_bin(state, state->release_dir, *name, kFatalCopy)) fail(kBailingOut);
  }
}

// start.boot comes from the copy just staged for bin, not from the release.
void stage_start_boot(const RunState* state) {
  wchar_t source[kPathCapacity], target[kPathCapacity];
  const wchar_t* chosen = state->tavrel_start ? L"start_tavrel.boot" : L"start_minimal.boot";
  format_path(source, kPathCapacity, L"%s" PATH_SEP L"%s", state->bin_dir, chosen);
  format_path(target, kPathCapacity, L"%s" PATH_SEP L"start.boot", state->bin_dir);
  if (stage_install_copy_of(kFatalCopy, source, target)) return;
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
  remove_stale_replacements(state->bin_dir);
  remove_stale_replacements(state->runtime_bin_dir);
  stage_launchers(state);
  stage_boot_files(state);
  stage_start_boot(state);
}
