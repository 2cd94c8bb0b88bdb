// Names of the temporary files that replacements write, shared by both
// backends: ".vlxinstall-" and six letters or digits.
#ifndef VLX_PLATFORM_TEMPORARY_NAME_H
#define VLX_PLATFORM_TEMPORARY_NAME_H

#include <string>

namespace vlx {

// A new random temporary file name, without a directory.
std::string make_temporary_name();

// True when name (without a directory) has the form make_temporary_name gives.
bool is_temporary_name(const std::string& name);

}  // namespace vlx

#endif  // VLX_PLATFORM_TEMPORARY_NAME_H
