// Runs the built tool in a fresh scratch directory, as a user would.
#ifndef VLX_TESTS_TOOL_RUNNER_H
#define VLX_TESTS_TOOL_RUNNER_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <functional>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/support/testing.h"

namespace fs = std::filesystem;

// Conversions between paths and wide strings that hold for every name (the
// standard library converts wide strings in the "C" locale on POSIX).
fs::path to_path(const std::wstring& wide);
std::wstring to_wide(const fs::path& path);

// A fixture with its own empty directory, removed after the test.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs vlxinstall from the build with arguments and standard input.
  vlx::ProcessResult run_tool(const std::vector<std::wstring>& arguments, const std::string& input = "");
  // Runs vlxinstall as run_tool does, calling watch with its standard error
  // so far while it runs (run_process_watching).
  vlx::ProcessResult run_tool_watching(const std::vector<std::wstring>& arguments,
                                       const std::function<void(const std::string& err)>& watch);
  // Runs a copy of vlxinstall placed in directory.
  vlx::ProcessResult run_tool_copy(const fs::path& directory, const std::vector<std::wstring>& arguments,
                              const std::string& input = "");

  fs::path scratch;
};

// Writes contents to path, creating its parent directories.
void write_contents(const fs::path& path, const std::string& contents);
// The whole contents of path; empty when it cannot be read.
std::string read_contents(const fs::path& path);
// The names in a directory, in order.
std::vector<std::string> list_directory(const fs::path& directory);

// Success when actual and expected hold the same bytes; otherwise says where
// they first differ, with a little of each around it, so that a failure on
// megabytes prints lines, not megabytes.
::testing::AssertionResult same_bytes(const std::string& actual, const std::string& expected);

// A message of the tool (installer/messages.h) with each "%S" replaced by the
// next argument.
std::string message(const char* format, const std::string& first = "", const std::string& second = "");

// The result of a run that is expected to fail: status 1, nothing on
// standard output, exactly message (with console line ends) on standard error.
void expect_failure(const vlx::ProcessResult& result, const std::string& message,
                    const std::string& out = "");

#endif  // VLX_TESTS_TOOL_RUNNER_H
