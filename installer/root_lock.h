// One run at a time on an installation root.
#ifndef VLX_INSTALLER_ROOT_LOCK_H
#define VLX_INSTALLER_ROOT_LOCK_H

#include "installer/run_state.h"

// Takes the lock on bin_dir that one run on the root holds until it ends,
// waiting while another run holds it. After a second of waiting it writes
// "Waiting for another installation on %S to finish...\n" with root_dir to
// standard error, once; after 5 minutes it ends the run with "Another
// installation on %S has not finished after 5 minutes, bailing out.\n" and
// status 1. Where bin_dir cannot be locked (it could not be created) the run
// goes on without the lock, and its copies report the problem.
void lock_root(const RunState* state);

#endif  // VLX_INSTALLER_ROOT_LOCK_H
