// Console messages of the installer.
#ifndef VLX_INSTALLER_MESSAGES_H
#define VLX_INSTALLER_MESSAGES_H

#include "platform/platform.h"

// Writes format to stream with each "%S" replaced by the next wide argument,
// rendered for that stream.
void print_message(vlx::ConsoleStream stream, const char* format, const wchar_t* first = nullptr,
                   const wchar_t* second = nullptr);

// The line that follows the report of a failed copy or write that ends the run.
extern const char kBailingOut[];

// Writes the message to standard error and ends the run with status 1.
[[noreturn]] void fail(const char* format, const wchar_t* first = nullptr,
                       const wchar_t* second = nullptr);

#endif  // VLX_INSTALLER_MESSAGES_H
