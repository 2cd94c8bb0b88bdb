// What the replacement services of both backends share: the names of the
// files a replacement makes beside its target, and the note of what a failed
// replacement left of its target.
//
// A temporary file of an installation is named ".vlxinstall-" and six
// letters or digits, which the installer's sweep finds. A store for another
// program names its own after its target, ".NAME.", six letters or digits
// and ".tmp", so that whoever finds one knows what it was. A running
// program that Windows lets rename but not replace goes aside as
// ".vlxinstall-", six letters or digits, '-' and the name it had, so that a
// later run can tell where it belongs.
#ifndef VLX_PLATFORM_REPLACEMENT_H
#define VLX_PLATFORM_REPLACEMENT_H

#include <string>

#include "platform/platform.h"

namespace vlx {

// A new random temporary file name, without a directory.
std::string make_temporary_name();

// A new random name (without a directory) for the temporary file of a store
// to target (a name without a directory): "." target "." six letters or
// digits ".tmp", target cut short where the whole would pass 255 bytes in
// UTF-8, the most a name may have.
std::wstring make_store_temporary_name(const std::wstring& target);

// True when name (without a directory) has the form make_temporary_name gives.
bool is_temporary_name(const std::string& name);

// The name of a temporary file (temporary, from make_temporary_name) that
// holds what was named original.
std::wstring make_aside_name(const std::wstring& temporary, const std::wstring& original);

// The name that name (without a directory), made by make_aside_name, had
// before it went aside; empty when name is no such name.
std::wstring original_of_aside_name(const std::wstring& name);

// What a use of a temporary name came to.
enum NameUse { kNameUsed, kNameTaken, kNameFailed };

// Gives use new names from make (without a directory, also left in *name)
// until it reports one used (true) or a failure other than a name already
// taken (false); false also after 100 taken names.
template <typename Make, typename Use>
bool with_new_name(std::wstring* name, Make make, Use use) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = make();
    NameUse result = use(*name);
    if (result != kNameTaken) return result == kNameUsed;
  }
  return false;
}

// with_new_name with the names of make_temporary_name.
template <typename Use>
bool with_temporary_name(std::wstring* name, Use use) {
  return with_new_name(name, [] {
    std::string random = make_temporary_name();
    return std::wstring(random.begin(), random.end());
  }, use);
}

// with_new_name with temporary names for a store: of make_store_temporary_name
// for the target named store_target, or of make_temporary_name where it is
// empty (an installation's file).
template <typename Use>
bool with_store_temporary_name(const std::wstring& store_target, std::wstring* name, Use use) {
  if (store_target.empty()) return with_temporary_name(name, use);
  return with_new_name(name, [&] { return make_store_temporary_name(store_target); }, use);
}

// Records, for last_target_damage, what the replacement failing on this
// thread left of its target; moved_to is where a program moved aside is.
void note_target_damage(TargetDamage damage, const std::wstring& moved_to = std::wstring());

// Makes the error of the calling thread a refusal of the platform's own,
// which describe_last_error gives as text (the link rule's, a file that is
// no regular file).
void set_refusal(const std::wstring& text);

// ---- What each backend gives copy_file and the staged files ----

// Opens the regular file source to be copied (on Windows waiting out a brief
// hold). kInvalidFile when it cannot be opened or is no regular file (a
// directory fails as copying one does: EISDIR, ERROR_ACCESS_DENIED).
FileHandle open_copy_source(const wchar_t* source);

// True when the name that target replaces holds the open file source
// itself, under another name (a hard link) or the same one; a link at the
// name is never the file.
bool is_same_file(FileHandle source, const FileReplacement& target);

// Writes the rest of the open file source into the replacement, with the
// source's modification time, and sets the mode the copy gets at the close
// (its permission bits; on Windows its attributes added to the replaced
// file's). A device written in place gets the bytes alone.
bool copy_into_replacement(FileHandle source, FileReplacement* replacement);

// Opens the target of a replacement that begin_replacement deferred
// (in_place set) for writing in place now.
bool open_deferred_in_place(FileReplacement* replacement);

// A second handle of the open file, or kInvalidFile.
FileHandle duplicate_file(FileHandle file);

// Saves the bytes, permission bits and times of the regular file that
// replacement is to write in place, in a private file of the system's
// temporary directory that no name reaches (or none for long) and that goes
// with the process: copy_into_replacement from it gives the target back as
// it was. kInvalidFile when it cannot be saved; the error says why.
FileHandle save_in_place_target(FileReplacement* replacement);

// A new handle that reads the closed temporary file of replacement from its
// start; kInvalidFile when there is none.
FileHandle open_staged_for_reading(const FileReplacement& replacement);

// Keeps the file that replacement is about to replace under an aside name
// (make_aside_name) in its directory, left in *kept: a hard link, so that its
// name stays filled, or where links cannot be made, the file itself moved
// there (*moved set). False when neither could be done.
bool keep_replaced_file(FileReplacement* replacement, std::wstring* kept, bool* moved);

// Puts the kept file back over the target of replacement (kept empty: the
// target had no file before, and the new one is removed). False when that
// fails.
bool put_back_replaced_file(const FileReplacement& replacement, const std::wstring& kept);

// Gives the old file, kept under the name kept, back the attributes that its
// replacement cleared for the move (Windows, where renames have no POSIX
// semantics), so that its other names and a put-back find it as it was.
void give_back_attributes(const FileReplacement& replacement, const std::wstring& kept);

// Removes the kept name once the replacement stands; a running program's
// (Windows) stays for a later sweep. kept is in the directory of
// replacement.
void remove_kept_file(const FileReplacement& replacement, const std::wstring& kept);

}  // namespace vlx

#endif  // VLX_PLATFORM_REPLACEMENT_H
