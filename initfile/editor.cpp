// Changes the text of an init file where a change names and nowhere else:
// a change reads the lines of the one section it names again
// (editor_model.h), splices the text and moves the headers after the
// splice; nothing else of the text is read again. Edits of files are in
// editor_files.cpp.
#include <string.h>

#include <string>
#include <vector>

#include "editor_internal.h"
#include "editor_model.h"
#include "loader.h"
#include "platform/platform.h"
#include "writer_internal.h"

using namespace vlx;

namespace {

std::string escaped(const char* text) {
  size_t length = strlen(text);
  std::string out(2 * length, '\0');
  out.resize(static_cast<size_t>(copy_escaped(&out[0], text, length) - out.data()));
  return out;
}

// The line end of new lines: the one the text's first line ends with.
const char* line_end(const InitEdit* edit) {
  size_t first = edit->text.find('\n');
  return first != std::string::npos && first > 0 && edit->text[first - 1] == '\r' ? "\r\n" : "\n";
}

// What goes before new lines at the end of the text: a line end where the
// last line has none or is continued, after a space that keeps a backslash
// at its end from joining them.
std::string end_of_text(const InitEdit* edit) {
  if (edit->text.empty() || (edit->text.back() == '\n' && !edit->open_at_end)) return std::string();
  return (edit->escape_at_end ? " " : "") + std::string(line_end(edit));
}

bool holds_any(const char* text, const char* bytes) { return strpbrk(text, bytes) != nullptr; }

bool has_edge_space(const char* text) {
  size_t length = strlen(text);
  return length > 0 && (text[0] == ' ' || text[length - 1] == ' ');
}

// True when the text can hold the section, key and value so that they read
// back as they are.
bool can_hold(const char* section, const char* key, const char* value) {
  return *section && !holds_any(section, "=\r\n") && *key && !holds_any(key, "=\r\n") && !has_edge_space(key) &&
         !holds_any(value, "\r\n") && !has_edge_space(value);
}

// Rewrites the raw value of entry, of the section at section.
void replace_value(InitEdit* edit, size_t section, const EditEntry& entry, const char* value) {
  splice(edit, entry.raw_value, entry.raw_value_end - entry.raw_value, escaped(value), section + 1, entry.line.start);
}

// Puts a new entry line at the end of the section at section: after its
// last entry line, with that line's leading spaces, or after its header.
void insert_entry(InitEdit* edit, size_t section, const std::vector<EditEntry>& entries, const char* key,
                  const char* value) {
  Extent above = entries.empty() ? edit->sections[section].header : entries.back().line;
  std::string inserted = above.end == edit->text.size() ? end_of_text(edit) : std::string();
  if (entries.empty()) edit->sections[section].header.end += inserted.size();  // its new line end, if any
  for (size_t i = above.start; !entries.empty() && edit->text[i] == ' '; ++i) inserted += ' ';
  inserted += escaped(key) + "=" + escaped(value) + line_end(edit);
  splice(edit, above.end, 0, inserted, section + 1, above.start);
}

// Adds "[section]" and "key=value" at the end of the text.
void append_section(InitEdit* edit, const char* section, const char* key, const char* value) {
  size_t at = edit->text.size(), from = edit->last_line;
  std::string before = end_of_text(edit), header = "[" + escaped(section) + "]" + line_end(edit);
  if (!edit->sections.empty() && edit->sections.back().header.end == at) {
    edit->sections.back().header.end += before.size();  // its new line end
  }
  size_t name = edit->names.size();
  edit->names.append(section);
  edit->names.push_back('\0');
  edit->sections.push_back({{at + before.size(), at + before.size() + header.size()}, name});
  splice(edit, at, 0, before + header + escaped(key) + "=" + escaped(value) + line_end(edit),
         edit->sections.size(), from);
}

}  // namespace

const char* init_edit_value(const InitEdit* edit, const char* section, const char* key) {
  size_t found = find_section(edit, section);
  if (found == kNone) return nullptr;
  std::vector<EditEntry> entries = read_entries(edit, found);
  size_t entry = find_entry(entries, key);
  if (entry == kNone) return nullptr;
  // An unchanged edit gives the same entry the same value: the one held.
  auto held = edit->values.emplace(std::make_pair(std::string(section), std::string(key)), std::string());
  if (held.second) held.first->second = std::move(entries[entry].value);
  return held.first->second.c_str();
}

int set_init_edit_value(InitEdit* edit, const char* section, const char* key, const char* value) {
  if (!can_hold(section, key, value)) return -1;
  size_t found = find_section(edit, section);
  if (found == kNone) {
    append_section(edit, section, key, value);
    return 1;
  }
  std::vector<EditEntry> entries = read_entries(edit, found);
  size_t entry = find_entry(entries, key);
  // A value the entry already reads as is left byte for byte.
  if (entry != kNone && entries[entry].value != value) replace_value(edit, found, entries[entry], value);
  if (entry != kNone) return 0;
  insert_entry(edit, found, entries, key, value);
  return 1;
}

int delete_init_edit_entry(InitEdit* edit, const char* section, const char* key) {
  // Every entry with key in every section of the name goes, so that no
  // look-up finds one afterwards; the last first, so that the places of the
  // others stand.
  int missing = 1;
  for (size_t found = edit->sections.size(); found-- > 0;) {
    if (strcmp(name_of(edit, found), section) != 0) continue;
    std::vector<EditEntry> entries = read_entries(edit, found);
    for (size_t entry = entries.size(); entry-- > 0;) {
      if (entries[entry].key != key) continue;
      const Extent& line = entries[entry].line;
      splice(edit, line.start, line.end - line.start, std::string(), found + 1, line.start);
      missing = 0;
    }
  }
  return missing;
}

int delete_init_edit_section(InitEdit* edit, const char* section) {
  // A section's lines run from the comments above its header to those above
  // the next one, which stay with the header they describe.
  int missing = 1;
  for (size_t found; (found = find_section(edit, section)) != kNone; missing = 0) {
    size_t start = find_comments_above(edit, found);
    size_t end = found + 1 < edit->sections.size() ? find_comments_above(edit, found + 1) : edit->text.size();
    edit->sections.erase(edit->sections.begin() + static_cast<std::ptrdiff_t>(found));
    splice(edit, start, end - start, std::string(), found, start);
  }
  return missing;
}

const char* init_edit_text(const InitEdit* edit, size_t* length) {
  if (length) *length = edit->text.size();
  return edit->text.c_str();
}

size_t count_held_values(const InitEdit* edit) { return edit->values.size(); }

void free_init_edit(InitEdit* edit) { delete edit; }
