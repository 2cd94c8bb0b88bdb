// Operating-system and run-time services used by the installer and the init
// file library, for both platforms. This header is the index: each concern
// has a header of its own, included here, and a source per platform beside
// it (name-posix.cpp, name-win32.cpp), with shared sources where the two
// agree. No system header is exposed; callers see only plain types.
//
//   files.h      paths, errors, reading and writing files, and reaching
//                them beneath a directory by handle under the link rule
//   replacing.h  replacing files, alone and staged together, and the sweep
//                of what killed replacements left
//   locks.h      one process at a time, through a lock file
//   text.h       UTF-8 and wide characters, names made safe for a terminal
//   console.h    the running program and its console
#ifndef VLX_PLATFORM_PLATFORM_H
#define VLX_PLATFORM_PLATFORM_H

// The program's entry. The program defines it; on Windows the C runtime calls
// it, elsewhere the platform's start-up decodes the 8-bit arguments first.
int wmain(int argc, wchar_t* argv[]);

// Native path conventions. PATH_SEP is a wide string literal so that path
// formats can be spelled as literal concatenations: L"%s" PATH_SEP L"bin".
#ifdef _WIN32
#define PATH_SEP L"\\"
#else
#define PATH_SEP L"/"
#endif

// The services are in namespace vlx: the init file library carries them into
// programs of others, whose own names they must not meet.
namespace vlx {

#ifdef _WIN32
constexpr wchar_t kPathSeparator = L'\\';
constexpr int kPathCapacity = 260;  // MAX_PATH, terminator included
constexpr bool kSlashQuestionIsHelp = true;  // Windows programs answer "/?" with their usage
#else
constexpr wchar_t kPathSeparator = L'/';
constexpr int kPathCapacity = 4096;  // PATH_MAX, terminator included
constexpr bool kSlashQuestionIsHelp = false;  // "/?" is a path
#endif

}  // namespace vlx

#include "platform/console.h"
#include "platform/files.h"
#include "platform/locks.h"
#include "platform/replacing.h"
#include "platform/text.h"

#endif  // VLX_PLATFORM_PLATFORM_H
