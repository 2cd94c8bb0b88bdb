// vlxini: reads and changes init files from the command line, keeping every
// byte that a change does not name.
#include <string.h>

#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "vlxini/commands.h"

using namespace vlx;

namespace {

const char kUsage[] =
    "Usage: vlxini COMMAND FILE ...\n"
    "Reads and changes init files, keeping every byte that a change does not name:\n"
    "comments, blank lines, spacing, escapes, order and line ends.\n"
    "\n"
    "  vlxini get FILE SECTION KEY [--default VALUE] [--format sh|json]\n"
    "                                       print the value; status 1 if there is none,\n"
    "                                       or VALUE with --default\n"
    "  vlxini set FILE SECTION KEY VALUE    change or add it, keeping everything else;\n"
    "                                       creates FILE\n"
    "  vlxini delete FILE SECTION [KEY]     remove the entry from every section of\n"
    "                                       that name, or every such section;\n"
    "                                       status 1 if none\n"
    "  vlxini rename FILE SECTION [KEY] NEW rename every section of that name, or the\n"
    "                                       key in each; status 1 if none\n"
    "  vlxini merge FILE [SNIPPET|-]        set every entry that a look-up in the init\n"
    "                                       file SNIPPET finds (standard input without\n"
    "                                       one) in FILE, in one store: all or nothing;\n"
    "                                       creates FILE\n"
    "  vlxini list FILE [SECTION] [--format sh|json]\n"
    "                                       section names, or the section's entries as\n"
    "                                       the file writes them (KEY=VALUE, escaped)\n"
    "  vlxini check FILE... [--format json] \"FILE: ok\" or \"FILE:LINE: reason\" for each\n"
    "                                       file, and a warning for each name that is\n"
    "                                       there twice\n"
    "  vlxini --help | --version\n"
    "\n"
    "FILE '-' reads standard input, for get, list and check. A look-up finds the\n"
    "first entry of a key in the first section of a name; names are case-sensitive.\n"
    "--format sh prints KEY='VALUE' lines for eval (a key that is no shell name is\n"
    "reported, not printed); --format json prints one JSON document, bytes that\n"
    "are not UTF-8 as \\u00XX.\n"
    "\n"
    "A change follows links to the file and holds that file: through a lock file\n"
    ".NAME.lock beside it and a lock on the file itself, or the lock on the file\n"
    "alone where its directory allows no lock file (a lock file of a user who may\n"
    "not write the file holds nothing up). It replaces the file by a new one, or\n"
    "writes it in place where its directory allows no new file; get and list wait\n"
    "while a change holds the file. A change waits up to 30 seconds for another.\n"
    "\n"
    "Exit status: 0 done; 1 not there (a section or key, or for get, list and\n"
    "delete the section); 2 an error: a FILE missing (but for set and merge),\n"
    "unreadable, not loading or not storable, a change the text cannot hold, a\n"
    "name taken, a wrong command line; 3 try again: FILE was changed by another\n"
    "program since it was read, or another change held it for 30 seconds.\n"
    "check ends 0 when every FILE loads, 2 otherwise.\n"
    "Documentation: README.md and docs/initfile.md, in share/doc/vlxinstall\n"
    "(beside bin in the Windows archive); on Linux also man vlxini.\n";
const char kVersion[] = "vlxini " VLX_VERSION "\n";
const char kUnknownCommand[] = "Unknown command %S\n";
const char kWrongArguments[] = "Wrong number of arguments for %S\n";
const char kWrongOption[] = "Option %S does not go with this command\n";
const char kUnknownFormat[] = "Unknown format %S: use sh or json\n";
const char kNoCommand[] = "No command given\n";
const char kTryHelp[] = "Try 'vlxini --help' for more information.\n";
const char kOutputFailed[] = "Could not write to standard output\n";
const char kOutOfMemory[] = "Not enough memory to finish the command\n";

// A command, how many arguments it takes after its name, and the formats
// it prints in (bits of 1 << Format).
struct Command {
  const wchar_t* name;
  int least;
  int most;
  int formats;
  bool takes_default;
};
const int kShellOrJson = (1 << kShellFormat) | (1 << kJsonFormat);
const Command kCommands[] = {
    {L"get", 3, 3, kShellOrJson, true},   {L"set", 4, 4, 0, false},   {L"delete", 2, 3, 0, false},
    {L"rename", 3, 4, 0, false},          {L"merge", 1, 2, 0, false}, {L"list", 1, 2, kShellOrJson, false},
    {L"check", 1, 1 << 30, 1 << kJsonFormat, false},
};

// The options after a command's name, and its other arguments.
struct Arguments {
  std::vector<wchar_t*> plain;
  Format format = kPlainFormat;
  bool has_default = false;
  std::string fallback;
};

// A wrong command line: its one line, then where the usage is; status 2.
int show_usage_error(const char* message, const wchar_t* argument) {
  print_message(kStandardError, message, argument);
  print_message(kStandardError, kTryHelp);
  return kError;
}

std::string utf8(const wchar_t* argument) { return encode_utf8(argument); }

// Splits the arguments after the command's name into options and the rest:
// kDone, or the status of a wrong command line after its message.
int parse_arguments(const Command& command, int count, wchar_t** arguments, Arguments* parsed) {
  for (int i = 0; i < count; ++i) {
    std::wstring argument = arguments[i];
    bool format = argument == L"--format", fallback = argument == L"--default";
    if (!format && !fallback) {
      parsed->plain.push_back(arguments[i]);
      continue;
    }
    if ((format && !command.formats) || (fallback && !command.takes_default)) {
      return show_usage_error(kWrongOption, arguments[i]);
    }
    if (i + 1 == count) return show_usage_error(kWrongArguments, command.name);
    std::wstring value = arguments[++i];
    if (fallback) {
      parsed->has_default = true;
      parsed->fallback = utf8(value.c_str());
      continue;
    }
    parsed->format = value == L"sh" ? kShellFormat : value == L"json" ? kJsonFormat : kPlainFormat;
    if (parsed->format == kPlainFormat) return show_usage_error(kUnknownFormat, arguments[i]);
    if (!(command.formats & (1 << parsed->format))) return show_usage_error(kWrongOption, arguments[i - 1]);
  }
  int plain = static_cast<int>(parsed->plain.size());
  if (plain < command.least || plain > command.most) return show_usage_error(kWrongArguments, command.name);
  return kDone;
}

int run(const Command& command, const Arguments& parsed) {
  std::wstring name = command.name;
  wchar_t* const* arguments = parsed.plain.data();
  int count = static_cast<int>(parsed.plain.size());
  const wchar_t* file = arguments[0];
  if (name == L"get") {
    return get_value(file, utf8(arguments[1]), utf8(arguments[2]), parsed.format,
                     parsed.has_default ? &parsed.fallback : nullptr);
  }
  if (name == L"set") return set_value(file, utf8(arguments[1]), utf8(arguments[2]), utf8(arguments[3]));
  if (name == L"delete" || name == L"rename") {
    bool keyed = count == (name == L"delete" ? 3 : 4);
    std::string key = keyed ? utf8(arguments[2]) : std::string();
    if (name == L"delete") return delete_lines(file, utf8(arguments[1]), keyed ? &key : nullptr);
    return rename_names(file, utf8(arguments[1]), keyed ? &key : nullptr, utf8(arguments[count - 1]));
  }
  if (name == L"merge") return merge_file(file, count == 2 ? arguments[1] : L"-");
  if (name == L"list") {
    std::string section = count == 2 ? utf8(arguments[1]) : std::string();
    return list_file(file, count == 2 ? &section : nullptr, parsed.format);
  }
  return check_files(arguments, count, parsed.format);
}

// The status of a command whose output is its work: 2 when it could not be
// written.
int finish(int status) {
  if (flush_console(kStandardOutput)) return status;
  std::wstring reason = describe_last_error();
  print_message(kStandardError, kOutputFailed);
  if (!reason.empty()) print_message(kStandardError, "  %S\n", reason.c_str());
  return kError;
}

int run_command(int argc, wchar_t* argv[]) {
  if (argc < 2) return show_usage_error(kNoCommand, L"");
  std::wstring first = argv[1];
  bool help = first == L"--help" || first == L"-h" || (kSlashQuestionIsHelp && first == L"/?");
  if ((help || first == L"--version") && argc > 2) return show_usage_error(kWrongArguments, argv[1]);
  if (help) {
    write_console(kStandardOutput, kUsage, strlen(kUsage));
    return finish(kDone);
  }
  if (first == L"--version") {
    write_console(kStandardOutput, kVersion, strlen(kVersion));
    return finish(kDone);
  }
  for (const Command& command : kCommands) {
    if (first != command.name) continue;
    Arguments parsed;
    int status = parse_arguments(command, argc - 2, argv + 2, &parsed);
    return status != kDone ? status : finish(run(command, parsed));
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
    return kError;
  }
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) { return run_within_memory(argc, argv); }
