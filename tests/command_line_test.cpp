// The command line through the real executable.
#include "tests/tool_runner.h"

using namespace vlx;

namespace {

using CommandLineTest = ScratchTest;

TEST_F(CommandLineTest, RejectsEverySwitchButLowerCaseS) {
  for (const wchar_t* bad : {L"-S", L"-", L"-x", L"-Silent", L"--s"}) {
    SCOPED_TRACE(encode_utf8(bad));
    expect_failure(run_tool({bad}), "Unknown command switch " + encode_utf8(bad) + "\n");
  }
}

TEST_F(CommandLineTest, ReportsTheFirstOffendingArgumentOnly) {
  expect_failure(run_tool({L"r1", L"r2", L"-x"}),
                 "Only one root directory can be specified, parameter r2 is illegal\n");
  expect_failure(run_tool({L"-x", L"r1", L"r2"}), "Unknown command switch -x\n");
  expect_failure(run_tool({L"-s", L"r1", L"-q", L"r2"}), "Unknown command switch -q\n");
  expect_failure(run_tool({L"", L""}),
                 "Only one root directory can be specified, parameter  is illegal\n");
}

TEST_F(CommandLineTest, ShowsArgumentsBeyondAsciiAsUtf8) {
  expect_failure(run_tool({L"-\u00e9t\u00e9"}), "Unknown command switch -\xc3\xa9t\xc3\xa9\n");
  expect_failure(run_tool({L"a", L"\u6839 dir"}),
                 "Only one root directory can be specified, parameter \xe6\xa0\xb9 dir is illegal\n");
}

TEST_F(CommandLineTest, EveryArgumentNotOpenedByADashNamesTheRoot) {
  std::wstring sep(1, kPathSeparator);
  expect_failure(run_tool({L"-s", L"/s"}), "Cannot open init file /s" + encode_utf8(sep.c_str()) + "Install.ini\n");
  expect_failure(run_tool({L"", L"-s"}), "Cannot open init file " + encode_utf8(sep.c_str()) + "Install.ini\n");
  expect_failure(run_tool({L" x ", L"-s"}), "Cannot open init file  x " + encode_utf8(sep.c_str()) + "Install.ini\n");
}

}  // namespace
