// The start profile question of an interactive run.
#ifndef VLX_INSTALLER_QUESTION_H
#define VLX_INSTALLER_QUESTION_H

#include "installer/run_state.h"

// Asks whether to start minimal and sets state->tavrel_start: false for "yes"
// or "y" in any letter case, true for every other answer. No input at all
// ends the run with "Could not read answer from user.\n" and status 1.
void ask_start_profile(RunState* state);

// Reads and drops standard input up to and including the next line feed, or
// to its end: the rest of an answer that was too long.
void discard_rest_of_line();

#endif  // VLX_INSTALLER_QUESTION_H
