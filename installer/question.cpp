#include "installer/question.h"

#include <stdlib.h>
#include <string.h>

#include "installer/messages.h"

using namespace vlx;

namespace {

// Drops the rest of an over-long line so that it cannot be taken for later
// input; end of input also ends the line, so this never waits in vain.
void discard_rest_of_line() {
  int c;
  do {
    c = read_console_byte();
  } while (c != -1 && c != '\n');
}

void ask_to_close_window() {
  print_message(kStandardOutput, "Press Enter to close this window.\n");
  flush_console(kStandardOutput);
  discard_rest_of_line();
}

}  // namespace

void hold_own_window_at_exit() {
  // Registered once the run is known to be interactive, it runs after the
  // last message of every ending: the success line or a fatal error.
  if (console_is_own_window()) atexit(ask_to_close_window);
}

void ask_start_profile(RunState* state) {
  state->tavrel_start = true;
  static const char prompt[] = "Do you want a minimal startup instead of tavrel [No]: ";
  write_console(kStandardOutput, prompt, sizeof prompt - 1);
  flush_console(kStandardOutput);

  // The buffer starts zeroed so that a line feed found anywhere in it was read
  // by this call, even when the line holds a zero byte before it.
  char answer[100] = {};
  if (!read_console_line(answer, sizeof answer)) fail("Could not read answer from user.\n");
  char* line_feed = static_cast<char*>(memchr(answer, '\n', sizeof answer));
  if (line_feed) {
    *line_feed = '\0';
  } else {
    discard_rest_of_line();
  }
  char* carriage_return = strchr(answer, '\r');
  if (carriage_return) *carriage_return = '\0';

  if (compare_ignoring_case(answer, "yes") == 0 || compare_ignoring_case(answer, "y") == 0) {
    state->tavrel_start = false;
  }
}
