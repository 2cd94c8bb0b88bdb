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

bool stage_install_copy(InstalledKind kind, const wchar_t* source, const wchar_t* target) {
  return note_staged(stage_copy(&staged, source, target), kind, source, target);
}

bool stage_install_copy_of(InstalledKind kind, const wchar_t* staged_target, const wchar_t* target) {
  std::size_t index = 0;
  while (installed[index].target != staged_target) ++index;
  return note_staged(stage_copy_of(&staged, index, target), kind, staged_target, target);
}

bool stage_install_contents(InstalledKind kind, const wchar_t* target, const std::string& contents) {
  return note_staged(stage_contents(&staged, target, contents), kind, nullptr, target);
}

void commit_installation() {
  if (commit_staged_files(&staged, report_commit_failure, nullptr)) {
    installed.clear();
    return;
  }
  for (const std::wstring& target : staged.not_put_back) {
    print_message(kStandardError, kLeftNew, target.c_str());
  }
  fail(kBailingOut);
}

void report_copy_failure(const wchar_t* source, const wchar_t* target) {
  std::wstring reason = describe_last_error();
  print_message(kStandardError, kCopyFailed, source, target);
  print_reason(reason);
  print_damage(target);
}

void report_create_failure(const wchar_t* target) {
  std::wstring reason = describe_last_error();
  print_message(kStandardError, kCreateFailed, target);
  print_reason(reason);
  print_damage(target);
}
