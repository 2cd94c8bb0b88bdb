// The release descriptor and the directory layout derived from it.
#ifndef VLX_INSTALLER_DESCRIPTOR_H
#define VLX_INSTALLER_DESCRIPTOR_H

#include "installer/run_state.h"

// Reads "Install.ini" in the root, keeps its "VSN" value as the runtime
// version and derives runtime_bin_dir, release_dir and bin_dir. A
// descriptor that is missing, malformed or lacks section "Install" or its
// "VSN" or "SYSTEM_VSN" entry ends the run with its message and the failure
// status (1, or 2 in a check).
void read_release_descriptor(RunState* state);

// Creates bin_dir; an existing one is fine, and any other failure shows in
// the copies that follow.
void create_bin_directory(const RunState* state);

#endif  // VLX_INSTALLER_DESCRIPTOR_H
