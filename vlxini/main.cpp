// vlxini: reads and changes init files from the command line, keeping every
// byte that a change does not name.
#include <string.h>

#include <new>
#include <string>

#include "platform/platform.h"
#include "vlxini/commands.h"

using namespace vlx;

namespace {

const char kUsage[] =
    "Usage: vlxini COMMAND FILE ...\n"
    "Reads and changes init files, keeping every byte that a change does not name:\n"
    "comments, blank lines, spacing, escapes, order and line ends.\n"
    "\n"
    "  vlxini get FILE SECTION KEY          print the value; status 1 if there is none\n"
    "                                       (FILE '-' reads standard input, for get,\n"
    "                                       list and check)\n"
    "  vlxini set FILE SECTION KEY VALUE    change or add it, keeping everything else;\n"
    "                                       creates FILE\n"
    "  vlxini delete FILE SECTION [KEY]     remove the entry from every section of\n"
    "                                       that name, or every such section;\n"
    "                                       status 1 if none\n"
    "  vlxini merge FILE [SNIPPET|-]        set every entry of the init file SNIPPET\n"
    "                                       (standard input without one) in FILE, in\n"
    "                                       one store: all or nothing; creates FILE\n"
    "  vlxini list FILE [SECTION]           section names, or the section's KEY=VALUE lines\n"
    "  vlxini check FILE...                 FILE:LINE: reason for each file that does not load\n"
    "  vlxini --help | --version\n"
    "\n"
    "Only set and merge create FILE; the others need it. set, delete and merge\n"
    "wait up to 30 seconds for another change of FILE to finish.\n"
    "\n"
    "Exit status: 0 on success; 1 when get, list SECTION or delete finds no such\n"
    "entry or section; 2 when a FILE is missing (but for set and merge), cannot\n"
    "be read, does not load or cannot be stored, when the text cannot hold the\n"
    "change, when another change held FILE for 30 seconds, or when the command\n"
    "line is wrong.\n"
    "Documentation: README.md and docs/initfile.md, in share/doc/vlxinstall\n"
    "(beside bin in the Windows archive); on Linux also man vlxini.\n";
const char kVersion[] = "vlxini " VLX_VERSION "\n";
const char kUnknownCommand[] = "Unknown command %S\n";
const char kWrongArguments[] = "Wrong number of arguments for %S\n";
const char kNoCommand[] = "No command given\n";
const char kTryHelp[] = "Try 'vlxini --help' for more information.\n";
const char kOutputFailed[] = "Could not write to standard output\n";
const char kOutOfMemory[] = "Not enough memory to finish the command\n";

// A command and how many arguments it takes after its name.
struct Command {
  const wchar_t* name;
  int least;
  int most;
};
const Command kCommands[] = {
    {L"get", 3, 3}, {L"set", 4, 4},  {L"delete", 2, 3},
    {L"merge", 1, 2}, {L"list", 1, 2}, {L"check", 1, 1 << 30},
};

// A wrong command line: its one line, then where the usage is; status 2.
int show_usage_error(const char* message, const wchar_t* argument) {
  print_message(kStandardError, message, argument);
  print_message(kStandardError, kTryHelp);
  return 2;
}

std::string utf8(const wchar_t* argument) { return encode_utf8(argument); }

int run(const Command& command, wchar_t** arguments, int count) {
  std::wstring name = command.name;
  const wchar_t* file = arguments[0];
  if (name == L"get") return get_value(file, utf8(arguments[1]), utf8(arguments[2]));
  if (name == L"set") return set_value(file, utf8(arguments[1]), utf8(arguments[2]), utf8(arguments[3]));
  if (name == L"delete") {
    std::string key = count == 3 ? utf8(arguments[2]) : std::string();
    return delete_lines(file, utf8(arguments[1]), count == 3 ? &key : nullptr);
  }
  if (name == L"merge") return merge_file(file, count == 2 ? arguments[1] : L"-");
  if (name == L"list") {
    std::string section = count == 2 ? utf8(arguments[1]) : std::string();
    return list_file(file, count == 2 ? &section : nullptr);
  }
  return check_files(arguments, count);
}

// The status of a command whose output is its work: 2 when it could not be
// written.
int finish(int status) {
  if (flush_console(kStandardOutput)) return status;
  std::wstring reason = describe_last_error();
  print_message(kStandardError, kOutputFailed);
  if (!reason.empty()) print_message(kStandardError, "  %S\n", reason.c_str());
  return 2;
}

int run_command(int argc, wchar_t* argv[]) {
  if (argc < 2) return show_usage_error(kNoCommand, L"");
  std::wstring first = argv[1];
  bool help = first == L"--help" || first == L"-h" || (kSlashQuestionIsHelp && first == L"/?");
  if ((help || first == L"--version") && argc > 2) return show_usage_error(kWrongArguments, argv[1]);
  if (help) {
    write_console(kStandardOutput, kUsage, strlen(kUsage));
    return finish(0);
  }
  if (first == L"--version") {
    write_console(kStandardOutput, kVersion, strlen(kVersion));
    return finish(0);
  }
  for (const Command& command : kCommands) {
    if (first != command.name) continue;
    int count = argc - 2;
    if (count < command.least || count > command.most) return show_usage_error(kWrongArguments, argv[1]);
    return finish(run(command, argv + 2, count));
  }
  return show_usage_error(kUnknownCommand, argv[1]);
}

// A block of memory that cannot be had ends the command with its message,
// where the library did not report it itself; a store not yet renamed into
// place has changed nothing.
int run_within_memory(int argc, wchar_t* argv[]) {
  try {
    return run_command(argc, argv);
  } catch (const std::bad_alloc&) {
    write_console(kStandardError, kOutOfMemory, sizeof kOutOfMemory - 1);
    return 2;
  }
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) { return run_within_memory(argc, argv); }
