// Bounded formatting of the paths the installer works with.
#ifndef VLX_INSTALLER_PATHS_H
#define VLX_INSTALLER_PATHS_H

// Formats a path into buffer, which holds capacity wide characters. In format,
// "%s" inserts the next argument as a wide string (const wchar_t*) and "%S" as
// an 8-bit string (const char*) read as UTF-8, bytes that are not UTF-8
// becoming U+DC80 + byte. The output is always terminated and never passes
// capacity. A path that does not fit is never used: the run ends with
// "Path too long: %S\n" showing the part that fit, and status 1.
void format_path(wchar_t* buffer, int capacity, const wchar_t* format, ...);

#endif  // VLX_INSTALLER_PATHS_H
