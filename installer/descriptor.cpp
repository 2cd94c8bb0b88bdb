#include "installer/descriptor.h"

#include <string.h>

#include <string>

#include "initfile/initfile.h"
#include "initfile/loader.h"
#include "installer/directories.h"
#include "installer/messages.h"
#include "installer/paths.h"

using namespace vlx;

namespace {

// The first of count names (name_at(i) gives each) that equals name but for
// letter case, or null.
template <typename Name>
const char* find_other_case(int32_t count, Name name_at, const char* name) {
  for (int32_t i = 0; i < count; ++i) {
    if (compare_ignoring_case(name_at(i), name) == 0) return name_at(i);
  }
  return nullptr;
}

// Releases the descriptor before a fatal message: nothing else holds it.
// Where the descriptor has the missing name in another case (other, not
// null), the hint line (hint) names it: a look-up is case-sensitive.
[[noreturn]] void reject(InitFile* descriptor, const char* format, const wchar_t* path, const char* hint = nullptr,
                         const char* other = nullptr) {
  std::wstring found = other ? decode_utf8(other, strlen(other)) : std::wstring();
  free_init_file(descriptor);
  print_message(kStandardError, format, path);
  if (other) print_message(kStandardError, hint, found.c_str());
  exit_process(get_failure_status());
}

// Ends the run for the missing key, naming one the section has in another
// case.
[[noreturn]] void reject_key(InitFile* descriptor, const InitSection* install, const char* format, const char* key,
                             const wchar_t* path) {
  const char* other = find_other_case(install->count, [&](int32_t i) { return install->entries[i]->key; }, key);
  reject(descriptor, format, path, kKeyCaseHint, other);
}

// A descriptor that could not be opened has the system's reason (reason);
// a malformed one the place and the loader's reason: "line 2: <reason>". A
// root taken from the tool's own place without a descriptor there is most
// likely a ROOT left out (the tool run where it was installed).
[[noreturn]] void reject_descriptor(const RunState* state, const wchar_t* path, const std::wstring& reason,
                                    bool missing) {
  print_message(kStandardError, kCannotOpenDescriptor, path);
  print_reason(reason);
  if (missing && state->root_from_location) print_message(kStandardError, kNotBesideDescriptorHint);
  if (missing && state->root.place.directory != kInvalidFile) {
    for (const DirectoryEntry& entry : list_directory_entries(state->root.place)) {
      if (entry.name != L"Install.ini" && compare_ignoring_case(encode_utf8(entry.name.c_str()).c_str(), "Install.ini") == 0) {
        print_message(kStandardError, kFileCaseHint, entry.name.c_str());
        break;
      }
    }
  }
  exit_process(get_failure_status());
}

// The descriptor, loaded from its open file, which is closed; a run ends
// where it cannot be read whole. It is a few lines: one over the limit is
// refused before anything of it is read.
InitFile* load_descriptor(const RunState* state, const wchar_t* path, FileHandle file) {
  const std::uint64_t kLargestDescriptor = 1 << 20;
  std::uint64_t size = 0;
  if (file_size(file, &size) && size > kLargestDescriptor) {
    close_file(file);
    reject_descriptor(state, path, L"larger than 1 MiB: a release descriptor is a few lines", false);
  }
  InitLoadError error = {0, nullptr};
  InitFile* descriptor = load_init_handle(file, &error);
  std::wstring reason = describe_last_error();
  close_file(file);
  if (descriptor) return descriptor;
  if (error.line > 0) {
    reason = L"line " + std::to_wstring(error.line) + L": " + decode_utf8(error.reason, strlen(error.reason));
  }
  reject_descriptor(state, path, reason, false);
}

// Why value cannot name the one directory a version names, or null when it
// can: it becomes part of a path, so it is a name, never a path.
const char* why_not_a_name(const char* value) {
  if (!*value) return "a version names one directory; it cannot be empty";
  if (strcmp(value, ".") == 0) return "a version names one directory; it cannot be '.'";
  if (strcmp(value, "..") == 0) return "a version names one directory; it cannot be '..'";
  for (const char* c = value; *c; ++c) {
    unsigned char byte = static_cast<unsigned char>(*c);
    if (byte == '/') return "a version names one directory; it cannot hold '/'";
    if (byte == '\\') return "a version names one directory; it cannot hold '\\'";
    if (byte == ':') return "a version names one directory; it cannot hold ':'";
    if (byte < 0x20 || byte == 0x7F) return "a version names one directory; it cannot hold control characters";
  }
  return nullptr;
}

// Ends the run when the value of key cannot name a directory.
void check_name(InitFile* descriptor, const wchar_t* key, const char* value, const wchar_t* path) {
  const char* why = why_not_a_name(value);
  if (!why) return;
  free_init_file(descriptor);
  print_message(kStandardError, kBadVersionValue, key, path);
  print_reason(decode_utf8(why, strlen(why)));
  exit_process(get_failure_status());
}

}  // namespace

void read_release_descriptor(RunState* state) {
  wchar_t path[kPathCapacity];
  format_path(path, kPathCapacity, L"%s" PATH_SEP L"Install.ini", state->root_dir);
  bool missing = false;
  std::wstring reason;
  open_install_root(state);
  FileHandle file = open_install_file(state, state->root, L"Install.ini", &missing, &reason);
  if (file == kInvalidFile) reject_descriptor(state, path, reason, missing);
  InitFile* descriptor = load_descriptor(state, path, file);

  InitSection* install = lookup_init_section(descriptor, "Install");
  if (!install) {
    reject(descriptor, kNoInstallSection, path, kSectionCaseHint,
           find_other_case(descriptor->count, [&](int32_t i) { return descriptor->sections[i]->name; }, "Install"));
  }
  const char* version = lookup_init_value(install, "VSN");
  if (!version) reject_key(descriptor, install, kNoVsn, "VSN", path);
  check_name(descriptor, L"VSN", version, path);
  state->runtime_version = version;
  format_path(state->runtime_bin_dir, kPathCapacity, L"%s" PATH_SEP L"vlxcore-%S" PATH_SEP L"bin",
              state->root_dir, state->runtime_version.c_str());

  const char* release = lookup_init_value(install, "SYSTEM_VSN");
  if (!release) reject_key(descriptor, install, kNoSystemVsn, "SYSTEM_VSN", path);
  check_name(descriptor, L"SYSTEM_VSN", release, path);
  state->system_version = release;
  format_path(state->release_dir, kPathCapacity, L"%s" PATH_SEP L"releases" PATH_SEP L"%S",
              state->root_dir, release);
  format_path(state->bin_dir, kPathCapacity, L"%s" PATH_SEP L"bin", state->root_dir);
  std::wstring runtime = L"vlxcore-" + decode_utf8(version, strlen(version)) + PATH_SEP L"bin";
  std::wstring releases = L"releases" PATH_SEP + decode_utf8(release, strlen(release));
  free_init_file(descriptor);
  open_install_directory(state, runtime.c_str(), &state->runtime_bin);
  open_install_directory(state, releases.c_str(), &state->release);
}

void open_bin_directory(RunState* state, bool create) {
  // An existing bin is the normal case on a second run; any other failure
  // shows in the copies that follow.
  if (create && state->root.place.directory != kInvalidFile) create_directory_beneath(state->root.place, L"bin");
  open_install_directory(state, L"bin", &state->bin);
}
