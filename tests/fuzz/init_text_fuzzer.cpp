// Fuzz target: loads arbitrary bytes as init file text, through the C and
// the C++ interface, from a file and into the editor, which must all agree; a
// rejection must name a line of the text. When a document comes back it is
// stored as text; a document that the format can carry unchanged must load
// back equal to itself and store to the same text again. The C++ document is
// then changed through every kind of view. The editor makes a sequence of
// changes drawn from the input, each of which must keep its three promises:
// the text is the input until a change; it loads as the document the same
// changes make of the loaded one (deletions keeping the order); and a change
// touches only the bytes of the lines it names.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "initfile/initfile.h"
#include "initfile/initfile.hpp"
#include "initfile/line_reader.h"
#include "initfile/loader.h"
#include "initfile/text_buffer.h"
#include "tests/initfile_test_util.h"
#include "tests/support/testing.h"

namespace ini = vlx::initfile;

namespace {

bool has_any(const char* text, const char* bytes) { return strpbrk(text, bytes) != nullptr; }

bool is_trimmed(const char* text) {
  size_t length = strlen(text);
  return length == 0 || (text[0] != ' ' && text[length - 1] != ' ');
}

// True when every name, key and value survives a store and load unchanged.
bool is_carried_unchanged(const InitFile* file) {
  for (int32_t i = 0; i < file->count; ++i) {
    const InitSection* section = file->sections[i];
    if (!*section->name || has_any(section->name, ";\\]=\r\n") || !is_trimmed(section->name)) return false;
    for (int32_t j = 0; j < section->count; ++j) {
      const InitEntry* entry = section->entries[j];
      if (!*entry->key || has_any(entry->key, "=\r\n") || !is_trimmed(entry->key)) return false;
      if (has_any(entry->value, "\r\n") || !is_trimmed(entry->value)) return false;
    }
  }
  return true;
}

bool equal_documents(const InitFile* a, const InitFile* b) {
  if (a->count != b->count) return false;
  for (int32_t i = 0; i < a->count; ++i) {
    const InitSection* s = a->sections[i];
    const InitSection* t = b->sections[i];
    if (strcmp(s->name, t->name) != 0 || s->count != t->count) return false;
    for (int32_t j = 0; j < s->count; ++j) {
      if (strcmp(s->entries[j]->key, t->entries[j]->key) != 0 ||
          strcmp(s->entries[j]->value, t->entries[j]->value) != 0) {
        return false;
      }
    }
  }
  return true;
}

// The file the inputs are written to, in a scratch directory of the run's own
// that goes when the fuzzer ends.
const std::filesystem::path& input_file() {
  static const std::filesystem::path directory = vlx::make_scratch_directory(L"vlx-fuzz");
  static const bool cleaned = atexit([] { std::filesystem::remove_all(directory); }) == 0;
  (void)cleaned;
  static const std::filesystem::path file = directory / "input.ini";
  return file;
}

// The same bytes from a file: the same document or the same report.
void check_file_path(const char* data, size_t size, const InitFile* loaded, const InitLoadError& error) {
  std::ofstream(input_file(), std::ios::binary).write(data, static_cast<std::streamsize>(size));
  InitLoadError file_error;
  InitFile* from_file = load_init_file_reporting(input_file().wstring().c_str(), &file_error);
  if (!from_file != !loaded || file_error.line != error.line) abort();
  if (from_file && !equal_documents(loaded, from_file)) abort();
  if (from_file) free_init_file(from_file);
}

// Walks and changes the document through the C++ views: lookups, typed
// values, a copy onto the section being read, removal while walking.
void exercise_cpp(ini::Document document, const InitFile* loaded) {
  if (document.size() != static_cast<size_t>(loaded->count)) abort();
  for (ini::Section section : document.sections()) {
    for (ini::Entry entry : section.entries()) {
      if (!section.contains(entry.key)) abort();
      (void)section.value_as<int>(entry.key);
      (void)section.value_as<double>(entry.key);
      (void)section.value_as<bool>(entry.key);
    }
    std::string name(section.name());
    document.copy_section(name, name);
  }
  for (ini::Section section : document.sections()) {
    section.erase_if([](ini::Entry entry) { return entry.value.empty(); });
    for (ini::Entry entry : section.entries()) section.set(entry.key, "changed");
    for (ini::Entry entry : section.entries()) section.remove(entry.key);
    document.remove_section(section.name());
  }
  (void)document.text();
}

// Numbers drawn from the input, the same for the same input (splitmix64).
struct Draw {
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t below(size_t n) { return n ? static_cast<size_t>(next() % n) : 0; }
};

// A name, key or value: one that the document has, or new text that
// stresses the escapes and what the text cannot hold.
std::string draw_text(Draw& draw, const std::vector<std::string>& known) {
  if (!known.empty() && draw.below(3) > 0) return known[draw.below(known.size())];
  static const char kAlphabet[] = "ab =;\\[]#\r\n\t\xc3\xa9";
  std::string text;
  for (size_t n = draw.below(6); text.size() < n;) text += kAlphabet[draw.below(sizeof kAlphabet - 1)];
  return text;
}

// Where a logical line stands in text: [start, end).
struct Extent {
  size_t start, end;
};

// Where the comments directly above a header that starts at header begin:
// the physical lines from after (where the logical line before it ends) on
// are empty or comments, and any but a comment ends a block.
size_t find_comments_before(const std::string& text, size_t after, size_t header) {
  size_t block = after;
  for (size_t line = after; line < header;) {
    size_t next = text.find('\n', line) + 1;
    size_t first = text.find_first_not_of(" \r", line);
    if (first + 1 >= next || text[first] != ';') block = next;
    line = next;
  }
  return block;
}

// The extents of the first section named section, from the comments right
// above its header to those above the next one, or (with a key) of its
// first entry with key, read by the loader's own reader and rules; false
// when there is none.
bool find_extent(const std::string& text, const std::string& section, const std::string* key, Extent* extent) {
  vlx::InitTextSource source = {text.data(), text.size()};
  vlx::InitLineReader reader;
  vlx::start_init_line_reader(&reader, vlx::kInvalidFile);
  TextBuffer line;
  start_text(&line);
  bool in_section = false, in_wanted = false, found = false;
  size_t previous_end = 0;
  while (!found && vlx::read_init_line_into(&reader, vlx::read_from_text(&source), &line)) {
    size_t length = strlen(line.text);
    vlx::InitEntryParts parts;
    Extent here = {static_cast<size_t>(reader.line_start_offset), static_cast<size_t>(reader.line_end_offset)};
    if (in_section && vlx::split_entry_line(line.text, length, &parts)) {
      found = in_wanted && key && std::string(line.text, parts.key_length) == *key;
      if (found) *extent = here;
    } else {
      size_t comments = find_comments_before(text, previous_end, here.start);
      if (in_wanted) {  // the section ends where the comments of the next header start
        extent->end = comments;
        found = !key;
        break;
      }
      in_section = true;
      in_wanted = std::string(line.text + 1, length - 2) == section;
      if (in_wanted) *extent = {comments, text.size()};
    }
    previous_end = here.end;
  }
  free_text(&line);
  return found || (in_wanted && !key);
}

// True when after is before with bytes in place of [start, end) of it.
bool changed_only(const std::string& before, const std::string& after, size_t start, size_t end) {
  size_t kept = before.size() - end;
  return after.size() >= start + kept && after.compare(0, start, before, 0, start) == 0 &&
         after.compare(after.size() - kept, kept, before, end, kept) == 0;
}

// True when after is before with bytes inserted at one place.
bool inserted_only(const std::string& before, const std::string& after) {
  size_t at = 0;
  while (at < before.size() && at < after.size() && before[at] == after[at]) ++at;
  return after.size() >= before.size() && changed_only(before, after, at, at);
}

// Applies one change to the editor and to the model of the document, the
// model keeping the order where the document functions move the last
// element into a deleted one's place, and checks that the text changed only
// where the change names.
void change(InitEdit* edit, Document* model, Draw& draw) {
  std::vector<std::string> names, keys;
  for (const auto& section : *model) names.push_back(section.first);
  std::string section = draw_text(draw, names);
  auto in_model = std::find_if(model->begin(), model->end(), [&](const auto& s) { return s.first == section; });
  if (in_model != model->end()) {
    for (const auto& entry : in_model->second) keys.push_back(entry.first);
  }
  std::string key = draw_text(draw, keys), value = draw_text(draw, {});
  size_t length = 0;
  const char* text = init_edit_text(edit, &length);
  std::string before(text, length);
  Extent extent = {0, 0};
  size_t kind = draw.below(5);
  if (kind < 3) {  // set
    bool named = find_extent(before, section, &key, &extent);
    int result = set_init_edit_value(edit, section.c_str(), key.c_str(), value.c_str());
    text = init_edit_text(edit, &length);
    std::string after(text, length);
    // What the text cannot hold so that it reads back, by the rules the
    // header states.
    auto edge_space = [](const std::string& t) { return !t.empty() && (t.front() == ' ' || t.back() == ' '); };
    bool holdable = !section.empty() && section.find_first_of("=\r\n") == std::string::npos && !key.empty() &&
                    key.find_first_of("=\r\n") == std::string::npos && !edge_space(key) &&
                    value.find_first_of("\r\n") == std::string::npos && !edge_space(value);
    if ((result == -1) == holdable) abort();
    if (result == -1) {
      if (after != before) abort();
      return;
    }
    if ((result == 0) != named) abort();
    if (result == 0 ? !changed_only(before, after, extent.start, extent.end) : !inserted_only(before, after)) abort();
    if (in_model == model->end()) {
      model->push_back({section, {{key, value}}});
    } else {
      auto entry = std::find_if(in_model->second.begin(), in_model->second.end(),
                                [&](const auto& e) { return e.first == key; });
      if (entry == in_model->second.end()) {
        in_model->second.emplace_back(key, value);
      } else {
        entry->second = value;
      }
    }
    return;
  }
  bool whole_section = kind == 4;
  bool named = find_extent(before, section, whole_section ? nullptr : &key, &extent);
  // Every match goes: every section of the name, or the key in each of them.
  size_t matches = 0;
  for (auto s = model->begin(); s != model->end();) {
    if (s->first != section) {
      ++s;
      continue;
    }
    if (whole_section) {
      s = model->erase(s);
      ++matches;
      continue;
    }
    for (auto e = s->second.begin(); e != s->second.end();) {
      matches += e->first == key;
      e = e->first == key ? s->second.erase(e) : e + 1;
    }
    ++s;
  }
  int result = whole_section ? delete_init_edit_section(edit, section.c_str())
                             : delete_init_edit_entry(edit, section.c_str(), key.c_str());
  text = init_edit_text(edit, &length);
  std::string after(text, length);
  if ((result == 0) != (matches > 0)) abort();
  if (result == 1) {
    if (after != before) abort();
    return;
  }
  // A single match, in the first section of the name, takes its lines, and
  // only they.
  if (matches == 1 && named && after != before.substr(0, extent.start) + before.substr(extent.end)) abort();
  // Afterwards a look-up finds nothing.
  if (!whole_section && init_edit_value(edit, section.c_str(), key.c_str())) abort();
}

// The editor over the same bytes: it accepts and rejects what the loader
// does, with the same report, keeps the bytes until a change, and after each
// change of a sequence drawn from the input reads back as the model.
void exercise_editor(const char* bytes, size_t size, const InitFile* loaded, const InitLoadError& error) {
  InitLoadError report;
  InitEdit* edit = open_init_edit_text(bytes, size, &report);
  if (!edit != !loaded || report.line != error.line) abort();
  if (!edit) return;
  size_t length = 0;
  const char* text = init_edit_text(edit, &length);
  if (length != size || memcmp(text, bytes, size) != 0 || text[length] != '\0') abort();
  Document model = describe(loaded);
  Draw draw = {size};
  for (size_t i = 0; i < size; ++i) draw.state = draw.state * 131 + static_cast<unsigned char>(bytes[i]);
  for (size_t changes = 1 + draw.below(4); changes > 0; --changes) {
    change(edit, &model, draw);
    text = init_edit_text(edit, &length);
    InitFile* again = load_init_text(text, length);
    if (!again || describe(again) != model) abort();
    free_init_file(again);
  }
  free_init_edit(edit);
}

}  // namespace

// A visit of the text gives what the load gives, header by header and entry
// by entry, or stops at the line the load names.
void check_visit(const char* data, size_t size, const InitFile* loaded, const InitLoadError& error) {
  struct Seen {
    const InitFile* file;
    int32_t section = -1, entry = 0;
    bool agrees = true;
  } seen{loaded};
  auto visit = [](void* context, int32_t, const char* section, const char* key, const char* value) {
    Seen* at = static_cast<Seen*>(context);
    if (!key) {
      ++at->section;
      at->entry = 0;
      bool named = at->file && at->section < at->file->count;
      at->agrees = at->agrees && (!at->file || (named && strcmp(at->file->sections[at->section]->name, section) == 0));
      return 0;
    }
    const InitSection* in = at->file ? at->file->sections[at->section] : nullptr;
    bool same = !in || (at->entry < in->count && strcmp(in->entries[at->entry]->key, key) == 0 &&
                        strcmp(in->entries[at->entry]->value, value) == 0);
    at->agrees = at->agrees && same;
    ++at->entry;
    return 0;
  };
  InitLoadError report;
  int visited = visit_init_text(data, size, visit, &seen, &report);
  if (!seen.agrees || (visited == 0) != (loaded != nullptr) || report.line != error.line) abort();
  if (loaded && seen.section + 1 != loaded->count) abort();
}

// Renaming every section of the first name keeps every other byte's meaning:
// the text loads as the same document with that name changed.
void check_rename(const char* data, size_t size, const InitFile* loaded) {
  if (!loaded || loaded->count == 0) return;
  InitEdit* edit = open_init_edit_text(data, size, nullptr);
  if (!edit) abort();
  std::string old_name = loaded->sections[0]->name;
  int renamed = rename_init_edit_section(edit, old_name.c_str(), "fuzz;renamed");
  size_t length = 0;
  const char* text = init_edit_text(edit, &length);
  InitFile* after = load_init_text(text, length);
  if (!after || after->count != loaded->count) abort();
  for (int32_t i = 0; i < loaded->count; ++i) {
    bool was = old_name == loaded->sections[i]->name;
    const char* want = renamed == 0 && was ? "fuzz;renamed" : loaded->sections[i]->name;
    if (strcmp(after->sections[i]->name, want) != 0 || after->sections[i]->count != loaded->sections[i]->count) abort();
  }
  free_init_file(after);
  free_init_edit(edit);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  InitLoadError error;
  InitFile* loaded = load_init_text_reporting(bytes, size, &error);
  check_file_path(bytes, size, loaded, error);
  ini::LoadError cpp_error;
  std::optional<ini::Document> document = ini::load_text(std::string_view(bytes, size), cpp_error);
  if (!document != !loaded || cpp_error.line != error.line) abort();
  exercise_editor(bytes, size, loaded, error);
  check_visit(bytes, size, loaded, error);
  check_rename(bytes, size, loaded);
  if (!loaded) {
    int lines = 1 + static_cast<int>(std::count(bytes, bytes + size, '\n'));
    if (!error.reason || error.line < 1 || error.line > lines) abort();
    return 0;
  }
  exercise_cpp(std::move(*document), loaded);
  size_t length = 0;
  char* text = store_init_text(loaded, &length);
  if (text[length] != '\0') abort();
  if (is_carried_unchanged(loaded)) {
    InitFile* again = load_init_text(text, length);
    if (!again || !equal_documents(loaded, again)) abort();
    size_t again_length = 0;
    char* again_text = store_init_text(again, &again_length);
    if (again_length != length || memcmp(again_text, text, length) != 0) abort();
    free(again_text);
    free_init_file(again);
  }
  free(text);
  free_init_file(loaded);
  return 0;
}
