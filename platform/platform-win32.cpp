// Windows implementation of the platform services over KERNEL32 and the C
// runtime. Only code specific to Windows belongs here.
#include "platform/platform.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

namespace {

FILE* stream_file(ConsoleStream stream) { return stream == kStandardOutput ? stdout : stderr; }

HANDLE to_handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle from_handle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(handle);
}

std::string convert_wide(UINT code_page, const wchar_t* text, const char* default_char) {
  int size = WideCharToMultiByte(code_page, 0, text, -1, nullptr, 0, default_char, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(code_page, 0, text, -1, &out[0], size, default_char, nullptr);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

}  // namespace

void* get_module_handle() { return GetModuleHandleA(nullptr); }

int get_module_file_name(void* module, wchar_t* buffer, int capacity) {
  DWORD n = GetModuleFileNameW(static_cast<HMODULE>(module), buffer, static_cast<DWORD>(capacity));
  // A result equal to the capacity means the name was cut short.
  if (n == 0 || n >= static_cast<DWORD>(capacity)) return 0;
  return static_cast<int>(n);
}

void create_directory(const wchar_t* path) { CreateDirectoryW(path, nullptr); }

bool file_exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

bool copy_file(const wchar_t* source, const wchar_t* target) {
  return CopyFileW(source, target, FALSE) != 0;
}

FileHandle open_file_for_reading(const wchar_t* path) {
  return from_handle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle create_file_for_writing(const wchar_t* path) {
  return from_handle(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool read_file(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* count) {
  DWORD n = 0;
  if (!ReadFile(to_handle(file), buffer, size, &n, nullptr)) return false;
  *count = n;
  return true;
}

bool write_file(FileHandle file, const void* data, std::uint32_t size, std::uint32_t* count) {
  DWORD n = 0;
  if (!WriteFile(to_handle(file), data, size, &n, nullptr)) return false;
  *count = n;
  return true;
}

void close_file(FileHandle file) { CloseHandle(to_handle(file)); }

std::string convert_path_to_utf8(const wchar_t* path) { return convert_wide(CP_UTF8, path, nullptr); }

int compare_ignoring_case(const char* a, const char* b) { return _stricmp(a, b); }

void write_console(ConsoleStream stream, const char* text, std::size_t length) {
  fwrite(text, 1, length, stream_file(stream));
}

std::string render_for_console(ConsoleStream stream, const wchar_t* text) {
  // A real console shows its output code page; redirected output is UTF-8.
  DWORD mode;
  HANDLE handle = GetStdHandle(stream == kStandardOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  UINT code_page = GetConsoleMode(handle, &mode) ? GetConsoleOutputCP() : CP_UTF8;
  if (code_page == CP_UTF8) return encode_utf8(text);
  return convert_wide(code_page, text, "?");
}

void flush_console(ConsoleStream stream) { fflush(stream_file(stream)); }

char* read_console_line(char* buffer, int size) { return fgets(buffer, size, stdin); }

int read_console_byte() {
  int c = getchar();
  return c == EOF ? -1 : c;
}

void exit_process(int status) { exit(status); }
