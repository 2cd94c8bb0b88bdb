// The directories of an installation, each opened once beneath the root and
// kept open for the run: a link planted on the way, or a directory renamed
// after the open, cannot move what the run reads or writes.
#ifndef VLX_INSTALLER_DIRECTORIES_H
#define VLX_INSTALLER_DIRECTORIES_H

#include "installer/run_state.h"

// Opens the root as named, for the descriptor and the directories beneath
// it. False when it cannot be opened: root's reason says why.
bool open_install_root(RunState* state);

// Opens the directory at relative beneath the root into directory; one that
// cannot be opened keeps its reason (a link refused by the link rule among
// them) for each file in it.
void open_install_directory(const RunState* state, const wchar_t* relative, InstallDirectory* directory);

// Opens the file name in directory for reading, under the link rule, as a
// regular file of the root (a link out of the root is refused). kInvalidFile
// on failure: the error, or the directory's reason where it is not open
// (missing then tells a missing directory).
vlx::FileHandle open_install_file(const RunState* state, const InstallDirectory& directory, const wchar_t* name,
                                  bool* missing, std::wstring* reason);

#endif  // VLX_INSTALLER_DIRECTORIES_H
