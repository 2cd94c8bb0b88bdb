// Names of the temporary files that replacements write, shared by both
// backends: ".vlxinstall-" and six letters or digits, in the directory of the
// file they replace.
#ifndef VLX_PLATFORM_TEMPORARY_NAME_H
#define VLX_PLATFORM_TEMPORARY_NAME_H

#include <string>

namespace vlx {

// A new random temporary file name, without a directory.
std::string make_temporary_name();

// True when name (without a directory) has the form make_temporary_name gives.
bool is_temporary_name(const std::string& name);

// The directory part of path, with its separator; empty when there is none.
std::wstring directory_of(const std::wstring& path);

// What a use of a temporary name came to.
enum NameUse { kNameUsed, kNameTaken, kNameFailed };

// Gives use new temporary names in directory (whole paths, also left in
// *name) until it reports one used (true) or a failure other than a name
// already taken (false); false also after 100 taken names.
template <typename Use>
bool with_temporary_name(const std::wstring& directory, std::wstring* name, Use use) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string random = make_temporary_name();
    *name = directory + std::wstring(random.begin(), random.end());
    NameUse result = use(*name);
    if (result != kNameTaken) return result == kNameUsed;
  }
  return false;
}

}  // namespace vlx

#endif  // VLX_PLATFORM_TEMPORARY_NAME_H
