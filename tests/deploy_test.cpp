// File deployment through the real executable: the three stages and their
// failure policies. Failures are injected in ways that stop root too.
#include <atomic>
#include <map>
#include <sstream>

#include "installer/messages.h"
#include "platform/replacement.h"
#include "tests/distribution.h"

using namespace vlx;

namespace {

class DeployTest : public DistributionTest {
 protected:
  std::string source(const fs::path& dir, const wchar_t* name) {
    return encode_utf8(native_path(dir, {name}).c_str());
  }
  // The report of a failed copy of name from from into bin, for error.
  std::string copy_failed(const fs::path& from, const wchar_t* name, SystemError error) {
    return message(kCopyFailed, source(from, name), source(bin_dir, name)) + reason_line(error);
  }
};

// The entries of bin: none may be a temporary file.
int count_entries_without_temporaries(const fs::path& directory) {
  int entries = 0;
  for (const auto& entry : fs::directory_iterator(directory)) {
    EXPECT_FALSE(is_temporary_name(entry.path().filename().string())) << entry.path();
    ++entries;
  }
  return entries;
}


// What a file of an installation is to its users: its bytes, permission
// bits, modification time and identity (inode; file index on Windows).
struct FileState {
  std::string contents;
  fs::perms permissions;
  fs::file_time_type modified;
  std::uint64_t identity;
  bool operator==(const FileState& other) const {
    return contents == other.contents && permissions == other.permissions && modified == other.modified &&
           identity == other.identity;
  }
};

// Every entry of the directories, by path.
std::map<std::string, FileState> snapshot(std::initializer_list<fs::path> directories) {
  std::map<std::string, FileState> files;
  for (const fs::path& directory : directories) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(directory, error)) {
      const fs::path& path = entry.path();
      files[path.string()] = {read_contents(path), fs::status(path).permissions(), fs::last_write_time(path),
                              file_identity(to_wide(path))};
    }
  }
  return files;
}

TEST_F(DeployTest, FatalConditionsLeaveAnEarlierInstallationAsItWas) {
  ASSERT_EQ(run_silent().status, 0);
  // A new release of every launcher and boot file over it, and the earlier
  // files a day old, so that any rewrite shows.
  for (const std::wstring& name : kLaunchers) {
    write_contents(runtime_bin_dir / name, "launcher " + encode_utf8(name.c_str()) + ", release two\n");
  }
  for (const std::wstring& name : kBootFileNames) {
    write_contents(release_dir / name, "boot " + encode_utf8(name.c_str()) + ", release two\n");
  }
  for (const fs::path& directory : {bin_dir, runtime_bin_dir}) {
    for (const auto& entry : fs::directory_iterator(directory)) {
      fs::last_write_time(entry.path(), fs::last_write_time(entry.path()) - std::chrono::hours(24));
    }
  }
  // Each cause is put in place, the run made and compared with what was
  // there just before it, and the cause taken away again.
  auto run_against = [&](const std::string& expected) {
    std::map<std::string, FileState> before = snapshot({bin_dir, runtime_bin_dir});
    ProcessResult result = run_silent();
    SCOPED_TRACE(expected);
    expect_failure(result, expected);
    EXPECT_TRUE(snapshot({bin_dir, runtime_bin_dir}) == before);
  };
  auto set_aside = [&](const fs::path& path) { fs::rename(path, scratch / "aside"); };
  auto put_back = [&](const fs::path& path) { fs::rename(scratch / "aside", path); };

  set_aside(runtime_bin_dir / "sigscan.exe");  // a fifth launcher missing
  run_against(message(kMissingFile, source(runtime_bin_dir, L"sigscan.exe")));
  put_back(runtime_bin_dir / "sigscan.exe");

  set_aside(release_dir / "no_dot_vorlax.boot");  // a third boot file missing
  run_against(message(kMissingFile, source(release_dir, L"no_dot_vorlax.boot")));
  fs::create_directory(release_dir / "no_dot_vorlax.boot");  // a boot source that is a directory
  run_against(copy_failed(release_dir, L"no_dot_vorlax.boot", kIsADirectory) + kBailingOut);
  fs::remove(release_dir / "no_dot_vorlax.boot");
  put_back(release_dir / "no_dot_vorlax.boot");

  set_aside(bin_dir / "start.boot");  // start.boot a directory: its message names bin's copy
  fs::create_directory(bin_dir / "start.boot");
  run_against(message(kCopyFailed, source(bin_dir, L"start_minimal.boot"), source(bin_dir, L"start.boot")) +
              reason_line(kIsADirectory) + kBailingOut);
  fs::remove(bin_dir / "start.boot");
  put_back(bin_dir / "start.boot");

  set_aside(runtime_bin_dir / "vlx.ini");  // vlx.ini that cannot be created
  fs::create_directory(runtime_bin_dir / "vlx.ini");
  run_against(message(kCreateFailed, source(runtime_bin_dir, L"vlx.ini")) + reason_line(kIsADirectory) +
              kBailingOut);
  fs::remove(runtime_bin_dir / "vlx.ini");
  put_back(runtime_bin_dir / "vlx.ini");

  // The cause gone, the next run installs the new release whole.
  ASSERT_EQ(run_silent().status, 0);
  expect_installed(false);
  EXPECT_EQ(count_entries_without_temporaries(bin_dir), 7 + 3 + 2);
}

// Mounts a memory file system of size bytes on directory for its life;
// mounted stays false where that cannot be done (not root, not Linux).
struct SmallFileSystem {
  SmallFileSystem(const fs::path& path, const std::string& size) : directory(to_wide(path)) {
    mounted = kPathSeparator == L'/' && fs::exists("/bin/mount") &&
              run_process(L"/bin/mount", {L"-t", L"tmpfs", L"-o", L"size=" + to_wide(size), L"tmpfs", directory},
                          L"/", "").status == 0;
  }
  ~SmallFileSystem() {
    if (mounted) run_process(L"/bin/umount", {directory}, L"/", "");
  }
  std::wstring directory;
  bool mounted;
};

TEST_F(DeployTest, FullDiskAtStartBootLeavesAnEarlierInstallationAsItWas) {
  fs::create_directories(bin_dir);
  SmallFileSystem small(bin_dir, "600k");
  if (!small.mounted) GTEST_SKIP() << "a small file system cannot be mounted here (needs root on Linux)";
  ASSERT_EQ(run_silent().status, 0);
  // The new minimal start-up file fits beside the earlier installation, and
  // start.boot, a second copy of it, does not.
  write_contents(release_dir / "start_minimal.boot", std::string(400 << 10, 'b'));
  std::map<std::string, FileState> before = snapshot({bin_dir, runtime_bin_dir});
  expect_failure(run_silent(), message(kCopyFailed, source(bin_dir, L"start_minimal.boot"),
                                       source(bin_dir, L"start.boot")) +
                                   reason_line(kNoSpace) + kBailingOut);
  EXPECT_TRUE(snapshot({bin_dir, runtime_bin_dir}) == before);
}

// Runs the tool in directory under strace, tracing the system call call
// into output (a file's path, or /dev/null), and where injection is not
// empty, tampering with it so ("error=EIO:when=9": the ninth fails; when
// "9+3", every third from it).
ProcessResult run_traced(const std::vector<std::wstring>& tool_arguments, const std::wstring& call,
                         const std::wstring& injection, const fs::path& output, const fs::path& directory) {
  // LeakSanitizer cannot work under ptrace: a sanitizer build's leak check is
  // left out there.
  std::vector<std::wstring> arguments = {L"-f", L"-qq", L"-o", to_wide(output), L"-E", L"ASAN_OPTIONS=detect_leaks=0",
                                         L"-e", L"trace=" + call};
  if (!injection.empty()) arguments.insert(arguments.end(), {L"-e", L"inject=" + call + L":" + injection});
  arguments.push_back(locate_sibling_program(L"vlxinstall"));
  arguments.insert(arguments.end(), tool_arguments.begin(), tool_arguments.end());
  return run_process(L"/usr/bin/strace", arguments, to_wide(directory), "");
}

// Runs the tool under strace with the renames given by when failing with EIO.
ProcessResult run_with_failing_renames(const std::vector<std::wstring>& tool_arguments, const std::wstring& when,
                                       const fs::path& directory) {
  return run_traced(tool_arguments, L"renameat", L"error=EIO:when=" + when, "/dev/null", directory);
}

// The occurrence (from 1) of the first call of call whose line holds marker
// in a run of the tool as traced, for a later run that fails it; 0 when the
// run did not end 0.
int find_occurrence(const std::vector<std::wstring>& tool_arguments, const std::wstring& call,
                    const std::string& marker, const fs::path& directory) {
  fs::path trace = directory / "trace";
  if (run_traced(tool_arguments, call, L"", trace, directory).status != 0) return 0;
  std::istringstream lines(read_contents(trace));
  int occurrence = 0;
  for (std::string line; std::getline(lines, line);) {
    ++occurrence;
    if (line.find(marker) != std::string::npos) break;
  }
  return occurrence;
}

TEST_F(DeployTest, FailedCommitPutsBackWhatItMoved) {
  if (kPathSeparator != L'/' || !fs::exists("/usr/bin/strace")) GTEST_SKIP() << "needs Linux and strace";
  ASSERT_EQ(run_silent().status, 0);
  for (const std::wstring& name : kLaunchers) {
    write_contents(runtime_bin_dir / name, "launcher " + encode_utf8(name.c_str()) + ", release two\n");
  }
  for (const std::wstring& name : kBootFileNames) {
    write_contents(release_dir / name, "boot " + encode_utf8(name.c_str()) + ", release two\n");
  }
  std::map<std::string, FileState> before = snapshot({bin_dir, runtime_bin_dir});
  // The commit renames the seven launchers, then the boot files: the ninth
  // rename is start_tavrel.boot's, which ends the run.
  std::string failed = message(kCopyFailed, source(release_dir, L"start_tavrel.boot"),
                               source(bin_dir, L"start_tavrel.boot")) + "  Input/output error\n";
  expect_failure(run_with_failing_renames({L"-s", to_wide(root)}, L"9", scratch), failed + kBailingOut);
  EXPECT_TRUE(snapshot({bin_dir, runtime_bin_dir}) == before);

  // The renames that put back fail too, every third from the ninth: the
  // eight files moved go back the last first, and the third and the sixth
  // of them, vlxrun.exe and vlxcomp.exe, stay new, each named in a line.
  expect_failure(run_with_failing_renames({L"-s", to_wide(root)}, L"9+3", scratch),
                 failed + message(kLeftNew, source(bin_dir, L"vlxrun.exe")) +
                     message(kLeftNew, source(bin_dir, L"vlxcomp.exe")) + kBailingOut);
  for (const std::wstring& name : kLaunchers) {
    bool left_new = name == L"vlxrun.exe" || name == L"vlxcomp.exe";
    EXPECT_EQ(read_contents(bin_dir / name),
              "launcher " + encode_utf8(name.c_str()) + (left_new ? ", release two\n" : "\n"))
        << encode_utf8(name.c_str());
  }
  EXPECT_EQ(read_contents(bin_dir / "start_minimal.boot"), "boot start_minimal.boot\n");
  // The next run clears the old files kept aside and completes.
  ASSERT_EQ(run_silent().status, 0);
  expect_installed(false);
  EXPECT_EQ(count_entries_without_temporaries(bin_dir), 7 + 3 + 2);

  // In a fresh root there is no old file: putting back removes the new one,
  // and where that fails too, the line says so.
  fs::remove_all(bin_dir);
  ProcessResult fresh = run_process(L"/usr/bin/strace",
                                    {L"-f", L"-qq", L"-o", L"/dev/null", L"-E", L"ASAN_OPTIONS=detect_leaks=0", L"-e",
                                     L"trace=renameat,unlinkat", L"-e", L"inject=renameat:error=EIO:when=9", L"-e",
                                     L"inject=unlinkat:error=EIO", locate_sibling_program(L"vlxinstall"), L"-s",
                                     to_wide(root)},
                                    to_wide(scratch), "");
  std::string unremoved;
  for (const wchar_t* name : {L"start_minimal.boot", L"testdrv.exe", L"vlxrun.exe", L"sigscan.exe", L"lintvet.exe",
                              L"vlxcomp.exe", L"vlxwin.exe", L"vlx.exe"}) {
    unremoved += message(kLeftNewUnremoved, source(bin_dir, name));
  }
  expect_failure(fresh, failed + unremoved + kBailingOut);
}

TEST_F(DeployTest, AFailedFcntlNeverMisreadsTheDescriptor) {
  if (kPathSeparator != L'/' || !fs::exists("/usr/bin/strace")) GTEST_SKIP() << "needs Linux and strace";
  // Each fcntl of a run fails in turn (a file's flags, a lock, a duplicate
  // descriptor): the run ends 0 with the installation whole, or 1 with the
  // failure's own message; never with a good Install.ini misread.
  ASSERT_EQ(run_silent().status, 0);
  fs::path trace = scratch / "trace";
  ASSERT_EQ(run_traced({L"-s", to_wide(root)}, L"fcntl", L"", trace, scratch).status, 0);
  std::istringstream lines(read_contents(trace));
  int calls = 0;
  for (std::string line; std::getline(lines, line);) calls += line.find("fcntl(") != std::string::npos;
  ASSERT_GT(calls, 0);
  for (int when = 1; when <= calls; ++when) {
    SCOPED_TRACE(when);
    ProcessResult result = run_traced({L"-s", to_wide(root)}, L"fcntl", L"error=EIO:when=" + std::to_wstring(when),
                                      "/dev/null", scratch);
    EXPECT_TRUE(result.status == 0 || result.status == 1) << result.status;
    EXPECT_EQ(result.err.find("No [Install] section"), std::string::npos) << result.err;
    if (result.status == 0) expect_installed(false);
  }
}

TEST_F(DeployTest, SweepThatCannotTellKeepsTheKeptFile) {
  if (kPathSeparator != L'/' || !fs::exists("/usr/bin/strace")) GTEST_SKIP() << "needs Linux and strace";
  // A commit killed after it moved vlx.exe aside: the kept file is the only
  // copy of the old launcher, and its name is empty.
  ASSERT_EQ(run_silent().status, 0);
  fs::path kept = bin_dir / ".vlxinstall-AAAAAA-vlx.exe";
  auto kill_commit = [&] {
    if (fs::exists(bin_dir / "vlx.exe")) fs::rename(bin_dir / "vlx.exe", kept);
    write_contents(kept, "the old launcher\n");
  };
  kill_commit();
  // The look at the empty name is the first at "vlx.exe" in the run: found
  // in a trace of the same run, then failed with EIO.
  int occurrence = find_occurrence({L"-s", to_wide(root)}, L"newfstatat", "\"vlx.exe\"", scratch);
  ASSERT_GT(occurrence, 0);
  kill_commit();
  ProcessResult result = run_traced({L"-s", to_wide(root)}, L"newfstatat",
                                    L"error=EIO:when=" + std::to_wstring(occurrence), "/dev/null", scratch);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(read_contents(kept), "the old launcher\n");  // kept, not removed unseen
  expect_installed(false);
  // The next sweep sees the name filled and removes the kept file.
  ASSERT_EQ(run_silent().status, 0);
  EXPECT_FALSE(fs::exists(kept));
}

TEST_F(DeployTest, NewFilesGetWhatTheirDirectoryPassesOn) {
  // A new file that carries no old one's access list gets exactly what a
  // file created in bin inherits; one that replaces a file of the caller's,
  // whose list was all inherited, keeps it so.
  fs::create_directories(bin_dir);
  write_contents(bin_dir / "probe", "");
  std::string inherited = access_list_text(to_wide(bin_dir / "probe"));
  fs::remove(bin_dir / "probe");
  if (inherited.empty()) GTEST_SKIP() << "files have no access lists of their own here";
  ASSERT_EQ(run_silent().status, 0);
  EXPECT_EQ(access_list_text(to_wide(bin_dir / "vlx.exe")), inherited);
  write_contents(runtime_bin_dir / "vlx.exe", "launcher vlx.exe, release two\n");
  ASSERT_EQ(run_silent().status, 0);
  EXPECT_EQ(access_list_text(to_wide(bin_dir / "vlx.exe")), inherited);
  EXPECT_EQ(access_list_text(to_wide(bin_dir / "start.boot")), inherited);
}

TEST_F(DeployTest, ALockThatCannotBeTakenLeavesNoLockFile) {
  if (kPathSeparator != L'/' || !fs::exists("/usr/bin/strace")) GTEST_SKIP() << "needs Linux and strace";
  // The lock's fcntl fails (ENOLCK, as on a file system without locks): the
  // run goes on unlocked and completes, and its lock file goes with it.
  int occurrence = find_occurrence({L"-s", to_wide(root)}, L"fcntl", "F_OFD_SETLK", scratch);
  ASSERT_GT(occurrence, 0);
  fs::remove_all(bin_dir);
  ProcessResult result = run_traced({L"-s", to_wide(root)}, L"fcntl",
                                    L"error=ENOLCK:when=" + std::to_wstring(occurrence), "/dev/null", scratch);
  EXPECT_EQ(result.status, 0) << result.err;
  expect_installed(false);
  EXPECT_FALSE(fs::exists(bin_dir / ".vlxinstall.lock"));
}

TEST_F(DeployTest, FatalConditionsLeaveAFreshBinEmpty) {
  fs::remove(runtime_bin_dir / "vlxrun.exe");
  expect_failure(run_silent(), message(kMissingFile, source(runtime_bin_dir, L"vlxrun.exe")));
  EXPECT_TRUE(fs::is_empty(bin_dir));
  write_contents(runtime_bin_dir / "vlxrun.exe", "launcher vlxrun.exe\n");

  fs::remove(release_dir / "start_tavrel.boot");
  expect_failure(run_silent(), message(kMissingFile, source(release_dir, L"start_tavrel.boot")));
  EXPECT_TRUE(fs::is_empty(bin_dir));
  write_contents(release_dir / "start_tavrel.boot", "boot start_tavrel.boot\n");

  fs::create_directory(runtime_bin_dir / "vlx.ini");
  expect_failure(run_silent(), message(kCreateFailed, source(runtime_bin_dir, L"vlx.ini")) +
                                   reason_line(kIsADirectory) + kBailingOut);
  EXPECT_TRUE(fs::is_empty(bin_dir));
  EXPECT_EQ(count_entries_without_temporaries(runtime_bin_dir), 7 + 1);
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
  EXPECT_EQ(result.err, console_text(copy_failed(runtime_bin_dir, L"vlxwin.exe", kIsADirectory) + kContinuing +
                                     copy_failed(runtime_bin_dir, L"testdrv.exe", kIsADirectory) + kContinuing));
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
  EXPECT_EQ(result.err, console_text(copy_failed(runtime_bin_dir, L"vlx.exe", kIsADirectory) + kContinuing));
  EXPECT_EQ(read_contents(bin_dir / "vlx.exe"), "installed before");
  EXPECT_EQ(count_entries_without_temporaries(bin_dir), 7 + 3 + 2);
}

// True when directory holds a temporary file of the size of contents: what
// the run moves over its target next. Its bytes cannot be read: the run keeps
// it open, unshared, until it has moved it.
bool holds_ready_temporary(const fs::path& directory, const std::string& contents) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(directory, error)) {
    const fs::path& path = entry.path();
    if (is_temporary_name(path.filename().string()) && fs::file_size(path, error) == contents.size()) return true;
  }
  return false;
}

TEST_F(DeployTest, TargetsHeldOpenAreWaitedForAndThenGivenUp) {
  ASSERT_EQ(run_silent().status, 0);
  // A scanner's hold: let go only once the run has the new file ready to
  // move over the held one, so that the run meets the hold however long its
  // start took.
  FileHandle held = hold_file_unshared(to_wide(bin_dir / "start_tavrel.boot"));
  if (held == kInvalidFile) GTEST_SKIP() << "files cannot be held unshared here";
  const std::string newer = "boot, release two\n";
  write_contents(release_dir / "start_tavrel.boot", newer);
  std::thread release([&] {
    while (!holds_ready_temporary(bin_dir, newer)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    close_file(held);
  });
  ProcessResult result = run_silent();
  release.join();
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(read_contents(bin_dir / "start_tavrel.boot"), newer);

  // Held for longer than the wait: the failure policies as before.
  held = hold_file_unshared(to_wide(bin_dir / "vlxwin.exe"));
  write_contents(runtime_bin_dir / "vlxwin.exe", "launcher, release two\n");
  result = run_interactive("\n");
  close_file(held);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, success_output());
  EXPECT_EQ(result.err, console_text(copy_failed(runtime_bin_dir, L"vlxwin.exe", kHeldElsewhere) + kContinuing));
  EXPECT_EQ(read_contents(bin_dir / "vlxwin.exe"), "launcher vlxwin.exe\n");

  held = hold_file_unshared(to_wide(bin_dir / "start_tavrel.boot"));
  expect_failure(run_silent(), copy_failed(release_dir, L"start_tavrel.boot", kHeldElsewhere) + kBailingOut);
  close_file(held);
  EXPECT_EQ(count_entries_without_temporaries(bin_dir), 7 + 3 + 2);
}

TEST_F(DeployTest, NoOtherProgramCanHoldANewFileBeforeItsMove) {
  ASSERT_EQ(run_silent().status, 0);
  if (kPathSeparator == L'/') GTEST_SKIP() << "files cannot be held unshared here";
  // A scanner that took the new file between its close and its move would
  // make the move fail, and a target moved aside for it would be missing if
  // the run were killed then. The launcher is held until the scanner has
  // tried, so that the run waits with its new file ready.
  const std::string newer = "launcher vlxwin.exe, release two, new bytes\n";
  write_contents(runtime_bin_dir / "vlxwin.exe", newer);
  FileHandle target = hold_file_unshared(to_wide(bin_dir / "vlxwin.exe"));
  std::atomic<bool> ended{false}, tried{false};
  std::thread scanner([&] {
    while (!ended && !tried) {
      std::error_code error;
      for (const auto& entry : fs::directory_iterator(bin_dir, error)) {
        const fs::path& path = entry.path();
        if (!tried && is_temporary_name(path.filename().string()) && fs::file_size(path, error) == newer.size()) {
          FileHandle held = hold_file_unshared(to_wide(path));
          EXPECT_EQ(held, kInvalidFile) << "another program took the new file";
          if (held != kInvalidFile) close_file(held);
          tried = true;
        }
      }
    }
    close_file(target);
  });
  ProcessResult result = run_silent();
  ended = true;
  scanner.join();
  EXPECT_TRUE(tried);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(read_contents(bin_dir / "vlxwin.exe"), newer);
  EXPECT_EQ(count_entries_without_temporaries(bin_dir), 7 + 3 + 2);  // nothing moved aside
}

// Makes a directory refuse new files for as long as it lives.
struct NewFilesRefused {
  explicit NewFilesRefused(const fs::path& path) : directory(to_wide(path)), refused(refuse_new_files(directory, true)) {}
  ~NewFilesRefused() {
    if (refused) refuse_new_files(directory, false);
  }
  std::wstring directory;
  bool refused;
};

TEST_F(DeployTest, AFatalFailureInPlaceGivesEveryFileBack) {
  // bin refuses new files, so every file of it is written in place; the
  // ninth, start_tavrel.boot, is too large for the disk (a file size
  // limit). The eight written before it, and its own first part, get their
  // old bytes, mode and times back: the run leaves the installation as it
  // was, as every run that ends with status 1 does.
  ASSERT_EQ(run_silent().status, 0);
  for (const std::wstring& name : kLaunchers) {
    write_contents(runtime_bin_dir / name, "launcher " + encode_utf8(name.c_str()) + ", release two\n");
  }
  write_contents(release_dir / "start_minimal.boot", "boot start_minimal.boot, release two\n");
  write_contents(release_dir / "start_tavrel.boot", std::string(200000, 't'));
  std::map<std::string, FileState> before = snapshot({bin_dir, runtime_bin_dir});
  NewFilesRefused refused(bin_dir);
  if (!refused.refused) GTEST_SKIP() << "the file system has no attribute that makes a directory refuse new files";
  ProcessResult result;
  if (!run_with_file_size_limit(64 << 10, [&] { result = run_silent(); })) {
    GTEST_SKIP() << "no file size limit here";
  }
  expect_failure(result, copy_failed(release_dir, L"start_tavrel.boot", kFileTooLarge) + kBailingOut);
  EXPECT_TRUE(snapshot({bin_dir, runtime_bin_dir}) == before);
}

TEST_F(DeployTest, InPlaceWritesWaitOutABriefHoldAndGiveEverythingBackAfterALongOne) {
  // bin refuses new files, so every file is written in place, launchers
  // first, then the boot files. start_tavrel.boot is held by a scanner that
  // lets go once start_minimal.boot, written just before it, has its new
  // bytes: the run waits the hold out. Held for the whole run, it makes the
  // run fail, and the eight files written before it get their old bytes.
  ASSERT_EQ(run_silent().status, 0);
  FileHandle held = hold_file_unshared(to_wide(bin_dir / "start_tavrel.boot"));
  if (held == kInvalidFile) GTEST_SKIP() << "files cannot be held unshared here";
  for (const std::wstring& name : kLaunchers) {
    write_contents(runtime_bin_dir / name, "launcher " + encode_utf8(name.c_str()) + ", release two\n");
  }
  const std::string minimal = "boot start_minimal.boot, release two\n", tavrel = "boot start_tavrel.boot, two\n";
  write_contents(release_dir / "start_minimal.boot", minimal);
  write_contents(release_dir / "start_tavrel.boot", tavrel);
  std::map<std::string, FileState> before = snapshot({bin_dir, runtime_bin_dir});
  {
    NewFilesRefused refused(bin_dir);
    if (!refused.refused) {
      close_file(held);
      GTEST_SKIP() << "the file system has no attribute that makes a directory refuse new files";
    }
    expect_failure(run_silent(), copy_failed(release_dir, L"start_tavrel.boot", kHeldElsewhere) + kBailingOut);
  }
  EXPECT_TRUE(snapshot({bin_dir, runtime_bin_dir}) == before);

  NewFilesRefused refused(bin_dir);
  std::thread release([&] {
    while (read_contents(bin_dir / "start_minimal.boot") != minimal) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    close_file(held);
  });
  ProcessResult result = run_silent();
  release.join();
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(read_contents(bin_dir / "start_tavrel.boot"), tavrel);
  EXPECT_EQ(read_contents(bin_dir / "vlx.exe"), "launcher vlx.exe, release two\n");
}

TEST_F(DeployTest, InPlaceWritesStartOnlyOnceTheSourceIsRead) {
  ASSERT_EQ(run_silent().status, 0);
  // start.boot made another name of its start-up file by hand; a launcher
  // that another program holds; a shorter launcher than the one installed.
  fs::remove(bin_dir / "start.boot");
  fs::create_hard_link(bin_dir / "start_minimal.boot", bin_dir / "start.boot");
  write_contents(runtime_bin_dir / "vlxrun.exe", "launcher, release two\n");
  write_contents(runtime_bin_dir / "vlx.exe", "short\n");
  NewFilesRefused refused(bin_dir);
  if (!refused.refused) GTEST_SKIP() << "the file system has no attribute that makes a directory refuse new files";
  FileHandle held = hold_file_unshared(to_wide(runtime_bin_dir / "vlxrun.exe"));
  ProcessResult result = run_silent();
  if (held != kInvalidFile) close_file(held);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, held == kInvalidFile ? ""
                                             : console_text(copy_failed(runtime_bin_dir, L"vlxrun.exe", kHeldElsewhere) +
                                                            kContinuing));
  EXPECT_EQ(read_contents(bin_dir / "vlxrun.exe"),
            held == kInvalidFile ? "launcher, release two\n" : "launcher vlxrun.exe\n");
  EXPECT_EQ(read_contents(bin_dir / "vlx.exe"), "short\n");  // written over, and cut
  EXPECT_EQ(read_contents(bin_dir / "start_minimal.boot"), "boot start_minimal.boot\n");
  EXPECT_EQ(read_contents(bin_dir / "start.boot"), "boot start_minimal.boot\n");
  EXPECT_EQ(file_identity(to_wide(bin_dir / "start.boot")), file_identity(to_wide(bin_dir / "start_minimal.boot")));
  EXPECT_EQ(read_contents(bin_dir / "vlx.ini"), expected_config(to_wide(root)));
  EXPECT_EQ(count_entries_without_temporaries(bin_dir), 7 + 3 + 2);
}

TEST_F(DeployTest, RunningLauncherIsReplaced) {
  // Windows refuses to replace a running program but lets it be renamed.
  fs::path program = to_path(locate_sibling_program(L"vlx_keep_running"));
  fs::copy_file(program, runtime_bin_dir / "vlx.exe", fs::copy_options::overwrite_existing);
  ASSERT_EQ(run_silent().status, 0);
  fs::path stop = scratch / "stop";  // the program runs until this file exists
  ProcessHandle running = start_process(to_wide(bin_dir / "vlx.exe"), {to_wide(stop)}, to_wide(scratch));
  ASSERT_NE(running, -1);
  std::string newer = read_contents(program) + "release two";
  write_contents(runtime_bin_dir / "vlx.exe", newer);
  ProcessResult result = run_silent();
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(same_bytes(read_contents(bin_dir / "vlx.exe"), newer));
  EXPECT_TRUE(process_is_running(running));
  // Windows keeps the old program aside while it runs: a check names it,
  // and it is no finding.
  std::string in_use;
  for (const auto& entry : fs::directory_iterator(bin_dir)) {
    std::wstring name = to_wide(entry.path().filename());
    if (original_of_aside_name(name) == L"vlx.exe") {
      in_use = message(kProgramInUse, encode_utf8(native_path(std::wstring(L"bin"), {name.c_str()}).c_str()), "vlx.exe");
    }
  }
  EXPECT_EQ(in_use.empty(), kPathSeparator == L'/');
  ProcessResult check = run_tool({L"--check", to_wide(root)});
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.out, console_text(in_use + message(kCheckedMinimal, "2.4.1")));
  write_contents(stop, "");
  wait_for_process(running);
  // The next run removes the renamed program, and a check says nothing of it.
  ASSERT_EQ(run_silent().status, 0);
  EXPECT_EQ(count_entries_without_temporaries(bin_dir), 7 + 3 + 2);
  check = run_tool({L"--check", to_wide(root)});
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.out, console_text(message(kCheckedMinimal, "2.4.1")));
}

TEST_F(DeployTest, AFileReadersHoldWithDeleteSharingIsNoRunningProgram) {
  // A reader that lets others rename and delete the file but not write it
  // holds a launcher and vlx.ini: both are replaced as any file, and a check
  // calls neither running. Where renames with POSIX semantics are missing
  // (Wine), a held target goes aside for its replacement and its name stays
  // until the reader lets go; then nothing is left over.
  ASSERT_EQ(run_silent().status, 0);
  write_contents(bin_dir / "vlx.ini", "[vorlax]\nRootdir=elsewhere\n");
  FileHandle launcher = hold_file_sharing_delete(to_wide(bin_dir / "vlxwin.exe"));
  if (launcher == kInvalidFile) GTEST_SKIP() << "files cannot be held so here";
  FileHandle config = hold_file_sharing_delete(to_wide(bin_dir / "vlx.ini"));
  write_contents(runtime_bin_dir / "vlxwin.exe", "launcher vlxwin.exe, release two\n");
  ProcessResult result = run_silent();
  ProcessResult check = run_tool({L"--check", to_wide(root)});
  close_file(launcher);
  close_file(config);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(read_contents(bin_dir / "vlxwin.exe"), "launcher vlxwin.exe, release two\n");
  EXPECT_EQ(read_contents(bin_dir / "vlx.ini"), expected_config(to_wide(root)));
  EXPECT_EQ(check.out.find("in use"), std::string::npos) << check.out;
  check = run_tool({L"--check", to_wide(root)});
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.out, console_text(message(kCheckedMinimal, "2.4.1")));
}

TEST_F(DeployTest, OtherNamesOfAReplacedFileKeepItsOldContents) {
  ASSERT_EQ(run_silent().status, 0);
  // start.boot made another name of start_tavrel.boot by hand, and a backup
  // kept of a launcher as another name of it (as cp -al makes snapshots),
  // read-only: the run replaces the name and removes the name it kept the
  // old file under without changing the attributes its other names share;
  // on Windows with POSIX-semantics renames and deletes, and without them
  // (the strict layer's older Windows).
  fs::remove(bin_dir / "start.boot");
  fs::create_hard_link(bin_dir / "start_tavrel.boot", bin_dir / "start.boot");
  const fs::perms writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  for (const char* without_posix : {"", "1"}) {
    SCOPED_TRACE(*without_posix ? "without POSIX semantics" : "as the system has it");
    set_environment_variable("VLX_STRICT_WITHOUT_POSIX", without_posix);
    fs::remove(scratch / "vlx.exe.backup");
    fs::create_hard_link(bin_dir / "vlx.exe", scratch / "vlx.exe.backup");
    fs::permissions(scratch / "vlx.exe.backup", writable, fs::perm_options::remove);
    std::string old = read_contents(bin_dir / "vlx.exe"), newer = old + "again\n";
    std::uint64_t identity = file_identity(to_wide(bin_dir / "vlx.exe"));
    write_contents(runtime_bin_dir / "vlx.exe", newer);
    ProcessResult result = run_silent();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    expect_installed(false);
    EXPECT_EQ(read_contents(bin_dir / "start_tavrel.boot"), "boot start_tavrel.boot\n");
    EXPECT_EQ(read_contents(scratch / "vlx.exe.backup"), old);
    EXPECT_EQ(fs::status(scratch / "vlx.exe.backup").permissions() & writable, fs::perms::none);
    EXPECT_NE(file_identity(to_wide(bin_dir / "vlx.exe")), identity);  // a new file, not the old one rewritten
    fs::permissions(scratch / "vlx.exe.backup", fs::perms::owner_write, fs::perm_options::add);
  }
  set_environment_variable("VLX_STRICT_WITHOUT_POSIX", "");
}

TEST_F(DeployTest, ReadOnlyFilesOfAnEarlierInstallationAreReplaced) {
  // Read-only sources give read-only copies. Windows refuses to rename over
  // them, so the attribute is cleared for the move (Linux and Wine would not
  // refuse); the new copy is read-only again.
  const fs::perms writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  for (const fs::path& source : {runtime_bin_dir / "vlx.exe", release_dir / "start_minimal.boot"}) {
    fs::permissions(source, writable, fs::perm_options::remove);
  }
  ASSERT_EQ(run_silent().status, 0);
  for (const fs::path& source : {runtime_bin_dir / "vlx.exe", release_dir / "start_minimal.boot"}) {
    fs::path copy = bin_dir / source.filename();
    EXPECT_EQ(fs::status(copy).permissions() & writable, fs::perms::none) << copy;
    fs::permissions(source, writable, fs::perm_options::add);
    write_contents(source, "release two\n");
    fs::permissions(source, writable, fs::perm_options::remove);
  }
  ProcessResult result = run_silent();
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  for (const char* name : {"vlx.exe", "start_minimal.boot", "start.boot"}) {
    EXPECT_EQ(read_contents(bin_dir / name), "release two\n") << name;
  }
  EXPECT_EQ(fs::status(bin_dir / "vlx.exe").permissions() & writable, fs::perms::none);
}

TEST_F(DeployTest, AFailedUpgradeOverReadOnlyFilesPutsEverythingBackWithItsAttributes) {
  // Read-only sources and read-only targets; the last boot file held for the
  // whole run, so that the commit fails after the launchers and the first
  // boot file stand, and puts them back. A scanner holds the new vlx.exe
  // until the put-back is about to reach it.
  // Windows refuses to replace read-only files and, without POSIX-semantics
  // renames, files with open handles: every old file must come back with
  // its bytes, attributes, time and identity.
  const fs::perms writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  auto make_read_only = [&](const fs::path& directory) {
    for (const auto& entry : fs::directory_iterator(directory)) {
      if (entry.path().extension() != ".ini") fs::permissions(entry.path(), writable, fs::perm_options::remove);
    }
  };
  ASSERT_EQ(run_silent().status, 0);
  for (const std::wstring& name : kLaunchers) {
    write_contents(runtime_bin_dir / name, "launcher " + encode_utf8(name.c_str()) + ", release two\n");
  }
  for (const std::wstring& name : kBootFileNames) {
    write_contents(release_dir / name, "boot " + encode_utf8(name.c_str()) + ", release two\n");
  }
  for (const fs::path& directory : {bin_dir, runtime_bin_dir, release_dir}) make_read_only(directory);
  std::map<std::string, FileState> before = snapshot({bin_dir, runtime_bin_dir});
  FileHandle held = hold_file_unshared(to_wide(bin_dir / "start_tavrel.boot"));
  if (held == kInvalidFile) GTEST_SKIP() << "files cannot be held unshared here";
  // The scanner holds the new vlx.exe (sharing delete) from when its old
  // file is kept aside until vlxwin.exe, put back just before it, is back:
  // the put-back of vlx.exe meets the hold and waits it out. It looks by
  // listing bin, which holds no file.
  auto kept_aside = [&](const wchar_t* original) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(bin_dir, error)) {
      if (original_of_aside_name(to_wide(entry.path().filename())) == original) return true;
    }
    return false;
  };
  std::atomic<bool> ended{false};
  std::thread scanner([&] {
    FileHandle scan = kInvalidFile;
    bool seen = false;
    while (!ended) {
      if (scan == kInvalidFile && !seen && kept_aside(L"vlx.exe")) {
        scan = hold_file_sharing_delete(to_wide(bin_dir / "vlx.exe"));
        seen = scan != kInvalidFile;
      }
      if (scan != kInvalidFile && !kept_aside(L"vlxwin.exe")) {
        close_file(scan);
        scan = kInvalidFile;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (scan != kInvalidFile) close_file(scan);
  });
  ProcessResult result = run_silent();
  ended = true;
  scanner.join();
  close_file(held);
  expect_failure(result, copy_failed(release_dir, L"start_tavrel.boot", kHeldElsewhere) + kBailingOut);
  EXPECT_TRUE(snapshot({bin_dir, runtime_bin_dir}) == before);
  EXPECT_EQ(count_entries_without_temporaries(bin_dir), 7 + 3 + 2);
  for (const fs::path& directory : {bin_dir, runtime_bin_dir, release_dir}) {
    for (const auto& entry : fs::directory_iterator(directory)) {
      fs::permissions(entry.path(), writable, fs::perm_options::add);
    }
  }
}

TEST_F(DeployTest, BinThatIsAFileFailsEveryCopy) {
  write_contents(bin_dir, "not a directory");
  std::string expected;
  for (const std::wstring& name : kLaunchers) {
    expected += copy_failed(runtime_bin_dir, name.c_str(), kNotADirectory) + kContinuing;
  }
  expected += copy_failed(release_dir, L"start_minimal.boot", kNotADirectory) + kBailingOut;
  expect_failure(run_silent(), expected);
  EXPECT_EQ(read_contents(bin_dir), "not a directory");
}

}  // namespace
