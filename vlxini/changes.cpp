// The commands that change a file: set, delete, merge and rename, each a
// read-change-store while the file is held, so that changes made by several
// processes at once all land.
#include <string.h>

#include <chrono>
#include <set>
#include <thread>
#include <utility>

#include "initfile/initfile.h"
#include "platform/platform.h"
#include "vlxini/commands.h"
#include "vlxini/model.h"
#include "vlxini/output.h"

using namespace vlx;

namespace {

const char kCannotChangeInput[] = "Cannot change standard input: name the file to change\n";
const char kWaiting[] = "Waiting for another change of %S to finish...\n";
const char kCannotHoldFile[] = "Cannot hold init file %S for a change\n";
const char kChangedMeanwhile[] = "  it was changed by another program since it was read\n";
const char kCannotHold[] = "Cannot write this change to init file %S\n";
const char kCannotStore[] = "Could not store init file %S\n";
const char kCannotRename[] = "Cannot rename in init file %S\n";
const char kSectionTaken[] = "  [%S] is there already\n";
const char kKeyTaken[] = "  %S is in [%S] already\n";
const char kReason[] = "  %S\n";
const char kLeftIncomplete[] = "  %S is now incomplete: its directory allows no new file, so it was written in place\n";

void print_reason(const std::wstring& reason) {
  if (!reason.empty()) print_message(kStandardError, kReason, reason.c_str());
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

// The rule of the format that a new name breaks.
const char* broken_name_rule(const std::string& name, bool key) {
  if (name.empty()) return "NEW cannot be empty";
  if (name.find_first_of("=\r\n") != std::string::npos) return "NEW cannot hold '=', CR or LF";
  if (key && (name.front() == ' ' || name.back() == ' ')) return "NEW cannot begin or end with a space";
  return "NEW would not read back as it is";
}

std::string text_of(const InitEdit* edit) {
  size_t length = 0;
  const char* text = init_edit_text(edit, &length);
  return std::string(text, length);
}

// The model of the edit's text, for the words under a result.
Model model_of(const InitEdit* edit) {
  Model model;
  int32_t line = 0;
  const char* reason = nullptr;
  read_model_text(text_of(edit), &model, &line, &reason);  // an edit's text always loads
  return model;
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
  print_message(kStandardError, report.line > 0 ? kCannotLoad : kCannotOpen, path);
  if (report.line > 0) {
    print_reason(L"line " + std::to_wstring(report.line) + L": " + widen(report.reason));
    print_load_hint(path, nullptr, report.line, report.reason);
  } else {
    print_reason(system.empty() ? widen(report.reason) : system);
  }
  return nullptr;
}

// Stores the edit at path and releases it. An edit whose text is still
// before stores nothing, so that a change that changes nothing leaves the
// file, its time and its links.
int store_edit(InitEdit* edit, const wchar_t* path, const std::string& before) {
  if (text_of(edit) == before) {
    free_init_edit(edit);
    return kDone;
  }
  int stored = store_init_edit(edit, path);
  std::wstring reason = describe_last_error();
  free_init_edit(edit);
  if (stored == 0) return kDone;
  print_message(kStandardError, kCannotStore, path);
  if (stored == -3) {
    print_message(kStandardError, kChangedMeanwhile);
    return kTryAgain;
  }
  print_reason(reason);
  if (last_target_damage(nullptr) == kTargetIncomplete) print_message(kStandardError, kLeftIncomplete, path);
  return kError;
}

// Holds path for a whole read-change-store, waiting while another process
// does (saying so once after a second), for at most 30 seconds: kDone with
// *hold set, kTryAgain after the message, or kError with *reason, unsaid.
int hold_file(const wchar_t* path, InitFileHold** hold, std::wstring* reason) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point started = Clock::now();
  bool told = false;
  *hold = nullptr;
  for (int held; (held = hold_init_file(path, hold)) != 0;) {
    if (held < 0) {
      *reason = describe_last_error();
      return kError;
    }
    Clock::duration waited = Clock::now() - started;
    if (waited >= std::chrono::seconds(30)) {
      print_message(kStandardError, kHeldTooLong, path);
      return kTryAgain;
    }
    if (!told && waited >= std::chrono::seconds(1)) {
      print_message(kStandardError, kWaiting, path);
      flush_console(kStandardError);
      told = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return kDone;
}

// Runs change(edit) on the text of path while holding it; change returns
// the status, kDone to store the edit.
template <typename Change>
int change_held(const wchar_t* path, bool creates, Change change) {
  if (is_standard_input(path)) {
    print_message(kStandardError, kCannotChangeInput);
    return kError;
  }
  InitFileHold* held = nullptr;
  std::wstring reason;
  int status = hold_file(path, &held, &reason);
  if (status == kTryAgain) return status;
  InitEdit* edit = open_edit(path, creates);
  if (edit && status == kError) {
    // The file can be read but not held: no change goes ahead unheld. Where
    // it is not there, what fails is its store, as it would.
    free_init_edit(edit);
    print_message(kStandardError, file_exists(path) ? kCannotHoldFile : kCannotStore, path);
    print_reason(reason);
    return kError;
  }
  if (edit) {
    std::string before = text_of(edit);
    status = change(edit);
    status = status == kDone ? store_edit(edit, path, before) : (free_init_edit(edit), status);
  } else {
    status = kError;
  }
  release_init_file(held);
  return status;
}

// Sets an entry in the edit, or reports why the text cannot hold it.
int set_in_edit(InitEdit* edit, const wchar_t* path, const std::string& section, const std::string& key,
                const std::string& value, const std::string& where) {
  const char* rule = broken_rule(section, key, value);
  if (!rule && set_init_edit_value(edit, section.c_str(), key.c_str(), value.c_str()) >= 0) return kDone;
  print_message(kStandardError, kCannotHold, path);
  print_reason(widen((where + (rule ? rule : "")).c_str()));
  return kError;
}

}  // namespace

int set_value(const wchar_t* path, const std::string& section, const std::string& key, const std::string& value) {
  return change_held(path, true, [&](InitEdit* edit) -> int {
    // Only a set that adds its entry may need a hint: the model before it is
    // read then alone.
    bool there = init_edit_value(edit, section.c_str(), key.c_str()) != nullptr;
    Model model = there ? Model() : model_of(edit);
    int status = set_in_edit(edit, path, section, key, value, std::string());
    if (status == kDone && !there) hint_case(model, section, &key);
    return status;
  });
}

int delete_lines(const wchar_t* path, const std::string& section, const std::string* key) {
  return change_held(path, false, [&](InitEdit* edit) -> int {
    int missing = key ? delete_init_edit_entry(edit, section.c_str(), key->c_str())
                      : delete_init_edit_section(edit, section.c_str());
    if (missing) hint_case(model_of(edit), section, key);
    return missing ? kNotThere : kDone;
  });
}

int merge_file(const wchar_t* path, const wchar_t* snippet_path) {
  // The snippet is read first, whole: a slow producer holds up no change.
  Model snippet;
  int status = read_model(snippet_path, &snippet);
  if (status != kDone) return status;
  return change_held(path, true, [&](InitEdit* edit) -> int {
    // What the snippet's own look-up finds, each name once, in file order.
    std::set<std::pair<std::string, std::string>> merged;
    for (const ModelSection& section : snippet.sections) {
      if (find_section(snippet, section.name) != &section) continue;  // the look-up never finds it
      for (const ModelEntry& entry : section.entries) {
        if (!merged.insert({section.name, entry.key}).second) continue;
        const ModelEntry* found = find_entry(section, entry.key);
        int status = set_in_edit(edit, path, section.name, entry.key, found->value,
                                 "[" + section.name + "] " + entry.key + ": ");
        if (status != kDone) return status;
      }
    }
    return kDone;
  });
}

int rename_names(const wchar_t* path, const std::string& section, const std::string* key, const std::string& new_name) {
  return change_held(path, false, [&](InitEdit* edit) -> int {
    int renamed = key ? rename_init_edit_key(edit, section.c_str(), key->c_str(), new_name.c_str())
                      : rename_init_edit_section(edit, section.c_str(), new_name.c_str());
    if (renamed == 1) hint_case(model_of(edit), section, key);  // nothing changed
    if (renamed >= 0) return renamed == 0 ? kDone : kNotThere;
    std::wstring reason = describe_last_error();
    print_message(kStandardError, renamed == -1 ? kCannotHold : kCannotRename, path);
    if (renamed == -2 && key) print_message(kStandardError, kKeyTaken, widen(new_name.c_str()).c_str(), widen(section.c_str()).c_str());
    if (renamed == -2 && !key) print_message(kStandardError, kSectionTaken, widen(new_name.c_str()).c_str());
    if (renamed == -1) print_reason(widen(broken_name_rule(new_name, key != nullptr)));
    if (renamed == -3) print_reason(reason);
    return kError;
  });
}
