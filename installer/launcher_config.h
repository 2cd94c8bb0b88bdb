// The launcher configuration file vlx.ini.
#ifndef VLX_INSTALLER_LAUNCHER_CONFIG_H
#define VLX_INSTALLER_LAUNCHER_CONFIG_H

#include <string>

#include "installer/run_state.h"

// Stages vlx.ini (section "vorlax" with "Bindir", "Progname" and "Rootdir",
// paths in UTF-8) for runtime_bin_dir and its copy for bin_dir, puts every
// staged file of the run in place (commit_installation) and, unless silent,
// reports success. A file that cannot be written or copied ends the run
// with its message and status 1, leaving every file as it was.
void write_launcher_config(const RunState* state);

// The bytes of vlx.ini that a run writes for the state's root and runtime.
std::string launcher_config_text(const RunState* state);

#endif  // VLX_INSTALLER_LAUNCHER_CONFIG_H
