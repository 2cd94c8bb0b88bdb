// Deployment of the launcher programs and boot files into the root's bin.
#ifndef VLX_INSTALLER_DEPLOY_H
#define VLX_INSTALLER_DEPLOY_H

#include "installer/run_state.h"

// Waits until no other run works on the root (lock_root), removes the
// temporary files that interrupted earlier runs left in bin_dir
// and runtime_bin_dir, copies the launcher programs and then the boot files
// into bin_dir, and makes the chosen boot file start.boot. A missing source
// ends the run; a launcher program that cannot be copied is a warning and the
// run goes on; a boot file or start.boot that cannot be copied ends the run.
// Files copied before a fatal condition stay; each target is either as it
// was or a whole copy.
void deploy_files(const RunState* state);

// Reports the failed copy of source to target (kCopyFailed) with the
// system's reason under it, and what the failure left of target when that is
// not target as it was; the caller says what follows.
void report_copy_failure(const wchar_t* source, const wchar_t* target);

// Writes, under a failure's reason, what the copy or write of target that
// just failed left of it (last_target_damage); nothing when it is as it was.
void print_target_damage(const wchar_t* target);

// Copies source to target, replacing it. On failure reports both paths and
// the reason and ends the run with status 1.
void copy_or_bail_out(const wchar_t* source, const wchar_t* target);

#endif  // VLX_INSTALLER_DEPLOY_H
