// File deployment through the real executable: the three stages and their
// failure policies. Failures are injected in ways that stop root too.
#include "tests/distribution.h"

using namespace vlx;

namespace {

class DeployTest : public DistributionTest {
 protected:
  std::string source(const fs::path& dir, const wchar_t* name) {
    return encode_utf8(native_path(dir, {name}).c_str());
  }
  std::string copy_failed(const fs::path& from, const wchar_t* name) {
    return "Could not copy file " + source(from, name) + " to " + source(bin_dir, name) + "\n";
  }
};

const char kContinuing[] = "Continuing installation anyway...\n";
const char kBailingOut[] = "Cannot continue installation, bailing out.\n";

TEST_F(DeployTest, MissingLauncherIsFatalAfterTheOnesBefore) {
  fs::remove(runtime_bin_dir / "sigscan.exe");
  expect_failure(run_silent(), "Could not find file " + source(runtime_bin_dir, L"sigscan.exe") + "\n");
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(fs::exists(bin_dir / kLaunchers[i]));
  EXPECT_FALSE(fs::exists(bin_dir / "vlxrun.exe"));
  EXPECT_FALSE(fs::exists(bin_dir / "start_minimal.boot"));
}

TEST_F(DeployTest, LauncherThatCannotBeCopiedIsAWarning) {
  // A target in use is simulated by a directory of its name in bin; a
  // directory named like a launcher in the source counts as present.
  fs::create_directories(bin_dir / "vlxwin.exe");
  fs::remove(runtime_bin_dir / "testdrv.exe");
  fs::create_directory(runtime_bin_dir / "testdrv.exe");
  ProcessResult result = run_interactive("\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, success_output());
  EXPECT_EQ(result.err, console_text(copy_failed(runtime_bin_dir, L"vlxwin.exe") + kContinuing +
                                     copy_failed(runtime_bin_dir, L"testdrv.exe") + kContinuing));
  EXPECT_EQ(read_contents(bin_dir / "vlxrun.exe"), read_contents(runtime_bin_dir / "vlxrun.exe"));
  EXPECT_EQ(read_contents(bin_dir / "start.boot"), "boot start_tavrel.boot\n");
  EXPECT_EQ(read_contents(bin_dir / "vlx.ini"), expected_config(to_wide(root)));
}

TEST_F(DeployTest, FailedCopyLeavesTheExistingTargetIntact) {
  write_contents(bin_dir / "vlx.exe", "installed before");
  fs::remove(runtime_bin_dir / "vlx.exe");
  fs::create_directory(runtime_bin_dir / "vlx.exe");
  ProcessResult result = run_silent();
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, console_text(copy_failed(runtime_bin_dir, L"vlx.exe") + kContinuing));
  EXPECT_EQ(read_contents(bin_dir / "vlx.exe"), "installed before");
  // Nothing but the installed files is left in bin.
  int entries = 0;
  for (const auto& entry : fs::directory_iterator(bin_dir)) entries += entry.exists();
  EXPECT_EQ(entries, 7 + 3 + 2);
}

TEST_F(DeployTest, TargetsHeldOpenByAnotherProgramAreNotReplaced) {
  ASSERT_EQ(run_silent().status, 0);
  FileHandle held = hold_file_unshared(to_wide(bin_dir / "vlxwin.exe"));
  if (held == kInvalidFile) GTEST_SKIP() << "files cannot be held unshared here";
  write_contents(runtime_bin_dir / "vlxwin.exe", "launcher, release two\n");
  ProcessResult result = run_interactive("\n");
  close_file(held);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, success_output());
  EXPECT_EQ(result.err, console_text(copy_failed(runtime_bin_dir, L"vlxwin.exe") + kContinuing));
  EXPECT_EQ(read_contents(bin_dir / "vlxwin.exe"), "launcher vlxwin.exe\n");

  held = hold_file_unshared(to_wide(bin_dir / "start_tavrel.boot"));
  expect_failure(run_silent(), copy_failed(release_dir, L"start_tavrel.boot") + kBailingOut);
  close_file(held);
  int entries = 0;  // no temporary file is left beside them
  for (const auto& entry : fs::directory_iterator(bin_dir)) entries += entry.exists();
  EXPECT_EQ(entries, 7 + 3 + 2);
}

TEST_F(DeployTest, ReadOnlyFilesOfAnEarlierInstallationAreReplaced) {
  // Linux renames over them; so does Wine, where Windows itself refuses
  // (docs/messages.md says what a user then sees).
  ASSERT_EQ(run_silent().status, 0);
  fs::permissions(bin_dir / "vlx.exe", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  write_contents(runtime_bin_dir / "vlx.exe", "launcher, release two\n");
  ProcessResult result = run_silent();
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(read_contents(bin_dir / "vlx.exe"), "launcher, release two\n");
}

TEST_F(DeployTest, BootFileProblemsAreFatal) {
  fs::remove(release_dir / "start_tavrel.boot");
  expect_failure(run_silent(), "Could not find file " + source(release_dir, L"start_tavrel.boot") + "\n");
  EXPECT_TRUE(fs::exists(bin_dir / "start_minimal.boot"));
  EXPECT_FALSE(fs::exists(bin_dir / "start.boot"));

  fs::create_directory(release_dir / "start_tavrel.boot");
  expect_failure(run_silent(), copy_failed(release_dir, L"start_tavrel.boot") + kBailingOut);
  fs::remove(release_dir / "start_tavrel.boot");
  write_contents(release_dir / "start_tavrel.boot", "boot start_tavrel.boot\n");

  fs::create_directories(bin_dir / "no_dot_vorlax.boot");
  expect_failure(run_silent(), copy_failed(release_dir, L"no_dot_vorlax.boot") + kBailingOut);
  EXPECT_FALSE(fs::exists(runtime_bin_dir / "vlx.ini"));
}

TEST_F(DeployTest, StartBootIsCopiedFromBin) {
  fs::create_directories(bin_dir / "start.boot");
  std::string from = source(bin_dir, L"start_minimal.boot");
  expect_failure(run_silent(), "Could not copy file " + from + " to " + source(bin_dir, L"start.boot") +
                                   "\n" + kBailingOut);
  EXPECT_EQ(read_contents(bin_dir / "start_minimal.boot"), "boot start_minimal.boot\n");
}

TEST_F(DeployTest, BinThatIsAFileFailsEveryCopy) {
  write_contents(bin_dir, "not a directory");
  std::string expected;
  for (const std::wstring& name : kLaunchers) expected += copy_failed(runtime_bin_dir, name.c_str()) + kContinuing;
  expected += copy_failed(release_dir, L"start_minimal.boot") + kBailingOut;
  expect_failure(run_silent(), expected);
  EXPECT_EQ(read_contents(bin_dir), "not a directory");
}

}  // namespace
