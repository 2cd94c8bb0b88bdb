// The console dialogue of an interactive run: the start profile question, and
// the closing prompt of a console window that is the tool's alone.
#ifndef VLX_INSTALLER_QUESTION_H
#define VLX_INSTALLER_QUESTION_H

#include "installer/run_state.h"

// Asks whether to start minimal and sets state->tavrel_start: false for "yes"
// or "y" in any letter case, true for every other answer. No input at all
// ends the run with "Could not read answer from user.\n" and status 1.
void ask_start_profile(RunState* state);

// When the console is a window of the tool's own (it was double-clicked),
// Windows closes it the moment the tool ends, with the success line or the
// error that says why. In that case this makes the end of the run, whatever
// its status, write "Press Enter to close this window.\n" after the last
// message and wait for Enter or the end of input. Nothing otherwise.
void hold_own_window_at_exit();

#endif  // VLX_INSTALLER_QUESTION_H
