// Changes the text of an init file where a change names and nowhere else.
// Opening reads the text once by the loader's own reader and rules, which it
// must pass, and keeps only where each section's header stands. A change
// reads the lines of the one section it names again, with the reader's map
// of where each byte came from, splices the text and moves the headers
// after the splice; nothing else of the text is read again.
#include <stdlib.h>
#include <string.h>

#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "initfile/initfile.h"
#include "editor_internal.h"
#include "line_reader.h"
#include "loader.h"
#include "platform/platform.h"
#include "text_buffer.h"
#include "writer_internal.h"

using namespace vlx;

namespace {

const char kInitNoFile[] = "the file does not exist";

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
};

}  // namespace

struct InitEdit {
  std::string text;
  std::vector<EditSection> sections;
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

struct InitFileHold {
  std::wstring lock_path;
  vlx::FileHandle lock;
};

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

const char* name_of(const InitEdit* edit, size_t section) {
  return edit->names.c_str() + edit->sections[section].name;
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

// The entry lines of a section, read from the text; every line there is one,
// since the text passed the loader's rules.
std::vector<EditEntry> read_entries(const InitEdit* edit, size_t section) {
  std::vector<EditEntry> entries;
  InitByteMap map = {nullptr, 0, 0, 0};
  size_t from = edit->sections[section].header.end;
  read_lines(edit->text, from, section_end(edit, section), &map,
             [&](const InitLineReader& at, const TextBuffer& line, size_t length) {
    InitEntryParts parts;
    if (!split_entry_line(line.text, length, &parts)) return true;  // the text passed the rules: never
    EditEntry entry = {extent_of(at, from), std::string(line.text, parts.key_length),
                       std::string(line.text + parts.value_start, length - parts.value_start), 0, 0};
    place_value(edit->text, &map, from, parts, length, line.length, &entry);
    entries.push_back(entry);
    return true;
  });
  free(map.spans);
  return entries;
}

// Where the logical line before the header of a section ends: the end of
// the last entry or header of the section before it, or the start of the text.
size_t find_end_of_line_above(const InitEdit* edit, size_t section) {
  if (section == 0) return 0;
  std::vector<EditEntry> entries = read_entries(edit, section - 1);
  return entries.empty() ? edit->sections[section - 1].header.end : entries.back().line.end;
}

// True when the physical line [start, end) holds only a comment: a ';' after
// nothing but spaces and carriage returns.
bool is_comment_line(const std::string& text, size_t start, size_t end) {
  size_t first = text.find_first_not_of(" \r", start);
  return first < end && text[first] == ';';
}

// Where the comment lines directly above the header of a section start, with
// no empty line between them and the header: the header's own start when
// there are none.
size_t find_comments_above(const InitEdit* edit, size_t section) {
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
size_t find_section(const InitEdit* edit, const char* name) {
  for (size_t i = 0; i < edit->sections.size(); ++i) {
    if (strcmp(name_of(edit, i), name) == 0) return i;
  }
  return kNone;
}

// The index of the first entry with key, or kNone.
size_t find_entry(const std::vector<EditEntry>& entries, const char* key) {
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].key == key) return i;
  }
  return kNone;
}

// Replaces removed bytes of the text at at by inserted, moving the headers of
// the sections from first on. A change that reaches into the text's last
// line may give the text another end, which is read again from from, where a
// logical line starts at or before at. The values handed out so far go.
void splice(InitEdit* edit, size_t at, size_t removed, const std::string& inserted, size_t first, size_t from) {
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

// The whole file at path in *text; false when it cannot be opened or read
// to its end.
bool read_whole_file(const wchar_t* path, std::string* text, InitLoadError* report) {
  FileHandle file = open_file_for_reading(path);
  if (file == kInvalidFile) {
    if (report) *report = {0, kInitCannotOpen};
    return false;
  }
  uint64_t size = 0;
  if (!file_size(file, &size)) size = 0;
  text->resize(static_cast<size_t>(size) + 1);  // a byte more tells the end from a file that grew
  size_t used = 0;
  bool read = true;
  for (uint32_t count = 1; read && count > 0; used += count) {
    if (used == text->size()) text->resize(2 * used);
    size_t room = text->size() - used;
    read = read_file(file, &(*text)[used], static_cast<uint32_t>(room < (1u << 30) ? room : 1u << 30), &count);
    if (!read) count = 0;
  }
  text->resize(used);
  if (!read && report) *report = {0, kInitReadError};
  close_file(file);
  return read;
}

bool write_text(FileHandle file, const void* context) {
  const std::string& text = *static_cast<const std::string*>(context);
  const size_t kPart = size_t(1) << 30;
  for (size_t at = 0; at < text.size(); at += kPart) {
    uint32_t size = static_cast<uint32_t>(text.size() - at < kPart ? text.size() - at : kPart), written = 0;
    if (!write_file(file, text.data() + at, size, &written) || written != size) return false;
  }
  return true;
}

InitEdit* make_edit(std::string text) {
  return new InitEdit{std::move(text), {}, {}, 0, false, false, {}, {}, {}};
}

InitEdit* open_edit_of(std::string text, InitLoadError* report) {
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

}  // namespace

namespace {

// open_init_edit, which may find a file larger than the memory it may use.
InitEdit* open_edit_of_file(const wchar_t* path, InitLoadError* report) {
  std::string text;
  InitLoadError read = {0, nullptr};
  // Taken before the read: a change while it reads shows at the store.
  std::string signature = file_signature(path);
  InitEdit* edit = nullptr;
  if (read_whole_file(path, &text, &read)) {
    edit = open_edit_of(std::move(text), report);
  } else {
    // Only "no such file" is a file to create; any other failure (no
    // permission, a loop of links) is an error, not an empty file.
    bool missing = read.reason == kInitCannotOpen && last_error_means_no_file();
    if (report) *report = {0, missing ? kInitNoFile : read.reason};
    if (missing) edit = make_edit(std::string());
  }
  if (edit) {
    edit->path = path;
    edit->signature = signature;
  }
  return edit;
}

// Runs open, which makes an edit; where a block it needs cannot be had, no
// edit, with the out-of-memory report and error.
template <typename Open>
InitEdit* open_within_memory(InitLoadError* report, Open open) {
  try {
    return open();
  } catch (const std::bad_alloc&) {
    if (report) *report = {0, kInitOutOfMemory};
    set_out_of_memory_error();
    return nullptr;
  }
}

}  // namespace

InitEdit* open_init_edit(const wchar_t* path, InitLoadError* report) {
  return open_within_memory(report, [&] { return open_edit_of_file(path, report); });
}

InitEdit* open_init_edit_text(const char* text, size_t length, InitLoadError* report) {
  return open_within_memory(report, [&] { return open_edit_of(std::string(text, length), report); });
}

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

int store_init_edit(const InitEdit* edit, const wchar_t* path) {
  if (!edit) {
    set_invalid_argument_error();  // an edit a move took: never an empty file
    return -1;
  }
  // Over the file it was read from, only as it was read: another's change stands.
  bool own = !edit->path.empty() && edit->path == path;
  if (own && file_signature(path) != edit->signature) return -3;
  int stored = store_init_bytes(path, write_text, &edit->text);
  if (own && stored == 0) edit->signature = file_signature(path);
  return stored;
}

int hold_init_file(const wchar_t* path, InitFileHold** hold) {
  // The lock file is named for the file: ".name.lock" beside it.
  std::wstring directory = directory_of(path);
  std::wstring lock_path = directory + L"." + (path + directory.size()) + L".lock";
  FileHandle lock = kInvalidFile;
  LockResult result = lock_file(lock_path.c_str(), &lock);
  if (result != kLockTaken) return result == kLockHeld ? 1 : -1;
  *hold = new InitFileHold{lock_path, lock};
  return 0;
}

void release_init_file(InitFileHold* hold) {
  if (!hold) return;
  release_file_lock(hold->lock_path.c_str(), hold->lock);
  delete hold;
}

size_t count_held_values(const InitEdit* edit) { return edit->values.size(); }

void free_init_edit(InitEdit* edit) { delete edit; }
