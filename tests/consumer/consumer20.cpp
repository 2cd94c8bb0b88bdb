// Uses the C++ interface with C++20's range algorithms: the ranges of
// sections and entries are forward ranges whose iterators outlive them.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <ranges>

#include "initfile/initfile.hpp"

namespace ini = vlx::initfile;

static_assert(std::forward_iterator<ini::EntryRange::iterator_type>);
static_assert(std::ranges::forward_range<ini::SectionRange>);
static_assert(std::ranges::borrowed_range<ini::ConstSectionRange>);

int main() {
  std::optional<ini::Document> config = ini::load_text("[a]\nx=1\n[b]\ny=2\nz=3\n");
  if (!config) return 1;
  auto b = std::ranges::find_if(config->sections(), [](ini::Section s) { return s.name() == "b"; });
  if (b == config->sections().end()) return 1;
  auto z = std::ranges::find_if((*b).entries(), [](ini::Entry e) { return e.key == "z"; });
  if (z == (*b).entries().end() || (*z).value != "3") return 1;
  if (std::ranges::count_if(config->sections(), [](ini::Section s) { return !s.empty(); }) != 2) return 1;
  std::puts("consumer20.cpp: ok");
  return 0;
}
