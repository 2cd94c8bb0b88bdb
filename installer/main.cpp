// vlxinstall: completes the installation of an unpacked distribution, or
// checks that it is complete.
#include <new>

#include "installer/check.h"
#include "installer/command_line.h"
#include "installer/deploy.h"
#include "installer/descriptor.h"
#include "installer/launcher_config.h"
#include "installer/messages.h"
#include "installer/own_window.h"
#include "installer/question.h"

using namespace vlx;

namespace {

// A check's answer is its output: one that cannot be written is no answer.
int finish_check(int status) {
  if (flush_console(kStandardOutput)) return status;
  std::wstring reason = describe_last_error();
  print_message(kStandardError, kOutputFailed);
  print_reason(reason);
  return 2;
}

int run_installer(int argc, wchar_t* argv[]) {
  static RunState state;
  parse_command_line(argc, argv, &state);
  if (state.check) {
    read_release_descriptor(&state);
    open_bin_directory(&state, false);
    return finish_check(check_installation(&state));
  }
  if (!state.silent) {
    hold_own_window_at_exit();
    ask_start_profile(&state);
  }
  read_release_descriptor(&state);
  open_bin_directory(&state, true);
  deploy_files(&state);
  write_launcher_config(&state);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  // A block of memory that cannot be had ends the run with its message: a
  // run ended before its commit leaves the installation as it was.
  try {
    return run_installer(argc, argv);
  } catch (const std::bad_alloc&) {
    fail_out_of_memory();
  }
}
