// One run at a time on an installation root.
#ifndef VLX_INSTALLER_ROOT_LOCK_H
#define VLX_INSTALLER_ROOT_LOCK_H

#include "installer/run_state.h"

// Takes the lock on bin_dir that one run on the root holds until it ends,
// waiting while another holds it (which only a user who may write bin can).
// After a second of waiting it writes "Waiting for the lock of %S to be
// released...\n" with root_dir to standard error, once; after 5 minutes it
// ends the run with "The lock of %S has not been released after 5 minutes,
// bailing out.\n" and status 1. The lock is released, and its file removed,
// as the run ends. Where bin_dir cannot be locked (it could not be created) the run
// goes on without the lock, and its copies report the problem.
void lock_root(const RunState* state);

#endif  // VLX_INSTALLER_ROOT_LOCK_H
