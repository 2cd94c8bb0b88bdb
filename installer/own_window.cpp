#include "installer/own_window.h"

#include <stdlib.h>

#include "installer/messages.h"
#include "installer/question.h"

using namespace vlx;

namespace {

void ask_to_close_window() {
  print_message(kStandardOutput, kPressEnterToClose);
  flush_console(kStandardOutput);
  discard_rest_of_line();
}

}  // namespace

void hold_own_window_at_exit() {
  // Registered once the run is known to be interactive, it runs after the
  // last message of every ending: the success line or a fatal error.
  if (console_is_own_window()) atexit(ask_to_close_window);
}
