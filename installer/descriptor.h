// The release descriptor and the directory layout derived from it.
#ifndef VLX_INSTALLER_DESCRIPTOR_H
#define VLX_INSTALLER_DESCRIPTOR_H

#include "installer/run_state.h"

// Reads "Install.ini" in the root, keeps its "VSN" value as the runtime
// version, derives runtime_bin_dir, release_dir and bin_dir, and creates
// bin_dir (an existing one is fine). A descriptor that is missing, malformed
// or lacks section "Install" or its "VSN" or "SYSTEM_VSN" entry ends the run
// with its message and status 1.
void read_release_descriptor(RunState* state);

#endif  // VLX_INSTALLER_DESCRIPTOR_H
