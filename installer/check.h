// The check of an installation: is it complete? Asked without changing it.
#ifndef VLX_INSTALLER_CHECK_H
#define VLX_INSTALLER_CHECK_H

#include "installer/run_state.h"

// Compares, after read_release_descriptor, what a run would make with what
// is there: each launcher program and boot file in bin with its source, byte
// for byte; start.boot with the two start-up files in bin; both vlx.ini with
// the text a run writes; and it lists what killed runs left in bin and the
// runtime's bin. It writes one line per finding to standard output (paths
// relative to the root), then a summary, and returns 0 when the installation
// is complete and 1 when there are findings. It asks nothing, takes no lock,
// sweeps nothing and writes no file; a file held for a moment on Windows is
// read once the hold passes.
int check_installation(const RunState* state);

#endif  // VLX_INSTALLER_CHECK_H
