#include "installer/question.h"

#include <string.h>

#include "installer/messages.h"

using namespace vlx;

void discard_rest_of_line() {
  // End of input also ends the line, so this never waits in vain.
  int c;
  do {
    c = read_console_byte();
  } while (c != -1 && c != '\n');
}

void ask_start_profile(RunState* state) {
  state->tavrel_start = true;
  write_console(kStandardOutput, kPrompt, strlen(kPrompt));
  flush_console(kStandardOutput);

  // The buffer starts zeroed so that a line feed found anywhere in it was read
  // by this call, even when the line holds a zero byte before it.
  char answer[100] = {};
  if (!read_console_line(answer, sizeof answer)) {
    // A run without input (a script, a service) needs -s, not an answer.
    print_message(kStandardError, kNoAnswer);
    if (console_input_ended()) print_message(kStandardError, kInputEndedHint);
    exit_process(get_failure_status());
  }
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
