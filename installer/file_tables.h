// The files a distribution provides, in copy order. Each name is both the
// source and the target name; each table ends with a null entry.
#ifndef VLX_INSTALLER_FILE_TABLES_H
#define VLX_INSTALLER_FILE_TABLES_H

// The launcher programs in the runtime's bin directory.
extern const wchar_t* const kExecutables[];

// The boot files in the release directory.
extern const wchar_t* const kBootFiles[];

#endif  // VLX_INSTALLER_FILE_TABLES_H
