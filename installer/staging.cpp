#include "installer/staging.h"

#include <stdlib.h>

#include <vector>

#include "installer/messages.h"

using namespace vlx;

namespace {

// What a staged file is, for its messages: parallel to staged.files.
struct Installed {
  InstalledKind kind;
  std::wstring source;
  std::wstring target;
};

StagedFiles staged;
std::vector<Installed> installed;

// Whatever way a run ends before its commit, it leaves no new file.
void discard_at_exit() { discard_staged_files(&staged); }

bool note_staged(bool done, InstalledKind kind, const wchar_t* source, const wchar_t* target) {
  static bool discarded_at_exit = false;
  if (!done) return false;
  if (!discarded_at_exit) discarded_at_exit = atexit(discard_at_exit) == 0;
  installed.push_back({kind, source ? source : L"", target});
  return true;
}

// The reason a directory could not be opened, for the report of the file
// that was to be staged in it.
thread_local std::wstring unusable_reason;

// True when directory is open; otherwise its reason is kept for the report.
bool usable(const InstallDirectory& directory) {
  unusable_reason = directory.place.directory == kInvalidFile ? directory.reason : std::wstring();
  return unusable_reason.empty() && directory.place.directory != kInvalidFile;
}

// The reason for the report of a file that could not be staged.
std::wstring staging_reason() { return unusable_reason.empty() ? describe_last_error() : unusable_reason; }

void print_damage(const wchar_t* target) {
  std::wstring moved_to;
  switch (last_target_damage(&moved_to)) {
    case kTargetIntact:
      break;
    case kTargetIncomplete:
      print_message(kStandardError, kLeftIncomplete, target);
      break;
    case kTargetMovedAside:
      print_message(kStandardError, kLeftMovedAside, target, moved_to.c_str());
      break;
  }
}

// Reports the failure of the file staged as index: true when the run goes on.
bool report_commit_failure(std::size_t index, void*) {
  const Installed& file = installed[index];
  if (file.kind == kLauncherConfig) {
    report_create_failure(file.target.c_str());
  } else {
    report_copy_failure(file.source.c_str(), file.target.c_str());
  }
  if (file.kind != kLauncherCopy) return false;
  print_message(kStandardError, kContinuing);
  return true;
}

}  // namespace

bool stage_install_copy(InstalledKind kind, FileHandle source, const wchar_t* source_path,
                        const InstallDirectory& directory, const wchar_t* name, const wchar_t* target) {
  if (!usable(directory)) {
    close_file(source);
    return false;
  }
  return note_staged(stage_copy(&staged, source, source_path, directory.place, name), kind, source_path, target);
}

bool stage_install_copy_of(InstalledKind kind, const wchar_t* staged_target, const InstallDirectory& directory,
                           const wchar_t* name, const wchar_t* target) {
  std::size_t index = 0;
  while (installed[index].target != staged_target) ++index;
  return usable(directory) &&
         note_staged(stage_copy_of(&staged, index, directory.place, name), kind, staged_target, target);
}

bool stage_install_contents(InstalledKind kind, const InstallDirectory& directory, const wchar_t* name,
                            const wchar_t* target, const std::string& contents) {
  return usable(directory) &&
         note_staged(stage_contents(&staged, directory.place, name, contents), kind, nullptr, target);
}

void commit_installation() {
  if (commit_staged_files(&staged, report_commit_failure, nullptr)) {
    installed.clear();
    return;
  }
  for (const std::wstring& target : staged.not_put_back) {
    print_message(kStandardError, kLeftNew, target.c_str());
  }
  for (const std::wstring& target : staged.not_removed) {
    print_message(kStandardError, kLeftNewUnremoved, target.c_str());
  }
  for (const std::wstring& target : staged.not_restored) {
    print_message(kStandardError, kLeftIncomplete, target.c_str());
  }
  fail(kBailingOut);
}

void report_copy_failure(const wchar_t* source, const wchar_t* target) {
  std::wstring reason = staging_reason();
  unusable_reason.clear();
  print_message(kStandardError, kCopyFailed, source, target);
  print_reason(reason);
  print_damage(target);
}

void report_create_failure(const wchar_t* target) {
  std::wstring reason = staging_reason();
  unusable_reason.clear();
  print_message(kStandardError, kCreateFailed, target);
  print_reason(reason);
  print_damage(target);
}
