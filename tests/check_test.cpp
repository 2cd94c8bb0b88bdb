// vlxinstall --check through the real executable: its findings, its summary
// and status, and that it changes nothing.
#include <map>

#include "installer/messages.h"
#include "tests/distribution.h"

using namespace vlx;

namespace {

// What a tree holds: each entry's path, and a file's bytes and time.
using Snapshot = std::map<std::string, std::pair<std::string, fs::file_time_type>>;

Snapshot take_snapshot(const fs::path& root) {
  Snapshot snapshot;
  if (!fs::exists(root)) return snapshot;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    bool file = entry.is_regular_file();
    snapshot[entry.path().u8string()] = {file ? read_contents(entry.path()) : std::string("<dir>"),
                                         file ? fs::last_write_time(entry.path()) : fs::file_time_type()};
  }
  return snapshot;
}

class CheckTest : public DistributionTest {
 protected:
  // Checks root (or what arguments name) and expects it changed nothing.
  ProcessResult check(std::vector<std::wstring> arguments = {}) {
    if (arguments.empty()) arguments = {L"--check", to_wide(root)};
    Snapshot before = take_snapshot(root);
    ProcessResult result = run_tool(arguments);
    EXPECT_TRUE(take_snapshot(root) == before) << "the check changed the installation";
    return result;
  }
  // A path relative to the root, with the platform's separator.
  static std::string relative(std::initializer_list<const wchar_t*> parts) {
    std::wstring path;
    for (const wchar_t* part : parts) path += (path.empty() ? L"" : std::wstring(1, kPathSeparator)) + part;
    return encode_utf8(path.c_str());
  }
  void expect_check(const ProcessResult& result, int status, const std::string& out) {
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.out, console_text(out));
    EXPECT_EQ(result.err, "");
  }
};

std::string summary(int findings) {
  return findings == 1 ? message(kCheckedOneFinding, "2.4.1")
                       : message(kCheckedFindings, "2.4.1", std::to_string(findings));
}

TEST_F(CheckTest, CompleteInstallationsNameTheirStartUp) {
  ASSERT_EQ(run_silent().status, 0);
  expect_check(check(), 0, message(kCheckedMinimal, "2.4.1"));
  ASSERT_EQ(run_interactive("\n").status, 0);
  expect_check(check(), 0, message(kCheckedTavrel, "2.4.1"));
  // -s changes nothing, and a relative root is the same root.
  expect_check(check({L"-s", L"root", L"--check"}), 0, message(kCheckedTavrel, "2.4.1"));
}

TEST_F(CheckTest, EachFindingAloneAndAllTogether) {
  const std::string from = " (from " + relative({L"vlxcore-2.4.1", L"bin", L"vlx.exe"}) + ")";
  const struct {
    std::function<void()> change;
    std::string finding;
  } cases[] = {
      {[&] { fs::remove(runtime_bin_dir / "vlxrun.exe"); },
       message(kFindingMissingSource, relative({L"vlxcore-2.4.1", L"bin", L"vlxrun.exe"}))},
      {[&] { fs::remove(bin_dir / "vlxwin.exe"); }, message(kFindingMissing, relative({L"bin", L"vlxwin.exe"}))},
      {[&] { fs::remove(runtime_bin_dir / "vlx.ini"); },
       message(kFindingMissing, relative({L"vlxcore-2.4.1", L"bin", L"vlx.ini"}))},
      {[&] {
         fs::remove(bin_dir / "sigscan.exe");
         fs::create_directory(bin_dir / "sigscan.exe");
       },
       message(kFindingUnreadable, relative({L"bin", L"sigscan.exe"})) + reason_line(kIsADirectory)},
      {[&] { write_contents(bin_dir / "vlx.exe", "launcher vlx.exe, changed\n"); },
       message(kFindingDiffersFrom, relative({L"bin", L"vlx.exe"}), relative({L"vlxcore-2.4.1", L"bin", L"vlx.exe"}))},
      {[&] { write_contents(bin_dir / "start.boot", "boot of another release\n"); },
       message(kFindingDiffersFromNeither, relative({L"bin", L"start.boot"}))},
      {[&] { write_contents(bin_dir / "vlx.ini", expected_config(to_wide(root)) + "; a note\n"); },
       message(kFindingDiffers, relative({L"bin", L"vlx.ini"}))},
      {[&] { write_contents(runtime_bin_dir / ".vlxinstall-Ab3xZ9", "torn"); },
       message(kFindingLeftOver, relative({L"vlxcore-2.4.1", L"bin", L".vlxinstall-Ab3xZ9"}))},
  };
  std::string all;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.finding);
    fs::remove_all(bin_dir);
    fs::create_directories(runtime_bin_dir);
    for (const std::wstring& name : kLaunchers) {
      write_contents(runtime_bin_dir / name, "launcher " + encode_utf8(name.c_str()) + "\n");
    }
    ASSERT_EQ(run_silent().status, 0);
    c.change();
    expect_check(check(), 1, c.finding + summary(1));
    all += c.finding;
  }
  // All at once, as each left them: listed kind by kind, in the run's order.
  for (const auto& c : cases) c.change();
  expect_check(check(), 1, all + summary(8));
}

TEST_F(CheckTest, ADifferentVlxIniSaysWhichKeyAndBothValues) {
  // Installed as "root/" (a trailing separator, as completion adds), checked
  // as "root": the first key whose value differs is named with both values.
  ASSERT_EQ(run_tool({L"-s", to_wide(root) + kPathSeparator}).status, 0);
  ProcessResult result = check();
  std::string typed = encode_utf8(to_wide(root).c_str()) + encode_utf8(std::wstring(1, kPathSeparator).c_str());
  std::string detail = "Bindir is \"" + typed + encode_utf8(std::wstring(1, kPathSeparator).c_str()) +
                       relative({L"vlxcore-2.4.1", L"bin"}) + "\", a run would write \"" +
                       encode_utf8(to_wide(runtime_bin_dir).c_str()) + "\"";
  expect_check(result, 1,
               message(kFindingDiffersValue, relative({L"vlxcore-2.4.1", L"bin", L"vlx.ini"}), detail) +
                   message(kFindingDiffersValue, relative({L"bin", L"vlx.ini"}), detail) + summary(2));
  // A key that is not there, and a file that differs in its layout only.
  write_contents(bin_dir / "vlx.ini", "[vorlax]\nProgname=vlx\n");
  ASSERT_EQ(run_silent().status, 0);
  write_contents(runtime_bin_dir / "vlx.ini", "[vorlax]\nProgname=vlx\n");
  write_contents(bin_dir / "vlx.ini", "; kept\n" + expected_config(to_wide(root)));
  expect_check(check(), 1,
               message(kFindingDiffersValue, relative({L"vlxcore-2.4.1", L"bin", L"vlx.ini"}),
                       "Bindir is not there, a run would write \"" + encode_utf8(to_wide(runtime_bin_dir).c_str()) +
                           "\"") +
                   message(kFindingDiffers, relative({L"bin", L"vlx.ini"})) + summary(2));
}

TEST_F(CheckTest, LeftOversOfAnotherUserSayWhoseTheyAre) {
  if (!can_run_as_other_users()) GTEST_SKIP() << "needs root";
  // A member's killed run left a temporary file that the member may remove
  // and root may: the check says whose it is; root's next run removes it.
  ASSERT_EQ(run_silent().status, 0);
  write_contents(bin_dir / ".vlxinstall-Ab3xZ9", "torn");
  ASSERT_TRUE(change_owner(to_wide(bin_dir / ".vlxinstall-Ab3xZ9"), 1001));
  expect_check(check(), 1,
               message(kFindingLeftOverOfUser, relative({L"bin", L".vlxinstall-Ab3xZ9"}), "user 1001") +
                   summary(1));
  ASSERT_EQ(run_silent().status, 0);
  EXPECT_FALSE(fs::exists(bin_dir / ".vlxinstall-Ab3xZ9"));
  expect_check(check(), 0, message(kCheckedMinimal, "2.4.1"));
}

TEST_F(CheckTest, RootNeverInstalledMissesEveryFileAndGetsNoBin) {
  std::string missing;
  for (const std::wstring& name : kLaunchers) missing += message(kFindingMissing, relative({L"bin", name.c_str()}));
  for (const std::wstring& name : kBootFileNames) {
    missing += message(kFindingMissing, relative({L"bin", name.c_str()}));
  }
  missing += message(kFindingMissing, relative({L"bin", L"start.boot"})) +
             message(kFindingMissing, relative({L"vlxcore-2.4.1", L"bin", L"vlx.ini"})) +
             message(kFindingMissing, relative({L"bin", L"vlx.ini"}));
  expect_check(check(), 1, missing + summary(13));
  EXPECT_FALSE(fs::exists(bin_dir));
}

TEST_F(CheckTest, BinThatCannotBeLookedIntoIsOneFinding) {
  // One finding with its reason, not one per file; the files outside bin are
  // still checked, and the summary counts what was printed.
  ASSERT_EQ(run_silent().status, 0);
  fs::remove_all(bin_dir);
  write_contents(bin_dir, "not a directory\n");
  fs::remove(runtime_bin_dir / "vlx.ini");
  fs::remove(release_dir / "no_dot_vorlax.boot");
  expect_check(check(), 1,
               message(kFindingMissingSource, relative({L"releases", L"9", L"no_dot_vorlax.boot"})) +
                   message(kFindingMissing, relative({L"vlxcore-2.4.1", L"bin", L"vlx.ini"})) +
                   message(kFindingUnreadable, "bin") + reason_line(kNotAListing) + summary(3));
  // A bin that the user may not read, as another user.
  if (!can_run_as_other_users() || !fs::exists("/usr/bin/setpriv")) return;
  fs::remove(bin_dir);
  write_contents(release_dir / "no_dot_vorlax.boot", "boot no_dot_vorlax.boot\n");
  ASSERT_EQ(run_silent().status, 0);
  fs::permissions(bin_dir, fs::perms::owner_all);
  fs::permissions(scratch, fs::perms::others_exec, fs::perm_options::add);
  fs::copy_file(to_path(locate_sibling_program(L"vlxinstall")), scratch / "vlxinstall");
  ProcessResult result = run_process(L"/usr/bin/setpriv",
                                     {L"--reuid=65534", L"--regid=65534", L"--clear-groups",
                                      to_wide(scratch / "vlxinstall"), L"--check", to_wide(root)},
                                     to_wide(scratch), "");
  expect_check(result, 1, message(kFindingUnreadable, "bin") + reason_line(kPermissionDenied) + summary(1));
}

TEST_F(CheckTest, DescriptorThatDoesNotLoadEndsItWithTwo) {
  ASSERT_EQ(run_silent().status, 0);
  std::string path = encode_utf8(native_path(root, {L"Install.ini"}).c_str());
  write_contents(root / "Install.ini", "[Install]\nVSN 2.4.1\n");
  ProcessResult result = check();
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, console_text(message(kCannotOpenDescriptor, path) +
                                     "  line 2: a line that is neither a section header nor an entry\n"));
  write_contents(root / "Install.ini", "[Install]\nVSN=2.4.1\n");
  result = check();
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, console_text(message(kNoSystemVsn, path)));
  // A wrong command line is a check that could not be made either.
  result = run_tool({L"--check", L"-x"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, console_text(message(kUnknownSwitch, "-x") + kTryHelp));
}

TEST_F(CheckTest, FileHeldLongerThanTheWaitIsUnreadable) {
  ASSERT_EQ(run_silent().status, 0);
  FileHandle held = hold_file_unshared(to_wide(bin_dir / "vlxcomp.exe"));
  if (held == kInvalidFile) GTEST_SKIP() << "files cannot be held unshared here";
  ProcessResult result = check();
  close_file(held);
  expect_check(result, 1, message(kFindingUnreadable, relative({L"bin", L"vlxcomp.exe"})) +
                              reason_line(kHeldElsewhere) + summary(1));
}

TEST_F(CheckTest, AnswersWhileAnotherRunHoldsTheRoot) {
  ASSERT_EQ(run_silent().status, 0);
  FileHandle lock = kInvalidFile;
  ASSERT_EQ(lock_file(to_wide(bin_dir / ".vlxinstall.lock").c_str(), &lock), kLockTaken);
  bool waited = false;
  Snapshot before = take_snapshot(root);
  ProcessResult result = run_tool_watching({L"--check", to_wide(root)}, [&](const std::string& err) {
    waited = waited || !err.empty();
  });
  EXPECT_TRUE(take_snapshot(root) == before);  // on Windows the lock's file is there until it is let go
  close_file(lock);
  EXPECT_FALSE(waited);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, console_text(message(kCheckedMinimal, "2.4.1")));
}

}  // namespace
