#include "tests/tool_runner.h"

#include <algorithm>
#include <fstream>
#include <sstream>

using namespace vlx;


fs::path to_path(const std::wstring& wide) { return fs::u8path(encode_utf8(wide.c_str())); }

std::wstring to_wide(const fs::path& path) {
  std::string bytes = path.u8string();
  return decode_utf8(bytes.data(), bytes.size());
}

void ScratchTest::SetUp() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string("vlx-") + info->test_suite_name() + "-" + info->name();
  scratch = to_path(make_scratch_directory(decode_utf8(name.data(), name.size())));
  ASSERT_FALSE(scratch.empty()) << "no scratch directory";
}

void ScratchTest::TearDown() {
  std::error_code ignored;
  fs::remove_all(scratch, ignored);
}

ProcessResult ScratchTest::run_tool(const std::vector<std::wstring>& arguments,
                                    const std::string& input) {
  return run_process(locate_sibling_program(L"vlxinstall"), arguments, to_wide(scratch), input);
}

ProcessResult ScratchTest::run_tool_watching(const std::vector<std::wstring>& arguments,
                                             const std::function<void(const std::string& err)>& watch) {
  return run_process_watching(locate_sibling_program(L"vlxinstall"), arguments, to_wide(scratch), "", watch);
}

ProcessResult ScratchTest::run_tool_copy(const fs::path& directory,
                                         const std::vector<std::wstring>& arguments,
                                         const std::string& input) {
  fs::path original = locate_sibling_program(L"vlxinstall");
  fs::path copy = directory / original.filename();
  fs::create_directories(directory);
  fs::copy_file(original, copy, fs::copy_options::overwrite_existing);
  return run_process(to_wide(copy), arguments, to_wide(scratch), input);
}

void write_contents(const fs::path& path, const std::string& contents) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

std::string read_contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> list_directory(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().u8string());
  std::sort(names.begin(), names.end());
  return names;
}

::testing::AssertionResult same_bytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  size_t from = at < 20 ? 0 : at - 20;
  return ::testing::AssertionFailure()
         << "sizes " << actual.size() << " and " << expected.size() << ", first difference at byte " << at
         << ":\n  actual   ..." << ::testing::PrintToString(actual.substr(from, 60))
         << "\n  expected ..." << ::testing::PrintToString(expected.substr(from, 60));
}

std::string message(const char* format, const std::string& first, const std::string& second) {
  const std::string* arguments[] = {&first, &second};
  std::string text;
  int next = 0;
  for (const char* p = format; *p; ++p) {
    if (p[0] == '%' && p[1] == 'S' && next < 2) {
      text += *arguments[next++];
      ++p;
    } else {
      text += *p;
    }
  }
  return text;
}

void expect_failure(const ProcessResult& result, const std::string& message,
                    const std::string& out) {
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, console_text(out));
  EXPECT_EQ(result.err, console_text(message));
}
