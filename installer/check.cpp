#include "installer/check.h"

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "installer/file_tables.h"
#include "installer/launcher_config.h"
#include "installer/messages.h"
#include "installer/paths.h"

using namespace vlx;

namespace {

// A finding, printed with format and its arguments (paths relative to the
// root); reason, when not empty, goes on the line under it.
struct Finding {
  int order;  // the kinds are listed in this order
  const char* format;
  std::wstring first;
  std::wstring second;
  std::wstring reason;
};

struct Check {
  const RunState* state;
  std::vector<Finding> findings;
  std::vector<Finding> in_use;  // programs moved aside that still run: no findings
  bool bin_usable;              // bin is missing or a directory the check can look into
};

// path without the root and the separator that follows it: every path the
// tool formats starts so.
std::wstring relative(const Check& check, const wchar_t* path) {
  size_t root = wcslen(check.state->root_dir);
  return wcsncmp(path, check.state->root_dir, root) == 0 && path[root] ? path + root + 1 : path;
}

void note(Check* check, const char* format, const wchar_t* first, const wchar_t* second = nullptr,
          const std::wstring& reason = std::wstring()) {
  // The kinds in the order they are listed; the differences are one kind.
  static const char* const kOrder[] = {kFindingMissingSource, kFindingMissing, kFindingUnreadable,
                                       kFindingDiffers, kFindingLeftOver};
  const char* kind =
      format == kFindingDiffersFrom || format == kFindingDiffersFromNeither || format == kFindingLink ? kFindingDiffers
                                                                                                      : format;
  int order = static_cast<int>(std::find(std::begin(kOrder), std::end(kOrder), kind) - std::begin(kOrder));
  check->findings.push_back(
      {order, format, relative(*check, first), second ? relative(*check, second) : std::wstring(), reason});
}

// A file opened to be read; a missing one and one that cannot be read are
// findings of their own.
struct ReadFile {
  FileHandle handle = kInvalidFile;
  bool missing = false;
  std::wstring reason;  // why it could not be opened or read
};

ReadFile open_read(const Check& check, const wchar_t* path) {
  ReadFile file;
  if (!file_exists(path)) {
    file.missing = true;
    return file;
  }
  // A FIFO is not opened at all, and a link out of the root not followed.
  SourceTrust trust = examine_source(path, check.state->root_dir);
  if (trust != kSourceAccepted) {
    file.reason = describe_refused_source(trust, check.state->root_dir);
    return file;
  }
  file.handle = open_file_for_reading_when_free(path);
  if (file.handle == kInvalidFile) file.reason = describe_last_error();
  return file;
}

void close_read(ReadFile* file) {
  if (file->handle != kInvalidFile) close_file(file->handle);
  file->handle = kInvalidFile;
}

// Reads up to size bytes, as many as there are; false (with the reason)
// on a read error.
bool read_block(ReadFile* file, char* buffer, size_t size, size_t* got) {
  *got = 0;
  while (*got < size) {
    std::uint32_t count = 0;
    if (!read_file(file->handle, buffer + *got, static_cast<std::uint32_t>(size - *got), &count)) {
      file->reason = describe_last_error();
      return false;
    }
    if (count == 0) break;
    *got += count;
  }
  return true;
}

enum Sameness { kSame, kDifferent, kUnread };

// Compares two open files byte for byte to their ends.
Sameness compare(ReadFile* a, ReadFile* b) {
  const size_t kBlock = 1 << 16;
  std::vector<char> left(kBlock), right(kBlock);
  for (;;) {
    size_t got_left = 0, got_right = 0;
    if (!read_block(a, left.data(), kBlock, &got_left) || !read_block(b, right.data(), kBlock, &got_right)) {
      return kUnread;
    }
    if (got_left != got_right || memcmp(left.data(), right.data(), got_left) != 0) return kDifferent;
    if (got_left < kBlock) return kSame;
  }
}

// Notes what is wrong with file at path: missing, or unreadable with its
// reason. False when it was not opened.
bool note_unopened(Check* check, const ReadFile& file, const wchar_t* path, const char* missing) {
  if (file.missing) note(check, missing, path);
  if (!file.missing && file.handle == kInvalidFile) note(check, kFindingUnreadable, path, nullptr, file.reason);
  return file.handle == kInvalidFile;
}

// Compares a copy with its source, as a run would make it.
void check_copy(Check* check, const wchar_t* source_dir, const wchar_t* name) {
  wchar_t source[kPathCapacity], target[kPathCapacity];
  format_path(source, kPathCapacity, L"%s" PATH_SEP L"%s", source_dir, name);
  format_path(target, kPathCapacity, L"%s" PATH_SEP L"%s", check->state->bin_dir, name);
  ReadFile from = open_read(*check, source);
  bool unopened = note_unopened(check, from, source, kFindingMissingSource);
  // A bin that cannot be looked into has its one finding; a run replaces a
  // link in a file's place by the file.
  bool link = check->bin_usable && is_symbolic_link(target);
  if (link) note(check, kFindingLink, target);
  if (!check->bin_usable || link) {
    close_read(&from);
    return;
  }
  ReadFile to = open_read(*check, target);
  if (!note_unopened(check, to, target, kFindingMissing) && !unopened) {
    Sameness same = compare(&from, &to);
    if (same == kDifferent) note(check, kFindingDiffersFrom, target, source);
    if (same == kUnread) {
      bool source_failed = !from.reason.empty();
      note(check, kFindingUnreadable, source_failed ? source : target, nullptr,
           source_failed ? from.reason : to.reason);
    }
  }
  close_read(&from);
  close_read(&to);
}

// Which start-up start.boot holds: the name of the boot file in bin it
// equals, or null (a finding then says why). start.boot is read once, beside
// both start-up files.
const wchar_t* check_start_boot(Check* check) {
  const wchar_t* const kChoices[] = {L"start_minimal.boot", L"start_tavrel.boot"};
  wchar_t start[kPathCapacity];
  format_path(start, kPathCapacity, L"%s" PATH_SEP L"start.boot", check->state->bin_dir);
  if (is_symbolic_link(start)) {
    note(check, kFindingLink, start);
    return nullptr;
  }
  ReadFile actual = open_read(*check, start);
  if (note_unopened(check, actual, start, kFindingMissing)) return nullptr;
  ReadFile candidates[2];
  bool same[2];
  for (int i = 0; i < 2; ++i) {
    wchar_t boot[kPathCapacity];
    format_path(boot, kPathCapacity, L"%s" PATH_SEP L"%s", check->state->bin_dir, kChoices[i]);
    candidates[i] = open_read(*check, boot);
    same[i] = candidates[i].handle != kInvalidFile;
  }
  const size_t kBlock = 1 << 16;
  std::vector<char> block(kBlock), other(kBlock);
  size_t got = kBlock;
  bool read = true;
  while (read && got == kBlock && (same[0] || same[1])) {
    read = read_block(&actual, block.data(), kBlock, &got);
    for (int i = 0; read && i < 2; ++i) {
      size_t theirs = 0;
      same[i] = same[i] && read_block(&candidates[i], other.data(), kBlock, &theirs) && theirs == got &&
                memcmp(block.data(), other.data(), got) == 0;
    }
  }
  close_read(&actual);
  for (ReadFile& candidate : candidates) close_read(&candidate);
  if (!read) {
    note(check, kFindingUnreadable, start, nullptr, actual.reason);
    return nullptr;
  }
  if (same[0] || same[1]) return kChoices[same[0] ? 0 : 1];
  note(check, kFindingDiffersFromNeither, start);
  return nullptr;
}

// Compares a vlx.ini with the text a run writes.
void check_config(Check* check, const wchar_t* directory, const std::string& expected) {
  wchar_t path[kPathCapacity];
  format_path(path, kPathCapacity, L"%s" PATH_SEP L"vlx.ini", directory);
  if (is_symbolic_link(path)) {
    note(check, kFindingLink, path);
    return;
  }
  ReadFile file = open_read(*check, path);
  if (note_unopened(check, file, path, kFindingMissing)) return;
  std::string bytes(expected.size() + 1, '\0');  // a byte more tells a longer file
  size_t got = 0;
  if (!read_block(&file, &bytes[0], bytes.size(), &got)) {
    note(check, kFindingUnreadable, path, nullptr, file.reason);
  } else if (got != expected.size() || bytes.compare(0, got, expected) != 0) {
    note(check, kFindingDiffers, path);
  }
  close_read(&file);
}

// True when bin is missing (each file is then missing) or can be looked
// into; otherwise one finding, with the reason, stands for all its files.
bool check_bin(Check* check) {
  const wchar_t* bin = check->state->bin_dir;
  if (!file_exists(bin) || can_list_directory(bin)) return true;
  note(check, kFindingUnreadable, bin, nullptr, describe_last_error());
  return false;
}

void check_leftovers(Check* check, const wchar_t* directory) {
  for (const std::wstring& name : list_replacement_leftovers(directory)) {
    std::wstring path = std::wstring(directory) + kPathSeparator + name;
    std::wstring replaced = running_program_moved_aside(directory, name);
    if (replaced.empty()) {
      note(check, kFindingLeftOver, path.c_str());
    } else {
      check->in_use.push_back({0, kProgramInUse, relative(*check, path.c_str()), replaced, std::wstring()});
    }
  }
}

void print_findings(Check* check) {
  std::stable_sort(check->findings.begin(), check->findings.end(),
                   [](const Finding& a, const Finding& b) { return a.order < b.order; });
  for (const Finding& finding : check->findings) {
    print_message(kStandardOutput, finding.format, finding.first.c_str(), finding.second.c_str());
    if (!finding.reason.empty()) print_message(kStandardOutput, kReason, finding.reason.c_str());
  }
  for (const Finding& program : check->in_use) {
    print_message(kStandardOutput, program.format, program.first.c_str(), program.second.c_str());
  }
}

}  // namespace

int check_installation(const RunState* state) {
  Check check = {state, {}, {}, true};
  check.bin_usable = check_bin(&check);
  for (const wchar_t* const* name = kExecutables; *name; ++name) check_copy(&check, state->runtime_bin_dir, *name);
  for (const wchar_t* const* name = kBootFiles; *name; ++name) check_copy(&check, state->release_dir, *name);
  const wchar_t* start_up = check.bin_usable ? check_start_boot(&check) : nullptr;
  std::string config = launcher_config_text(state);
  check_config(&check, state->runtime_bin_dir, config);
  if (check.bin_usable) {
    check_config(&check, state->bin_dir, config);
    check_leftovers(&check, state->bin_dir);
  }
  check_leftovers(&check, state->runtime_bin_dir);

  print_findings(&check);
  const std::string& version = state->runtime_version;
  std::wstring shown = decode_utf8(version.data(), version.size());
  std::wstring count = std::to_wstring(check.findings.size());
  if (check.findings.empty()) {
    bool minimal = wcscmp(start_up, L"start_minimal.boot") == 0;
    print_message(kStandardOutput, minimal ? kCheckedMinimal : kCheckedTavrel, shown.c_str());
  } else {
    print_message(kStandardOutput, check.findings.size() == 1 ? kCheckedOneFinding : kCheckedFindings,
                  shown.c_str(), count.c_str());
  }
  return check.findings.empty() ? 0 : 1;
}
