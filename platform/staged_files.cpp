// Copies, and files staged to be put in place together, for both backends:
// the steps are the backend's (replacement-posix.cpp, replacement-win32.cpp),
// the order and the putting back are the same everywhere.
#include <algorithm>

#include "platform/platform.h"
#include "platform/replacement.h"

namespace vlx {

namespace {

// Writes the open source into a replacement that is open, and closes it
// (flushed). On failure the replacement is discarded.
bool fill_from(FileHandle source, FileReplacement* replacement) {
  if (copy_into_replacement(source, replacement) && close_replacement(replacement)) return true;
  discard_replacement(replacement);
  return false;
}

bool write_contents(const std::string& contents, FileReplacement* replacement) {
  const char* data = contents.data();
  for (std::size_t left = contents.size(); left > 0;) {
    std::uint32_t count = 0, size = left > (1u << 30) ? 1u << 30 : static_cast<std::uint32_t>(left);
    if (!write_file(replacement->file, data, size, &count)) return false;
    data += count;
    left -= count;
  }
  return true;
}

// Stages the open source for name in directory, or records that the target
// is the source already, or that it is written in place at the commit (the
// source then stays open for it; otherwise it is closed).
bool stage_from(StagedFiles* staged, FileHandle source, const wchar_t* source_path, const Place& directory,
                const wchar_t* name) {
  StagedFile file;
  file.source = source_path;
  bool ok = begin_replacement_in(directory, name, &file.replacement);
  if (ok && is_same_file(source, file.replacement)) {
    file.replacement.replaces = false;  // nothing of it is touched
    discard_replacement(&file.replacement);
    file.unchanged = true;
  } else if (ok && !file.replacement.in_place) {
    ok = fill_from(source, &file.replacement);
  }
  if (ok && file.replacement.in_place) {
    file.source_file = source;
  } else {
    close_file(source);  // a close that succeeds leaves the error of what failed before it
  }
  if (ok) staged->files.push_back(file);
  return ok;
}

}  // namespace

bool copy_file(const wchar_t* source, const wchar_t* target) {
  note_target_damage(kTargetIntact);
  // The source is opened first: a target written in place is never touched
  // for a source that cannot be read.
  FileHandle in = open_copy_source(source);
  if (in == kInvalidFile) return false;
  FileReplacement replacement;
  bool ok = begin_replacement(target, &replacement);
  if (ok && !is_same_file(in, replacement)) {
    ok = fill_from(in, &replacement) && commit_replacement(&replacement);
  }
  discard_replacement(&replacement);
  close_file(in);
  return ok;
}

bool stage_copy(StagedFiles* staged, FileHandle source, const wchar_t* source_path, const Place& directory,
                const wchar_t* name) {
  note_target_damage(kTargetIntact);
  return stage_from(staged, source, source_path, directory, name);
}

bool stage_copy_of(StagedFiles* staged, std::size_t index, const Place& directory, const wchar_t* name) {
  note_target_damage(kTargetIntact);
  // Copied so that the file is staged at index: its staged file; where it
  // has none, what is written in place there (its source or its bytes).
  StagedFile from = staged->files[index];
  FileHandle in = open_staged_for_reading(from.replacement);
  if (in == kInvalidFile && from.source_file != kInvalidFile) in = duplicate_file(from.source_file);
  if (in == kInvalidFile) {
    if (!from.source.empty()) return false;
    return stage_contents(staged, directory, name, from.contents);
  }
  // Written in place, the copy is made at the commit as from was made.
  if (!stage_from(staged, in, from.source.c_str(), directory, name)) return false;
  staged->files.back().contents = from.contents;
  return true;
}

bool stage_contents(StagedFiles* staged, const Place& directory, const wchar_t* name, const std::string& contents) {
  note_target_damage(kTargetIntact);
  StagedFile file;
  file.contents = contents;
  if (!begin_replacement_in(directory, name, &file.replacement)) return false;
  if (!file.replacement.in_place &&
      (!write_contents(contents, &file.replacement) || !close_replacement(&file.replacement))) {
    discard_replacement(&file.replacement);
    return false;
  }
  staged->files.push_back(file);
  return true;
}

namespace {

// Writes the target of a file staged to be written in place over from
// source (or, where that is kInvalidFile, with contents). Its directory
// refused a new file when it was staged, so none is tried again.
bool write_over(const StagedFile& file, FileHandle source, const std::string& contents) {
  FileReplacement replacement = file.replacement;
  bool ok = open_deferred_in_place(&replacement);
  if (ok) {
    ok = (source == kInvalidFile ? write_contents(contents, &replacement)
                                 : copy_into_replacement(source, &replacement)) &&
         close_replacement(&replacement);
    if (!ok) {
      replacement.directory = kInvalidFile;  // the staged file's, closed with it
      discard_replacement(&replacement);
    }
  }
  return ok;
}

// Writes a file staged to be written in place, now, from its source opened
// at staging or its bytes; a target that is its source already is left.
bool write_in_place(const StagedFile& file) {
  FileHandle in = file.source_file;
  if (in != kInvalidFile && is_same_file(in, file.replacement)) return true;
  return write_over(file, in, file.contents);
}

// Gives a file written in place its old bytes, mode and times back.
bool give_back_in_place(const StagedFile& file) { return write_over(file, file.saved, std::string()); }

// Gives every file written in place so far its old self back; those that
// cannot be given back are named in not_restored.
void give_back_written(StagedFiles* staged) {
  for (StagedFile& file : staged->files) {
    if (!file.written) continue;
    if (!give_back_in_place(file)) staged->not_restored.push_back(file.replacement.target);
    file.written = false;
  }
}

// Writes the files staged to be written in place, each saved first. A file
// that fails is given its old bytes back before its failure is reported
// (its damage then says whether that worked); a fatal failure gives every
// file written so far back. False when the commit is ended.
bool write_files_in_place(StagedFiles* staged, CommitFailure failed, void* context) {
  for (std::size_t i = 0; i < staged->files.size(); ++i) {
    StagedFile* file = &staged->files[i];
    if (!file->replacement.in_place || file->unchanged) continue;
    note_target_damage(kTargetIntact);
    file->saved = save_in_place_target(&file->replacement);
    if (file->saved != kInvalidFile && write_in_place(*file)) {
      file->written = true;
      continue;
    }
    // A target that the failure touched gets its old self back, and is
    // called incomplete only where even that fails.
    long error = last_error_code();
    if (file->saved != kInvalidFile && last_target_damage(nullptr) == kTargetIncomplete) {
      note_target_damage(give_back_in_place(*file) ? kTargetIntact : kTargetIncomplete);
    }
    set_last_error_code(error);
    if (!failed(i, context)) {
      give_back_written(staged);
      return false;
    }
  }
  return true;
}

// Moves the new file of file over its target, keeping the old one.
bool move_in(StagedFile* file) {
  FileReplacement* replacement = &file->replacement;
  if (replacement->replaces && !keep_replaced_file(replacement, &file->kept, &file->kept_by_move)) return false;
  if (commit_replacement(replacement)) {
    give_back_attributes(*replacement, file->kept);
    return file->moved = true;
  }
  if (!file->kept.empty()) {
    // The old file goes back to its name, or its extra name goes.
    if (file->kept_by_move) {
      put_back_replaced_file(*replacement, file->kept);
    } else {
      remove_kept_file(*replacement, file->kept);
    }
    file->kept.clear();
  }
  return false;
}

// Puts back every file moved so far, the last first.
void put_back_moved(StagedFiles* staged) {
  for (auto file = staged->files.rbegin(); file != staged->files.rend(); ++file) {
    if (!file->moved) continue;
    if (!put_back_replaced_file(file->replacement, file->kept)) {
      (file->kept.empty() ? staged->not_removed : staged->not_put_back).push_back(file->replacement.target);
    }
    file->moved = false;
    file->kept.clear();
  }
}

// Flushes the directories that received new files; the index of the last
// file moved into the first that fails, or -1.
long flush_directories(const StagedFiles& staged) {
  std::vector<std::wstring> flushed;
  for (std::size_t i = staged.files.size(); i-- > 0;) {
    const StagedFile& file = staged.files[i];
    std::wstring directory = directory_of(file.replacement.target);
    if (!file.moved || std::find(flushed.begin(), flushed.end(), directory) != flushed.end()) continue;
    if (!flush_replacement_directory(file.replacement)) return static_cast<long>(i);
    flushed.push_back(directory);
  }
  return -1;
}

// Closes what a staged file holds open.
void release_staged(StagedFile* file) {
  if (file->source_file != kInvalidFile) close_file(file->source_file);
  if (file->saved != kInvalidFile) close_file(file->saved);
  file->source_file = kInvalidFile;
  file->saved = kInvalidFile;
  // One written in place, or left as it was, has nothing to remove and no
  // damage to note: only its directory is closed.
  if (file->replacement.in_place || file->unchanged) {
    file->replacement.temporary.clear();
    file->replacement.replaces = false;
  }
  discard_replacement(&file->replacement);
}

}  // namespace

bool commit_staged_files(StagedFiles* staged, CommitFailure failed, void* context) {
  staged->not_put_back.clear();
  staged->not_removed.clear();
  staged->not_restored.clear();
  // What is written in place goes first: a failure there ends the commit
  // before anything has moved.
  if (!write_files_in_place(staged, failed, context)) {
    discard_staged_files(staged);
    return false;
  }
  for (std::size_t i = 0; i < staged->files.size(); ++i) {
    StagedFile* file = &staged->files[i];
    note_target_damage(kTargetIntact);
    if (file->unchanged || file->replacement.in_place || move_in(file)) continue;
    bool skip = failed(i, context);
    discard_replacement(&file->replacement);
    if (!skip) {
      put_back_moved(staged);
      give_back_written(staged);
      discard_staged_files(staged);
      return false;
    }
  }
  long unflushed = flush_directories(*staged);
  if (unflushed >= 0) {
    failed(static_cast<std::size_t>(unflushed), context);
    put_back_moved(staged);
    give_back_written(staged);
    discard_staged_files(staged);
    return false;
  }
  for (StagedFile& file : staged->files) {
    if (!file.kept.empty()) remove_kept_file(file.replacement, file.kept);
    file.kept.clear();
    file.moved = false;
    release_staged(&file);
  }
  staged->files.clear();
  return true;
}

void discard_staged_files(StagedFiles* staged) {
  for (StagedFile& file : staged->files) {
    if (file.moved) file.replacement.temporary.clear();  // it stands: nothing to remove
    release_staged(&file);
  }
  staged->files.clear();
}

}  // namespace vlx
