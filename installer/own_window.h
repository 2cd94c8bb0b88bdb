// A console window that is the tool's alone: the one a double-click opens.
#ifndef VLX_INSTALLER_OWN_WINDOW_H
#define VLX_INSTALLER_OWN_WINDOW_H

// When the console is a window of the tool's own (it was double-clicked),
// Windows closes it the moment the tool ends, with the success line or the
// error that says why. In that case this makes the end of the run, whatever
// its status, write kPressEnterToClose after the last message and wait for
// Enter or the end of input. Nothing otherwise.
void hold_own_window_at_exit();

#endif  // VLX_INSTALLER_OWN_WINDOW_H
