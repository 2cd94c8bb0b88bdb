// The files a run installs are staged beside their targets first and put in
// place together at the end: a run that fails before then leaves every file
// as it was, and one that fails while putting them in place puts back what
// it had moved.
#ifndef VLX_INSTALLER_STAGING_H
#define VLX_INSTALLER_STAGING_H

#include <string>

// What a file's failure means, and which message reports it.
enum InstalledKind {
  kLauncherCopy,    // "Could not copy file", then the run goes on without it
  kFatalCopy,       // "Could not copy file", then the run ends
  kLauncherConfig,  // "Could not create file", then the run ends
};

// Stages a copy of source for target. False when it could not be staged:
// the error is left for the caller's report, and nothing was staged.
bool stage_install_copy(InstalledKind kind, const wchar_t* source, const wchar_t* target);

// Stages for target a copy of the file staged earlier for staged_target (it
// must have been), as it was staged; its messages name staged_target as the
// source.
bool stage_install_copy_of(InstalledKind kind, const wchar_t* staged_target, const wchar_t* target);

// Stages contents as target's new file, as stage_install_copy does.
bool stage_install_contents(InstalledKind kind, const wchar_t* target, const std::string& contents);

// Puts every staged file in place. A launcher that cannot be put there is
// reported with its warning pair and left as it was; any other file is
// reported with its message and reason, every file moved so far is put back
// (a line names each that could not be), and the run ends with
// "Cannot continue installation, bailing out.\n" and status 1. A run that
// ends before this removes what it staged.
void commit_installation();

// Reports the failed copy of source to target (kCopyFailed) with the
// system's reason under it, and what the failure left of target when that is
// not target as it was; the caller says what follows.
void report_copy_failure(const wchar_t* source, const wchar_t* target);

// Reports the failed write of target (kCreateFailed) the same way.
void report_create_failure(const wchar_t* target);

#endif  // VLX_INSTALLER_STAGING_H
