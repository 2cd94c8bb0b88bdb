// What vlxini's commands share: standard input, and the forms in which
// they print names and values (as the file writes them, for a shell, as
// JSON strings).
#ifndef VLX_VLXINI_OUTPUT_H
#define VLX_VLXINI_OUTPUT_H

#include <string>

// The messages that reading and changing commands share.
inline constexpr char kCannotOpen[] = "Cannot open init file %S\n";
inline constexpr char kCannotLoad[] = "Cannot load init file %S\n";
inline constexpr char kHeldTooLong[] = "Another change of %S has not finished after 30 seconds, giving up.\n";

// UTF-8 text as a wide string, for messages.
std::wstring widen(const char* text);

bool is_standard_input(const wchar_t* path);

// All of standard input.
std::string read_standard_input();

// True when a and b differ only in the case of ASCII letters.
bool equal_ignoring_case(const std::string& a, const std::string& b);

// text with ';' and '\' escaped, as the file writes names and values, so
// that it reads back as it is.
std::string escape_as_written(const std::string& text);

// text between single quotes for a POSIX shell ("'" as '\'').
std::string quote_for_shell(const std::string& text);

// True when name can be a shell variable: a letter or '_', then letters,
// digits and '_'.
bool is_shell_name(const std::string& name);

// Writes bytes to standard output: UTF-8 text (rendered for a Windows
// console), or with raw the bytes as they are (JSON and shell lines, which
// other programs read).
void print_out(const std::string& text, bool raw = false);

#endif  // VLX_VLXINI_OUTPUT_H
