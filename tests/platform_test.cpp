// The file services the installer relies on, on each platform's backend.
#include "tests/tool_runner.h"

using namespace vlx;

namespace {

using PlatformTest = ScratchTest;

bool copy_path(const fs::path& from, const fs::path& to) {
  return copy_file(to_wide(from).c_str(), to_wide(to).c_str());
}

TEST_F(PlatformTest, CopyReplacesTheTargetAndKeepsModeAndTime) {
  std::string big(3 << 20, 'b');
  for (size_t i = 0; i < big.size(); i += 997) big[i] = static_cast<char>(i);
  write_contents(scratch / "source", big);
  write_contents(scratch / "target", "old contents that are longer than nothing");
  auto when = fs::last_write_time(scratch / "source") - std::chrono::hours(240);
  fs::last_write_time(scratch / "source", when);
  if (kPathSeparator == L'/') fs::permissions(scratch / "source", fs::perms::owner_all | fs::perms::group_read);

  ASSERT_TRUE(copy_path(scratch / "source", scratch / "target"));
  EXPECT_EQ(read_contents(scratch / "target"), big);
  EXPECT_EQ(fs::last_write_time(scratch / "target"), when);
  EXPECT_EQ(fs::status(scratch / "target").permissions(), fs::status(scratch / "source").permissions());

  // A link in place of the target stays; the file it names takes the copy.
  if (kPathSeparator != L'/') return;
  write_contents(scratch / "elsewhere" / "named", "old");
  fs::create_symlink("elsewhere/named", scratch / "link");
  ASSERT_TRUE(copy_path(scratch / "source", scratch / "link"));
  EXPECT_TRUE(fs::is_symlink(scratch / "link"));
  EXPECT_EQ(read_contents(scratch / "elsewhere" / "named"), big);

  // A target that is the source itself, through a link or another name.
  fs::create_symlink("source", scratch / "same");
  fs::create_hard_link(scratch / "source", scratch / "other name");
  EXPECT_TRUE(copy_path(scratch / "source", scratch / "same"));
  EXPECT_TRUE(copy_path(scratch / "source", scratch / "other name"));
  EXPECT_EQ(read_contents(scratch / "source"), big);
}

TEST_F(PlatformTest, FailedCopiesLeaveTargetsIntactAndNoLitter) {
  write_contents(scratch / "target", "intact");
  fs::create_directory(scratch / "dir");
  EXPECT_FALSE(copy_path(scratch / "missing", scratch / "target"));
  EXPECT_FALSE(copy_path(scratch / "dir", scratch / "target"));
  EXPECT_EQ(read_contents(scratch / "target"), "intact");
  EXPECT_FALSE(copy_path(scratch / "target", scratch / "dir"));
  EXPECT_TRUE(fs::is_empty(scratch / "dir"));
  EXPECT_FALSE(copy_path(scratch / "target", scratch / "absent" / "target"));
  int entries = 0;
  for (const auto& entry : fs::directory_iterator(scratch)) entries += entry.exists();
  EXPECT_EQ(entries, 2);
}

TEST_F(PlatformTest, OpeningDirectoriesFails) {
  EXPECT_EQ(open_file_for_reading(to_wide(scratch).c_str()), kInvalidFile);
  FileReplacement replacement;
  EXPECT_FALSE(begin_replacement(to_wide(scratch).c_str(), &replacement));
  EXPECT_TRUE(file_exists(to_wide(scratch).c_str()));
  EXPECT_FALSE(file_exists(to_wide(scratch / "absent").c_str()));
}

TEST_F(PlatformTest, ModuleFileNameThatDoesNotFitIsAFailure) {
  wchar_t name[kPathCapacity];
  int length = get_module_file_name(get_module_handle(), name, kPathCapacity);
  ASSERT_GT(length, 0);
  EXPECT_EQ(fs::path(name).filename(), fs::path(locate_sibling_program(L"vlx_tests")).filename());
  EXPECT_EQ(get_module_file_name(get_module_handle(), name, length), 0);
  EXPECT_EQ(get_module_file_name(get_module_handle(), name, length + 1), length);
}

TEST_F(PlatformTest, OneFileWaitsForHoldsOnceAcrossItsSteps) {
  // Times in milliseconds, as a file's steps meet refusals: the move refused
  // from t=5000 on, then the move aside and the move back.
  HeldFileWait wait;
  EXPECT_EQ(next_held_file_pause(&wait, 5000), 1);
  EXPECT_EQ(next_held_file_pause(&wait, 5001), 2);
  EXPECT_EQ(next_held_file_pause(&wait, 5003), 4);
  for (long long pause = 8; pause <= 128; pause *= 2) EXPECT_EQ(next_held_file_pause(&wait, 5100), pause);
  EXPECT_EQ(next_held_file_pause(&wait, 5200), 250);
  EXPECT_EQ(next_held_file_pause(&wait, 6000), 250);
  // The pause never reaches past the end of the wait, which is 2 s after the
  // first refusal, whatever step meets it.
  EXPECT_EQ(next_held_file_pause(&wait, 6900), 100);
  EXPECT_EQ(next_held_file_pause(&wait, 7000), -1);
  EXPECT_EQ(next_held_file_pause(&wait, 7500), -1);  // the move back gets no wait of its own

  // A long copy before the first refusal takes nothing from the wait.
  HeldFileWait late;
  EXPECT_EQ(next_held_file_pause(&late, 1999), 1);
  EXPECT_EQ(next_held_file_pause(&late, 3998), 1);
  EXPECT_EQ(next_held_file_pause(&late, 3999), -1);
  // A clock that reads 0 at the first refusal still starts the wait there.
  HeldFileWait at_zero;
  EXPECT_EQ(next_held_file_pause(&at_zero, 0), 1);
  EXPECT_EQ(next_held_file_pause(&at_zero, 2000), -1);
}

}  // namespace
