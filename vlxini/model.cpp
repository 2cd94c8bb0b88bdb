// Reads init files into vlxini's model by the library's visit of their
// lines, and gives the words that vlxini adds under a result.
#include "vlxini/model.h"

#include <string.h>

#include <map>

#include "initfile/initfile.h"
#include "platform/platform.h"
#include "vlxini/commands.h"
#include "vlxini/output.h"

using namespace vlx;

namespace {

const char kCaseOfSection[] = "  the file has [%S]; names are case-sensitive\n";
const char kCaseOfKey[] = "  [%S] has %S; names are case-sensitive\n";
const char kHashComment[] = "  only ';' starts a comment in this format\n";
const char kEntryWithoutSection[] = "  every entry belongs to a section: add a [section] header above it\n";
const char kEntryBeforeSection[] = "an entry before the first section header";

int add_to_model(void* context, int32_t line, const char* section, const char* key, const char* value) {
  Model* model = static_cast<Model*>(context);
  if (!key) {
    model->sections.push_back({section, line, {}});
  } else {
    model->sections.back().entries.push_back({key, value, line});
  }
  return 0;
}

// The physical line number of the file at path (from 1), at most 4 KiB of
// it: for a hint on why the file does not load. Empty when it cannot be read.
std::string read_physical_line(const wchar_t* path, int32_t number) {
  FileHandle file = open_file_for_reading(path);
  if (file == kInvalidFile) return std::string();
  std::string line;
  int32_t at = 1;
  char buffer[4096];
  for (uint32_t count = 0; at <= number && read_file(file, buffer, sizeof buffer, &count) && count > 0;) {
    for (uint32_t i = 0; i < count && at <= number; ++i) {
      if (buffer[i] == '\n') {
        ++at;
      } else if (at == number && line.size() < 4096) {
        line += buffer[i];
      }
    }
  }
  close_file(file);
  return line;
}

// The physical line number of text, for the same hint.
std::string text_line(const std::string& text, int32_t number) {
  size_t start = 0;
  for (int32_t at = 1; at < number && start != std::string::npos; ++at) {
    start = text.find('\n', start);
    if (start != std::string::npos) ++start;
  }
  if (start == std::string::npos) return std::string();
  size_t end = text.find('\n', start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// What a reason gets under it, for the line where it was found.
const char* hint_for_line(const char* reason, const std::string& line) {
  size_t first = line.find_first_not_of(" \t");
  if (first != std::string::npos && line[first] == '#') return kHashComment;
  if (reason && strcmp(reason, kEntryBeforeSection) == 0) return kEntryWithoutSection;
  return nullptr;
}

// Reports a file that does not load: its line, reason and hint.
int report_not_loading(const wchar_t* path, const std::string* text, int32_t line, const char* reason) {
  print_message(kStandardError, kCannotLoad, path);
  std::wstring where = L"line " + std::to_wstring(line) + L": " + widen(reason);
  print_message(kStandardError, "  %S\n", where.c_str());
  print_load_hint(path, text, line, reason);
  return kError;
}

}  // namespace

bool visit_model_file(const wchar_t* path, Model* model, InitLoadError* report, std::wstring* reason) {
  *report = {0, nullptr};
  if (visit_init_file(path, add_to_model, model, report) == 0) return true;
  std::wstring system = report->line > 0 ? std::wstring() : describe_last_error();
  *reason = widen(report->reason) + (system.empty() ? L"" : L": " + system);
  return false;
}

bool read_model_text(const std::string& text, Model* model, int32_t* line, const char** reason) {
  InitLoadError report = {0, nullptr};
  bool read = visit_init_text(text.data(), text.size(), add_to_model, model, &report) == 0;
  *line = report.line;
  *reason = report.reason;
  return read;
}

int read_model(const wchar_t* path, Model* model, bool missing_ok) {
  if (is_standard_input(path)) {
    std::string text = read_standard_input();
    int32_t line = 0;
    const char* reason = nullptr;
    if (read_model_text(text, model, &line, &reason)) return kDone;
    return report_not_loading(path, &text, line, reason);
  }
  InitLoadError report = {0, nullptr};
  if (visit_init_file(path, add_to_model, model, &report) == 0) return kDone;
  if (report.line > 0) {
    model->sections.clear();
    return report_not_loading(path, nullptr, report.line, report.reason);
  }
  if (last_error_means_held()) {
    print_message(kStandardError, kHeldTooLong, path);
    return kTryAgain;
  }
  if (missing_ok && last_error_means_no_file()) return kNotThere;
  std::wstring reason = describe_last_error();
  print_message(kStandardError, kCannotOpen, path);
  print_message(kStandardError, "  %S\n", reason.empty() ? widen(report.reason).c_str() : reason.c_str());
  return kError;
}

const ModelSection* find_section(const Model& model, const std::string& name) {
  for (const ModelSection& section : model.sections) {
    if (section.name == name) return &section;
  }
  return nullptr;
}

const ModelEntry* find_entry(const ModelSection& section, const std::string& key) {
  for (const ModelEntry& entry : section.entries) {
    if (entry.key == key) return &entry;
  }
  return nullptr;
}

void hint_case(const Model& model, const std::string& section, const std::string* key) {
  const ModelSection* found = find_section(model, section);
  if (!found) {
    for (const ModelSection& other : model.sections) {
      if (equal_ignoring_case(other.name, section)) {
        print_message(kStandardError, kCaseOfSection, widen(other.name.c_str()).c_str());
        return;
      }
    }
    return;
  }
  if (!key || find_entry(*found, *key)) return;
  for (const ModelEntry& entry : found->entries) {
    if (equal_ignoring_case(entry.key, *key)) {
      print_message(kStandardError, kCaseOfKey, widen(found->name.c_str()).c_str(), widen(entry.key.c_str()).c_str());
      return;
    }
  }
}

void print_load_hint(const wchar_t* path, const std::string* text, int32_t line, const char* reason) {
  const char* hint = hint_for_line(reason, text ? text_line(*text, line) : read_physical_line(path, line));
  if (hint) print_message(kStandardError, hint);
}

std::vector<std::pair<int32_t, std::string>> find_duplicates(const Model& model) {
  std::vector<std::pair<int32_t, std::string>> found;
  std::map<std::string, int32_t> sections;
  std::map<std::pair<std::string, std::string>, int32_t> keys;
  for (const ModelSection& section : model.sections) {
    auto first = sections.emplace(section.name, section.line);
    if (!first.second) {
      found.push_back({section.line, "section [" + section.name + "] again (first at line " +
                                         std::to_string(first.first->second) + "); look-ups use the first"});
    }
    for (const ModelEntry& entry : section.entries) {
      auto key = keys.emplace(std::make_pair(section.name, entry.key), entry.line);
      if (key.second) continue;
      found.push_back({entry.line, "key " + entry.key + " of [" + section.name + "] again (first at line " +
                                       std::to_string(key.first->second) + "); look-ups use the first"});
    }
  }
  return found;
}
