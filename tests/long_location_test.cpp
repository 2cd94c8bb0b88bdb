// A tool placed deeper than the system's path limit cannot name its own
// file. Built on POSIX systems only, where a directory can be reached
// step by step beyond that limit.
#include "tests/tool_runner.h"

using namespace vlx;

namespace {

using LongLocationTest = ScratchTest;

TEST_F(LongLocationTest, ToolThatCannotNameItsOwnFileFails) {
  fs::path original = locate_sibling_program(L"vlxinstall");
  fs::path start = fs::current_path();
  const std::string level(200, 'd');
  int depth = 0;
  fs::current_path(scratch);
  for (; depth * (level.size() + 1) <= static_cast<size_t>(kPathCapacity); ++depth) {
    fs::create_directory(level);
    fs::current_path(level);
  }
  fs::copy_file(original, "vlxinstall");
  ProcessResult result = run_process(L"./vlxinstall", {L"-s"}, L".", "");

  fs::remove("vlxinstall");
  for (; depth > 0; --depth) {
    fs::current_path("..");
    fs::remove(level);
  }
  fs::current_path(start);
  // A sanitizer runtime cannot name the file either, and says so first.
  std::string::size_type warning = result.err.find("WARNING: reading executable name failed");
  if (result.err.rfind("==", 0) == 0 && warning != std::string::npos) {
    result.err.erase(0, result.err.find('\n', warning) + 1);
  }
  expect_failure(result, "Could not GetModuleFileName()\n");
}

}  // namespace
