// vlxinstall: completes the installation of an unpacked distribution.
#include "installer/command_line.h"
#include "installer/question.h"

int wmain(int argc, wchar_t* argv[]) {
  static RunState state;
  parse_command_line(argc, argv, &state);
  if (!state.silent) ask_start_profile(&state);
  return 0;
}
