// Renames of sections and keys: only the bytes of the names change. The
// new text is indexed again, and the rename stands only where every renamed
// name reads back as the new one.
#include <string.h>

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "editor_model.h"
#include "platform/platform.h"
#include "writer_internal.h"

using namespace vlx;

namespace {

// A stretch of the text to be replaced by a name, escaped.
struct NameSpan {
  size_t begin;
  size_t end;
};

std::string escaped(const char* text) {
  size_t length = strlen(text);
  std::string out(2 * length, '\0');
  out.resize(static_cast<size_t>(copy_escaped(&out[0], text, length) - out.data()));
  return out;
}

bool is_bad_name(const char* name) { return !*name || strpbrk(name, "=\r\n") != nullptr; }

bool has_edge_space(const char* text) {
  size_t length = strlen(text);
  return length > 0 && (text[0] == ' ' || text[length - 1] == ' ');
}

// Puts name over every span of the edit's text (in text order, not
// overlapping) and indexes the new text. The edit takes it where
// reads_back(new edit) is true: 0; otherwise -1 and the edit is as it was.
template <typename ReadsBack>
int replace_names(InitEdit* edit, const std::vector<NameSpan>& spans, const char* name, ReadsBack reads_back) {
  std::string text = edit->text, written = escaped(name);
  for (size_t i = spans.size(); i-- > 0;) text.replace(spans[i].begin, spans[i].end - spans[i].begin, written);
  InitEdit* fresh = open_edit_of(std::move(text), nullptr);
  if (!fresh || !reads_back(fresh)) {
    delete fresh;
    set_invalid_argument_error();
    return -1;
  }
  edit->text = std::move(fresh->text);
  edit->sections = std::move(fresh->sections);
  edit->names = std::move(fresh->names);
  edit->last_line = fresh->last_line;
  edit->escape_at_end = fresh->escape_at_end;
  edit->open_at_end = fresh->open_at_end;
  edit->values.clear();
  delete fresh;
  return 0;
}

// The indexes of the sections named name.
std::vector<size_t> sections_named(const InitEdit* edit, const char* name) {
  std::vector<size_t> found;
  for (size_t i = 0; i < edit->sections.size(); ++i) {
    if (strcmp(name_of(edit, i), name) == 0) found.push_back(i);
  }
  return found;
}

template <typename Rename>
int rename_within_memory(Rename rename) {
  try {
    return rename();
  } catch (const std::bad_alloc&) {
    set_out_of_memory_error();
    return -3;
  }
}

}  // namespace

int rename_init_edit_section(InitEdit* edit, const char* section, const char* new_name) {
  return rename_within_memory([&] {
    if (is_bad_name(new_name)) return -1;
    std::vector<size_t> found = sections_named(edit, section);
    if (found.empty()) return 1;
    if (strcmp(section, new_name) == 0) return 0;
    if (find_section(edit, new_name) != kNone) return -2;
    std::vector<NameSpan> spans;
    for (size_t index : found) {
      NameSpan span;
      find_raw_name(edit, index, &span.begin, &span.end);
      spans.push_back(span);
    }
    return replace_names(edit, spans, new_name, [&](const InitEdit* fresh) {
      if (fresh->sections.size() != edit->sections.size()) return false;
      for (size_t index : found) {
        if (strcmp(name_of(fresh, index), new_name) != 0) return false;
      }
      return true;
    });
  });
}

int rename_init_edit_key(InitEdit* edit, const char* section, const char* key, const char* new_key) {
  return rename_within_memory([&] {
    if (is_bad_name(new_key) || has_edge_space(new_key)) return -1;
    std::vector<size_t> found = sections_named(edit, section);
    std::vector<NameSpan> spans;
    std::vector<std::pair<size_t, size_t>> renamed;  // section, entry
    bool taken = false;  // the new key is there already
    for (size_t index : found) {
      std::vector<EditEntry> entries = read_entries(edit, index);
      for (size_t i = 0; i < entries.size(); ++i) {
        taken = taken || entries[i].key == new_key;
        if (entries[i].key != key) continue;
        spans.push_back({entries[i].raw_key, entries[i].raw_key_end});
        renamed.emplace_back(index, i);
      }
    }
    if (spans.empty()) return 1;
    if (strcmp(key, new_key) == 0) return 0;
    if (taken) return -2;
    return replace_names(edit, spans, new_key, [&](const InitEdit* fresh) {
      if (fresh->sections.size() != edit->sections.size()) return false;
      for (const auto& at : renamed) {
        std::vector<EditEntry> entries = read_entries(fresh, at.first);
        if (at.second >= entries.size() || entries[at.second].key != new_key) return false;
      }
      return true;
    });
  });
}
