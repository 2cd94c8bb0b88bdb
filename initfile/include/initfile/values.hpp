// Values of the init file library's C++ interface read as numbers and
// bools (parse_value), for Document::value_as and Edit::value_as; part of
// initfile.hpp, which includes it.
#ifndef VLX_INITFILE_VALUES_HPP
#define VLX_INITFILE_VALUES_HPP

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace vlx::initfile {

// A value read as T: integral types in base 10 (range-checked), double
// (locale-independent, finite: no "inf" or "nan"), bool (true/yes/on/1,
// false/no/off/0 in any letter case). The whole text must be the value;
// nothing otherwise. Character types (char, signed and unsigned char, hence
// std::int8_t and std::uint8_t, wchar_t, char8_t, char16_t, char32_t) do not
// compile.
template <typename T>
std::optional<T> parse_value(std::string_view text);

std::optional<bool> parse_bool(std::string_view text);

// True for the types that hold characters, not numbers.
template <typename T>
constexpr bool is_character_type_v =
    std::is_same_v<T, char> || std::is_same_v<T, signed char> || std::is_same_v<T, unsigned char> ||
    std::is_same_v<T, wchar_t> ||
#ifdef __cpp_char8_t
    std::is_same_v<T, char8_t> ||
#endif
    std::is_same_v<T, char16_t> || std::is_same_v<T, char32_t>;

template <typename T>
std::optional<T> parse_value(std::string_view text) {
  static_assert(!is_character_type_v<std::remove_cv_t<T>>,
                "value_as reads numbers and bools, not characters: read the value itself, a std::string_view, "
                "or a number as int (std::int8_t and std::uint8_t are character types)");
  static_assert(std::is_same_v<T, bool> || std::is_integral_v<T> || std::is_same_v<T, double>,
                "values read as integral types, double or bool");
  if constexpr (std::is_same_v<T, bool>) {
    return parse_bool(text);
  } else if constexpr (is_character_type_v<std::remove_cv_t<T>>) {
    return std::nullopt;  // refused above; nothing here adds to that message
  } else {
    T value{};
    const char* end = text.data() + text.size();
    std::from_chars_result result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end) return std::nullopt;
    if constexpr (std::is_same_v<T, double>) {
      // "inf" and "nan" parse, but a setting that is no number is a mistake.
      if (!std::isfinite(value)) return std::nullopt;
    }
    return value;
  }
}

}  // namespace vlx::initfile

#endif  // VLX_INITFILE_VALUES_HPP
