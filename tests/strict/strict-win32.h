// The strict Windows layer of the tests (strict-win32.cpp): Windows'
// documented refusals over the backend's file calls, under Wine.
#ifndef VLX_TESTS_STRICT_STRICT_WIN32_H
#define VLX_TESTS_STRICT_STRICT_WIN32_H

namespace vlx {

// Puts the layer over the backend's table of file calls; a program it is
// linked into has it from before main on, and a second call does nothing.
void install_strict_file_calls();

}  // namespace vlx

#endif  // VLX_TESTS_STRICT_STRICT_WIN32_H
