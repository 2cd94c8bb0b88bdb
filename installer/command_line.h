// The command line and the installation root.
#ifndef VLX_INSTALLER_COMMAND_LINE_H
#define VLX_INSTALLER_COMMAND_LINE_H

#include "installer/run_state.h"

// Reads the switches and the root argument into state and, when no root is
// named, takes the directory that holds the tool. Every malformed command line
// or unknown location ends the run with its message and status 1 (2 when
// the command line asks for a check).
void parse_command_line(int argc, wchar_t* argv[], RunState* state);

#endif  // VLX_INSTALLER_COMMAND_LINE_H
