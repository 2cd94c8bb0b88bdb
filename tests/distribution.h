// A sample unpacked distribution in a scratch directory, and checks of what
// an installation made of it.
#ifndef VLX_TESTS_DISTRIBUTION_H
#define VLX_TESTS_DISTRIBUTION_H

#include "tests/tool_runner.h"

// The native form of root followed by the given path components.
std::wstring native_path(const fs::path& root, std::initializer_list<const wchar_t*> parts);
std::wstring native_path(const std::wstring& root, std::initializer_list<const wchar_t*> parts);

class DistributionTest : public ScratchTest {
 protected:
  void SetUp() override;

  // Runs the tool on root with the answer line (input) or, with -s, silently.
  vlx::ProcessResult run_interactive(const std::string& input) { return run_tool({to_wide(root)}, input); }
  vlx::ProcessResult run_silent() { return run_tool({L"-s", to_wide(root)}); }

  // Checks every copy in bin against its source, start.boot against the
  // chosen boot file, and both vlx.ini files byte for byte.
  void expect_installed(bool tavrel_start);
  // What a successful interactive run prints.
  std::string success_output() const;

  fs::path root;             // the installation root
  fs::path runtime_bin_dir;  // root/vlxcore-2.4.1/bin
  fs::path release_dir;      // root/releases/9
  fs::path bin_dir;          // root/bin
};

// The launcher configuration the tool writes for root with version 2.4.1, or
// with the given runtime bin directory.
std::string expected_config(const std::wstring& root);
std::string expected_config(const std::wstring& root, const std::wstring& runtime_bin_dir);

extern const std::vector<std::wstring> kLaunchers;
extern const std::vector<std::wstring> kBootFileNames;

#endif  // VLX_TESTS_DISTRIBUTION_H
