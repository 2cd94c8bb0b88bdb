// The command line through the real executable.
#include "installer/messages.h"
#include "tests/tool_runner.h"

using namespace vlx;

namespace {

using CommandLineTest = ScratchTest;

std::string unknown_switch(const std::string& argument) {
  return message(kUnknownSwitch, argument) + kTryHelp;
}

TEST_F(CommandLineTest, RejectsEverySwitchButLowerCaseSAndHelp) {
  for (const wchar_t* bad : {L"-S", L"-", L"-x", L"-Silent", L"--s", L"-help", L"--versions", L"-H"}) {
    SCOPED_TRACE(encode_utf8(bad));
    expect_failure(run_tool({bad}), unknown_switch(encode_utf8(bad)));
  }
}

TEST_F(CommandLineTest, HelpAndVersionAskNothingAndTouchNoRoot) {
  struct Case {
    std::vector<std::wstring> arguments;
    const char* out;
  } cases[] = {
      {{L"-h"}, kUsage},           {{L"-?"}, kUsage},
      {{L"--help"}, kUsage},       {{L"r1", L"-s", L"--help", L"-x"}, kUsage},
      {{L"--version"}, kVersion},  {{L"--version", L"r1", L"r2"}, kVersion},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(encode_utf8(c.arguments[0].c_str()));
    ProcessResult result = run_tool(c.arguments);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, console_text(c.out));
    EXPECT_EQ(result.err, "");
  }
  EXPECT_EQ(std::string(kUsage).substr(0, 72),
            "Usage: vlxinstall [-s] [ROOT]\n       vlxinstall --check [--json] [ROOT]\n");
  EXPECT_EQ(std::string(kVersion), "vlxinstall 1.3.0\n");
  // Windows programs also answer "/?"; elsewhere it names a root.
  ProcessResult result = run_tool({L"-s", L"/?"});
  if (kSlashQuestionIsHelp) {
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, console_text(kUsage));
  } else {
    expect_failure(result, message(kCannotOpenDescriptor, "/?/Install.ini") + reason_line(kNoSuchDirectory));
    EXPECT_FALSE(fs::exists("/?"));
  }
  EXPECT_TRUE(fs::is_empty(scratch));
}

TEST_F(CommandLineTest, HelpAndVersionFailWhenTheyCannotBeWritten) {
  std::wstring full = full_device();
  if (full.empty()) GTEST_SKIP() << "no device that refuses writes here";
  for (const wchar_t* argument : {L"--help", L"--version"}) {
    ProcessResult result = run_process_into(locate_sibling_program(L"vlxinstall"), {argument}, to_wide(scratch), "", full);
    EXPECT_EQ(result.status, 1) << encode_utf8(argument);
    EXPECT_EQ(result.err, console_text(std::string(kOutputFailed) + reason_line(kNoSpace)));
  }
}

TEST_F(CommandLineTest, ReportsTheFirstOffendingArgumentOnly) {
  expect_failure(run_tool({L"r1", L"r2", L"-x"}), message(kSecondRoot, "r2"));
  expect_failure(run_tool({L"-x", L"r1", L"r2", L"--help"}), unknown_switch("-x"));
  expect_failure(run_tool({L"-s", L"r1", L"-q", L"r2"}), unknown_switch("-q"));
  expect_failure(run_tool({L"", L""}), message(kSecondRoot, ""));
  // --json goes with --check only.
  expect_failure(run_tool({L"--json", L"r1"}), std::string(kJsonWithoutCheck) + kTryHelp);
}

TEST_F(CommandLineTest, ShowsArgumentsBeyondAsciiAsUtf8) {
  expect_failure(run_tool({L"-\u00e9t\u00e9"}), unknown_switch("-\xc3\xa9t\xc3\xa9"));
  expect_failure(run_tool({L"a", L"\u6839 dir"}), message(kSecondRoot, "\xe6\xa0\xb9 dir"));
}

TEST_F(CommandLineTest, EveryArgumentNotOpenedByADashNamesTheRoot) {
  // A relative root is taken from the current directory; an empty one stays
  // empty, so the descriptor is looked for at the top of the file system.
  // On Windows the system's full path rules apply ("/s" is on the current
  // drive, trailing spaces go), so the expected path is made by them too.
  std::wstring sep(1, kPathSeparator);
  for (const wchar_t* root : {L" x ", L"r\u00e9p", kPathSeparator == L'/' ? L"/s" : L"s"}) {
    SCOPED_TRACE(encode_utf8(root));
    std::wstring joined = root[0] == L'/' ? std::wstring(root) : to_wide(scratch) + sep + root;
    std::string absolute = encode_utf8(make_absolute(joined.c_str()).c_str());
    expect_failure(run_tool({L"-s", root}),
                   message(kCannotOpenDescriptor, absolute + encode_utf8(sep.c_str()) + "Install.ini") +
                       reason_line(kNoSuchDirectory));
  }
  ProcessResult result = run_tool({L"", L"-s"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err.substr(0, result.err.find('\n') + 1),
            console_text(message(kCannotOpenDescriptor, encode_utf8(sep.c_str()) + "Install.ini")));
}

}  // namespace
