// The files a run installs are staged beside their targets first and put in
// place together at the end: a run that fails before then leaves every file
// as it was, and one that fails while putting them in place puts back what
// it had moved.
#ifndef VLX_INSTALLER_STAGING_H
#define VLX_INSTALLER_STAGING_H

#include <string>

#include "installer/run_state.h"

// What a file's failure means, and which message reports it.
enum InstalledKind {
  kLauncherCopy,    // "Could not copy file", then the run goes on without it
  kFatalCopy,       // "Could not copy file", then the run ends
  kLauncherConfig,  // "Could not create file", then the run ends
};

// Stages a copy of the open regular file source (source_path) as name in
// directory, shown as target; source is the staging's from then on. False
// when it could not be staged (the directory could not be opened, or the
// copy failed): the error is left for the caller's report, and nothing was
// staged.
bool stage_install_copy(InstalledKind kind, vlx::FileHandle source, const wchar_t* source_path,
                        const InstallDirectory& directory, const wchar_t* name, const wchar_t* target);

// Stages as name in directory (shown as target) a copy of the file staged
// earlier for staged_target (it must have been), as it was staged; its
// messages name staged_target as the source.
bool stage_install_copy_of(InstalledKind kind, const wchar_t* staged_target, const InstallDirectory& directory,
                           const wchar_t* name, const wchar_t* target);

// Stages contents as the new file of name in directory, as stage_install_copy
// does.
bool stage_install_contents(InstalledKind kind, const InstallDirectory& directory, const wchar_t* name,
                            const wchar_t* target, const std::string& contents);

// Puts every staged file in place. A launcher that cannot be put there is
// reported with its warning pair and left as it was; any other file is
// reported with its message and reason, every file moved so far is put back
// (a line names each that could not be), and the run ends with
// "Cannot continue installation, bailing out.\n" and status 1. A run that
// ends before this removes what it staged.
void commit_installation();

// Reports the failed copy of source to target (kCopyFailed) with the
// system's reason under it (or the reason its directory could not be opened), and what the failure left of target when that is
// not target as it was; the caller says what follows.
void report_copy_failure(const wchar_t* source, const wchar_t* target);

// Reports the failed write of target (kCreateFailed) the same way.
void report_create_failure(const wchar_t* target);

#endif  // VLX_INSTALLER_STAGING_H
