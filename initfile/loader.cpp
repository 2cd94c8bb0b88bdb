// Builds a document from an init file, rejecting malformed files as a whole.
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <new>
#include <string>
#include <thread>

#include "document_internal.h"
#include "initfile/initfile.h"
#include "line_reader.h"
#include "loader.h"
#include "platform/platform.h"
#include "text_buffer.h"

using namespace vlx;

namespace {

// What the reporting loaders say.
const char kInitByteOrderMark[] = "the file starts with a UTF-8 byte-order mark, which the format keeps as text";
const char kInitUtf16[] = "the file is UTF-16 text; it must be saved as UTF-8 or ANSI";
const char kInitEntryBeforeSection[] = "an entry before the first section header";
const char kInitEntryWithoutKey[] = "an entry without a key";
const char kInitHeaderWithoutName[] = "a section header without a name";
const char kInitHeaderWithoutBracket[] = "a section header that does not end with ']'";
const char kInitNeitherHeaderNorEntry[] = "a line that is neither a section header nor an entry";

// The items of an array of the document while the file is read: a scratch
// array that doubles as items come and is reused for every section, so that
// the heap sees no block grown and freed over and over. finish_array then
// gives the array its slots once, exactly the capacity the growth rule gives
// (the smallest multiple of 10 that holds them, at least 10).
template <typename T>
struct Pending {
  T** items;
  int32_t count;
  int32_t allocated;
};

// Adds item (null: its block could not be had); false when it or the
// array's room could not be had, and item is then freed.
template <typename T>
bool add_pending(Pending<T>* pending, T* item, void (*release)(T*)) {
  if (!item) return false;
  if (pending->count == pending->allocated) {
    int32_t allocated = pending->allocated ? 2 * pending->allocated : 64;
    T** items = allocated > 0 ? static_cast<T**>(realloc(pending->items, sizeof(T*) * static_cast<size_t>(allocated)))
                              : nullptr;
    if (!items) {
      release(item);
      return false;
    }
    pending->items = items;
    pending->allocated = allocated;
  }
  pending->items[pending->count++] = item;
  return true;
}

// Hands the pending items over to an array (slots, count, capacity), whose
// slots are resized to the capacity, and empties pending. False, with
// nothing handed over, when the slots could not be had.
template <typename T>
bool finish_array(Pending<T>* pending, T*** slots, int32_t* count, int32_t* capacity) {
  int32_t needed = pending->count > kInitGrowth ? pending->count : kInitGrowth;
  int32_t room = (needed + kInitGrowth - 1) / kInitGrowth * kInitGrowth;
  T** resized = static_cast<T**>(realloc(*slots, sizeof(T*) * static_cast<size_t>(room)));
  if (!resized) return false;
  *slots = resized;
  *capacity = room;
  if (pending->count > 0) memcpy(*slots, pending->items, sizeof(T*) * static_cast<size_t>(pending->count));
  *count = pending->count;
  pending->count = 0;
  return true;
}

void release_entry(InitEntry* entry) { free(entry); }

// Appends the entry of an entry line to the section. Record and text share
// one block of exactly their size. False when no block could be had.
bool take_entry(Pending<InitEntry>* entries, const char* line, size_t length, const InitEntryParts& parts) {
  size_t value_size = length - parts.value_start + 1;  // with its terminator
  InitEntry* entry = allocate_init_entry(parts.key_length + 1 + value_size);
  if (entry) {
    memcpy(entry->key, line, parts.key_length);
    entry->key[parts.key_length] = '\0';
    entry->value = entry->key + parts.key_length + 1;
    memcpy(entry->value, line + parts.value_start, value_size);
  }
  return add_pending(entries, entry, release_entry);
}

// A new section named by what stands between the brackets of a header line;
// null when no block could be had.
InitSection* take_header_line(const char* line, size_t length) {
  char* name = static_cast<char*>(malloc(length - 1));
  if (!name) return nullptr;
  memcpy(name, line + 1, length - 2);
  name[length - 2] = '\0';
  InitSection* section = adopt_init_section_name(name);
  if (!section) free(name);
  return section;
}

// Hands the last section its pending entries.
bool finish_last_section(Pending<InitSection>* sections, Pending<InitEntry>* entries) {
  if (sections->count == 0) return true;
  InitSection* last = sections->items[sections->count - 1];
  return finish_array(entries, &last->entries, &last->count, &last->capacity);
}

// The one pass over the lines of the reader's source: calls
// on_entry(line, length, parts) for each entry line and on_header(line,
// length) for each section header, in order (reader->line_start tells where
// each starts), until a line breaks the rules (its report in *report) or a
// call returns false (no room: *room false). After the first line the entry
// test comes first, so '[a=b]' there is an entry.
template <typename OnEntry, typename OnHeader>
void parse_lines(InitLineReader* reader, const InitByteSource& source, InitLoadError* report, bool* room,
                 OnEntry on_entry, OnHeader on_header) {
  // One buffer serves every line: what a caller keeps is copied out of it.
  TextBuffer line;
  start_text(&line);
  bool headed = false;
  while (*room && read_init_line_into(reader, source, &line)) {
    size_t length = strlen(line.text);  // a zero byte ends the line's text
    InitEntryParts parts;
    if (headed && split_entry_line(line.text, length, &parts)) {
      *room = on_entry(line.text, length, parts);
      continue;
    }
    if (!is_header_line(line.text, length)) {
      *report = {reported_line(reader->line_start), diagnose_line(line.text, length, !headed)};
      break;
    }
    headed = true;
    *room = on_header(line.text, length);
  }
  free_text(&line);
}

// Builds the document from the lines of the reader's source, or returns null
// at the first line that breaks the rules, saying where and why in *error
// (when not null). The document is built as the lines come.
InitFile* load_lines(InitLineReader* reader, const InitByteSource& source, InitLoadError* error) {
  Pending<InitSection> sections = {nullptr, 0, 0};
  Pending<InitEntry> entries = {nullptr, 0, 0};  // of the last section
  InitLoadError report = {0, nullptr};
  bool room = true;  // every block needed so far could be had
  parse_lines(
      reader, source, &report, &room,
      [&](const char* line, size_t length, const InitEntryParts& parts) {
        return take_entry(&entries, line, length, parts);
      },
      [&](const char* line, size_t length) {
        return finish_last_section(&sections, &entries) &&
               add_pending(&sections, take_header_line(line, length), free_init_section);
      });
  room = room && !reader->out_of_memory;
  // A read error ends the file: the lines before it make the document.
  if (!report.reason && reader->read_failed) report.reason = kInitReadError;
  InitFile* file = nullptr;
  if (report.line == 0 && room && finish_last_section(&sections, &entries)) {
    file = create_init_file();
    if (file && !finish_array(&sections, &file->sections, &file->count, &file->capacity)) {
      free_init_file(file);
      file = nullptr;
    }
  }
  if (!file) {
    for (int32_t i = 0; i < entries.count; ++i) free(entries.items[i]);
    for (int32_t i = 0; i < sections.count; ++i) free_init_section(sections.items[i]);
    if (report.line == 0) report = {0, kInitOutOfMemory};
  }
  if (error) *error = report;
  free(entries.items);
  free(sections.items);
  if (!file && report.line != 0) set_invalid_data_error();
  if (!file && report.line == 0) set_out_of_memory_error();
  return file;
}

}  // namespace

const char vlx::kInitCannotOpen[] = "the file cannot be opened";
const char vlx::kInitReadError[] = "a read error ended the file early";
const char vlx::kInitOutOfMemory[] = "the file does not fit in the memory the program may use";
const char vlx::kInitHeld[] = "another change held the file for 30 seconds";

const char* vlx::diagnose_line(const char* line, size_t length, bool first) {
  if (first && strncmp(line, "\xEF\xBB\xBF", 3) == 0) return kInitByteOrderMark;
  // UTF-16's byte-order mark, little- or big-endian: "Unicode" in Notepad.
  if (first && (strncmp(line, "\xFF\xFE", 2) == 0 || strncmp(line, "\xFE\xFF", 2) == 0)) return kInitUtf16;
  if (line[0] == '=') return kInitEntryWithoutKey;
  if (first && strchr(line, '=')) return kInitEntryBeforeSection;
  if (length == 2 && strcmp(line, "[]") == 0) return kInitHeaderWithoutName;
  if (line[0] == '[') return kInitHeaderWithoutBracket;
  return kInitNeitherHeaderNorEntry;
}

InitFile* vlx::load_init_source(const InitByteSource& source, InitLoadError* error) {
  InitLineReader reader;
  start_init_line_reader(&reader, kInvalidFile);
  return load_lines(&reader, source, error);
}

InitFile* vlx::load_init_handle(FileHandle file, InitLoadError* error) {
  InitLineReader reader;
  start_init_line_reader(&reader, file);
  return load_lines(&reader, read_from_reader_file(&reader), error);
}

namespace {

// Opens the file at path and calls read(handle, report) until a read runs
// that no change held and that nothing changed while it ran (a change may
// write a file in place), for up to 30 seconds; read's result, or false
// with the report of a file that cannot be opened or stayed held.
template <typename Read>
bool read_settled(const wchar_t* path, InitLoadError* error, Read read) {
  const auto started = std::chrono::steady_clock::now();
  for (;;) {
    FileHandle handle = open_file_for_reading(path);
    if (handle == kInvalidFile) {
      if (error) *error = {0, kInitCannotOpen};
      return false;
    }
    bool held = is_held_for_change(handle);
    std::string before = open_file_signature(handle);
    InitLoadError report = {0, nullptr};
    bool done = !held && read(handle, &report);
    long code = last_error_code();
    bool settled = !held && !is_held_for_change(handle) && open_file_signature(handle) == before;
    close_file(handle);
    if (settled) {
      if (error) *error = report;
      set_last_error_code(code);
      return done;
    }
    if (std::chrono::steady_clock::now() - started >= std::chrono::seconds(30)) {
      if (error) *error = {0, kInitHeld};
      set_held_error();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

bool vlx::read_all(FileHandle file, std::string* text) {
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
  return read;
}

InitFile* load_init_file_reporting(const wchar_t* path, InitLoadError* error) {
  InitFile* file = nullptr;
  bool loaded = read_settled(path, error, [&](FileHandle handle, InitLoadError* report) {
    if (file) free_init_file(file);  // of a read that a change overtook
    file = load_init_handle(handle, report);
    return file != nullptr;
  });
  if (!loaded && file) {
    free_init_file(file);
    file = nullptr;
  }
  return file;
}

int visit_init_text(const char* text, size_t length, InitVisitor visit, void* context, InitLoadError* error) {
  try {
    InitTextSource source = {text, length};
    InitLineReader reader;
    start_init_line_reader(&reader, kInvalidFile);
    std::string section;  // of the lines being visited
    bool stopped = false;
    InitLoadError report = {0, nullptr};
    bool room = true;
    auto call = [&](const char* key, const char* value) {
      stopped = visit(context, reported_line(reader.line_start), section.c_str(), key, value) != 0;
      return !stopped;
    };
    parse_lines(
        &reader, read_from_text(&source), &report, &room,
        [&](const char* line, size_t, const InitEntryParts& parts) {
          std::string key(line, parts.key_length);
          return call(key.c_str(), line + parts.value_start);
        },
        [&](const char* line, size_t length) {
          section.assign(line + 1, length - 2);
          return call(nullptr, nullptr);
        });
    if (reader.out_of_memory) report = {0, kInitOutOfMemory};
    if (error) *error = report;
    if (report.reason) {
      if (report.line > 0) set_invalid_data_error();
      if (report.line == 0) set_out_of_memory_error();
      return -1;
    }
    return stopped ? 1 : 0;
  } catch (const std::bad_alloc&) {
    if (error) *error = {0, kInitOutOfMemory};
    set_out_of_memory_error();
    return -1;
  }
}

int visit_init_file(const wchar_t* path, InitVisitor visit, void* context, InitLoadError* error) {
  try {
    std::string text;
    bool read = read_settled(path, error, [&](FileHandle handle, InitLoadError* report) {
      if (read_all(handle, &text)) return true;
      *report = {0, kInitReadError};
      return false;
    });
    return read ? visit_init_text(text.data(), text.size(), visit, context, error) : -1;
  } catch (const std::bad_alloc&) {
    if (error) *error = {0, kInitOutOfMemory};
    set_out_of_memory_error();
    return -1;
  }
}

InitFile* load_init_text_reporting(const char* text, size_t length, InitLoadError* error) {
  InitTextSource source = {text, length};
  return load_init_source(read_from_text(&source), error);
}

InitFile* load_init_file(const wchar_t* path) { return load_init_file_reporting(path, nullptr); }

InitFile* load_init_text(const char* text, size_t length) { return load_init_text_reporting(text, length, nullptr); }
