#include "vlxini/commands.h"

#include <string.h>

#include "initfile/initfile.h"
#include "platform/platform.h"

using namespace vlx;

namespace {

const char kCannotOpen[] = "Cannot open init file %S\n";
const char kCannotHold[] = "Cannot write this change to init file %S\n";
const char kCannotStore[] = "Could not store init file %S\n";
const char kReason[] = "  %S\n";
const char kLeftIncomplete[] = "  %S is now incomplete: its directory allows no new file, so it was written in place\n";
const char kWhatCannotBeHeld[] =
    "  an init file cannot hold a section name that is empty or holds '=', CR or LF, a key that is empty, "
    "holds '=', CR or LF or begins or ends with a space, or a value that begins or ends with a space or holds "
    "CR or LF\n";
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

// Reports a file that could not be opened, read or loaded: status 2.
int report_unreadable(const wchar_t* path, const InitLoadError& report, const std::wstring& system) {
  print_message(kStandardError, kCannotOpen, path);
  print_reason(describe_failure(report, system));
  return 2;
}

// The text of the file at path, or null (reported) when it cannot be read or
// does not load. A path without a file opens as an empty text where creates,
// and is reported otherwise.
InitEdit* open_edit(const wchar_t* path, bool creates) {
  InitLoadError report;
  InitEdit* edit = open_init_edit(path, &report);
  std::wstring system = report.line > 0 ? std::wstring() : describe_last_error();
  if (edit && (creates || !report.reason)) return edit;  // a reason on an edit: there was no file
  if (edit) free_init_edit(edit);
  report_unreadable(path, report, system);
  return nullptr;
}

// The document of the file at path, or null (reported) when it cannot be
// read whole or does not load; a path without a file too.
InitFile* open_document(const wchar_t* path) {
  InitLoadError report;
  InitFile* file = load_init_file_reporting(path, &report);
  std::wstring system = report.line > 0 ? std::wstring() : describe_last_error();
  if (file && !report.reason) return file;
  if (file) free_init_file(file);  // cut short by a read error
  report_unreadable(path, report, system);
  return nullptr;
}

// Stores the edit at path and releases it: 0, or 2 with the failure reported.
int store_edit(InitEdit* edit, const wchar_t* path) {
  int stored = store_init_edit(edit, path);
  std::wstring reason = describe_last_error();
  free_init_edit(edit);
  if (stored == 0) return 0;
  print_message(kStandardError, kCannotStore, path);
  print_reason(reason);
  if (last_target_damage(nullptr) == kTargetIncomplete) print_message(kStandardError, kLeftIncomplete, path);
  return 2;
}

// Writes UTF-8 text from a file to standard output as console text.
void print_text(const char* text) {
  std::string rendered = render_for_console(kStandardOutput, widen(text).c_str());
  write_console(kStandardOutput, rendered.data(), rendered.size());
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

int set_value(const wchar_t* path, const std::string& section, const std::string& key, const std::string& value) {
  InitEdit* edit = open_edit(path, true);
  if (!edit) return 2;
  // A value the file already has changes nothing, not even its time.
  const char* now = init_edit_value(edit, section.c_str(), key.c_str());
  if (now && value == now) {
    free_init_edit(edit);
    return 0;
  }
  if (set_init_edit_value(edit, section.c_str(), key.c_str(), value.c_str()) < 0) {
    free_init_edit(edit);
    print_message(kStandardError, kCannotHold, path);
    write_console(kStandardError, kWhatCannotBeHeld, strlen(kWhatCannotBeHeld));
    return 2;
  }
  return store_edit(edit, path);
}

int delete_lines(const wchar_t* path, const std::string& section, const std::string* key) {
  InitEdit* edit = open_edit(path, false);
  if (!edit) return 2;
  int missing = key ? delete_init_edit_entry(edit, section.c_str(), key->c_str())
                    : delete_init_edit_section(edit, section.c_str());
  if (missing) {
    free_init_edit(edit);
    return 1;
  }
  return store_edit(edit, path);
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
    InitFile* file = load_init_file_reporting(paths[i], &report);
    std::wstring system = report.line > 0 ? std::wstring() : describe_last_error();
    if (file) free_init_file(file);
    if (file && !report.reason) continue;
    std::wstring where = report.line > 0 ? std::to_wstring(report.line) + L": " + widen(report.reason)
                                         : L" " + widen(report.reason) + (system.empty() ? L"" : L": " + system);
    print_message(kStandardError, kCheckFailed, paths[i], where.c_str());
    status = 2;
  }
  return status;
}
