#include "vlxini/commands.h"

#include <string.h>
#include <wchar.h>

#include <chrono>
#include <thread>

#include "initfile/initfile.h"
#include "platform/platform.h"

using namespace vlx;

namespace {

const char kCannotOpen[] = "Cannot open init file %S\n";
const char kCannotLoad[] = "Cannot load init file %S\n";
const char kCannotChangeInput[] = "Cannot change standard input: name the file to change\n";
const char kWaiting[] = "Waiting for another change of %S to finish...\n";
const char kHeldTooLong[] = "Another change of %S has not finished after 30 seconds, giving up.\n";
const char kChangedMeanwhile[] = "  it was changed by another program since it was read\n";
const char kCannotHold[] = "Cannot write this change to init file %S\n";
const char kCannotStore[] = "Could not store init file %S\n";
const char kReason[] = "  %S\n";
const char kLeftIncomplete[] = "  %S is now incomplete: its directory allows no new file, so it was written in place\n";

const char kCheckFailed[] = "%S:%S\n";

std::wstring widen(const char* text) { return decode_utf8(text, strlen(text)); }

void print_reason(const std::wstring& reason) {
  if (!reason.empty()) print_message(kStandardError, kReason, reason.c_str());
}

// Why a file did not load, as "line N: reason", or the system's description
// of an open or read error, or the loader's phrase where there is none.
std::wstring describe_failure(const InitLoadError& report, const std::wstring& system) {
  if (report.line > 0) return L"line " + std::to_wstring(report.line) + L": " + widen(report.reason);
  return system.empty() ? widen(report.reason) : system;
}

// The system's description of why a load or open reported so failed; none
// for a file that was read but does not load.
std::wstring describe_system_error(const InitLoadError& report) {
  return report.line > 0 ? std::wstring() : describe_last_error();
}

// Reports a file that could not be opened or read, or that opened but does
// not load (then with its line): status 2.
int report_unreadable(const wchar_t* path, const InitLoadError& report, const std::wstring& system) {
  print_message(kStandardError, report.line > 0 ? kCannotLoad : kCannotOpen, path);
  print_reason(describe_failure(report, system));
  return 2;
}

// The one rule of the format that a change breaks, naming the argument;
// null when the text can hold it.
const char* broken_rule(const std::string& section, const std::string& key, const std::string& value) {
  auto edge_space = [](const std::string& text) { return !text.empty() && (text.front() == ' ' || text.back() == ' '); };
  if (section.empty()) return "SECTION cannot be empty";
  if (section.find_first_of("=\r\n") != std::string::npos) return "SECTION cannot hold '=', CR or LF";
  if (key.empty()) return "KEY cannot be empty";
  if (key.find_first_of("=\r\n") != std::string::npos) return "KEY cannot hold '=', CR or LF";
  if (edge_space(key)) return "KEY cannot begin or end with a space";
  if (value.find_first_of("\r\n") != std::string::npos) return "VALUE cannot hold CR or LF";
  if (edge_space(value)) return "VALUE cannot begin or end with a space";
  return nullptr;
}

bool is_standard_input(const wchar_t* path) { return wcscmp(path, L"-") == 0; }

// All of standard input.
std::string read_standard_input() {
  std::string text;
  for (int byte; (byte = read_console_byte()) >= 0;) text += static_cast<char>(byte);
  return text;
}

// Loads path, or standard input for "-", reporting like
// load_init_file_reporting.
InitFile* load_reporting(const wchar_t* path, InitLoadError* report) {
  if (!is_standard_input(path)) return load_init_file_reporting(path, report);
  std::string text = read_standard_input();
  return load_init_text_reporting(text.data(), text.size(), report);
}

// The text of the file at path, or null (reported) when it cannot be read or
// does not load. A path without a file opens as an empty text where creates,
// and is reported otherwise.
InitEdit* open_edit(const wchar_t* path, bool creates) {
  if (is_standard_input(path)) {
    print_message(kStandardError, kCannotChangeInput);
    return nullptr;
  }
  InitLoadError report;
  InitEdit* edit = open_init_edit(path, &report);
  std::wstring system = describe_system_error(report);
  if (edit && (creates || !report.reason)) return edit;  // a reason on an edit: there was no file
  if (edit) free_init_edit(edit);
  report_unreadable(path, report, system);
  return nullptr;
}

// The document of the file at path, or null (reported) when it cannot be
// read whole or does not load; a path without a file too.
InitFile* open_document(const wchar_t* path) {
  InitLoadError report;
  InitFile* file = load_reporting(path, &report);
  std::wstring system = describe_system_error(report);
  if (file && !report.reason) return file;
  if (file) free_init_file(file);  // cut short by a read error
  report_unreadable(path, report, system);
  return nullptr;
}

std::string text_of(const InitEdit* edit) {
  size_t length = 0;
  const char* text = init_edit_text(edit, &length);
  return std::string(text, length);
}

// Stores the edit at path and releases it: 0, or 2 with the failure
// reported. An edit whose text is still before stores nothing, so that a
// change that changes nothing leaves the file, its time and its links.
int store_edit(InitEdit* edit, const wchar_t* path, const std::string& before) {
  if (text_of(edit) == before) {
    free_init_edit(edit);
    return 0;
  }
  int stored = store_init_edit(edit, path);
  std::wstring reason = describe_last_error();
  free_init_edit(edit);
  if (stored == 0) return 0;
  print_message(kStandardError, kCannotStore, path);
  if (stored == -3) {
    print_message(kStandardError, kChangedMeanwhile);
    return 2;
  }
  print_reason(reason);
  if (last_target_damage(nullptr) == kTargetIncomplete) print_message(kStandardError, kLeftIncomplete, path);
  return 2;
}

// Writes UTF-8 text from a file to standard output as console text.
void print_text(const char* text) {
  std::string rendered = render_for_console(kStandardOutput, widen(text).c_str());
  write_console(kStandardOutput, rendered.data(), rendered.size());
}

// Holds path for a whole read-change-store, waiting while another process
// does (saying so once after a second), for at most 30 seconds. Returns 0
// with *hold set (null where the file's directory allows no lock file: the
// change then goes ahead unheld), or 2 after the message.
int hold_file(const wchar_t* path, InitFileHold** hold) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point started = Clock::now();
  bool told = false;
  *hold = nullptr;
  for (int held; (held = hold_init_file(path, hold)) == 1;) {
    Clock::duration waited = Clock::now() - started;
    if (waited >= std::chrono::seconds(30)) {
      print_message(kStandardError, kHeldTooLong, path);
      return 2;
    }
    if (!told && waited >= std::chrono::seconds(1)) {
      print_message(kStandardError, kWaiting, path);
      flush_console(kStandardError);
      told = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return 0;
}

}  // namespace

int get_value(const wchar_t* path, const std::string& section, const std::string& key) {
  InitFile* file = open_document(path);
  if (!file) return 2;
  InitSection* found = lookup_init_section(file, section.c_str());
  const char* value = found ? lookup_init_value(found, key.c_str()) : nullptr;
  if (value) {
    print_text(value);
    print_text("\n");
  }
  free_init_file(file);
  return value ? 0 : 1;
}

namespace {

int set_value_held(const wchar_t* path, const std::string& section, const std::string& key,
                   const std::string& value) {
  InitEdit* edit = open_edit(path, true);
  if (!edit) return 2;
  if (const char* rule = broken_rule(section, key, value)) {
    free_init_edit(edit);
    print_message(kStandardError, kCannotHold, path);
    print_reason(widen(rule));
    return 2;
  }
  std::string before = text_of(edit);
  if (set_init_edit_value(edit, section.c_str(), key.c_str(), value.c_str()) < 0) {  // the rules above: none
    free_init_edit(edit);
    print_message(kStandardError, kCannotHold, path);
    return 2;
  }
  return store_edit(edit, path, before);
}

int delete_lines_held(const wchar_t* path, const std::string& section, const std::string* key) {
  InitEdit* edit = open_edit(path, false);
  if (!edit) return 2;
  std::string before = text_of(edit);
  int missing = key ? delete_init_edit_entry(edit, section.c_str(), key->c_str())
                    : delete_init_edit_section(edit, section.c_str());
  if (missing) {
    free_init_edit(edit);
    return 1;
  }
  return store_edit(edit, path, before);
}

// Sets every entry of the snippet at snippet_path in the file, in one store;
// nothing when any cannot be held.
int merge_held(const wchar_t* path, const wchar_t* snippet_path) {
  InitFile* snippet = open_document(snippet_path);
  if (!snippet) return 2;
  InitEdit* edit = open_edit(path, true);
  if (!edit) {
    free_init_file(snippet);
    return 2;
  }
  std::string before = text_of(edit);
  for (int32_t i = 0; i < snippet->count; ++i) {
    const InitSection* section = snippet->sections[i];
    for (int32_t j = 0; j < section->count; ++j) {
      const InitEntry* entry = section->entries[j];
      const char* rule = broken_rule(section->name, entry->key, entry->value);
      if (rule || set_init_edit_value(edit, section->name, entry->key, entry->value) < 0) {
        std::string where = "[" + std::string(section->name) + "] " + entry->key + ": " + (rule ? rule : "");
        free_init_edit(edit);
        free_init_file(snippet);
        print_message(kStandardError, kCannotHold, path);
        print_reason(widen(where.c_str()));
        return 2;
      }
    }
  }
  free_init_file(snippet);
  return store_edit(edit, path, before);
}

// Runs change on path while holding it, so that changes of several
// processes all land.
template <typename Change>
int while_held(const wchar_t* path, Change change) {
  InitFileHold* held = nullptr;
  if (!is_standard_input(path) && hold_file(path, &held) != 0) return 2;
  int status = change();
  release_init_file(held);
  return status;
}

}  // namespace

int set_value(const wchar_t* path, const std::string& section, const std::string& key, const std::string& value) {
  return while_held(path, [&] { return set_value_held(path, section, key, value); });
}

int delete_lines(const wchar_t* path, const std::string& section, const std::string* key) {
  return while_held(path, [&] { return delete_lines_held(path, section, key); });
}

int merge_file(const wchar_t* path, const wchar_t* snippet) {
  return while_held(path, [&] { return merge_held(path, snippet); });
}

int list_file(const wchar_t* path, const std::string* section) {
  InitFile* file = open_document(path);
  if (!file) return 2;
  InitSection* found = section ? lookup_init_section(file, section->c_str()) : nullptr;
  for (int32_t i = 0; !section && i < file->count; ++i) {
    print_text(file->sections[i]->name);
    print_text("\n");
  }
  for (int32_t i = 0; found && i < found->count; ++i) {
    print_text((std::string(found->entries[i]->key) + "=" + found->entries[i]->value + "\n").c_str());
  }
  free_init_file(file);
  return section && !found ? 1 : 0;
}

int check_files(const wchar_t* const* paths, int count) {
  int status = 0;
  for (int i = 0; i < count; ++i) {
    InitLoadError report;
    InitFile* file = load_reporting(paths[i], &report);
    std::wstring system = describe_system_error(report);
    if (file) free_init_file(file);
    if (file && !report.reason) continue;
    std::wstring where = report.line > 0 ? std::to_wstring(report.line) + L": " + widen(report.reason)
                                         : L" " + widen(report.reason) + (system.empty() ? L"" : L": " + system);
    print_message(kStandardError, kCheckFailed, paths[i], where.c_str());
    status = 2;
  }
  return status;
}
