// Deployment of the launcher programs and boot files into the root's bin.
#ifndef VLX_INSTALLER_DEPLOY_H
#define VLX_INSTALLER_DEPLOY_H

#include "installer/run_state.h"

// Waits until no other run works on the root (lock_root), removes what
// interrupted earlier runs left in bin_dir and runtime_bin_dir, and stages
// (staging.h) the copies of the launcher programs and then the boot files
// into bin_dir, and of the chosen boot file as start.boot. A missing source
// ends the run; a launcher program that cannot be copied is a warning and the
// run goes on; a boot file or start.boot that cannot be copied ends the run.
// Nothing is put in place here: the launcher configuration commits it all.
void deploy_files(const RunState* state);

#endif  // VLX_INSTALLER_DEPLOY_H
