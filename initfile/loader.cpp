// Builds a document from an init file, rejecting malformed files as a whole.
#include <stdlib.h>
#include <string.h>

#include "document_internal.h"
#include "initfile/initfile.h"
#include "line_reader.h"
#include "platform/platform.h"

using namespace vlx;

namespace {

// What the reporting loaders say.
const char kInitCannotOpen[] = "the file cannot be opened";
const char kInitReadError[] = "a read error ended the file early";
const char kInitByteOrderMark[] = "the file starts with a UTF-8 byte-order mark, which the format keeps as text";
const char kInitEntryBeforeSection[] = "an entry before the first section header";
const char kInitEntryWithoutKey[] = "an entry without a key";
const char kInitHeaderWithoutName[] = "a section header without a name";
const char kInitHeaderWithoutBracket[] = "a section header that does not end with ']'";
const char kInitNeitherHeaderNorEntry[] = "a line that is neither a section header nor an entry";

// The section being filled from the file. Its entries array grows by doubling
// while lines come, so a section of millions of entries is not copied over
// and over, and is cut back to the capacity the growth rule gives (the next
// multiple of 10) when the section is complete.
struct SectionBuilder {
  InitSection* section;
  int32_t allocated;  // slots allocated for entries, at least capacity
};

void start_section(SectionBuilder* builder, InitSection* section) {
  builder->section = section;
  builder->allocated = section->capacity;
}

void append_entry(SectionBuilder* builder, InitEntry* entry) {
  InitSection* section = builder->section;
  if (section->count == builder->allocated) {
    builder->allocated *= 2;
    section->entries = static_cast<InitEntry**>(
        realloc(section->entries, sizeof(InitEntry*) * static_cast<size_t>(builder->allocated)));
  }
  section->entries[section->count++] = entry;
  if (section->count > section->capacity) section->capacity += kInitGrowth;
}

void finish_section(SectionBuilder* builder) {
  InitSection* section = builder->section;
  if (!section || builder->allocated == section->capacity) return;
  section->entries = static_cast<InitEntry**>(
      realloc(section->entries, sizeof(InitEntry*) * static_cast<size_t>(section->capacity)));
  builder->allocated = section->capacity;
}

bool is_header_line(const char* line, size_t length) {
  return length > 2 && line[0] == '[' && line[length - 1] == ']';
}

// Splits an entry line in place and appends it to the section: the key ends
// at the first '=' (spaces before it dropped), the value starts after it
// (spaces after it skipped). False when the line is no entry line.
bool take_entry_line(SectionBuilder* builder, char* line) {
  char* equals = strchr(line, '=');
  if (!equals || equals == line) return false;
  for (char* p = equals; p > line && p[-1] == ' ';) *--p = '\0';
  *equals = '\0';
  char* value = equals + 1;
  while (*value == ' ') ++value;
  append_entry(builder, make_init_entry(line, value));
  return true;
}

// Turns a header line into a new section named by what stands between the
// brackets; the line becomes the name.
InitSection* take_header_line(char* line, size_t length) {
  memmove(line, line + 1, length - 2);
  line[length - 2] = '\0';
  return adopt_init_section_name(line);
}

// What is wrong with line, which is neither an entry of the section before
// it nor a section header; first: it is the file's first line.
const char* diagnose_line(const char* line, size_t length, bool first) {
  if (first && strncmp(line, "\xEF\xBB\xBF", 3) == 0) return kInitByteOrderMark;
  if (line[0] == '=') return kInitEntryWithoutKey;
  if (first && strchr(line, '=')) return kInitEntryBeforeSection;
  if (length == 2 && strcmp(line, "[]") == 0) return kInitHeaderWithoutName;
  if (line[0] == '[') return kInitHeaderWithoutBracket;
  return kInitNeitherHeaderNorEntry;
}

// Builds the document from the lines of the reader's source, or returns null
// at the first line that breaks the rules, saying where and why in *error
// (when not null). The document is built as the lines come: after the first
// line the entry test comes first, so '[a=b]' there is an entry.
InitFile* load_lines(InitLineReader* reader, const InitByteSource& source, InitLoadError* error) {
  InitFile* file = create_init_file();
  SectionBuilder current = {nullptr, 0};
  InitLoadError report = {0, nullptr};
  while (char* line = read_init_line_from(reader, source)) {
    if (current.section && take_entry_line(&current, line)) continue;
    size_t length = strlen(line);
    if (!is_header_line(line, length)) {
      report = {reader->line_start, diagnose_line(line, length, !current.section)};
      free(line);
      break;
    }
    finish_section(&current);
    start_section(&current, take_header_line(line, length));
    append_init_section(file, current.section);
  }
  finish_section(&current);
  // A read error ends the file: the lines before it make the document.
  if (!report.reason && reader->read_failed) report.reason = kInitReadError;
  if (error) *error = report;
  if (report.line != 0) {
    free_init_file(file);
    return nullptr;
  }
  return file;
}

// Text in memory, handed out a block at a time.
struct TextSource {
  const char* next;
  size_t left;
};

bool read_from_text(void* context, char* buffer, uint32_t size, uint32_t* count) {
  TextSource* text = static_cast<TextSource*>(context);
  size_t part = text->left < size ? text->left : size;
  memcpy(buffer, text->next, part);
  text->next += part;
  text->left -= part;
  *count = static_cast<uint32_t>(part);
  return true;
}

}  // namespace

InitFile* load_init_file_reporting(const wchar_t* path, InitLoadError* error) {
  FileHandle handle = open_file_for_reading(path);
  if (handle == kInvalidFile) {
    if (error) *error = {0, kInitCannotOpen};
    return nullptr;
  }
  InitLineReader reader;
  start_init_line_reader(&reader, handle);
  InitFile* file = load_lines(&reader, read_from_reader_file(&reader), error);
  close_file(handle);
  return file;
}

InitFile* load_init_text_reporting(const char* text, size_t length, InitLoadError* error) {
  InitLineReader reader;
  start_init_line_reader(&reader, kInvalidFile);
  TextSource source = {text, length};
  return load_lines(&reader, InitByteSource{read_from_text, &source}, error);
}

InitFile* load_init_file(const wchar_t* path) { return load_init_file_reporting(path, nullptr); }

InitFile* load_init_text(const char* text, size_t length) { return load_init_text_reporting(text, length, nullptr); }
