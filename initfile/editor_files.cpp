// Edits of files: the text read whole from a file, stored back only over
// the file as it was read, and the hold on a file for a read-change-store.
#include <string.h>

#include <new>
#include <string>

#include "editor_model.h"
#include "loader.h"
#include "platform/platform.h"
#include "writer_internal.h"

using namespace vlx;

struct InitFileHold {
  vlx::FileHold hold;
};

namespace {

const char kInitNoFile[] = "the file does not exist";

// The whole file at path in *text; false when it cannot be opened or read
// to its end.
bool read_whole_file(const wchar_t* path, std::string* text, InitLoadError* report) {
  FileHandle file = open_file_for_reading(path);
  if (file == kInvalidFile) {
    if (report) *report = {0, kInitCannotOpen};
    return false;
  }
  bool read = read_all(file, text);
  if (!read && report) *report = {0, kInitReadError};
  close_file(file);
  return read;
}

bool write_text(FileHandle file, const void* context) {
  const std::string& text = *static_cast<const std::string*>(context);
  const size_t kPart = size_t(1) << 30;
  for (size_t at = 0; at < text.size(); at += kPart) {
    uint32_t size = static_cast<uint32_t>(text.size() - at < kPart ? text.size() - at : kPart), written = 0;
    if (!write_file(file, text.data() + at, size, &written) || written != size) return false;
  }
  return true;
}

// open_init_edit, which may find a file larger than the memory it may use.
InitEdit* open_edit_of_file(const wchar_t* path, InitLoadError* report) {
  std::string text;
  InitLoadError read = {0, nullptr};
  // Taken before the read: a change while it reads shows at the store.
  std::string signature = file_signature(path);
  InitEdit* edit = nullptr;
  if (read_whole_file(path, &text, &read)) {
    edit = open_edit_of(std::move(text), report);
  } else {
    // Only "no such file" is a file to create; any other failure (no
    // permission, a loop of links) is an error, not an empty file.
    bool missing = read.reason == kInitCannotOpen && last_error_means_no_file();
    if (report) *report = {0, missing ? kInitNoFile : read.reason};
    if (missing) edit = make_edit(std::string());
  }
  if (edit) {
    edit->path = path;
    edit->signature = signature;
  }
  return edit;
}

// Runs open, which makes an edit; where a block it needs cannot be had, no
// edit, with the out-of-memory report and error.
template <typename Open>
InitEdit* open_within_memory(InitLoadError* report, Open open) {
  try {
    return open();
  } catch (const std::bad_alloc&) {
    if (report) *report = {0, kInitOutOfMemory};
    set_out_of_memory_error();
    return nullptr;
  }
}

}  // namespace

InitEdit* open_init_edit(const wchar_t* path, InitLoadError* report) {
  return open_within_memory(report, [&] { return open_edit_of_file(path, report); });
}

InitEdit* open_init_edit_text(const char* text, size_t length, InitLoadError* report) {
  return open_within_memory(report, [&] { return open_edit_of(std::string(text, length), report); });
}

int store_init_edit(const InitEdit* edit, const wchar_t* path) {
  if (!edit) {
    set_invalid_argument_error();  // an edit a move took: never an empty file
    return -1;
  }
  // Over the file it was read from, only as it was read: another's change stands.
  bool own = !edit->path.empty() && edit->path == path;
  int stored = store_init_bytes(path, write_text, &edit->text, own ? &edit->signature : nullptr);
  if (own && stored == 0) edit->signature = file_signature(path);
  return stored;
}

int hold_init_file(const wchar_t* path, InitFileHold** hold) {
  FileHold taken;
  LockResult result = hold_file_for_change(path, &taken);
  if (result != kLockTaken) return result == kLockHeld ? 1 : -1;
  *hold = new (std::nothrow) InitFileHold{taken};
  if (*hold) return 0;
  release_file_hold(&taken);
  set_out_of_memory_error();
  return -1;
}

void release_init_file(InitFileHold* hold) {
  if (!hold) return;
  release_file_hold(&hold->hold);
  delete hold;
}
