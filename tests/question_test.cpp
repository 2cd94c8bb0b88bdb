// The start profile question through the real executable.
#include "installer/messages.h"
#include "tests/distribution.h"

using namespace vlx;

namespace {

class QuestionTest : public DistributionTest {
 protected:
  // Answers with input and checks a whole installation with that start-up.
  void expect_answer_chooses(const std::string& input, bool tavrel_start) {
    SCOPED_TRACE(input);
    ProcessResult result = run_interactive(input);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, success_output());
    EXPECT_EQ(result.err, "");
    expect_installed(tavrel_start);
  }
};

TEST_F(QuestionTest, YesOrYInAnyCaseChoosesTheMinimalStartUp) {
  for (const char* answer : {"y\n", "Y\n", "yes\n", "YES\n", "Yes\n", "yEs\n", "y\r\n", "y",
                             "yes\rtrailing\n"}) {
    expect_answer_chooses(answer, false);
  }
}

TEST_F(QuestionTest, EveryOtherAnswerKeepsTheStandardStartUp) {
  for (const char* answer : {"\n", "yeah\n", "n\n", "no\n", "0\n", " y\n", "y \n", "\r\n"}) {
    expect_answer_chooses(answer, true);
  }
  // Only the first 99 characters are compared; a zero byte ends the answer.
  expect_answer_chooses("y" + std::string(149, ' ') + "\n", true);
  expect_answer_chooses(std::string("ye\0s\n", 5), true);
}

TEST_F(QuestionTest, RestOfALongLineIsDiscardedUpToEndOfInput) {
  // Without a line feed the discarding stops at the end of input.
  ProcessResult result = run_interactive(std::string(300, 'x'));
  EXPECT_EQ(result.status, 0);
  expect_installed(true);
}

TEST_F(QuestionTest, NoInputAtAllEndsTheRunBeforeTheDescriptor) {
  // Standard input at its end, or closed, gets the hint to run silently; a
  // read that fails does not.
  fs::remove(root / "Install.ini");
  std::string ended = std::string(kNoAnswer) + kInputEndedHint;
  expect_failure(run_interactive(""), ended, kPrompt);
  EXPECT_FALSE(fs::exists(bin_dir));
  if (kPathSeparator != L'/') return;
  std::wstring tool = locate_sibling_program(L"vlxinstall");
  for (const auto& [redirection, expected] : {std::pair<std::wstring, std::string>{L"<&-", ended}, {L"</", kNoAnswer}}) {
    SCOPED_TRACE(encode_utf8(redirection.c_str()));
    ProcessResult result = run_process(L"/bin/sh", {L"-c", L"exec \"$0\" \"$1\" " + redirection, tool, to_wide(root)},
                                       to_wide(scratch), "");
    expect_failure(result, expected, kPrompt);
  }
  EXPECT_FALSE(fs::exists(bin_dir));
}

}  // namespace
