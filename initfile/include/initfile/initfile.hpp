// The C++ interface of the init file library: a document that owns and
// releases its C document, views of its sections and entries in file order,
// values as std::optional<std::string_view> or typed. It works through the
// functions of initfile.h; nothing here parses or writes on its own. Failures
// come back as values: an empty optional, a LoadError, or a StoreResult.
//
//   vlx::initfile::LoadError error;
//   auto config = vlx::initfile::load_file("vlx.ini", error);  // the document lives here
//   if (!config) return report(error.line, error.reason);
//   for (vlx::initfile::Section section : config->sections())
//     for (auto [key, value] : section.entries()) use(section.name(), key, value);
//   std::optional<int> port = config->value_as<int>("server", "port");
//   config->set("vorlax", "Progname", "vlx");
//   if (config->store("vlx.ini") != vlx::initfile::StoreResult::stored) return 1;
//
// Names, keys and values are 8-bit text; a zero byte ends them, as in the C
// interface.
//
// What stays valid. Sections and entries are views into the document, and
// so are the names, keys and values they give:
// - Section::set on an existing key invalidates that entry's key and value
//   views (they share one block); on a new key it invalidates no view.
// - Section::remove and erase_if invalidate the views of the removed entries;
//   Document::remove_section those of the removed section and its entries.
//   A removal moves the last element into the gap, so a range-for that
//   removes the element it is on skips the element moved there (erase_if
//   does not) and never touches freed memory: ranges read the live count at
//   every step.
// - A range-for visits at most as many elements as there were when it
//   began, so that it ends: elements its body appends (a set of a new key,
//   a copy_section to a new name) are not visited, unless a removal in the
//   same loop moved them into a slot the loop has yet to reach.
// - Document::emplace_section, set and copy_section invalidate no view of
//   another section, except that copy_section replaces (and invalidates) the
//   section named to. The copy is made before anything is released, so from
//   and to may name the same section, or views into it.
// - Assigning to a document or destroying it invalidates every view. A
//   moved-from document is empty. Views are taken from a document kept in a
//   variable: clang warns where one is kept from a plain temporary Document,
//   but not from the temporary std::optional<Document> that load_text and
//   load_file return ("load_text(t)->value(...)" kept in a variable dangles).
#ifndef VLX_INITFILE_INITFILE_HPP
#define VLX_INITFILE_INITFILE_HPP

#include <cstddef>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#if __has_include(<version>)
#include <version>
#endif
#ifdef __cpp_lib_ranges
#include <ranges>
#endif

#include "initfile/initfile.h"
#include "initfile/values.hpp"

// Lets clang warn where a view is kept from a temporary Document (not from a
// temporary std::optional<Document>).
#if defined(__clang__) && defined(__has_cpp_attribute)
#if __has_cpp_attribute(clang::lifetimebound)
#define VLX_INITFILE_LIFETIMEBOUND [[clang::lifetimebound]]
#endif
#endif
#ifndef VLX_INITFILE_LIFETIMEBOUND
#define VLX_INITFILE_LIFETIMEBOUND
#endif

namespace vlx::initfile {

// What Document::store reports: the results of store_init_file (and of
// store_init_edit for Edit::store).
enum class [[nodiscard]] StoreResult {
  stored = 0,                 // all written, flushed and in place
  not_created = -1,           // the file could not be created or put in place
  not_written = -2,           // a write, a flush or the close failed
  changed_by_another = -3,    // Edit::store: the file changed since it was opened; nothing written
};

// Where and why a load failed (InitLoadError): line is the physical line
// (from 1) where the offending line starts, 0 when the file could not be
// opened or read; reason a static English phrase.
struct LoadError {
  int line = 0;
  std::string_view reason;
};

// One entry: key and value as they stand in the document.
struct Entry {
  std::string_view key;
  std::string_view value;
};

// Walks a section's entries, or a document's sections, in file order. It
// visits at most as many elements as there were when it was made (so that a
// loop whose body appends ends) and never more than there are at each step
// (so that removal in the loop never reaches freed slots). A
// default-constructed iterator is the end of every range.
template <typename Item, typename Container, Item (*make)(Container*, int32_t)>
class Iterator {
 public:
  using iterator_category = std::input_iterator_tag;  // items are values, not references
  using iterator_concept = std::forward_iterator_tag;
  using value_type = Item;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = Item;

  Iterator() = default;
  Iterator(Container* container, int32_t index)
      : container_(container), index_(index), limit_(container ? container->count : 0) {}
  Item operator*() const { return make(container_, index_); }
  Iterator& operator++() {
    ++index_;
    return *this;
  }
  Iterator operator++(int) {
    Iterator before = *this;
    ++index_;
    return before;
  }
  bool operator==(const Iterator& other) const {
    bool end = at_end(), other_end = other.at_end();
    return end || other_end ? end && other_end : index_ == other.index_ && container_ == other.container_;
  }
  bool operator!=(const Iterator& other) const { return !(*this == other); }

 private:
  bool at_end() const { return !container_ || index_ >= limit_ || index_ >= container_->count; }

  Container* container_ = nullptr;
  int32_t index_ = 0;
  int32_t limit_ = 0;  // the count when the walk began
};

// The elements of a container, for range-for and range algorithms.
template <typename It>
class Range {
 public:
  using iterator_type = It;
  explicit Range(It begin) : begin_(begin) {}
  It begin() const { return begin_; }
  It end() const { return It(); }

 private:
  It begin_;
};

inline Entry entry_at(InitSection* section, int32_t index) {
  return Entry{section->entries[index]->key, section->entries[index]->value};
}
using EntryRange = Range<Iterator<Entry, InitSection, entry_at>>;

// A section of a document seen read-only: a view that the document owns.
class ConstSection {
 public:
  explicit ConstSection(InitSection* section) : section_(section) {}

  std::string_view name() const { return section_->name; }
  // The number of entries, entries of the same key included.
  std::size_t size() const { return static_cast<std::size_t>(section_->count); }
  bool empty() const { return section_->count == 0; }
  EntryRange entries() const { return EntryRange({section_, 0}); }

  // The value of the first entry with key.
  std::optional<std::string_view> value(std::string_view key) const;
  // That value read as T (see parse_value).
  template <typename T>
  std::optional<T> value_as(std::string_view key) const {
    std::optional<std::string_view> text = value(key);
    return text ? parse_value<T>(*text) : std::nullopt;
  }
  bool contains(std::string_view key) const { return value(key).has_value(); }

  const InitSection* c_section() const { return section_; }

 protected:
  InitSection* section_;
};

// A section of a document that may be changed: a view that the document owns.
class Section : public ConstSection {
 public:
  explicit Section(InitSection* section) : ConstSection(section) {}

  // Sets key to a copy of value: true when a new entry was appended, false
  // when the first entry with that key got the new value in its place.
  bool set(std::string_view key, std::string_view value);
  // Removes the first entry with key, the last entry taking its place: true
  // when one was removed.
  bool remove(std::string_view key);
  // Removes every entry for which pred(Entry) is true, each time the last
  // entry taking its place; returns how many it removed.
  template <typename Pred>
  std::size_t erase_if(Pred pred) {
    std::size_t removed = 0;
    for (int32_t i = 0; i < section_->count;) {
      if (pred(entry_at(section_, i))) {
        erase_at(i);
        ++removed;
      } else {
        ++i;
      }
    }
    return removed;
  }

  InitSection* c_section() const { return section_; }

 private:
  void erase_at(int32_t index);
};

inline Section section_at(InitFile* file, int32_t index) { return Section(file->sections[index]); }
inline ConstSection const_section_at(InitFile* file, int32_t index) { return ConstSection(file->sections[index]); }
using SectionRange = Range<Iterator<Section, InitFile, section_at>>;
using ConstSectionRange = Range<Iterator<ConstSection, InitFile, const_section_at>>;

// A document that owns its C document and releases it. It moves but is not
// copied; a moved-from document is empty. A const document gives only
// read-only views.
class Document {
 public:
  // An empty document.
  Document();
  // Takes ownership of a C document.
  explicit Document(InitFile* file) noexcept : file_(file) {}
  ~Document();
  Document(Document&& other) noexcept : file_(other.release()) {}
  Document& operator=(Document&& other) noexcept;
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // The number of sections, sections of the same name included.
  std::size_t size() const { return file_ ? static_cast<std::size_t>(file_->count) : 0; }
  bool empty() const { return size() == 0; }
  SectionRange sections() VLX_INITFILE_LIFETIMEBOUND { return SectionRange({file_, 0}); }
  ConstSectionRange sections() const VLX_INITFILE_LIFETIMEBOUND { return ConstSectionRange({file_, 0}); }
  // The first section named name.
  std::optional<Section> section(std::string_view name) VLX_INITFILE_LIFETIMEBOUND;
  std::optional<ConstSection> section(std::string_view name) const VLX_INITFILE_LIFETIMEBOUND;
  bool contains(std::string_view section) const { return this->section(section).has_value(); }
  // The first section named name, or a new empty one added at the end.
  Section emplace_section(std::string_view name) VLX_INITFILE_LIFETIMEBOUND;
  // Removes the first section named name, the last section taking its
  // place: true when one was removed.
  bool remove_section(std::string_view name);
  // Copies the first section named from, with one entry per key, under the
  // name to, replacing the first section of that name or added at the end.
  // Nothing when there is no section from.
  std::optional<Section> copy_section(std::string_view from, std::string_view to) VLX_INITFILE_LIFETIMEBOUND;

  // The value of key in the first section named section.
  std::optional<std::string_view> value(std::string_view section, std::string_view key) const
      VLX_INITFILE_LIFETIMEBOUND;
  // That value read as T (see parse_value).
  template <typename T>
  std::optional<T> value_as(std::string_view section, std::string_view key) const {
    std::optional<std::string_view> text = value(section, key);
    return text ? parse_value<T>(*text) : std::nullopt;
  }
  // Sets key in the first section named section to value, adding the section
  // when there is none.
  void set(std::string_view section, std::string_view key, std::string_view value);

  // The document as the text store writes; it holds no comments, since a
  // loaded document keeps none.
  std::string text() const;
  // Writes the document to path as store_init_file does.
  StoreResult store(const std::filesystem::path& path) const;

  // The C document; null for a moved-from document.
  InitFile* c_file() const noexcept { return file_; }
  // Hands the C document over to the caller, who releases it.
  InitFile* release() noexcept;

 private:
  // The C document, made anew for a moved-from document that is changed.
  InitFile* writable_file();

  InitFile* file_;
};

// What Edit::set did (the results of set_init_edit_value).
enum class [[nodiscard]] SetResult {
  replaced = 0,         // the value of the first entry with the key was replaced
  added = 1,            // a line was added for the entry (and one for its section)
  unrepresentable = -1  // the text cannot hold it so that it reads back: nothing changed
};

// What a rename of sections or keys did.
enum class RenameResult {
  renamed = 0,          // every one was renamed (or the new name is the old)
  missing = 1,          // there was none of that name
  unrepresentable = -1, // the text cannot hold the new name: nothing changed
  taken = -2,           // the new name is there already: nothing changed
  no_memory = -3        // nothing changed
};

// The text of an init file, changed where a change names and nowhere else
// (InitEdit): comments, blank lines, spacing, escapes, order and line ends
// stay. It owns its C edit and releases it; it moves but is not copied, and
// a moved-from edit is an empty text (changing it makes it a new one). The
// views it gives stay valid until its next change. A name, key or value
// holding a zero byte is in no text: looking it up finds nothing, and
// setting it is unrepresentable.
//
//   auto edit = vlx::initfile::open_edit("vlx.ini", error);  // the edit lives here
//   if (!edit) return report(error.line, error.reason);
//   if (edit->set("vorlax", "Progname", "vlx") == vlx::initfile::SetResult::unrepresentable) return 1;
//   if (edit->store("vlx.ini") != vlx::initfile::StoreResult::stored) return 1;
class Edit {
 public:
  // An empty text.
  Edit();
  // Takes ownership of a C edit.
  explicit Edit(InitEdit* edit) noexcept : edit_(edit) {}
  ~Edit();
  Edit(Edit&& other) noexcept : edit_(other.release()) {}
  Edit& operator=(Edit&& other) noexcept;
  Edit(const Edit&) = delete;
  Edit& operator=(const Edit&) = delete;

  // The value of the first entry with key in the first section named
  // section, as the loader reads it.
  std::optional<std::string_view> value(std::string_view section, std::string_view key) const
      VLX_INITFILE_LIFETIMEBOUND;
  // That value read as T (see parse_value).
  template <typename T>
  std::optional<T> value_as(std::string_view section, std::string_view key) const {
    std::optional<std::string_view> text = value(section, key);
    return text ? parse_value<T>(*text) : std::nullopt;
  }
  // Sets key in the first section named section to value, as
  // set_init_edit_value does.
  SetResult set(std::string_view section, std::string_view key, std::string_view value);
  // Removes the lines of every entry with key in every section named
  // section, as delete_init_edit_entry does: true when there was one.
  bool remove(std::string_view section, std::string_view key);
  // Removes every section named section with the comments directly above
  // it, as delete_init_edit_section does: true when there was one.
  bool remove_section(std::string_view section);
  // Renames every section named section, as rename_init_edit_section does.
  RenameResult rename_section(std::string_view section, std::string_view new_name);
  // Renames key in every section named section, as rename_init_edit_key
  // does.
  RenameResult rename_key(std::string_view section, std::string_view key, std::string_view new_key);

  // The text as it stands.
  std::string_view text() const VLX_INITFILE_LIFETIMEBOUND;
  // Writes the text to path as store_init_edit does.
  StoreResult store(const std::filesystem::path& path) const;

  // The C edit; null for a moved-from edit.
  InitEdit* c_edit() const noexcept { return edit_; }
  // Hands the C edit over to the caller, who releases it.
  InitEdit* release() noexcept;

 private:
  // The C edit, made anew for a moved-from edit that is changed.
  InitEdit* writable_edit();

  InitEdit* edit_;
};

// The text of the file at path to edit; an empty one where there is no file
// (error then says "the file does not exist"); nothing when the file cannot
// be read whole or does not load, and then error says where and why.
std::optional<Edit> open_edit(const std::filesystem::path& path);
std::optional<Edit> open_edit(const std::filesystem::path& path, LoadError& error);

// text to edit; nothing when it does not load.
std::optional<Edit> edit_text(std::string_view text);
std::optional<Edit> edit_text(std::string_view text, LoadError& error);

// The document in the file at path; nothing when the file cannot be read or
// is malformed, and then error says where and why.
std::optional<Document> load_file(const std::filesystem::path& path);
std::optional<Document> load_file(const std::filesystem::path& path, LoadError& error);

// The document for text, read as a file's bytes; nothing when malformed.
std::optional<Document> load_text(std::string_view text);
std::optional<Document> load_text(std::string_view text, LoadError& error);

}  // namespace vlx::initfile

#ifdef __cpp_lib_ranges
// The ranges are views into the document: an iterator outlives the range.
namespace std::ranges {
template <typename It>
inline constexpr bool enable_borrowed_range<vlx::initfile::Range<It>> = true;
}  // namespace std::ranges
#endif

#endif  // VLX_INITFILE_INITFILE_HPP
