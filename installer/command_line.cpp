#include "installer/command_line.h"

#include "installer/messages.h"

using namespace vlx;

namespace {

// The root is the tool's own directory: its file name up to the last
// separator. The name is cut in place, so root_dir points into module_path.
void resolve_root_from_location(void* module, RunState* state) {
  if (!module) fail("Cannot GetModuleHandle()\n");
  int length = get_module_file_name(module, state->module_path, kPathCapacity);
  if (length == 0) fail("Could not GetModuleFileName()\n");
  int i = length - 1;
  while (i >= 0 && state->module_path[i] != kPathSeparator) --i;
  if (i < 0) fail("GetModuleFileName returned broken path\n");
  state->module_path[i] = L'\0';
  state->root_dir = state->module_path;
}

}  // namespace

void parse_command_line(int argc, wchar_t* argv[], RunState* state) {
  // Fetched before the walk but only needed when no root is named.
  void* module = get_module_handle();
  for (int i = 1; i < argc; ++i) {
    const wchar_t* argument = argv[i];
    if (argument[0] == L'-') {
      if (argument[1] != L's') fail("Unknown command switch %S\n", argument);
      state->silent = true;
    } else if (state->root_dir) {
      fail("Only one root directory can be specified, parameter %S is illegal\n", argument);
    } else {
      state->root_dir = argument;
    }
  }
  if (!state->root_dir) resolve_root_from_location(module, state);
}
