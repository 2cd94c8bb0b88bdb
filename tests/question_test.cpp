// The start profile question through the real executable.
#include "tests/tool_runner.h"

namespace {

const char kPrompt[] = "Do you want a minimal startup instead of tavrel [No]: ";

using QuestionTest = ScratchTest;

TEST_F(QuestionTest, NoInputAtAllEndsTheRunAfterThePrompt) {
  expect_failure(run_tool({L"root"}, ""), "Could not read answer from user.\n", kPrompt);
}

TEST_F(QuestionTest, SilentRunAsksNothing) {
  ProcessResult result = run_tool({L"-s", L"root"}, "");
  EXPECT_EQ(result.out, "");
}

TEST_F(QuestionTest, PromptIsShownWithoutLineEnd) {
  ProcessResult result = run_tool({L"root"}, "\n");
  EXPECT_EQ(result.out.substr(0, sizeof kPrompt - 1), kPrompt);
}

}  // namespace
