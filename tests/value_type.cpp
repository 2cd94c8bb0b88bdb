// Reads values as character types, which value_as refuses: this must not
// build, and the compiler must say why in words of the library's own (the
// test ValueAsRefusesCharacterTypes).
#include <cstdint>

#include "initfile/initfile.hpp"

int main() {
  vlx::initfile::Document document;
  int read = document.value_as<char>("s", "k").has_value() + document.value_as<signed char>("s", "k").has_value() +
             document.value_as<std::uint8_t>("s", "k").has_value() +
             document.value_as<wchar_t>("s", "k").has_value() + document.value_as<char16_t>("s", "k").has_value() +
             document.value_as<char32_t>("s", "k").has_value() + document.value_as<char8_t>("s", "k").has_value();
  return read;
}
