// vlxinstall: completes the installation of an unpacked distribution.
#include "installer/command_line.h"
#include "installer/deploy.h"
#include "installer/descriptor.h"
#include "installer/launcher_config.h"
#include "installer/own_window.h"
#include "installer/question.h"

int wmain(int argc, wchar_t* argv[]) {
  static RunState state;
  parse_command_line(argc, argv, &state);
  if (!state.silent) {
    hold_own_window_at_exit();
    ask_start_profile(&state);
  }
  read_release_descriptor(&state);
  deploy_files(&state);
  write_launcher_config(&state);
  return 0;
}
