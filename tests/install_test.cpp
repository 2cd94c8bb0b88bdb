// Whole installations through the real executable: the root, the release
// descriptor and the launcher configuration.
#include <string.h>

#include <map>
#include <regex>
#include <sstream>

#include "installer/messages.h"
#include "platform/replacement.h"
#include "tests/distribution.h"

using namespace vlx;

namespace {

using InstallTest = DistributionTest;

TEST_F(InstallTest, InteractiveRunWithTheDefaultAnswer) {
  ProcessResult result = run_interactive("\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, success_output());
  EXPECT_EQ(result.err, "");
  expect_installed(true);
}

TEST_F(InstallTest, SuccessLineThatCannotBeWrittenLeavesTheStatus) {
  // The installation did happen: a script must not repeat it.
  std::wstring full = full_device();
  if (full.empty()) GTEST_SKIP() << "no device that refuses writes here";
  ProcessResult result = run_process_into(locate_sibling_program(L"vlxinstall"), {to_wide(root)}, to_wide(scratch),
                                          "\n", full);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  expect_installed(true);
}

TEST_F(InstallTest, SilentRunsWriteNothingToStandardOutput) {
  for (std::vector<std::wstring> arguments :
       {std::vector<std::wstring>{L"-s", to_wide(root)}, {to_wide(root), L"-s"},
        {L"-silent", to_wide(root)}, {L"-sx", to_wide(root), L"-s"}}) {
    ProcessResult result = run_tool(arguments);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    expect_installed(false);
  }
}

TEST_F(InstallTest, SecondRunReplacesEveryFileAndClearsLeftovers) {
  ASSERT_EQ(run_silent().status, 0);
  // What killed runs leave, and names that only look alike.
  for (const char* name : {".vlxinstall-Ab3xZ9", ".vlxinstall-000000"}) {
    write_contents(bin_dir / name, "torn");
    write_contents(runtime_bin_dir / name, "torn");
  }
  for (const char* name : {".vlxinstall-Ab3xZ", ".vlxinstall-Ab3xZ99", "vlxinstall-Ab3xZ9", ".vlxinstall-Ab3x.9"}) {
    write_contents(bin_dir / name, "kept");
  }
  write_contents(runtime_bin_dir / "vlxrun.exe", "launcher, release two\n");
  write_contents(release_dir / "start_tavrel.boot", "boot, release two\n");
  write_contents(bin_dir / "vlx.ini", "stale");
  write_contents(runtime_bin_dir / "vlx.ini", "stale too, and longer than the new file will be........");
  ProcessResult result = run_interactive("\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  expect_installed(true);
  EXPECT_EQ(read_contents(bin_dir / "start.boot"), "boot, release two\n");
  int kept = 0;
  for (const auto& entry : fs::directory_iterator(bin_dir)) kept += read_contents(entry.path()) == "kept";
  EXPECT_EQ(kept, 4);
  EXPECT_FALSE(fs::exists(bin_dir / ".vlxinstall-Ab3xZ9") || fs::exists(runtime_bin_dir / ".vlxinstall-Ab3xZ9") ||
               fs::exists(bin_dir / ".vlxinstall-000000") || fs::exists(runtime_bin_dir / ".vlxinstall-000000"));
}

TEST_F(InstallTest, RunsAtOnceOnOneRootEachComplete) {
  const int pairs = kPathSeparator == L'/' ? 30 : 5;
  for (int i = 0; i < pairs; ++i) {
    ProcessResult first;
    std::thread other([&] { first = run_silent(); });
    ProcessResult second = run_silent();
    other.join();
    for (const ProcessResult& result : {first, second}) {
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(result.err.find("Could not"), std::string::npos) << result.err;
    }
    expect_installed(false);
    for (const fs::path& directory : {bin_dir, runtime_bin_dir}) {
      for (const auto& entry : fs::directory_iterator(directory)) {
        EXPECT_FALSE(is_temporary_name(entry.path().filename().string())) << entry.path();
      }
    }
  }
}

TEST_F(InstallTest, RunWaitsForTheRunThatHoldsTheRoot) {
  fs::create_directories(bin_dir);
  FileHandle lock = kInvalidFile;
  ASSERT_EQ(lock_file(to_wide(bin_dir / ".vlxinstall.lock").c_str(), &lock), kLockTaken);
  EXPECT_EQ(lock_file(to_wide(bin_dir / ".vlxinstall.lock").c_str(), nullptr), kLockHeld);
  EXPECT_EQ(lock_file(to_wide(scratch / "absent" / ".vlxinstall.lock").c_str(), nullptr), kLockUnavailable);
  // The other run lets go once this one says that it waits, however long
  // its start took.
  std::string waiting = console_text(message(kWaitingForOtherRun, encode_utf8(to_wide(root).c_str())));
  ProcessResult result = run_tool_watching({L"-s", to_wide(root)}, [&](const std::string& err) {
    if (lock != kInvalidFile && err == waiting) {
      close_file(lock);
      lock = kInvalidFile;
    }
  });
  if (lock != kInvalidFile) close_file(lock);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, waiting);
  expect_installed(false);
}

TEST_F(InstallTest, NoLockFileIsLeftOnceTheRunHasEnded) {
  // bin is listed the moment each run has ended, a successful one or one
  // that failed after it took the lock (its message goes to the test's own
  // standard error).
  for (int run = 0; run < 50; ++run) {
    bool fails = run % 5 == 4;
    if (fails) fs::remove(release_dir / "no_dot_vorlax.boot");
    ProcessHandle process = start_process(locate_sibling_program(L"vlxinstall"), {L"-s", to_wide(root)},
                                          to_wide(scratch));
    ASSERT_NE(process, -1);
    wait_for_process(process);
    for (const auto& entry : fs::directory_iterator(bin_dir)) {
      ASSERT_NE(entry.path().filename(), ".vlxinstall.lock") << "after run " << run;
    }
    if (fails) write_contents(release_dir / "no_dot_vorlax.boot", "boot no_dot_vorlax.boot\n");
  }
  expect_installed(false);
}

TEST_F(InstallTest, RunAsAnotherUserWritesTheFilesItMayWriteInPlace) {
  // Files of root's that any user may write, in directories that only root
  // may write: a run as nobody cannot rename into bin or give files away.
  if (file_owner(to_wide(scratch)) != 0 || !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs root and setpriv";
  ASSERT_EQ(run_silent().status, 0);
  fs::permissions(scratch, fs::perms::others_exec, fs::perm_options::add);
  // A copy of the tool where nobody may run it, wherever the build is.
  fs::copy_file(to_path(locate_sibling_program(L"vlxinstall")), scratch / "vlxinstall");
  auto run_as_nobody = [&] {
    return run_process(L"/usr/bin/setpriv",
                       {L"--reuid=65534", L"--regid=65534", L"--clear-groups", to_wide(scratch / "vlxinstall"),
                        L"-s", to_wide(root)},
                       to_wide(scratch), "");
  };
  // First a bin that nobody may write, and files it may not either: each
  // failure says why.
  std::string expected;
  for (const std::wstring& name : kLaunchers) {
    expected += message(kCopyFailed, encode_utf8(native_path(runtime_bin_dir, {name.c_str()}).c_str()),
                        encode_utf8(native_path(bin_dir, {name.c_str()}).c_str())) +
                reason_line(kPermissionDenied) + kContinuing;
  }
  expected += message(kCopyFailed, encode_utf8(native_path(release_dir, {L"start_minimal.boot"}).c_str()),
                      encode_utf8(native_path(bin_dir, {L"start_minimal.boot"}).c_str())) +
              reason_line(kPermissionDenied) + kBailingOut;
  expect_failure(run_as_nobody(), expected);
  for (const fs::path& directory : {bin_dir, runtime_bin_dir}) {
    for (const auto& entry : fs::directory_iterator(directory)) {
      fs::permissions(entry.path(), fs::perms::all & ~fs::perms::owner_exec & ~fs::perms::group_exec &
                                        ~fs::perms::others_exec);
    }
  }
  write_contents(runtime_bin_dir / "vlxrun.exe", "launcher, release two\n");
  ProcessResult result = run_as_nobody();
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  expect_installed(false);
  EXPECT_EQ(read_contents(bin_dir / "vlxrun.exe"), "launcher, release two\n");
  for (const fs::path& directory : {bin_dir, runtime_bin_dir}) {
    for (const auto& entry : fs::directory_iterator(directory)) {
      EXPECT_EQ(file_owner(to_wide(entry.path())), 0) << entry.path();
      EXPECT_FALSE(is_temporary_name(entry.path().filename().string())) << entry.path();
    }
  }

  // Written in place, a copy cut short by the disk gives the target its old
  // bytes back (saved before the write), and the run goes on without it.
  std::string big(200000, 'x'), old = read_contents(bin_dir / "vlx.exe");
  write_contents(runtime_bin_dir / "vlx.exe", big);
  run_with_file_size_limit(64 << 10, [&] { result = run_as_nobody(); });
  std::string target = encode_utf8(native_path(bin_dir, {L"vlx.exe"}).c_str());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, message(kCopyFailed, encode_utf8(native_path(runtime_bin_dir, {L"vlx.exe"}).c_str()), target) +
                            reason_line(kFileTooLarge) + kContinuing);
  EXPECT_EQ(read_contents(bin_dir / "vlx.exe"), old);
}

TEST_F(InstallTest, GroupMemberReinstallsTheGroupsInstallation) {
  // The installation of user 1000, shared with its group: directories 2775,
  // files 0644. A member of the group may make, rename and remove files in
  // bin, but not write the files of 1000 or give files to 1000.
  if (!can_run_as_other_users() || !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs root and setpriv";
  ASSERT_EQ(run_silent().status, 0);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    change_owner(to_wide(entry.path()), 1000);
    fs::permissions(entry.path(), entry.is_directory() ? fs::perms::set_gid | fs::perms::owner_all |
                                                             fs::perms::group_all | fs::perms::others_read |
                                                             fs::perms::others_exec
                                                       : fs::perms::owner_read | fs::perms::owner_write |
                                                             fs::perms::group_read | fs::perms::others_read);
  }
  change_owner(to_wide(root), 1000);
  fs::permissions(scratch, fs::perms::others_exec, fs::perm_options::add);
  fs::copy_file(to_path(locate_sibling_program(L"vlxinstall")), scratch / "vlxinstall");
  write_contents(runtime_bin_dir / "vlxrun.exe", "launcher, release two\n");
  write_contents(release_dir / "start_minimal.boot", "boot, release two\n");
  ProcessResult result = run_process(
      L"/usr/bin/setpriv",
      {L"--reuid=1001", L"--regid=1001", L"--groups=1000", to_wide(scratch / "vlxinstall"), L"-s", to_wide(root)},
      to_wide(scratch), "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  expect_installed(false);
  EXPECT_EQ(read_contents(bin_dir / "start.boot"), "boot, release two\n");
  std::vector<fs::path> targets = {runtime_bin_dir / "vlx.ini"};
  for (const auto& entry : fs::directory_iterator(bin_dir)) targets.push_back(entry.path());
  EXPECT_EQ(targets.size(), 13u);
  for (const fs::path& target : targets) EXPECT_EQ(file_owner(to_wide(target)), 1001) << target;  // each new
}

TEST_F(InstallTest, RootAtThePathLimitInstalls) {
  // The longest path the tool formats, a launcher in the runtime's bin, just
  // fits; the temporary names beside the targets are longer than that.
  const size_t longest = std::wstring(L"/vlxcore-2.4.1/bin/testdrv.exe").size();
  const size_t wanted = static_cast<size_t>(kPathCapacity) - 1 - longest;
  fs::path deep = scratch;
  while (to_wide(deep).size() < wanted) {
    size_t room = wanted - to_wide(deep).size() - 1;  // after the separator
    deep /= std::string(room > 200 ? 150 : room, 'd');
  }
  ASSERT_EQ(to_wide(deep).size(), wanted);
  fs::create_directories(deep.parent_path());
  fs::rename(root, deep);
  root = deep;
  runtime_bin_dir = to_path(native_path(root, {L"vlxcore-2.4.1", L"bin"}));
  release_dir = to_path(native_path(root, {L"releases", L"9"}));
  bin_dir = to_path(native_path(root, {L"bin"}));
  for (int run = 0; run < 2; ++run) {  // a new installation, then the replacement of each file
    ProcessResult result = run_silent();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    expect_installed(false);
  }
}

TEST_F(InstallTest, HiddenFilesStayHidden) {
  ASSERT_EQ(run_silent().status, 0);
  if (!set_hidden(to_wide(bin_dir / "vlx.ini"))) GTEST_SKIP() << "files have no hidden attribute here";
  ASSERT_TRUE(set_hidden(to_wide(runtime_bin_dir / "vlx.ini")));
  ASSERT_EQ(run_silent().status, 0);
  EXPECT_TRUE(is_hidden(to_wide(bin_dir / "vlx.ini")));
  EXPECT_TRUE(is_hidden(to_wide(runtime_bin_dir / "vlx.ini")));
  expect_installed(false);
}

TEST_F(InstallTest, RootDefaultsToTheToolsOwnDirectory) {
  ProcessResult result = run_tool_copy(root, {}, "y\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, success_output());
  expect_installed(false);
  fs::remove_all(bin_dir);
  result = run_tool_copy(root, {L"-s"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.status, 0);
  expect_installed(false);

  // A root beyond ASCII, found from the tool's own file name.
  fs::path other = scratch / to_path(L"r\u00e9pertoire \u6839");
  fs::rename(root, other);
  root = other;
  runtime_bin_dir = to_path(native_path(root, {L"vlxcore-2.4.1", L"bin"}));
  release_dir = to_path(native_path(root, {L"releases", L"9"}));
  bin_dir = to_path(native_path(root, {L"bin"}));
  fs::remove_all(bin_dir);
  result = run_tool_copy(root, {}, "\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  expect_installed(true);

  // Run where it was installed, with no ROOT: a hint under the reason says
  // what is missing, for a run and for a check. A descriptor that is there
  // but does not load gets none.
  fs::path installed = scratch / "prefix" / "bin";
  std::string absent = encode_utf8(native_path(to_wide(installed), {L"Install.ini"}).c_str());
  std::string expected = message(kCannotOpenDescriptor, absent) + reason_line(kNoSuchFile) + kNotBesideDescriptorHint;
  expect_failure(run_tool_copy(installed, {L"-s"}), expected);
  result = run_tool_copy(installed, {L"--check"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, console_text(expected));
  write_contents(installed / "Install.ini", "VSN=1\n");
  expect_failure(run_tool_copy(installed, {L"-s"}),
                 message(kCannotOpenDescriptor, absent) + "  line 1: an entry before the first section header\n");
}

TEST_F(InstallTest, RootIsUsedExactlyAsTyped) {
  // A trailing separator stays and doubles in every derived path.
  std::wstring typed = to_wide(root) + kPathSeparator;
  ProcessResult result = run_tool({L"-s", typed});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(read_contents(bin_dir / "vlx.ini"), expected_config(typed));

  // A root that does not exist surfaces at the descriptor.
  std::wstring absent = to_wide(scratch / "absent");
  expect_failure(run_tool({L"-s", absent}),
                 message(kCannotOpenDescriptor, encode_utf8(native_path(absent, {L"Install.ini"}).c_str())) +
                     reason_line(kNoSuchDirectory));

  // A relative root is made absolute: vlx.ini names the installation from
  // anywhere. A trailing separator still doubles.
  fs::remove_all(bin_dir);
  std::wstring relative = std::wstring(L"root") + kPathSeparator;
  result = run_tool({relative, L"-s"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(read_contents(bin_dir / "vlx.ini"), expected_config(typed));
  EXPECT_EQ(read_contents(runtime_bin_dir / "vlx.ini"), expected_config(typed));

  // Its "." and ".." go, so that it names the root when the directory it
  // was given from is gone; a link on the way keeps its name.
  std::wstring sep(1, kPathSeparator), dot_dot = L".." + sep;
  fs::create_directories(scratch / "unpack-tmp" / "deeper");
  for (const std::wstring& given : {dot_dot + L"root", L"." + sep + dot_dot + L"." + sep + L"root" + sep + L".",
                                    L"deeper" + sep + dot_dot + dot_dot + L"root"}) {
    SCOPED_TRACE(encode_utf8(given.c_str()));
    fs::remove_all(bin_dir);
    result = run_process(locate_sibling_program(L"vlxinstall"), {L"-s", given}, to_wide(scratch / "unpack-tmp"), "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_contents(bin_dir / "vlx.ini"), expected_config(to_wide(root)));
  }
  if (kPathSeparator == L'/') {
    fs::create_directory_symlink(scratch, scratch / "unpack-tmp" / "link");
    result = run_process(locate_sibling_program(L"vlxinstall"), {L"-s", L"link/./root"},
                         to_wide(scratch / "unpack-tmp"), "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_contents(bin_dir / "vlx.ini"), expected_config(to_wide(scratch / "unpack-tmp" / "link" / "root")));
  }
}

TEST_F(InstallTest, RootsBeyondAsciiAndWithSemicolons) {
  struct Case {
    const wchar_t* name;
    const char* stored;  // how vlx.ini ends the Rootdir line
  } cases[] = {{L"r\u00e9p \u6839", "r\xc3\xa9p \xe6\xa0\xb9\n"}, {L"a;b", "a\\;b\n"}};
  for (const Case& c : cases) {
    fs::path other = scratch / to_path(c.name);
    fs::rename(root, other);
    root = other;
    runtime_bin_dir = to_path(native_path(root, {L"vlxcore-2.4.1", L"bin"}));
    release_dir = to_path(native_path(root, {L"releases", L"9"}));
    bin_dir = to_path(native_path(root, {L"bin"}));
    ProcessResult result = run_silent();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    expect_installed(false);
    std::string config = read_contents(bin_dir / "vlx.ini");
    EXPECT_EQ(config.substr(config.size() - strlen(c.stored)), c.stored);
  }
}

TEST_F(InstallTest, DescriptorProblemsEndTheRun) {
  std::string path = encode_utf8(native_path(root, {L"Install.ini"}).c_str());
  // Names are case-sensitive: one that differs only in case gets a hint.
  struct Case {
    const char* descriptor;
    const char* message;
    const char* hint;
  } cases[] = {
      {"", "No [Install] section in init file ", ""},
      {"; nothing here\n", "No [Install] section in init file ", ""},
      {"[install]\nVSN=1\nSYSTEM_VSN=2\n", "No [Install] section in init file ",
       "  section names are case-sensitive: the file has [install]\n"},
      {"[Other]\n[INSTALL]\n[install]\n", "No [Install] section in init file ",
       "  section names are case-sensitive: the file has [INSTALL]\n"},
      {"[ Install ]\nVSN=1\nSYSTEM_VSN=2\n", "No [Install] section in init file ", ""},
      {"[Install]\nvsn=1\nSYSTEM_VSN=2\n", "No key VSN in init file ", "  keys are case-sensitive: the file has vsn\n"},
      {"[Other]\nVSN=1\n[Install]\nSYSTEM_VSN=2\n", "No key VSN in init file ", ""},
      {"[Install]\nVSN=2.4.1\n", "No key SYSTEM_VSN in init file ", ""},
      {"[Install]\nVSN=2.4.1\nSystem_Vsn=9\n", "No key SYSTEM_VSN in init file ",
       "  keys are case-sensitive: the file has System_Vsn\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.descriptor);
    write_contents(root / "Install.ini", c.descriptor);
    expect_failure(run_silent(), c.message + path + "\n" + c.hint);
    EXPECT_FALSE(fs::exists(bin_dir));
  }
  // A descriptor that cannot be opened, or is malformed, says why and where.
  struct Rejected {
    const char* descriptor;
    std::string reason;
  } rejected[] = {
      {"\xef\xbb\xbf[Install]\nVSN=2.4.1\nSYSTEM_VSN=9\n",
       "  line 1: the file starts with a UTF-8 byte-order mark, which the format keeps as text\n"},
      {"; release 9\nVSN=2.4.1\n[Install]\nSYSTEM_VSN=9\n", "  line 2: an entry before the first section header\n"},
      {"[Install]\nVSN 2.4.1\nSYSTEM_VSN=9\n", "  line 2: a line that is neither a section header nor an entry\n"},
  };
  for (const Rejected& c : rejected) {
    SCOPED_TRACE(c.descriptor);
    write_contents(root / "Install.ini", c.descriptor);
    expect_failure(run_silent(), message(kCannotOpenDescriptor, path) + c.reason);
  }
  // A version becomes a directory's name: a value that would be a path, or
  // would reach the terminal as control, is refused, and nothing is made.
  struct BadValue {
    const char* descriptor;
    const char* key;
    const char* rule;
  } bad_values[] = {
      {"[Install]\nVSN=2.4.1/../../system/vlxcore-2.4.1\nSYSTEM_VSN=9\n", "VSN", "cannot hold '/'"},
      {"[Install]\nVSN=\nSYSTEM_VSN=9\n", "VSN", "cannot be empty"},
      {"[Install]\nVSN=2.4.1\x1b[2K\nSYSTEM_VSN=9\n", "VSN", "cannot hold control characters"},
      {"[Install]\nVSN=2.4.1\x7f\nSYSTEM_VSN=9\n", "VSN", "cannot hold control characters"},
      {"[Install]\nVSN=2.4.1\nSYSTEM_VSN=..\n", "SYSTEM_VSN", "cannot be '..'"},
      {"[Install]\nVSN=2.4.1\nSYSTEM_VSN=.\n", "SYSTEM_VSN", "cannot be '.'"},
      {"[Install]\nVSN=.\nSYSTEM_VSN=9\n", "VSN", "cannot be '.'"},
      {"[Install]\nVSN=2.4.1\nSYSTEM_VSN=..\\\\..\n", "SYSTEM_VSN", "cannot hold '\\'"},
      {"[Install]\nVSN=2.4.1\nSYSTEM_VSN=C:9\n", "SYSTEM_VSN", "cannot hold ':'"},
  };
  for (const BadValue& c : bad_values) {
    SCOPED_TRACE(c.descriptor);
    write_contents(root / "Install.ini", c.descriptor);
    std::string expected = message(kBadVersionValue, c.key, path) + "  a version names one directory; it " + c.rule +
                           "\n";
    expect_failure(run_silent(), expected);
    ProcessResult check = run_tool({L"--check", to_wide(root)});  // a check that cannot be made
    EXPECT_EQ(check.status, 2);
    EXPECT_EQ(check.out, "");
    EXPECT_EQ(check.err, console_text(expected));
    EXPECT_FALSE(fs::exists(bin_dir));
  }
  // A version that names no runtime directory of the root: those there are named.
  write_contents(root / "Install.ini", "[Install]\nVSN=2.4.2\nSYSTEM_VSN=9\n");
  fs::create_directories(root / "vlxcore-2.5.0");
  expect_failure(run_silent(), message(kMissingFile, encode_utf8(native_path(root, {L"vlxcore-2.4.2", L"bin",
                                                                                     L"vlx.exe"}).c_str())) +
                                   message(kRuntimeDirectoriesHint, "vlxcore-2.4.1, vlxcore-2.5.0"));
  fs::remove(root / "Install.ini");
  expect_failure(run_silent(), message(kCannotOpenDescriptor, path) + reason_line(kNoSuchFile));
  if (kPathSeparator == L'/') {  // file names are case-sensitive here
    write_contents(root / "install.ini", "[Install]\n");
    expect_failure(run_silent(), message(kCannotOpenDescriptor, path) + reason_line(kNoSuchFile) +
                                     message(kFileCaseHint, "install.ini"));
    fs::remove(root / "install.ini");
  }
  fs::create_directory(root / "Install.ini");
  expect_failure(run_silent(), message(kCannotOpenDescriptor, path) + reason_line(kIsADirectory));
}

TEST_F(InstallTest, DescriptorValuesAreReadByTheInitFileRules) {
  write_contents(root / "Install.ini",
             "; release descriptor\n[Install]\nVSN =  2.4.1 ; runtime\nSYSTEM_VSN=9\n"
             "[Install]\nVSN=9.9.9\nSYSTEM_VSN=1\n");
  ProcessResult result = run_interactive("\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, success_output());
  expect_installed(true);
}

TEST_F(InstallTest, PathsThatDoNotFitAreNeverUsed) {
  // Only the part that fits is shown: the first capacity - 1 characters.
  std::wstring long_root = (scratch / std::wstring(kPathCapacity, L'r')).wstring();
  std::wstring shown = native_path(long_root, {L"Install.ini"}).substr(0, kPathCapacity - 1);
  expect_failure(run_tool({L"-s", long_root}), "Path too long: " + encode_utf8(shown.c_str()) + "\n");

  write_contents(root / "Install.ini", "[Install]\nVSN=" + std::string(kPathCapacity, '7') + "\nSYSTEM_VSN=9\n");
  ProcessResult result = run_silent();
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err.rfind("Path too long: " + encode_utf8(native_path(root, {L"vlxcore-777"}).c_str()), 0), 0u);
  EXPECT_FALSE(fs::exists(bin_dir));
}

class LongValueTest : public DistributionTest {
 protected:
  // Installs with the runtime version and checks the success line and vlx.ini.
  void expect_version_installs(const std::string& version) {
    fs::path versioned = root / to_path(L"vlxcore-" + decode_utf8(version.data(), version.size())) / "bin";
    fs::create_directories(versioned);
    for (const std::wstring& name : kLaunchers) fs::copy_file(runtime_bin_dir / name, versioned / name);
    write_contents(root / "Install.ini", "[Install]\nVSN=" + version + "\nSYSTEM_VSN=9\n");
    ProcessResult result = run_interactive("\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, std::string(kPrompt) + console_text("Vorlax " + version + " installed successfully\n"));
    std::string config = read_contents(bin_dir / "vlx.ini");
    EXPECT_EQ(config, read_contents(versioned / "vlx.ini"));
    EXPECT_EQ(config, expected_config(to_wide(root), to_wide(versioned)));
  }
};

TEST_F(LongValueTest, VersionsHaveNoLimitOfTheirOwn) {
  // 240 bytes of UTF-8 in 80 characters: a directory name as long as file
  // systems allow, with "vlxcore-" before it.
  std::string part;
  for (int i = 0; i < 80; ++i) part += "\xe6\xa0\xb9";
  expect_version_installs(part);
}

TEST_F(InstallTest, LauncherConfigurationFailuresEndTheRun) {
  std::string first = encode_utf8(native_path(runtime_bin_dir, {L"vlx.ini"}).c_str());
  std::string second = encode_utf8(native_path(bin_dir, {L"vlx.ini"}).c_str());
  fs::create_directory(runtime_bin_dir / "vlx.ini");
  expect_failure(run_silent(), message(kCreateFailed, first) + reason_line(kIsADirectory) + kBailingOut);
  fs::remove(runtime_bin_dir / "vlx.ini");

  fs::create_directories(bin_dir / "vlx.ini");
  expect_failure(run_interactive("\n"),
                 message(kCopyFailed, first, second) + reason_line(kIsADirectory) + kBailingOut, kPrompt);
  EXPECT_FALSE(fs::exists(runtime_bin_dir / "vlx.ini"));  // a failed run leaves what it found
  fs::remove(bin_dir / "vlx.ini");

  // A link in vlx.ini's place, here to a device, is replaced by the file:
  // nothing is written through it.
  if (kPathSeparator == L'/' && fs::exists("/dev/full")) {
    fs::create_symlink("/dev/full", runtime_bin_dir / "vlx.ini");
    EXPECT_EQ(run_silent().status, 0);
    EXPECT_FALSE(fs::is_symlink(runtime_bin_dir / "vlx.ini"));
    EXPECT_EQ(read_contents(runtime_bin_dir / "vlx.ini"), expected_config(to_wide(root)));
  }
}


// What a less-trusted user of a shared installation may plant: links and
// FIFOs in the places of the files a run reads and writes.
class TrustTest : public DistributionTest {
 protected:
  void SetUp() override {
    DistributionTest::SetUp();
    if (kPathSeparator != L'/') GTEST_SKIP() << "Wine makes no symbolic links or FIFOs";
  }
  void make_fifo(const fs::path& path) {
    fs::remove(path);
    ASSERT_EQ(run_process(L"/usr/bin/mkfifo", {to_wide(path)}, to_wide(scratch), "").status, 0);
  }
  std::string path_of(const fs::path& path) { return encode_utf8(to_wide(path).c_str()); }
  std::string refused_copy(const fs::path& source, const fs::path& target, const std::string& reason) {
    return message(kCopyFailed, path_of(source), path_of(target)) + "  " + reason + "\n";
  }
  std::string outside() { return "a link to a file outside " + path_of(root); }
  const std::string not_a_file = "not a regular file: a FIFO, a device or a socket stands in its place";
};

TEST_F(TrustTest, LinksInPlaceOfTargetsAreReplaced) {
  ASSERT_EQ(run_silent().status, 0);
  // One link to another file of bin, the others to files outside the root.
  fs::remove(bin_dir / "vlxwin.exe");
  fs::create_symlink("vlx.exe", bin_dir / "vlxwin.exe");
  const std::vector<fs::path> targets = {bin_dir / "sigscan.exe", bin_dir / "start.boot", bin_dir / "vlx.ini",
                                         runtime_bin_dir / "vlx.ini"};
  for (std::size_t i = 0; i < targets.size(); ++i) {
    fs::path precious = scratch / ("precious" + std::to_string(i));
    write_contents(precious, "not the installation's\n");
    fs::remove(targets[i]);
    fs::create_symlink(precious, targets[i]);
  }
  ProcessResult result = run_silent();
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  expect_installed(false);
  for (const fs::path& target : targets) EXPECT_FALSE(fs::is_symlink(target)) << target;
  EXPECT_FALSE(fs::is_symlink(bin_dir / "vlxwin.exe"));
  for (std::size_t i = 0; i < targets.size(); ++i) {
    EXPECT_EQ(read_contents(scratch / ("precious" + std::to_string(i))), "not the installation's\n");
  }
  // A FIFO in a target's place is replaced too, and holds nothing up.
  make_fifo(bin_dir / "vlxwin.exe");
  result = run_silent();
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  expect_installed(false);
}

TEST_F(TrustTest, SourcesMustBeRegularFilesOfTheRoot) {
  // A root-only file outside the root, linked in a source's place.
  write_contents(scratch / "secret", "password=1234\n");
  fs::permissions(scratch / "secret", fs::perms::owner_read | fs::perms::owner_write);
  fs::remove(runtime_bin_dir / "vlxrun.exe");
  fs::create_symlink(scratch / "secret", runtime_bin_dir / "vlxrun.exe");
  make_fifo(runtime_bin_dir / "lintvet.exe");  // read, it would wait for a writer
  // A link within the root is followed as before.
  fs::remove(runtime_bin_dir / "testdrv.exe");
  fs::create_symlink("vlx.exe", runtime_bin_dir / "testdrv.exe");
  ProcessResult result = run_silent();
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, refused_copy(runtime_bin_dir / "lintvet.exe", bin_dir / "lintvet.exe", not_a_file) +
                            kContinuing +
                            refused_copy(runtime_bin_dir / "vlxrun.exe", bin_dir / "vlxrun.exe", outside()) +
                            kContinuing);
  EXPECT_FALSE(fs::exists(bin_dir / "vlxrun.exe"));
  EXPECT_FALSE(fs::exists(bin_dir / "lintvet.exe"));
  EXPECT_EQ(read_contents(bin_dir / "testdrv.exe"), "launcher vlx.exe\n");
  // The check refuses them alike.
  ProcessResult check = run_tool({L"--check", to_wide(root)});
  EXPECT_EQ(check.status, 1);
  EXPECT_NE(check.out.find(message(kFindingUnreadable, "vlxcore-2.4.1/bin/vlxrun.exe") + "  " + outside() + "\n"),
            std::string::npos)
      << check.out;

  // A boot file so is fatal, and the installation stays as it was.
  fs::remove(runtime_bin_dir / "vlxrun.exe");
  fs::remove(runtime_bin_dir / "lintvet.exe");
  write_contents(runtime_bin_dir / "vlxrun.exe", "launcher vlxrun.exe\n");
  write_contents(runtime_bin_dir / "lintvet.exe", "launcher lintvet.exe\n");
  ASSERT_EQ(run_silent().status, 0);
  std::string before = read_contents(bin_dir / "start_minimal.boot");
  fs::remove(release_dir / "no_dot_vorlax.boot");
  fs::create_symlink(scratch / "secret", release_dir / "no_dot_vorlax.boot");
  expect_failure(run_silent(),
                 refused_copy(release_dir / "no_dot_vorlax.boot", bin_dir / "no_dot_vorlax.boot", outside()) +
                     kBailingOut);
  make_fifo(release_dir / "no_dot_vorlax.boot");
  expect_failure(run_silent(),
                 refused_copy(release_dir / "no_dot_vorlax.boot", bin_dir / "no_dot_vorlax.boot", not_a_file) +
                     kBailingOut);
  EXPECT_EQ(read_contents(bin_dir / "no_dot_vorlax.boot"), "boot no_dot_vorlax.boot\n");
  EXPECT_EQ(read_contents(bin_dir / "start_minimal.boot"), before);

  // A FIFO as the descriptor: no wait, and the message with the reason.
  make_fifo(root / "Install.ini");
  std::string descriptor = message(kCannotOpenDescriptor, path_of(root / "Install.ini")) + "  " + not_a_file + "\n";
  expect_failure(run_silent(), descriptor);
  check = run_tool({L"--check", to_wide(root)});
  EXPECT_EQ(check.status, 2);
  EXPECT_EQ(check.err, descriptor);
}

TEST_F(TrustTest, CheckNamesALinkInAFilesPlace) {
  ASSERT_EQ(run_silent().status, 0);
  fs::remove(bin_dir / "vlxwin.exe");
  fs::create_symlink(runtime_bin_dir / "vlxwin.exe", bin_dir / "vlxwin.exe");  // the right bytes, but a link
  fs::create_directory(bin_dir / ".vlxinstall-AAAAAA");  // a directory with a temporary file's name
  ProcessResult check = run_tool({L"--check", to_wide(root)});
  EXPECT_EQ(check.status, 1);
  EXPECT_EQ(check.out, message(kFindingLink, "bin/vlxwin.exe") +
                           message(kCheckedOneFinding, "2.4.1"));
  ASSERT_EQ(run_silent().status, 0);
  EXPECT_FALSE(fs::is_symlink(bin_dir / "vlxwin.exe"));
  EXPECT_TRUE(fs::is_directory(bin_dir / ".vlxinstall-AAAAAA"));
}

TEST_F(TrustTest, WhatAnotherUserOwnsGivesNothingAway) {
  if (!can_run_as_other_users()) GTEST_SKIP() << "needs root";
  // A set-user-ID program of another user in a launcher's source: root's
  // run must not make it a set-user-ID program of root's.
  fs::path planted = runtime_bin_dir / "vlx.exe";
  ASSERT_TRUE(change_owner(to_wide(planted), 1001));  // before the mode: a change of owner clears the bit
  fs::permissions(planted, fs::perms::set_uid | fs::perms::owner_all | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  ASSERT_EQ(run_silent().status, 0);
  EXPECT_EQ(file_owner(to_wide(bin_dir / "vlx.exe")), 0);
  EXPECT_EQ(fs::status(bin_dir / "vlx.exe").permissions() & fs::perms::set_uid, fs::perms::none);
  // Over a copy that belongs to the program's owner, which the new file
  // keeps, the bit stays: it is still that user's program.
  ASSERT_TRUE(change_owner(to_wide(bin_dir / "vlx.exe"), 1001));
  ASSERT_EQ(run_silent().status, 0);
  EXPECT_EQ(file_owner(to_wide(bin_dir / "vlx.exe")), 1001);
  EXPECT_EQ(fs::status(bin_dir / "vlx.exe").permissions() & fs::perms::set_uid, fs::perms::set_uid);

  // A member of the group reinstalls over a launcher of another member that
  // carries an access list for an outsider (user 3000, rwx): the member's
  // new file is a fresh one, without it.
  const char acl[] = {2, 0, 0, 0,                 // version
                      1, 0, 6, 0, -1, -1, -1, -1,  // the owner: rw
                      2, 0, 7, 0, -72, 11, 0, 0,   // user 3000: rwx
                      4, 0, 4, 0, -1, -1, -1, -1,  // the group: r
                      16, 0, 7, 0, -1, -1, -1, -1,  // mask: rwx
                      32, 0, 4, 0, -1, -1, -1, -1};  // others: r
  fs::path launcher = bin_dir / "vlxcomp.exe";
  ASSERT_TRUE(set_extended_attribute(to_wide(launcher), "system.posix_acl_access", std::string(acl, sizeof acl)));
  ASSERT_TRUE(set_extended_attribute(to_wide(launcher), "user.note", "planted"));
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path() == launcher) continue;
    ASSERT_TRUE(change_owner(to_wide(entry.path()), 1000));
    if (entry.is_directory()) {
      fs::permissions(entry.path(), fs::perms::set_gid | fs::perms::owner_all | fs::perms::group_all |
                                        fs::perms::others_read | fs::perms::others_exec);
    }
  }
  ASSERT_TRUE(change_owner(to_wide(root), 1000));
  ASSERT_TRUE(change_owner(to_wide(launcher), 1000));  // kept by chown, with its attributes
  fs::permissions(scratch, fs::perms::others_exec, fs::perm_options::add);
  fs::copy_file(to_path(locate_sibling_program(L"vlxinstall")), scratch / "vlxinstall");
  ProcessResult result = run_process(
      L"/usr/bin/setpriv",
      {L"--reuid=1001", L"--regid=1001", L"--groups=1000", to_wide(scratch / "vlxinstall"), L"-s", to_wide(root)},
      to_wide(scratch), "");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(file_owner(to_wide(launcher)), 1001);
  EXPECT_EQ(read_extended_attribute(to_wide(launcher), "system.posix_acl_access"), "");
  EXPECT_EQ(read_extended_attribute(to_wide(launcher), "user.note"), "");
}

TEST_F(TrustTest, NewFilesArePrivateUntilTheirMove) {
  if (!fs::exists("/usr/bin/strace")) GTEST_SKIP() << "needs strace";
  ASSERT_EQ(run_silent().status, 0);
  // Every temporary file is made 0600, and given its mode only once its
  // owner is set, before it is moved: another user never reads it.
  fs::path trace = scratch / "trace";
  ProcessResult result = run_process(
      L"/usr/bin/strace", {L"-qq", L"-o", to_wide(trace), L"-E", L"ASAN_OPTIONS=detect_leaks=0", L"-e",
                           L"trace=openat,fchown,fchmod,renameat", locate_sibling_program(L"vlxinstall"), L"-s",
                           to_wide(root)},
      to_wide(scratch), "");
  ASSERT_EQ(result.status, 0) << result.err;
  std::istringstream lines(read_contents(trace));
  std::map<std::string, std::string> state;  // a temporary file's descriptor: "made", "owned", "moded"
  int made = 0;
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (line.find(".vlxinstall.lock") != std::string::npos) continue;  // the lock holds nothing to read
    if (std::regex_search(line, match, std::regex(R"(^openat\(.*O_EXCL.*, (0\d+)\) = (\d+))"))) {
      EXPECT_EQ(match[1], "0600") << line;
      state[match[2]] = "made";
      ++made;
    } else if (std::regex_search(line, match, std::regex(R"(^fchmod\((\d+), )")) && state.count(match[1])) {
      state[match[1]] = "moded";
    } else if (std::regex_search(line, match, std::regex(R"(^fchown\((\d+), )")) && state.count(match[1])) {
      EXPECT_EQ(state[match[1]], "made") << "the owner after the mode: " << line;
    }
  }
  EXPECT_EQ(made, 7 + 3 + 1 + 2);
  for (const auto& file : state) EXPECT_EQ(file.second, "moded") << file.first;
}

TEST_F(TrustTest, AReaderOfBinHoldsUpNoRun) {
  if (!can_run_as_other_users() || !fs::exists("/usr/bin/flock") || !fs::exists("/usr/bin/setpriv")) {
    GTEST_SKIP() << "needs root, flock and setpriv";
  }
  ASSERT_EQ(run_silent().status, 0);
  // A user who may only read bin locks it, and the lock file too, until
  // told to stop; it says when it holds them.
  fs::path markers = scratch / "markers";
  fs::create_directory(markers);
  fs::permissions(markers, fs::perms::all);
  fs::permissions(scratch, fs::perms::others_exec, fs::perm_options::add);
  write_contents(bin_dir / ".vlxinstall.lock", "");
  std::string script = "touch " + path_of(markers / "held") + "; while [ ! -e " + path_of(markers / "stop") +
                       " ]; do sleep 0.05; done";
  ProcessHandle holder = start_process(
      L"/usr/bin/setpriv",
      {L"--reuid=65534", L"--regid=65534", L"--clear-groups", L"/usr/bin/flock", L"-s", to_wide(bin_dir),
       L"/usr/bin/flock", L"-s", to_wide(bin_dir / ".vlxinstall.lock"), L"/bin/sh", L"-c", to_wide(script)},
      to_wide(scratch));
  ASSERT_NE(holder, -1);
  while (!fs::exists(markers / "held") && process_is_running(holder)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(fs::exists(markers / "held"));
  ProcessResult result = run_silent();
  write_contents(markers / "stop", "");
  wait_for_process(holder);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");  // and no wait
  EXPECT_FALSE(fs::exists(bin_dir / ".vlxinstall.lock"));
}

}  // namespace
