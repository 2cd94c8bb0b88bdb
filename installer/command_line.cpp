#include "installer/command_line.h"

#include <string.h>

#include "installer/messages.h"

using namespace vlx;

namespace {

bool is_help_switch(const wchar_t* argument) {
  return wcscmp(argument, L"-h") == 0 || wcscmp(argument, L"-?") == 0 || wcscmp(argument, L"--help") == 0 ||
         (kSlashQuestionIsHelp && wcscmp(argument, L"/?") == 0);
}

// A command whose only work is to print fails when the text cannot be
// written; a script that reads it must not take nothing for the answer.
[[noreturn]] void show_and_exit(const char* text) {
  print_message(kStandardOutput, text);
  if (flush_console(kStandardOutput)) exit_process(0);
  std::wstring reason = describe_last_error();
  print_message(kStandardError, kOutputFailed);
  print_reason(reason);
  exit_process(1);
}

// Help and version end the run where they stand; --check makes the run a
// check; any other switch is -s (whatever follows its "s") or an error.
void read_switch(const wchar_t* argument, RunState* state) {
  if (is_help_switch(argument)) show_and_exit(kUsage);
  if (wcscmp(argument, L"--version") == 0) show_and_exit(kVersion);
  if (wcscmp(argument, L"--check") == 0 || wcscmp(argument, L"--json") == 0) {
    (argument[2] == L'c' ? state->check : state->json) = true;
    return;
  }
  if (argument[0] != L'-' || argument[1] != L's') {
    print_message(kStandardError, kUnknownSwitch, argument);
    fail(kTryHelp);
  }
  state->silent = true;
}

// The root is the tool's own directory: its file name up to the last
// separator. The name is cut in place, so root_dir points into module_path.
void resolve_root_from_location(void* module, RunState* state) {
  if (!module) fail(kNoModuleHandle);
  int length = get_module_file_name(module, state->module_path, kPathCapacity);
  if (length == 0) fail(kNoModuleFileName);
  int i = length - 1;
  while (i >= 0 && state->module_path[i] != kPathSeparator) --i;
  if (i < 0) fail(kBrokenModulePath);
  state->module_path[i] = L'\0';
  state->root_dir = state->module_path;
  state->root_from_location = true;
}

}  // namespace

void parse_command_line(int argc, wchar_t* argv[], RunState* state) {
  // A check that cannot be made ends with 2, a wrong command line included.
  for (int i = 1; i < argc; ++i) {
    if (wcscmp(argv[i], L"--check") == 0) set_failure_status(2);
  }
  // Fetched before the walk but only needed when no root is named.
  void* module = get_module_handle();
  for (int i = 1; i < argc; ++i) {
    const wchar_t* argument = argv[i];
    if (argument[0] == L'-' || is_help_switch(argument)) {
      read_switch(argument, state);
    } else if (state->root_dir) {
      fail(kSecondRoot, argument);
    } else {
      state->root_dir = argument;
    }
  }
  if (state->json && !state->check) {
    print_message(kStandardError, kJsonWithoutCheck);
    fail(kTryHelp);
  }
  if (!state->root_dir) {
    resolve_root_from_location(module, state);
  } else {
    // The launchers read vlx.ini from wherever they start: it must name the
    // root from anywhere.
    state->absolute_root = make_absolute(state->root_dir);
    state->root_dir = state->absolute_root.c_str();
  }
}
