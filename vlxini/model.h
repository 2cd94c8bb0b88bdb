// What vlxini reads of an init file: its sections and entries with their
// line numbers, found by the library's rules (the first section of a name,
// the first entry of a key in it), and the words it adds where a name is
// not found or a file does not load.
#ifndef VLX_VLXINI_MODEL_H
#define VLX_VLXINI_MODEL_H

#include <stdint.h>

#include <string>
#include <vector>

#include "initfile/initfile.h"

struct ModelEntry {
  std::string key;
  std::string value;  // as the loader reads it
  int32_t line;
};

struct ModelSection {
  std::string name;
  int32_t line;
  std::vector<ModelEntry> entries;
};

struct Model {
  std::vector<ModelSection> sections;
};

// Reads the file at path ("-": standard input) into *model: kDone, or
// kError or kTryAgain after its messages (a file that does not load with
// the reason's hint). With missing_ok, a file that does not exist is
// kNotThere without a message.
int read_model(const wchar_t* path, Model* model, bool missing_ok = false);

// Reads the file at path into *model without a message: false when it
// cannot be read or does not load, with *report and *reason (the loader's,
// and the system's words after it for a file that cannot be read).
bool visit_model_file(const wchar_t* path, Model* model, InitLoadError* report, std::wstring* reason);

// Reads text into *model; false (with *line and *reason) when it does not
// load.
bool read_model_text(const std::string& text, Model* model, int32_t* line, const char** reason);

// The first section named name, or null.
const ModelSection* find_section(const Model& model, const std::string& name);

// The first entry with key in section, or null.
const ModelEntry* find_entry(const ModelSection& section, const std::string& key);

// Says under a result that name was not found where one that differs only
// in case is there: a section (key null) or a key of the section.
void hint_case(const Model& model, const std::string& section, const std::string* key);

// Prints what a file that does not load gets under its reason, for the
// physical line where it was found, of text (null: of the file at path).
void print_load_hint(const wchar_t* path, const std::string* text, int32_t line, const char* reason);

// The duplicate sections and keys of the model, as warning texts with
// their line numbers, in file order: "LINE: warning: ...".
std::vector<std::pair<int32_t, std::string>> find_duplicates(const Model& model);

#endif  // VLX_VLXINI_MODEL_H
