// Uses the C++ interface: loads text and a file, walks sections and entries,
// changes, copies and removes, and stores to text and to a file.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "initfile/initfile.hpp"

namespace ini = vlx::initfile;

namespace {

int fail(const char* what) {
  std::fprintf(stderr, "consumer.cpp: %s\n", what);
  return 1;
}

}  // namespace

int main() {
  std::optional<ini::Document> config = ini::load_text("[a]\nx = 1\ny=2 ; two\n[b]\nz=\\;\n");
  if (!config) return fail("text not loaded");
  std::string walked;
  for (ini::Section section : config->sections()) {
    walked += "[" + std::string(section.name()) + "]";
    for (auto [key, value] : section.entries()) walked += std::string(key) + "=" + std::string(value) + ",";
  }
  if (walked != "[a]x=1,y=2,[b]z=;,") return fail("unexpected walk");
  if (config->value("a", "y") != std::optional<std::string_view>("2") || config->value("a", "w")) {
    return fail("unexpected values");
  }
  config->set("c", "k", "v");
  config->copy_section("a", "d");
  config->remove_section("b");  // the last section, d, takes its place
  if (!config->section("a")->remove("x")) return fail("x not removed");
  if (config->text() != "[a]\ny=2\n[d]\nx=1\ny=2\n[c]\nk=v\n") return fail("unexpected text");
  if (config->store("consumer-cpp.ini") != ini::StoreResult::stored) return fail("not stored");
  std::optional<ini::Document> again = ini::load_file("consumer-cpp.ini");
  if (!again || again->text() != config->text()) return fail("file not loaded back");
  if (ini::load_text("orphan\n") || ini::load_file("absent.ini")) return fail("malformed or absent loaded");
  if (config->store("absent/x.ini") != ini::StoreResult::not_created) return fail("stored nowhere");
  std::puts("consumer.cpp: ok");
  return 0;
}
