// The editor's model of a text, shared by its sources: where the sections
// stand (read once when an edit opens, by the loader's own reader and
// rules), the entry lines of a section (read again when a change names it),
// and the splice that changes the text and keeps the index in step. Not
// part of the library's public interface.
#ifndef VLX_INITFILE_EDITOR_MODEL_H
#define VLX_INITFILE_EDITOR_MODEL_H

#include <stddef.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "initfile/initfile.h"

namespace vlx {

constexpr size_t kNone = static_cast<size_t>(-1);

// Where a logical line stands in the text: its first physical line starts at
// start, and its last ends just before end (past its line end, or at the end
// of the text).
struct Extent {
  size_t start;
  size_t end;
};

// A section's header line and its name (in the edit's names).
struct EditSection {
  Extent header;
  size_t name;
};

// An entry line of a section, read when a change names the section.
struct EditEntry {
  Extent line;
  std::string key;
  std::string value;     // as the loader gives it
  size_t raw_value;      // where its raw value stands in the text: [raw_value, raw_value_end);
  size_t raw_value_end;  // where an empty one would start
  size_t raw_key;        // where its raw key stands: [raw_key, raw_key_end)
  size_t raw_key_end;
};

}  // namespace vlx

struct InitEdit {
  std::string text;
  std::vector<vlx::EditSection> sections;
  std::string names;   // the sections' names, each terminated
  size_t last_line;    // where the text's last logical line starts (0 when it has none)
  bool escape_at_end;  // the text ends in a backslash that a line end would make a continuation
  bool open_at_end;    // the text ends in a line that no line feed closed (a continued one too)
  // The values handed out since the last change, one per entry looked up
  // (by section and key), so that repeated look-ups hold no more.
  mutable std::map<std::pair<std::string, std::string>, std::string> values;
  // For an edit opened from a file: what the file was when the text was
  // read, or after the edit's last store (empty: there was no file); a store
  // finds it so or writes nothing.
  std::wstring path;  // empty for an edit of a text
  mutable std::string signature;
};

namespace vlx {

// The name of the section at index section.
const char* name_of(const InitEdit* edit, size_t section);

// The entry lines of a section, read from the text; every line there is one,
// since the text passed the loader's rules.
std::vector<EditEntry> read_entries(const InitEdit* edit, size_t section);

// Where the raw name of the header of a section stands in the text, between
// its brackets: [*begin, *end).
void find_raw_name(const InitEdit* edit, size_t section, size_t* begin, size_t* end);

// Where the logical line before the header of a section ends: the end of
// the last entry or header of the section before it, or the start of the text.
size_t find_end_of_line_above(const InitEdit* edit, size_t section);

// Where the comment lines directly above the header of a section start,
// within the line above (find_end_of_line_above); the header's start where
// there are none.
size_t find_comments_above(const InitEdit* edit, size_t section);

// The index of the first section named name, or kNone.
size_t find_section(const InitEdit* edit, const char* name);

// The index of the first entry with key, or kNone.
size_t find_entry(const std::vector<EditEntry>& entries, const char* key);

// Replaces removed bytes of the text at at by inserted, moving the headers of
// the sections from first on. A change that reaches into the text's last
// line may give the text another end, which is read again from from, where a
// logical line starts at or before at. The values handed out so far go.
void splice(InitEdit* edit, size_t at, size_t removed, const std::string& inserted, size_t first, size_t from);

// A new edit of text, not yet indexed.
InitEdit* make_edit(std::string text);

// An edit of text, indexed; null (with the loader's report, and EINVAL or
// ENOMEM) when the text breaks the loader's rules or does not fit.
InitEdit* open_edit_of(std::string text, InitLoadError* report);

}  // namespace vlx

#endif  // VLX_INITFILE_EDITOR_MODEL_H
