// Every message of the installer, and how its failures are written. In the
// texts "%S" stands for a wide argument (a path or a command-line argument),
// rendered for the stream the message goes to (vlx::print_message).
#ifndef VLX_INSTALLER_MESSAGES_H
#define VLX_INSTALLER_MESSAGES_H

#include "platform/platform.h"

// ---- Standard output ----
extern const char kPrompt[];            // the start profile question, without a line end
extern const char kInstalled[];         // the success line, with the runtime version
extern const char kPressEnterToClose[];  // last line of a window of the tool's own
extern const char kUsage[];             // what -h, -?, --help show
extern const char kVersion[];           // what --version shows

// ---- Standard error: the command line and the tool's location ----
extern const char kJsonWithoutCheck[];
extern const char kUnknownSwitch[];
extern const char kTryHelp[];  // the line after kUnknownSwitch
extern const char kSecondRoot[];
extern const char kNoModuleHandle[];
extern const char kNoModuleFileName[];
extern const char kBrokenModulePath[];
extern const char kNoAnswer[];
// Under kNoAnswer when standard input was at its end or closed.
extern const char kInputEndedHint[];
extern const char kPathTooLong[];
extern const char kOutputFailed[];  // the help or the version could not be written

// ---- Standard error: the release descriptor ----
extern const char kCannotOpenDescriptor[];
// Under the reason of kCannotOpenDescriptor when no ROOT was named and the
// tool's own directory holds no descriptor.
extern const char kNotBesideDescriptorHint[];
extern const char kNoInstallSection[];
extern const char kNoVsn[];
extern const char kNoSystemVsn[];
// Under kNoInstallSection (the file's section name) and kNoVsn or
// kNoSystemVsn (the file's key) when the file has the name in another case.
extern const char kSectionCaseHint[];
extern const char kKeyCaseHint[];
extern const char kFileCaseHint[];
extern const char kRuntimeDirectoriesHint[];
extern const char kNoRuntimeDirectoryHint[];
// A VSN or SYSTEM_VSN that cannot name a directory (the key, the path), with
// the rule it breaks as the reason.
extern const char kBadVersionValue[];

// ---- Standard error: another run on the root ----
extern const char kWaitingForOtherRun[];
extern const char kOtherRunTooLong[];

// ---- Standard error: files ----
extern const char kMissingFile[];
extern const char kCopyFailed[];
extern const char kCreateFailed[];
extern const char kContinuing[];  // after a launcher's failed copy
extern const char kBailingOut[];  // after a failed copy or write that ends the run
extern const char kReason[];      // under a failure: the system's or the loader's reason
// Under the reason, when a failed copy or write did not leave its target as
// it was: written in place and cut short, or (Windows) a running program
// moved aside and not back.
extern const char kLeftIncomplete[];
extern const char kLeftMovedAside[];
// Under a failure that ended the commit, for each file whose old one could
// not be put back.
extern const char kLeftNew[];
extern const char kLeftNewUnremoved[];

// ---- Standard output: the check of an installation ----
// A finding names a path relative to the root; the kinds are listed in this
// order. kFindingUnreadable is followed by kReason with the reason.
extern const char kFindingMissingSource[];
extern const char kFindingMissing[];
extern const char kFindingUnreadable[];
extern const char kFindingDiffers[];             // vlx.ini: not the text a run writes
extern const char kFindingDiffersFrom[];         // a copy, and the file it is a copy of
extern const char kFindingDiffersFromNeither[];  // start.boot
extern const char kFindingLink[];                // a link where a run puts a file
extern const char kFindingDiffersValue[];        // a vlx.ini key with another value: the key and both values
extern const char kFindingLeftOver[];
extern const char kFindingLeftOverOfUser[];  // with the user who made it
// Not a finding: a program that a run moved aside on Windows and that still
// runs, with the name it replaced.
extern const char kProgramInUse[];
// The summary, with the runtime version (and the number of findings).
extern const char kCheckedMinimal[];
extern const char kCheckedTavrel[];
extern const char kCheckedOneFinding[];
extern const char kCheckedFindings[];

// The status that fail ends the run with: 1, or 2 in a check, where it means
// that the installation could not be checked.
void set_failure_status(int status);
int get_failure_status();

// Writes the reason line kReason to standard error; nothing when reason is
// empty.
void print_reason(const std::wstring& reason);

// Ends the run where a block of memory could not be had: "Not enough
// memory, bailing out." on standard error, the failure status. It takes no
// memory itself.
[[noreturn]] void fail_out_of_memory();

// Writes the message to standard error and ends the run with the failure
// status (1, or 2 in a check).
[[noreturn]] void fail(const char* format, const wchar_t* first = nullptr,
                       const wchar_t* second = nullptr);

#endif  // VLX_INSTALLER_MESSAGES_H
