// The C++ interface over the library's C functions.
#include <stdlib.h>

#include "document_internal.h"
#include "initfile/initfile.hpp"
#include "platform/platform.h"

namespace vlx::initfile {

namespace {

// The C functions take terminated strings.
std::string terminated(std::string_view text) { return std::string(text); }

// The C functions' wide path for a native one: the same on Windows, decoded
// losslessly elsewhere (U+DC80 + byte for what is not UTF-8).
[[maybe_unused]] std::wstring wide_path(const std::wstring& native) { return native; }
[[maybe_unused]] std::wstring wide_path(const std::string& native) {
  return decode_utf8(native.data(), native.size());
}

template <typename View>
std::optional<View> found(InitSection* section) {
  if (!section) return std::nullopt;
  return View(section);
}

bool equal_ignoring_case(std::string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    if (c != word[i]) return false;
  }
  return true;
}

std::optional<Document> loaded(InitFile* file, const InitLoadError& report, LoadError* error) {
  if (error) *error = LoadError{report.line, report.reason ? report.reason : std::string_view()};
  if (!file) return std::nullopt;
  return Document(file);
}

std::optional<std::string_view> found(const char* value) {
  if (!value) return std::nullopt;
  return std::string_view(value);
}

}  // namespace

std::optional<bool> parse_bool(std::string_view text) {
  for (std::string_view word : {"true", "yes", "on", "1"}) {
    if (equal_ignoring_case(text, word)) return true;
  }
  for (std::string_view word : {"false", "no", "off", "0"}) {
    if (equal_ignoring_case(text, word)) return false;
  }
  return std::nullopt;
}

std::optional<std::string_view> ConstSection::value(std::string_view key) const {
  return found(lookup_init_value(section_, terminated(key).c_str()));
}

bool Section::set(std::string_view key, std::string_view value) {
  return set_init_entry(section_, terminated(key).c_str(), terminated(value).c_str()) == 1;
}

bool Section::remove(std::string_view key) { return delete_init_entry(section_, terminated(key).c_str()) == 0; }

void Section::erase_at(int32_t index) { remove_init_entry_at(section_, index); }

Document::Document() : file_(create_init_file()) {}

Document::~Document() {
  if (file_) free_init_file(file_);
}

Document& Document::operator=(Document&& other) noexcept {
  if (this != &other) {
    if (file_) free_init_file(file_);
    file_ = other.release();
  }
  return *this;
}

InitFile* Document::release() noexcept {
  InitFile* file = file_;
  file_ = nullptr;
  return file;
}

InitFile* Document::writable_file() {
  if (!file_) file_ = create_init_file();
  return file_;
}

std::optional<Section> Document::section(std::string_view name) {
  if (!file_) return std::nullopt;
  return found<Section>(lookup_init_section(file_, terminated(name).c_str()));
}

std::optional<ConstSection> Document::section(std::string_view name) const {
  if (!file_) return std::nullopt;
  return found<ConstSection>(lookup_init_section(file_, terminated(name).c_str()));
}

Section Document::emplace_section(std::string_view name) {
  std::string terminated_name = terminated(name);
  InitSection* section = lookup_init_section(writable_file(), terminated_name.c_str());
  if (!section) {
    section = create_init_section(terminated_name.c_str());
    add_init_section(file_, section);
  }
  return Section(section);
}

bool Document::remove_section(std::string_view name) {
  return file_ && delete_init_section(file_, terminated(name).c_str()) == 0;
}

std::optional<Section> Document::copy_section(std::string_view from, std::string_view to) {
  // Both names are copied, and the section copied, before add_init_section
  // releases the section that the copy replaces, which may be from itself.
  std::string from_name = terminated(from), to_name = terminated(to);
  InitSection* source = file_ ? lookup_init_section(file_, from_name.c_str()) : nullptr;
  if (!source) return std::nullopt;
  InitSection* copy = copy_init_section(source, to_name.c_str());
  add_init_section(file_, copy);
  return Section(copy);
}

std::optional<std::string_view> Document::value(std::string_view section, std::string_view key) const {
  std::optional<ConstSection> found_section = this->section(section);
  if (!found_section) return std::nullopt;
  return found_section->value(key);
}

void Document::set(std::string_view section, std::string_view key, std::string_view value) {
  emplace_section(section).set(key, value);
}

std::string Document::text() const {
  if (!file_) return std::string();
  std::size_t length = 0;
  char* text = store_init_text(file_, &length);
  std::string result(text, length);
  free(text);
  return result;
}

StoreResult Document::store(const std::filesystem::path& path) const {
  Document empty;
  InitFile* file = file_ ? file_ : empty.file_;
  return static_cast<StoreResult>(store_init_file(file, wide_path(path.native()).c_str()));
}

namespace {

bool holds_zero(std::string_view text) { return text.find('\0') != std::string_view::npos; }

std::optional<Edit> edited(InitEdit* edit, const InitLoadError& report, LoadError* error) {
  if (error) *error = LoadError{report.line, report.reason ? report.reason : std::string_view()};
  if (!edit) return std::nullopt;
  return Edit(edit);
}

}  // namespace

Edit::Edit() : edit_(open_init_edit_text("", 0, nullptr)) {}

Edit::~Edit() {
  if (edit_) free_init_edit(edit_);
}

Edit& Edit::operator=(Edit&& other) noexcept {
  if (this != &other) {
    if (edit_) free_init_edit(edit_);
    edit_ = other.release();
  }
  return *this;
}

InitEdit* Edit::release() noexcept {
  InitEdit* edit = edit_;
  edit_ = nullptr;
  return edit;
}

InitEdit* Edit::writable_edit() {
  if (!edit_) edit_ = open_init_edit_text("", 0, nullptr);
  return edit_;
}

std::optional<std::string_view> Edit::value(std::string_view section, std::string_view key) const {
  if (!edit_ || holds_zero(section) || holds_zero(key)) return std::nullopt;
  return found(init_edit_value(edit_, terminated(section).c_str(), terminated(key).c_str()));
}

SetResult Edit::set(std::string_view section, std::string_view key, std::string_view value) {
  if (holds_zero(section) || holds_zero(key) || holds_zero(value)) return SetResult::unrepresentable;
  return static_cast<SetResult>(set_init_edit_value(writable_edit(), terminated(section).c_str(),
                                                    terminated(key).c_str(), terminated(value).c_str()));
}

bool Edit::remove(std::string_view section, std::string_view key) {
  if (!edit_ || holds_zero(section) || holds_zero(key)) return false;
  return delete_init_edit_entry(edit_, terminated(section).c_str(), terminated(key).c_str()) == 0;
}

bool Edit::remove_section(std::string_view section) {
  if (!edit_ || holds_zero(section)) return false;
  return delete_init_edit_section(edit_, terminated(section).c_str()) == 0;
}

RenameResult Edit::rename_section(std::string_view section, std::string_view new_name) {
  if (holds_zero(new_name)) return RenameResult::unrepresentable;
  if (!edit_ || holds_zero(section)) return RenameResult::missing;
  return static_cast<RenameResult>(
      rename_init_edit_section(edit_, terminated(section).c_str(), terminated(new_name).c_str()));
}

RenameResult Edit::rename_key(std::string_view section, std::string_view key, std::string_view new_key) {
  if (holds_zero(new_key)) return RenameResult::unrepresentable;
  if (!edit_ || holds_zero(section) || holds_zero(key)) return RenameResult::missing;
  return static_cast<RenameResult>(rename_init_edit_key(edit_, terminated(section).c_str(), terminated(key).c_str(),
                                                        terminated(new_key).c_str()));
}

std::string_view Edit::text() const {
  if (!edit_) return std::string_view();
  std::size_t length = 0;
  const char* text = init_edit_text(edit_, &length);
  return std::string_view(text, length);
}

StoreResult Edit::store(const std::filesystem::path& path) const {
  // A moved-from edit has no text: it stores nothing rather than an empty file.
  return static_cast<StoreResult>(store_init_edit(edit_, wide_path(path.native()).c_str()));
}

std::optional<Edit> open_edit(const std::filesystem::path& path) {
  return edited(open_init_edit(wide_path(path.native()).c_str(), nullptr), {}, nullptr);
}

std::optional<Edit> open_edit(const std::filesystem::path& path, LoadError& error) {
  InitLoadError report;
  InitEdit* edit = open_init_edit(wide_path(path.native()).c_str(), &report);
  return edited(edit, report, &error);
}

std::optional<Edit> edit_text(std::string_view text) {
  return edited(open_init_edit_text(text.data(), text.size(), nullptr), {}, nullptr);
}

std::optional<Edit> edit_text(std::string_view text, LoadError& error) {
  InitLoadError report;
  InitEdit* edit = open_init_edit_text(text.data(), text.size(), &report);
  return edited(edit, report, &error);
}

std::optional<Document> load_file(const std::filesystem::path& path) {
  return loaded(load_init_file(wide_path(path.native()).c_str()), {}, nullptr);
}

std::optional<Document> load_file(const std::filesystem::path& path, LoadError& error) {
  InitLoadError report;
  InitFile* file = load_init_file_reporting(wide_path(path.native()).c_str(), &report);
  return loaded(file, report, &error);
}

std::optional<Document> load_text(std::string_view text) {
  return loaded(load_init_text(text.data(), text.size()), {}, nullptr);
}

std::optional<Document> load_text(std::string_view text, LoadError& error) {
  InitLoadError report;
  InitFile* file = load_init_text_reporting(text.data(), text.size(), &report);
  return loaded(file, report, &error);
}

}  // namespace vlx::initfile
