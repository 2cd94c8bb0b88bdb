#include "installer/check.h"

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "initfile/initfile.h"
#include "installer/check_report.h"
#include "installer/directories.h"
#include "installer/file_tables.h"
#include "installer/launcher_config.h"
#include "installer/messages.h"
#include "installer/paths.h"

using namespace vlx;

namespace {

struct Check {
  const RunState* state;
  CheckResult result;
  bool bin_usable;  // bin is missing or a directory the check can look into
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
  const char* kind = format == kFindingDiffersFrom || format == kFindingDiffersFromNeither ||
                             format == kFindingLink || format == kFindingDiffersValue
                         ? kFindingDiffers
                     : format == kFindingLeftOverOfUser ? kFindingLeftOver
                                                        : format;
  int order = static_cast<int>(std::find(std::begin(kOrder), std::end(kOrder), kind) - std::begin(kOrder));
  bool path = format == kFindingDiffersFrom;  // other second arguments are no paths
  check->result.findings.push_back({order, format, relative(*check, first),
                             second ? (path ? relative(*check, second) : std::wstring(second)) : std::wstring(),
                             reason});
}

// A file opened to be read; a missing one and one that cannot be read are
// findings of their own.
struct ReadFile {
  FileHandle handle = kInvalidFile;
  bool missing = false;
  std::wstring reason;  // why it could not be opened or read
};

// Opens name in directory, judged by its handle: a FIFO is refused at once,
// a link on the way only under the link rule, a link out of the root not
// followed.
ReadFile open_read(const Check& check, const InstallDirectory& directory, const wchar_t* name) {
  ReadFile file;
  file.handle = open_install_file(check.state, directory, name, &file.missing, &file.reason);
  return file;
}

void close_read(ReadFile* file) {
  if (file->handle != kInvalidFile) close_file(file->handle);
  file->handle = kInvalidFile;
}

// Reads up to size bytes at offset, as many as there are; false (with the
// reason) on a read error.
bool read_block(ReadFile* file, std::uint64_t offset, char* buffer, size_t size, size_t* got) {
  *got = 0;
  while (*got < size) {
    std::uint32_t count = 0;
    if (!read_file_at(file->handle, offset + *got, buffer + *got, static_cast<std::uint32_t>(size - *got), &count)) {
      file->reason = describe_last_error();
      return false;
    }
    if (count == 0) break;
    *got += count;
  }
  return true;
}

enum Sameness { kSame, kDifferent, kUnread };

// Compares [from, end) of two open files.
Sameness compare_range(ReadFile* a, ReadFile* b, std::uint64_t from, std::uint64_t end) {
  const size_t kBlock = 1 << 16;
  std::vector<char> left(kBlock), right(kBlock);
  for (std::uint64_t at = from; at < end;) {
    size_t want = end - at < kBlock ? static_cast<size_t>(end - at) : kBlock;
    size_t got_left = 0, got_right = 0;
    if (!read_block(a, at, left.data(), want, &got_left) || !read_block(b, at, right.data(), want, &got_right)) {
      return kUnread;
    }
    if (got_left != got_right || memcmp(left.data(), right.data(), got_left) != 0) return kDifferent;
    if (got_left < want) return kSame;  // both ended early: they changed under the check
    at += want;
  }
  return kSame;
}

// The end of the data that starts at or after from in file, or from where
// it holds a hole there; false (with the reason) when it cannot be told.
bool data_end(ReadFile* file, std::uint64_t from, std::uint64_t size, std::uint64_t* data, std::uint64_t* end) {
  if (find_data(file->handle, from, size, data, end)) return true;
  file->reason = describe_last_error();
  return false;
}

// Compares two open files byte for byte: files of different sizes differ,
// and of the rest only the stretches where either holds data are read, the
// holes of both being the same zeros.
Sameness compare(ReadFile* a, ReadFile* b) {
  std::uint64_t size = 0, other = 0;
  for (ReadFile* file : {a, b}) {
    if (!file_size(file->handle, file == a ? &size : &other)) {
      file->reason = describe_last_error();
      return kUnread;
    }
  }
  if (size != other) return kDifferent;
  for (std::uint64_t at = 0; at < size;) {
    std::uint64_t data_a = 0, end_a = 0, data_b = 0, end_b = 0;
    if (!data_end(a, at, size, &data_a, &end_a) || !data_end(b, at, size, &data_b, &end_b)) return kUnread;
    std::uint64_t from = std::min(data_a, data_b);
    if (from >= size) break;
    // Where one holds a hole at from, the other's data runs past it.
    std::uint64_t end = std::max(data_a == from ? end_a : from, data_b == from ? end_b : from);
    Sameness same = compare_range(a, b, from, end);
    if (same != kSame) return same;
    at = end;
  }
  return kSame;
}

// Notes what is wrong with file at path: missing, or unreadable with its
// reason. False when it was not opened.
bool note_unopened(Check* check, const ReadFile& file, const wchar_t* path, const char* missing) {
  if (file.missing) note(check, missing, path);
  if (!file.missing && file.handle == kInvalidFile) note(check, kFindingUnreadable, path, nullptr, file.reason);
  return file.handle == kInvalidFile;
}

// Compares a copy with its source, as a run would make it.
void check_copy(Check* check, const InstallDirectory& source_dir, const wchar_t* source_path, const wchar_t* name) {
  wchar_t source[kPathCapacity], target[kPathCapacity];
  format_path(source, kPathCapacity, L"%s" PATH_SEP L"%s", source_path, name);
  format_path(target, kPathCapacity, L"%s" PATH_SEP L"%s", check->state->bin_dir, name);
  ReadFile from = open_read(*check, source_dir, name);
  bool unopened = note_unopened(check, from, source, kFindingMissingSource);
  // A bin that cannot be looked into has its one finding; a run replaces a
  // link in a file's place by the file.
  const InstallDirectory& bin = check->state->bin;
  bool link = check->bin_usable && bin.place.directory != kInvalidFile && is_link_beneath(bin.place, name);
  if (link) note(check, kFindingLink, target);
  if (!check->bin_usable || link) {
    close_read(&from);
    return;
  }
  ReadFile to = open_read(*check, bin, name);
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
// equals, or null (a finding then says why).
const wchar_t* check_start_boot(Check* check) {
  const wchar_t* const kChoices[] = {L"start_minimal.boot", L"start_tavrel.boot"};
  const InstallDirectory& bin = check->state->bin;
  wchar_t start[kPathCapacity];
  format_path(start, kPathCapacity, L"%s" PATH_SEP L"start.boot", check->state->bin_dir);
  if (bin.place.directory != kInvalidFile && is_link_beneath(bin.place, L"start.boot")) {
    note(check, kFindingLink, start);
    return nullptr;
  }
  ReadFile actual = open_read(*check, bin, L"start.boot");
  if (note_unopened(check, actual, start, kFindingMissing)) return nullptr;
  const wchar_t* chosen = nullptr;
  bool read = true;
  for (const wchar_t* choice : kChoices) {
    ReadFile candidate = open_read(*check, bin, choice);
    Sameness same = candidate.handle == kInvalidFile ? kDifferent : compare(&actual, &candidate);
    close_read(&candidate);
    // Only start.boot's own read errors count: a start-up file that cannot
    // be read has its finding of its own.
    read = read && !(same == kUnread && !actual.reason.empty());
    if (same == kSame && !chosen) chosen = choice;
  }
  close_read(&actual);
  if (!read) {
    note(check, kFindingUnreadable, start, nullptr, actual.reason);
    return nullptr;
  }
  if (chosen) return chosen;
  note(check, kFindingDiffersFromNeither, start);
  return nullptr;
}

// How a vlx.ini (actual) differs from the text a run writes (expected): the
// first key whose value is not the one a run writes, with both values;
// empty where its values are those (it differs in its layout only) or it
// does not load.
std::wstring describe_config_difference(const std::string& actual, const std::string& expected) {
  InitFile* found = load_init_text(actual.data(), actual.size());
  InitFile* wanted = load_init_text(expected.data(), expected.size());
  std::wstring detail;
  InitSection* have = found ? lookup_init_section(found, "vorlax") : nullptr;
  InitSection* want = wanted ? lookup_init_section(wanted, "vorlax") : nullptr;
  for (int32_t i = 0; found && want && detail.empty() && i < want->count; ++i) {
    const InitEntry* entry = want->entries[i];
    const char* value = have ? lookup_init_value(have, entry->key) : nullptr;
    if (value && strcmp(value, entry->value) == 0) continue;
    std::wstring key = decode_utf8(entry->key, strlen(entry->key));
    std::wstring written = L"\"" + decode_utf8(entry->value, strlen(entry->value)) + L"\"";
    detail = key + (value ? L" is \"" + decode_utf8(value, strlen(value)) + L"\"" : std::wstring(L" is not there")) +
             L", a run would write " + written;
  }
  if (found) free_init_file(found);
  if (wanted) free_init_file(wanted);
  return detail;
}

// Compares a vlx.ini in directory (at path_dir) with the text a run writes.
void check_config(Check* check, const InstallDirectory& directory, const wchar_t* path_dir,
                  const std::string& expected) {
  wchar_t path[kPathCapacity];
  format_path(path, kPathCapacity, L"%s" PATH_SEP L"vlx.ini", path_dir);
  if (directory.place.directory != kInvalidFile && is_link_beneath(directory.place, L"vlx.ini")) {
    note(check, kFindingLink, path);
    return;
  }
  ReadFile file = open_read(*check, directory, L"vlx.ini");
  if (note_unopened(check, file, path, kFindingMissing)) return;
  std::string bytes(expected.size() + 1, '\0');  // a byte more tells a longer file
  size_t got = 0;
  if (!read_block(&file, 0, &bytes[0], bytes.size(), &got)) {
    note(check, kFindingUnreadable, path, nullptr, file.reason);
  } else if (got != expected.size() || bytes.compare(0, got, expected) != 0) {
    // What it holds, for the key that differs: a vlx.ini is a few lines, and
    // what is read of a larger file is cut at 64 KiB.
    size_t more = 0;
    if (got == bytes.size()) {
      bytes.resize(std::max<size_t>(got + 1, 1 << 16));
      if (!read_block(&file, got, &bytes[got], bytes.size() - got, &more)) more = 0;
    }
    bytes.resize(got + more);
    std::wstring detail = describe_config_difference(bytes, expected);
    if (detail.empty()) note(check, kFindingDiffers, path);
    if (!detail.empty()) note(check, kFindingDiffersValue, path, detail.c_str());
  }
  close_read(&file);
}

// True when bin is missing (each file is then missing) or can be looked
// into; otherwise one finding, with the reason, stands for all its files.
bool check_bin(Check* check) {
  const InstallDirectory& bin = check->state->bin;
  // A file in bin's place is not missing, though nothing can be found in it.
  bool there = file_exists(check->state->bin_dir);
  if (bin.place.directory == kInvalidFile && bin.missing && !there) return true;
  if (bin.place.directory != kInvalidFile && can_list_directory(bin.place)) return true;
  if (bin.place.directory == kInvalidFile && bin.missing) set_not_a_directory_error();
  std::wstring reason = bin.place.directory == kInvalidFile && !bin.missing ? bin.reason : describe_last_error();
  note(check, kFindingUnreadable, check->state->bin_dir, nullptr, reason);
  return false;
}

void check_leftovers(Check* check, const InstallDirectory& directory, const wchar_t* path_dir) {
  if (directory.place.directory == kInvalidFile) return;
  for (const std::wstring& name : list_replacement_leftovers(directory.place)) {
    std::wstring path = std::wstring(path_dir) + kPathSeparator + name;
    std::wstring replaced = running_program_moved_aside(directory.place, name);
    std::wstring owner = owner_if_another_user(directory.place, name);
    if (replaced.empty()) {
      // One another user made may be theirs to remove: say whose it is.
      if (owner.empty()) {
        note(check, kFindingLeftOver, path.c_str());
      } else {
        note(check, kFindingLeftOverOfUser, path.c_str(), owner.c_str());
      }
    } else {
      check->result.in_use.push_back({0, kProgramInUse, relative(*check, path.c_str()), replaced, std::wstring()});
    }
  }
}

}  // namespace

int check_installation(const RunState* state) {
  Check check = {state, {{}, {}, nullptr}, true};
  check.bin_usable = check_bin(&check);
  for (const wchar_t* const* name = kExecutables; *name; ++name) {
    check_copy(&check, state->runtime_bin, state->runtime_bin_dir, *name);
  }
  for (const wchar_t* const* name = kBootFiles; *name; ++name) {
    check_copy(&check, state->release, state->release_dir, *name);
  }
  check.result.start_up = check.bin_usable ? check_start_boot(&check) : nullptr;
  std::string config = launcher_config_text(state);
  check_config(&check, state->runtime_bin, state->runtime_bin_dir, config);
  if (check.bin_usable) {
    check_config(&check, state->bin, state->bin_dir, config);
    check_leftovers(&check, state->bin, state->bin_dir);
  }
  check_leftovers(&check, state->runtime_bin, state->runtime_bin_dir);
  return state->json ? print_check_json(state, &check.result) : print_check_lines(state, &check.result);
}
