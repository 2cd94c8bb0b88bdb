// The commands that read: get, list and check, in each output format.
#include <string>
#include <vector>

#include "platform/platform.h"
#include "vlxini/commands.h"
#include "vlxini/model.h"
#include "vlxini/output.h"

using namespace vlx;

namespace {

const char kNotShellName[] = "Not printed: %S is no shell name\n";
const char kCheckWarning[] = "%S:%S\n";

std::string file_name(const wchar_t* path) { return encode_utf8(path); }

// "key='value'" for a shell, or false (reported) when key is no shell name.
bool print_for_shell(const std::string& key, const std::string& value) {
  if (!is_shell_name(key)) {
    print_message(kStandardError, kNotShellName, widen(key.c_str()).c_str());
    return false;
  }
  print_out(key + "=" + quote_for_shell(value) + "\n", true);
  return true;
}

std::string json_entry(const std::string& key, const std::string& value, int32_t line) {
  return "{\"key\": " + quote_json(key) + ", \"value\": " + quote_json(value) +
         ", \"line\": " + (line > 0 ? std::to_string(line) : std::string("null")) + "}";
}

int print_value(const wchar_t* path, const std::string& section, const std::string& key, const std::string& value,
                int32_t line, Format format) {
  if (format == kShellFormat) return print_for_shell(key, value) ? kDone : kError;
  if (format == kPlainFormat) {
    print_out(value + "\n");
    return kDone;
  }
  print_out("{\"file\": " + quote_json(file_name(path)) + ", \"section\": " + quote_json(section) + ", " +
                json_entry(key, value, line).substr(1) + "\n",
            true);
  return kDone;
}

int list_sections(const wchar_t* path, const Model& model, Format format) {
  if (format == kPlainFormat) {
    for (const ModelSection& section : model.sections) print_out(section.name + "\n");
    return kDone;
  }
  std::string json = "{\"file\": " + quote_json(file_name(path)) + ", \"sections\": [";
  for (size_t i = 0; i < model.sections.size(); ++i) {
    json += (i ? ", " : "") + std::string("{\"name\": ") + quote_json(model.sections[i].name) +
            ", \"line\": " + std::to_string(model.sections[i].line) + "}";
  }
  print_out(json + "]}\n", true);
  return kDone;
}

int list_entries(const wchar_t* path, const ModelSection& section, Format format) {
  int status = kDone;
  std::string json = "{\"file\": " + quote_json(file_name(path)) + ", \"section\": " + quote_json(section.name) +
                     ", \"line\": " + std::to_string(section.line) + ", \"entries\": [";
  for (size_t i = 0; i < section.entries.size(); ++i) {
    const ModelEntry& entry = section.entries[i];
    if (format == kPlainFormat) print_out(escape_as_written(entry.key) + "=" + escape_as_written(entry.value) + "\n");
    if (format == kShellFormat && !print_for_shell(entry.key, entry.value)) status = kError;
    json += (i ? ", " : "") + json_entry(entry.key, entry.value, entry.line);
  }
  if (format == kJsonFormat) print_out(json + "]}\n", true);
  return status;
}

// The check of one file: its line of the report (plain or JSON) and its
// warnings on standard error. True when it loads.
bool check_file(const wchar_t* path, Format format, std::string* json) {
  Model model;
  std::string name = file_name(path), text;
  std::wstring reason;
  int32_t line = 0;
  bool loads = false;
  if (is_standard_input(path)) {
    text = read_standard_input();
    const char* why = nullptr;
    loads = read_model_text(text, &model, &line, &why);
    if (!loads) reason = widen(why);
    if (!loads && line > 0) print_load_hint(path, &text, line, why);
  } else {
    InitLoadError report = {0, nullptr};
    loads = visit_model_file(path, &model, &report, &reason);
    line = report.line;
    if (!loads && line > 0) print_load_hint(path, nullptr, line, report.reason);
  }
  std::vector<std::pair<int32_t, std::string>> duplicates = loads ? find_duplicates(model) : decltype(duplicates)();
  std::wstring wide_name = widen(name.c_str());
  for (const auto& duplicate : duplicates) {
    std::wstring where = std::to_wstring(duplicate.first) + L": warning: " + widen(duplicate.second.c_str());
    print_message(kStandardError, kCheckWarning, wide_name.c_str(), where.c_str());
  }
  if (format == kJsonFormat) {
    *json += "{\"file\": " + quote_json(name) + ", \"loads\": " + (loads ? "true" : "false");
    if (!loads) *json += ", \"line\": " + (line > 0 ? std::to_string(line) : std::string("null"));
    if (!loads) *json += ", \"reason\": " + quote_json(encode_utf8(reason.c_str()));
    *json += ", \"warnings\": [";
    for (size_t i = 0; i < duplicates.size(); ++i) {
      *json += (i ? ", " : "") + std::string("{\"line\": ") + std::to_string(duplicates[i].first) +
               ", \"text\": " + quote_json(duplicates[i].second) + "}";
    }
    *json += "]}";
    return loads;
  }
  std::wstring result = loads ? L" ok" : (line > 0 ? std::to_wstring(line) + L": " : L" ") + reason;
  print_message(kStandardOutput, "%S:%S\n", wide_name.c_str(), result.c_str());
  return loads;
}

}  // namespace

int get_value(const wchar_t* path, const std::string& section, const std::string& key, Format format,
              const std::string* fallback) {
  Model model;
  int status = read_model(path, &model, fallback != nullptr);
  if (status != kDone && status != kNotThere) return status;
  const ModelSection* found = find_section(model, section);
  const ModelEntry* entry = found ? find_entry(*found, key) : nullptr;
  if (entry) return print_value(path, section, key, entry->value, entry->line, format);
  hint_case(model, section, &key);
  return fallback ? print_value(path, section, key, *fallback, 0, format) : kNotThere;
}

int list_file(const wchar_t* path, const std::string* section, Format format) {
  Model model;
  int status = read_model(path, &model);
  if (status != kDone) return status;
  if (!section) return list_sections(path, model, format);
  const ModelSection* found = find_section(model, *section);
  if (found) return list_entries(path, *found, format);
  hint_case(model, *section, nullptr);
  return kNotThere;
}

int check_files(const wchar_t* const* paths, int count, Format format) {
  int status = kDone;
  std::string json = "{\"files\": [";
  for (int i = 0; i < count; ++i) {
    if (format == kJsonFormat && i > 0) json += ", ";
    if (!check_file(paths[i], format, &json)) status = kError;
  }
  if (format == kJsonFormat) print_out(json + "]}\n", true);
  return status;
}
