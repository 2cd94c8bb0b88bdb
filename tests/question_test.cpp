// The start profile question through the real executable.
#include "tests/distribution.h"

namespace {

using QuestionTest = DistributionTest;

TEST_F(QuestionTest, YesOrYInAnyCaseChoosesTheMinimalStartUp) {
  for (const char* answer : {"y\n", "Y\n", "yes\n", "YES\n", "Yes\n", "yEs\n", "y\r\n", "y",
                             "yes\rtrailing\n"}) {
    SCOPED_TRACE(answer);
    ProcessResult result = run_interactive(answer);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, success_output());
    expect_installed(false);
  }
}

TEST_F(QuestionTest, EveryOtherAnswerKeepsTheStandardStartUp) {
  std::string long_yes = "y" + std::string(149, ' ');  // only 99 characters are compared
  for (const std::string& answer : {std::string("\n"), std::string("yeah\n"), std::string("n\n"),
                                    std::string("no\n"), std::string("0\n"), std::string(" y\n"),
                                    std::string("y \n"), std::string("\r\n"), long_yes + "\n",
                                    std::string("ye\0s\n", 5)}) {
    SCOPED_TRACE(answer);
    ProcessResult result = run_interactive(answer);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, success_output());
    expect_installed(true);
  }
}

TEST_F(QuestionTest, RestOfALongLineIsDiscardedUpToEndOfInput) {
  // Without a line feed the discarding stops at the end of input.
  ProcessResult result = run_interactive(std::string(300, 'x'));
  EXPECT_EQ(result.status, 0);
  expect_installed(true);
}

TEST_F(QuestionTest, NoInputAtAllEndsTheRunBeforeTheDescriptor) {
  fs::remove(root / "Install.ini");
  expect_failure(run_interactive(""), "Could not read answer from user.\n", kPrompt);
  EXPECT_FALSE(fs::exists(bin_dir));
}

}  // namespace
