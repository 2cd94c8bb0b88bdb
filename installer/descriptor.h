// The release descriptor and the directory layout derived from it.
#ifndef VLX_INSTALLER_DESCRIPTOR_H
#define VLX_INSTALLER_DESCRIPTOR_H

#include "installer/run_state.h"

// Opens the root, reads "Install.ini" in it, keeps its "VSN" value as the
// runtime version, derives runtime_bin_dir, release_dir and bin_dir, and
// opens the runtime's bin and the release directory beneath the root (one
// that cannot be opened keeps its reason). A descriptor that is missing,
// larger than 1 MiB, malformed, or lacks section "Install" or its "VSN" or
// "SYSTEM_VSN" entry, or one of those that names no directory, ends the run
// with its message and the failure status (1, or 2 in a check).
void read_release_descriptor(RunState* state);

// Opens bin beneath the root, creating it first with create; an existing
// one is fine, and any other failure shows in the copies that follow.
void open_bin_directory(RunState* state, bool create);

#endif  // VLX_INSTALLER_DESCRIPTOR_H
