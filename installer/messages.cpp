#include "installer/messages.h"

using namespace vlx;

const char kPrompt[] = "Do you want a minimal startup instead of tavrel [No]: ";
const char kInstalled[] = "Vorlax %S installed successfully\n";
const char kPressEnterToClose[] = "Press Enter to close this window.\n";
const char kUsage[] =
    "Usage: vlxinstall [-s] [ROOT]\n"
    "       vlxinstall --check [--json] [ROOT]\n"
    "Completes the installation of the Vorlax runtime distribution unpacked in\n"
    "ROOT: copies the launcher programs and boot files into its bin directory,\n"
    "installs start.boot and writes the launcher configuration vlx.ini. Without\n"
    "ROOT, the directory that holds vlxinstall is the root.\n"
    "\n"
    "  -s          silent: ask nothing, choose the minimal start-up, print no\n"
    "              success line (errors and warnings are still printed)\n"
    "  --check     check that the installation is complete, changing nothing:\n"
    "              a line per finding, then a summary; status 0 when complete,\n"
    "              1 with findings, 2 when it cannot be checked\n"
    "  --json      with --check: one JSON document on standard output instead\n"
    "              (the root, the release, the start-up, each finding with its\n"
    "              kind and path, the verdict); the same statuses\n"
    "  -h, --help  show this help and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "A run takes the lock of ROOT once its question is answered and holds it to\n"
    "its end; another run that gets that far waits for it. A check takes none.\n"
    "\n"
    "Exit status: 0 when the run reached its end, 1 after an error (which leaves\n"
    "the installation as it was). A launcher program that could not be copied\n"
    "is only a warning, so 0 can follow warnings: run vlxinstall --check ROOT\n"
    "to confirm that the installation is complete.\n"
    "Documentation: README.md and docs/messages.md, in share/doc/vlxinstall\n"
    "(beside bin in the Windows archive); on Linux also man vlxinstall.\n";
const char kVersion[] = "vlxinstall " VLX_VERSION "\n";

const char kJsonWithoutCheck[] = "--json goes with --check only\n";
const char kUnknownSwitch[] = "Unknown command switch %S\n";
const char kTryHelp[] = "Try 'vlxinstall --help' for more information.\n";
const char kSecondRoot[] = "Only one root directory can be specified, parameter %S is illegal\n";
const char kNoModuleHandle[] = "Cannot GetModuleHandle()\n";
const char kNoModuleFileName[] = "Could not GetModuleFileName()\n";
const char kBrokenModulePath[] = "GetModuleFileName returned broken path\n";
const char kNoAnswer[] = "Could not read answer from user.\n";
const char kInputEndedHint[] = "  standard input ended before an answer; use -s to install without the question\n";
const char kPathTooLong[] = "Path too long: %S\n";
const char kOutputFailed[] = "Could not write to standard output\n";

const char kCannotOpenDescriptor[] = "Cannot open init file %S\n";
const char kNotBesideDescriptorHint[] =
    "  no Install.ini beside vlxinstall: name the root of the unpacked distribution, vlxinstall ROOT\n";
const char kNoInstallSection[] = "No [Install] section in init file %S\n";
const char kNoVsn[] = "No key VSN in init file %S\n";
const char kNoSystemVsn[] = "No key SYSTEM_VSN in init file %S\n";
const char kSectionCaseHint[] = "  section names are case-sensitive: the file has [%S]\n";
const char kKeyCaseHint[] = "  keys are case-sensitive: the file has %S\n";
const char kFileCaseHint[] = "  file names are case-sensitive: the root has %S\n";
const char kRuntimeDirectoriesHint[] = "  VSN names no runtime directory of the root; it has %S\n";
const char kNoRuntimeDirectoryHint[] = "  VSN names no runtime directory of the root; it has no vlxcore-* directory\n";
const char kBadVersionValue[] = "Bad value of key %S in init file %S\n";

const char kWaitingForOtherRun[] = "Waiting for the lock of %S to be released...\n";
const char kOtherRunTooLong[] = "The lock of %S has not been released after 5 minutes, bailing out.\n";

const char kMissingFile[] = "Could not find file %S\n";
const char kCopyFailed[] = "Could not copy file %S to %S\n";
const char kCreateFailed[] = "Could not create file %S\n";
const char kContinuing[] = "Continuing installation anyway...\n";
const char kBailingOut[] = "Cannot continue installation, bailing out.\n";
const char kReason[] = "  %S\n";
const char kLeftIncomplete[] = "  %S is now incomplete: its directory allows no new file, so it was written in place\n";
const char kLeftMovedAside[] = "  the running program %S was moved to %S and could not be moved back\n";
const char kLeftNew[] = "  %S holds the new file: its old one could not be put back\n";
const char kLeftNewUnremoved[] = "  %S holds the new file: it could not be removed\n";

const char kFindingMissingSource[] = "missing source: %S\n";
const char kFindingMissing[] = "missing: %S\n";
const char kFindingUnreadable[] = "unreadable: %S\n";
const char kFindingDiffers[] = "differs: %S\n";
const char kFindingDiffersFrom[] = "differs: %S (from %S)\n";
const char kFindingDiffersFromNeither[] = "differs: %S (from neither start-up file)\n";
const char kFindingLink[] = "differs: %S (a link)\n";
const char kFindingDiffersValue[] = "differs: %S (%S)\n";
const char kFindingLeftOver[] = "left over: %S\n";
const char kFindingLeftOverOfUser[] = "left over: %S (created by %S; remove it as that user or an administrator)\n";
const char kProgramInUse[] = "in use: %S (the replaced %S, still running)\n";
const char kCheckedMinimal[] = "Vorlax %S is installed completely (minimal start-up)\n";
const char kCheckedTavrel[] = "Vorlax %S is installed completely (tavrel start-up)\n";
const char kCheckedOneFinding[] = "Vorlax %S is not completely installed: 1 finding\n";
const char kCheckedFindings[] = "Vorlax %S is not completely installed: %S findings\n";

namespace {

int failure_status = 1;

}  // namespace

void set_failure_status(int status) { failure_status = status; }

int get_failure_status() { return failure_status; }

void print_reason(const std::wstring& reason) {
  if (!reason.empty()) print_message(kStandardError, kReason, reason.c_str());
}

void fail_out_of_memory() {
  static const char kOutOfMemory[] = "Not enough memory, bailing out.\n";
  write_console(kStandardError, kOutOfMemory, sizeof kOutOfMemory - 1);
  exit_process(failure_status);
}

void fail(const char* format, const wchar_t* first, const wchar_t* second) {
  print_message(kStandardError, format, first, second);
  exit_process(failure_status);
}
