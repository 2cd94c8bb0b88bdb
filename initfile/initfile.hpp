// The C++ interface of the init file library: a document that owns and
// releases its C document, views of its sections and entries in file order,
// values as std::optional<std::string_view>. It works through the functions
// of initfile.h; nothing here parses or writes on its own. Failures come back
// as values: an empty optional, or a StoreResult.
//
//   auto config = vlx::initfile::load_file("vlx.ini");
//   if (!config) return 1;                        // missing or malformed
//   for (vlx::initfile::Section section : config->sections())
//     for (auto [key, value] : section.entries()) use(section.name(), key, value);
//   std::optional<std::string_view> root = config->value("vorlax", "Rootdir");
//   config->set("vorlax", "Progname", "vlx");
//   if (config->store("vlx.ini") != vlx::initfile::StoreResult::stored) return 1;
//
// Names, keys and values are 8-bit text; a zero byte ends them, as in the C
// interface. The views a document hands out stay valid until what they show
// is replaced or removed or the document is released.
#ifndef VLX_INITFILE_INITFILE_HPP
#define VLX_INITFILE_INITFILE_HPP

#include <cstddef>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "initfile/initfile.h"

namespace vlx::initfile {

// What Document::store reports: the results of store_init_file.
enum class [[nodiscard]] StoreResult {
  stored = 0,        // all written and in place
  not_created = -1,  // the file could not be created or put in place
  not_written = -2,  // a write, the flush or the close failed
};

// One entry: key and value as they stand in the document.
struct Entry {
  std::string_view key;
  std::string_view value;
};

// Walks a section's entries, or a document's sections, in file order.
template <typename Item, typename Container, Item (*make)(Container*, int32_t)>
class Iterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = Item;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = Item;

  Iterator(Container* container, int32_t index) : container_(container), index_(index) {}
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
  bool operator==(const Iterator& other) const { return index_ == other.index_ && container_ == other.container_; }
  bool operator!=(const Iterator& other) const { return !(*this == other); }

 private:
  Container* container_;
  int32_t index_;
};

// The elements of a container, for range-for.
template <typename It>
class Range {
 public:
  Range(It begin, It end) : begin_(begin), end_(end) {}
  It begin() const { return begin_; }
  It end() const { return end_; }

 private:
  It begin_, end_;
};

inline Entry entry_at(InitSection* section, int32_t index) {
  return Entry{section->entries[index]->key, section->entries[index]->value};
}
using EntryRange = Range<Iterator<Entry, InitSection, entry_at>>;

// A section of a document: a view that the document owns.
class Section {
 public:
  explicit Section(InitSection* section) : section_(section) {}

  std::string_view name() const { return section_->name; }
  // The number of entries, entries of the same key included.
  std::size_t size() const { return static_cast<std::size_t>(section_->count); }
  EntryRange entries() const { return EntryRange({section_, 0}, {section_, section_->count}); }

  // The value of the first entry with key.
  std::optional<std::string_view> value(std::string_view key) const;
  // Sets key to a copy of value: true when a new entry was appended, false
  // when the first entry with that key got the new value in its place.
  bool set(std::string_view key, std::string_view value);
  // Removes the first entry with key, the last entry taking its place: true
  // when one was removed.
  bool remove(std::string_view key);

  InitSection* c_section() const { return section_; }

 private:
  InitSection* section_;
};

inline Section section_at(InitFile* file, int32_t index) { return Section(file->sections[index]); }
using SectionRange = Range<Iterator<Section, InitFile, section_at>>;

// A document that owns its C document and releases it. It moves but is not
// copied; a moved-from document may only be assigned to or destroyed.
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
  std::size_t size() const { return static_cast<std::size_t>(file_->count); }
  SectionRange sections() const { return SectionRange({file_, 0}, {file_, file_->count}); }
  // The first section named name.
  std::optional<Section> section(std::string_view name) const;
  // The first section named name, or a new empty one added at the end.
  Section emplace_section(std::string_view name);
  // Removes the first section named name, the last section taking its
  // place: true when one was removed.
  bool remove_section(std::string_view name);
  // Copies the first section named from, with one entry per key, under the
  // name to, replacing the first section of that name or added at the end.
  // Nothing when there is no section from.
  std::optional<Section> copy_section(std::string_view from, std::string_view to);

  // The value of key in the first section named section.
  std::optional<std::string_view> value(std::string_view section, std::string_view key) const;
  // Sets key in the first section named section to value, adding the section
  // when there is none.
  void set(std::string_view section, std::string_view key, std::string_view value);

  // The document as the text store writes.
  std::string text() const;
  // Writes the document to path, replacing the file in one step (see
  // store_init_file).
  StoreResult store(const std::filesystem::path& path) const;

  InitFile* c_file() const noexcept { return file_; }
  // Hands the C document over to the caller, who releases it.
  InitFile* release() noexcept;

 private:
  InitFile* file_;
};

// The document in the file at path; nothing when the file cannot be read or
// is malformed.
std::optional<Document> load_file(const std::filesystem::path& path);

// The document for text, read as a file's bytes; nothing when malformed.
std::optional<Document> load_text(std::string_view text);

}  // namespace vlx::initfile

#endif  // VLX_INITFILE_INITFILE_HPP
