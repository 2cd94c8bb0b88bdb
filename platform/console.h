// The running program and its console. Part of the platform services
// (platform.h).
#ifndef VLX_PLATFORM_CONSOLE_H
#define VLX_PLATFORM_CONSOLE_H

#include <cstddef>
#include <string>

namespace vlx {

// ---- Program identity ----

// Handle of the running program; null means it could not be obtained.
void* get_module_handle();

// Writes the full file name of the running program, terminated, into buffer
// (capacity wide characters). Returns its length, or 0 when the name is not
// available or does not fit.
int get_module_file_name(void* module, wchar_t* buffer, int capacity);


// ---- Console ----

enum ConsoleStream { kStandardOutput, kStandardError };

// Writes 8-bit text; a line feed becomes the platform's console line end.
void write_console(ConsoleStream stream, const char* text, std::size_t length);

// Renders a wide string as 8-bit text for stream: UTF-8, or on a Windows
// console its output code page, with '?' for what the code page lacks.
std::string render_for_console(ConsoleStream stream, const wchar_t* text);

// Writes format to stream with each "%S" replaced by the next wide argument
// (at most two), made safe for a terminal (escape_for_terminal) and
// rendered for that stream.
void print_message(ConsoleStream stream, const char* format, const wchar_t* first = nullptr,
                   const wchar_t* second = nullptr);

// Writes out what the stream holds. False when the stream could not be
// written, then or before (a full disk, a closed pipe): describe_last_error
// says why.
bool flush_console(ConsoleStream stream);

// Reads a line from standard input with fgets semantics: stops after a line
// feed, after size - 1 bytes or at end of input, and terminates. Returns null
// when nothing at all could be read.
char* read_console_line(char* buffer, int size);

// True when the last read_console_line that read nothing found standard input
// at its end or closed (not a read error).
bool console_input_ended();

// Reads one byte from standard input; -1 at end of input or on error.
int read_console_byte();

// True when standard input and output are a console window that no other
// process shares: the program was started on its own (from Explorer), not
// from a shell that keeps the window when the program ends. Never on POSIX
// systems, where a terminal outlives the programs run in it.
bool console_is_own_window();

// Ends the process at once with status, flushing the console streams.
[[noreturn]] void exit_process(int status);

}  // namespace vlx

#endif  // VLX_PLATFORM_CONSOLE_H
