// The editor's model of a text (editor_model.h): the index of its sections,
// read once by the loader's own reader and rules, the entry lines of the
// one section a change names, read again with the reader's map of where
// each byte came from, and the splice that keeps the index in step.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "editor_model.h"
#include "line_reader.h"
#include "loader.h"
#include "platform/platform.h"
#include "text_buffer.h"

using namespace vlx;

namespace {

// Reads the text from from to to, starting a logical line there, calling
// take(reader, line, length) for each logical line until it returns false;
// map, when not null, follows each line. Returns the reader as it ended.
template <typename Take>
InitLineReader read_lines(const std::string& text, size_t from, size_t to, InitByteMap* map, Take take) {
  InitTextSource text_source = {text.data() + from, to - from};
  InitByteSource source = read_from_text(&text_source);
  InitLineReader reader;
  start_init_line_reader(&reader, kInvalidFile);
  reader.map = map;
  TextBuffer line;
  start_text(&line);
  while (read_init_line_into(&reader, source, &line)) {
    // A zero byte ends a line's text, as in the loader.
    if (!take(reader, line, strlen(line.text))) break;
  }
  free_text(&line);
  return reader;
}

Extent extent_of(const InitLineReader& reader, size_t from) {
  return {from + static_cast<size_t>(reader.line_start_offset), from + static_cast<size_t>(reader.line_end_offset)};
}

// Where the lines of a section end: where the next header starts.
size_t section_end(const InitEdit* edit, size_t section) {
  return section + 1 < edit->sections.size() ? edit->sections[section + 1].header.start : edit->text.size();
}

// Notes how the text ends, as reader found it; last is where the last line
// it read starts.
void note_end(InitEdit* edit, const InitLineReader& reader, size_t last) {
  edit->last_line = last;
  edit->escape_at_end = reader.escape_at_end != 0;
  edit->open_at_end = reader.open_at_end != 0;
}

// Indexes the sections of the text by the loader's rules: false at the first
// line that breaks them, with the loader's report.
bool index_sections(InitEdit* edit, InitLoadError* report) {
  bool valid = true;
  size_t last = 0;
  if (report) *report = {0, nullptr};
  InitLineReader reader = read_lines(edit->text, 0, edit->text.size(), nullptr,
                                     [&](const InitLineReader& at, const TextBuffer& line, size_t length) {
    InitEntryParts parts;
    bool in_section = !edit->sections.empty();
    last = extent_of(at, 0).start;
    if (in_section && split_entry_line(line.text, length, &parts)) return true;
    if (!is_header_line(line.text, length)) {
      if (report) *report = {reported_line(at.line_start), diagnose_line(line.text, length, !in_section)};
      return valid = false;
    }
    edit->sections.push_back({extent_of(at, 0), edit->names.size()});
    edit->names.append(line.text + 1, length - 2);
    edit->names.push_back('\0');
    return true;
  });
  note_end(edit, reader, last);
  if (valid && reader.out_of_memory) {
    if (report) *report = {0, kInitOutOfMemory};
    return false;
  }
  return valid;
}

// Where the value of an entry line stands in the text: the raw bytes of its
// text (the first length of the line's whole bytes), or, when it is empty,
// where the loader would start it: at a zero byte that ends the text early,
// or else after the '=' and the spaces that follow it. from is where the
// reader began in the text.
void place_value(const std::string& text, const InitByteMap* map, size_t from, const InitEntryParts& parts,
                 size_t length, size_t whole, EditEntry* entry) {
  uint64_t begin = 0, end = 0;
  if (parts.value_start < length) {
    find_raw_range(map, parts.value_start, length, &begin, &end);
  } else if (length < whole) {
    find_raw_range(map, length, length + 1, &begin, &end);
    end = begin;
  } else {
    find_raw_range(map, parts.equals, parts.equals + 1, &begin, &end);
    while (from + end < text.size() && text[from + end] == ' ') ++end;
    begin = end;
  }
  entry->raw_value = from + static_cast<size_t>(begin);
  entry->raw_value_end = from + static_cast<size_t>(end);
}

// True when the physical line [start, end) holds only a comment: a ';' after
// nothing but spaces and carriage returns.
bool is_comment_line(const std::string& text, size_t start, size_t end) {
  size_t first = text.find_first_not_of(" \r", start);
  return first < end && text[first] == ';';
}

}  // namespace

const char* vlx::name_of(const InitEdit* edit, size_t section) {
  return edit->names.c_str() + edit->sections[section].name;
}

// The entry lines of a section, read from the text; every line there is one,
// since the text passed the loader's rules.
std::vector<EditEntry> vlx::read_entries(const InitEdit* edit, size_t section) {
  std::vector<EditEntry> entries;
  InitByteMap map = {nullptr, 0, 0, 0};
  size_t from = edit->sections[section].header.end;
  read_lines(edit->text, from, section_end(edit, section), &map,
             [&](const InitLineReader& at, const TextBuffer& line, size_t length) {
    InitEntryParts parts;
    if (!split_entry_line(line.text, length, &parts)) return true;  // the text passed the rules: never
    EditEntry entry = {extent_of(at, from), std::string(line.text, parts.key_length),
                       std::string(line.text + parts.value_start, length - parts.value_start), 0, 0, 0, 0};
    place_value(edit->text, &map, from, parts, length, line.length, &entry);
    uint64_t begin = 0, end = 0;
    find_raw_range(&map, 0, parts.key_length, &begin, &end);
    entry.raw_key = from + static_cast<size_t>(begin);
    entry.raw_key_end = from + static_cast<size_t>(end);
    entries.push_back(entry);
    return true;
  });
  free(map.spans);
  return entries;
}

void vlx::find_raw_name(const InitEdit* edit, size_t section, size_t* begin, size_t* end) {
  InitByteMap map = {nullptr, 0, 0, 0};
  const Extent& header = edit->sections[section].header;
  *begin = *end = header.start;
  read_lines(edit->text, header.start, header.end, &map, [&](const InitLineReader&, const TextBuffer&, size_t length) {
    uint64_t first = 0, last = 0;
    find_raw_range(&map, 1, length - 1, &first, &last);  // an indexed header has a name: "[]" does not load
    *begin = header.start + static_cast<size_t>(first);
    *end = header.start + static_cast<size_t>(last);
    return false;
  });
  free(map.spans);
}

// Where the logical line before the header of a section ends: the end of
// the last entry or header of the section before it, or the start of the text.
size_t vlx::find_end_of_line_above(const InitEdit* edit, size_t section) {
  if (section == 0) return 0;
  std::vector<EditEntry> entries = read_entries(edit, section - 1);
  return entries.empty() ? edit->sections[section - 1].header.end : entries.back().line.end;
}

// Where the comment lines directly above the header of a section start, with
// no empty line between them and the header: the header's own start when
// there are none.
size_t vlx::find_comments_above(const InitEdit* edit, size_t section) {
  size_t start = edit->sections[section].header.start, floor = find_end_of_line_above(edit, section);
  while (start > floor) {
    // Every line from floor on ends in a line feed: the one at start - 1 here.
    size_t line = start - 1;
    while (line > floor && edit->text[line - 1] != '\n') --line;
    if (!is_comment_line(edit->text, line, start)) break;
    start = line;
  }
  return start;
}

// The index of the first section named name, or kNone.
size_t vlx::find_section(const InitEdit* edit, const char* name) {
  for (size_t i = 0; i < edit->sections.size(); ++i) {
    if (strcmp(name_of(edit, i), name) == 0) return i;
  }
  return kNone;
}

// The index of the first entry with key, or kNone.
size_t vlx::find_entry(const std::vector<EditEntry>& entries, const char* key) {
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].key == key) return i;
  }
  return kNone;
}

// Replaces removed bytes of the text at at by inserted, moving the headers of
// the sections from first on. A change that reaches into the text's last
// line may give the text another end, which is read again from from, where a
// logical line starts at or before at. The values handed out so far go.
void vlx::splice(InitEdit* edit, size_t at, size_t removed, const std::string& inserted, size_t first, size_t from) {
  edit->text.replace(at, removed, inserted);
  for (size_t i = first; i < edit->sections.size(); ++i) {
    Extent& header = edit->sections[i].header;
    header.start = header.start + inserted.size() - removed;
    header.end = header.end + inserted.size() - removed;
  }
  edit->values.clear();
  if (at + removed <= edit->last_line && edit->last_line > 0) {
    edit->last_line = edit->last_line + inserted.size() - removed;
    return;
  }
  size_t last = from;
  InitLineReader reader = read_lines(edit->text, from, edit->text.size(), nullptr,
                                     [&](const InitLineReader& line, const TextBuffer&, size_t) {
    last = extent_of(line, from).start;
    return true;
  });
  note_end(edit, reader, last);
}

InitEdit* vlx::make_edit(std::string text) {
  return new InitEdit{std::move(text), {}, {}, 0, false, false, {}, {}, {}};
}

InitEdit* vlx::open_edit_of(std::string text, InitLoadError* report) {
  InitEdit* edit = make_edit(std::move(text));
  InitLoadError found = {0, nullptr};
  bool indexed = index_sections(edit, &found);
  if (report) *report = found;
  if (indexed) return edit;
  delete edit;
  if (found.reason == kInitOutOfMemory) {
    set_out_of_memory_error();
  } else {
    set_invalid_data_error();
  }
  return nullptr;
}
