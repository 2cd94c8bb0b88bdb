// The C++ interface over the library's C functions.
#include <stdlib.h>

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

std::optional<Section> found(InitSection* section) {
  if (!section) return std::nullopt;
  return Section(section);
}

std::optional<std::string_view> found(const char* value) {
  if (!value) return std::nullopt;
  return std::string_view(value);
}

}  // namespace

std::optional<std::string_view> Section::value(std::string_view key) const {
  return found(lookup_init_value(section_, terminated(key).c_str()));
}

bool Section::set(std::string_view key, std::string_view value) {
  return set_init_entry(section_, terminated(key).c_str(), terminated(value).c_str()) == 1;
}

bool Section::remove(std::string_view key) { return delete_init_entry(section_, terminated(key).c_str()) == 0; }

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

std::optional<Section> Document::section(std::string_view name) const {
  return found(lookup_init_section(file_, terminated(name).c_str()));
}

Section Document::emplace_section(std::string_view name) {
  std::string terminated_name = terminated(name);
  InitSection* section = lookup_init_section(file_, terminated_name.c_str());
  if (!section) {
    section = create_init_section(terminated_name.c_str());
    add_init_section(file_, section);
  }
  return Section(section);
}

bool Document::remove_section(std::string_view name) {
  return delete_init_section(file_, terminated(name).c_str()) == 0;
}

std::optional<Section> Document::copy_section(std::string_view from, std::string_view to) {
  InitSection* source = lookup_init_section(file_, terminated(from).c_str());
  if (!source) return std::nullopt;
  InitSection* copy = copy_init_section(source, terminated(to).c_str());
  add_init_section(file_, copy);
  return Section(copy);
}

std::optional<std::string_view> Document::value(std::string_view section, std::string_view key) const {
  std::optional<Section> found_section = this->section(section);
  if (!found_section) return std::nullopt;
  return found_section->value(key);
}

void Document::set(std::string_view section, std::string_view key, std::string_view value) {
  emplace_section(section).set(key, value);
}

std::string Document::text() const {
  std::size_t length = 0;
  char* text = store_init_text(file_, &length);
  std::string result(text, length);
  free(text);
  return result;
}

StoreResult Document::store(const std::filesystem::path& path) const {
  return static_cast<StoreResult>(store_init_file(file_, wide_path(path.native()).c_str()));
}

std::optional<Document> load_file(const std::filesystem::path& path) {
  InitFile* file = load_init_file(wide_path(path.native()).c_str());
  if (!file) return std::nullopt;
  return Document(file);
}

std::optional<Document> load_text(std::string_view text) {
  InitFile* file = load_init_text(text.data(), text.size());
  if (!file) return std::nullopt;
  return Document(file);
}

}  // namespace vlx::initfile
