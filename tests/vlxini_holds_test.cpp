// vlxini's holds on the files it changes, in the configurations packagers
// meet: a link and its target changed at once, writers that may make no lock
// file beside the file (and readers meanwhile), a lock file that an
// outsider holds, a merge whose snippet comes slowly, and a change made by
// another program while the store is flushed.
#include <signal.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "initfile/initfile.h"
#include "tests/tool_runner.h"

using namespace vlx;

namespace {

const long kNobody = 65534;

// POSIX only: Windows' holds differ where docs/faults.md says.
class VlxiniHoldsTest : public ScratchTest {
 protected:
  std::wstring program() { return locate_sibling_program(L"vlxini"); }
  std::wstring file(const fs::path& path) { return to_wide(path); }
  // The value of key in [s] of the file at path, as the library reads it.
  std::string value_of(const fs::path& path, const std::string& key) {
    InitFile* loaded = load_init_file(to_wide(path).c_str());
    InitSection* section = loaded ? lookup_init_section(loaded, "s") : nullptr;
    const char* value = section ? lookup_init_value(section, key.c_str()) : nullptr;
    std::string found = value ? value : "(none)";
    if (loaded) free_init_file(loaded);
    return found;
  }
  // Makes the scratch directory reachable for other users, with a copy of
  // vlxini in it that they may run: its path.
  std::string share_program() {
    fs::permissions(scratch, fs::perms::others_exec, fs::perm_options::add);
    fs::copy_file(to_path(program()), scratch / "vlxini", fs::copy_options::overwrite_existing);
    return (scratch / "vlxini").string();
  }
  // Runs a shell script as the user uid (root for 0).
  ProcessResult shell_as(long uid, const std::string& script) {
    std::wstring text = decode_utf8(script.data(), script.size());
    if (uid == 0) return run_process(L"/bin/sh", {L"-c", text}, to_wide(scratch), "");
    return run_process(L"/usr/bin/setpriv",
                       {L"--reuid=" + std::to_wstring(uid), L"--regid=" + std::to_wstring(uid), L"--clear-groups",
                        L"/bin/sh", L"-c", text},
                       to_wide(scratch), "");
  }
};

TEST_F(VlxiniHoldsTest, ALinkAndItsTargetTakeOneHold) {
  fs::create_directories(scratch / "etc");
  fs::create_directories(scratch / "opt");
  write_contents(scratch / "opt" / "x.conf", "[s]\n");
  fs::create_symlink("../opt/x.conf", scratch / "etc" / "x.conf");
  const int rounds = 30;
  for (int i = 0; i < rounds; ++i) {
    std::wstring n = std::to_wstring(i);
    ProcessHandle a = start_process(program(), {L"set", file(scratch / "etc" / "x.conf"), L"s", L"a" + n, L"1"},
                                    to_wide(scratch));
    ProcessHandle b = start_process(program(), {L"set", file(scratch / "opt" / "x.conf"), L"s", L"b" + n, L"2"},
                                    to_wide(scratch));
    ASSERT_NE(a, -1);
    ASSERT_NE(b, -1);
    wait_for_process(a);
    wait_for_process(b);
  }
  for (int i = 0; i < rounds; ++i) {
    EXPECT_EQ(value_of(scratch / "opt" / "x.conf", "a" + std::to_string(i)), "1") << i;
    EXPECT_EQ(value_of(scratch / "opt" / "x.conf", "b" + std::to_string(i)), "2") << i;
  }
  EXPECT_TRUE(fs::is_symlink(scratch / "etc" / "x.conf"));
  EXPECT_FALSE(fs::exists(scratch / "etc" / ".x.conf.lock"));
  EXPECT_FALSE(fs::exists(scratch / "opt" / ".x.conf.lock"));
}

TEST_F(VlxiniHoldsTest, WritersThatMayMakeNoLockFileLoseNothingAndReadersSeeWholeFiles) {
  if (!can_run_as_other_users() || !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs root and setpriv";
  // nobody's file in a directory of root's that nobody may not write: no
  // lock file, no new file, so every store is written in place. Four
  // writers as nobody, ten keys each, while two readers ask 300 times each
  // for a key no one changes.
  std::string vlxini = share_program();
  fs::create_directories(scratch / "ro");
  std::string text = "[s]\nfixed=still here\n";
  for (int i = 0; i < 40; ++i) text += "; a line of comment to make the file longer, number " + std::to_string(i) + "\n";
  write_contents(scratch / "ro" / "lk.ini", text);
  ASSERT_TRUE(change_owner(file(scratch / "ro" / "lk.ini"), kNobody));
  std::vector<std::thread> runs;
  std::vector<ProcessResult> results(6);
  for (int w = 0; w < 4; ++w) {
    runs.emplace_back([&, w] {
      results[w] = shell_as(kNobody, "for i in 0 1 2 3 4 5 6 7 8 9; do '" + vlxini + "' set ro/lk.ini s w" +
                                         std::to_string(w) + "_$i $i || echo \"set $i: $?\"; done");
    });
  }
  for (int r = 4; r < 6; ++r) {
    runs.emplace_back([&, r] {
      results[r] = shell_as(0, "i=0; while [ $i -lt 300 ]; do v=$('" + vlxini +
                                   "' get ro/lk.ini s fixed) || echo \"get: $?\"; [ \"$v\" = 'still here' ] || "
                                   "echo \"read: $v\"; i=$((i+1)); done");
    });
  }
  for (std::thread& run : runs) run.join();
  for (const ProcessResult& result : results) {
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
  }
  for (int w = 0; w < 4; ++w) {
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(value_of(scratch / "ro" / "lk.ini", "w" + std::to_string(w) + "_" + std::to_string(i)),
                std::to_string(i));
    }
  }
  EXPECT_EQ(list_directory(scratch / "ro"), std::vector<std::string>{"lk.ini"});
}

TEST_F(VlxiniHoldsTest, SomethingElseAtTheLocksNameHoldsNothingUnheld) {
  // A directory where the lock file would be: the file itself is held.
  write_contents(scratch / "d.ini", "[s]\n");
  fs::create_directory(scratch / ".d.ini.lock");
  const int rounds = 20;
  for (int i = 0; i < rounds; ++i) {
    std::wstring n = std::to_wstring(i);
    ProcessHandle a = start_process(program(), {L"set", file(scratch / "d.ini"), L"s", L"a" + n, L"1"}, to_wide(scratch));
    ProcessHandle b = start_process(program(), {L"set", file(scratch / "d.ini"), L"s", L"b" + n, L"2"}, to_wide(scratch));
    wait_for_process(a);
    wait_for_process(b);
  }
  for (int i = 0; i < rounds; ++i) {
    EXPECT_EQ(value_of(scratch / "d.ini", "a" + std::to_string(i)), "1") << i;
    EXPECT_EQ(value_of(scratch / "d.ini", "b" + std::to_string(i)), "2") << i;
  }
  EXPECT_TRUE(fs::is_directory(scratch / ".d.ini.lock"));
}

TEST_F(VlxiniHoldsTest, AnOutsidersLockFileHoldsNoChangeUp) {
  if (!can_run_as_other_users() || !fs::exists("/usr/bin/setpriv") || !fs::exists("/usr/bin/python3")) {
    GTEST_SKIP() << "needs root, setpriv and python3";
  }
  fs::create_directories(scratch / "sticky");
  fs::permissions(scratch / "sticky", fs::perms::all | fs::perms::sticky_bit);
  fs::permissions(scratch, fs::perms::others_exec, fs::perm_options::add);
  write_contents(scratch / "sticky" / "root.ini", "[s]\nk=1\n");
  // nobody makes root.ini's lock file and locks it, says so with a file,
  // and lets go when the test makes another.
  fs::path ready = scratch / "sticky" / "ready", stop = scratch / "sticky" / "stop";
  std::string holder = "import fcntl,os,sys,time\nf=open(sys.argv[1],'a')\nfcntl.lockf(f,fcntl.LOCK_EX)\n"
                       "open(sys.argv[2],'w').close()\nend=time.time()+120\n"
                       "while not os.path.exists(sys.argv[3]) and time.time()<end: time.sleep(0.01)\n";
  ProcessHandle outsider = start_process(
      L"/usr/bin/setpriv", {L"--reuid=65534", L"--regid=65534", L"--clear-groups", L"/usr/bin/python3", L"-c",
                            decode_utf8(holder.data(), holder.size()), file(scratch / "sticky" / ".root.ini.lock"),
                            file(ready), file(stop)},
      to_wide(scratch));
  ASSERT_NE(outsider, -1);
  while (!fs::exists(ready) && process_is_running(outsider)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(fs::exists(ready));
  ProcessResult result = run_process(program(), {L"set", file(scratch / "sticky" / "root.ini"), L"s", L"k", L"2"},
                                     to_wide(scratch), "");
  write_contents(stop, "");
  wait_for_process(outsider);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");  // no wait, nothing said
  EXPECT_EQ(value_of(scratch / "sticky" / "root.ini", "k"), "2");
  EXPECT_TRUE(fs::exists(scratch / "sticky" / ".root.ini.lock"));  // the outsider's, left as it is
}

// True when the process is blocked reading its standard input.
bool reads_standard_input(ProcessHandle process) {
  std::ifstream call("/proc/" + std::to_string(process) + "/syscall");
  std::string number, descriptor;
  call >> number >> descriptor;
  return number == "0" && descriptor == "0x0";
}

TEST_F(VlxiniHoldsTest, MergeReadsItsSnippetBeforeHoldingTheFile) {
  write_contents(scratch / "m.ini", "[s]\n");
  ASSERT_TRUE(make_fifo(file(scratch / "snippet")));
  std::string line = "exec '" + encode_utf8(program().c_str()) + "' merge m.ini - <snippet";
  ProcessHandle merge = start_process(L"/bin/sh", {L"-c", decode_utf8(line.data(), line.size())}, to_wide(scratch));
  ASSERT_NE(merge, -1);
  std::ofstream producer(scratch / "snippet");  // opens once the merge's shell opens the other end
  producer << "[s]\nfrom_merge=1\n" << std::flush;
  while (!reads_standard_input(merge) && process_is_running(merge)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // The producer is slow: meanwhile another change goes ahead at once.
  ProcessResult other = run_process(program(), {L"set", file(scratch / "m.ini"), L"s", L"other", L"2"},
                                    to_wide(scratch), "");
  EXPECT_EQ(other.status, 0);
  EXPECT_EQ(other.err, "");
  producer << "last=3\n";
  producer.close();
  wait_for_process(merge);
  EXPECT_EQ(value_of(scratch / "m.ini", "from_merge"), "1");
  EXPECT_EQ(value_of(scratch / "m.ini", "last"), "3");
  EXPECT_EQ(value_of(scratch / "m.ini", "other"), "2");
}

// The process of vlxini running in directory, or 0.
long find_vlxini(const fs::path& directory) {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string number, name;
    stat >> number >> name;
    std::error_code error;
    if (name == "(vlxini)" && fs::read_symlink(entry.path() / "cwd", error) == directory) return std::stol(pid);
  }
  return 0;
}

// True when directory holds the new file of a store to name with all of text.
bool holds_new_file(const fs::path& directory, const std::string& name, const std::string& text) {
  for (const std::string& entry : list_directory(directory)) {
    if (entry.compare(0, name.size() + 2, "." + name + ".") == 0 && entry.size() > name.size() + 6 &&
        entry.compare(entry.size() - 4, 4, ".tmp") == 0 && read_contents(directory / entry) == text) {
      return true;
    }
  }
  return false;
}

TEST_F(VlxiniHoldsTest, AChangeMadeWhileTheStoreIsFlushedIsNotWrittenOver) {
  if (!fs::exists("/usr/bin/strace")) GTEST_SKIP() << "needs strace";
  // The store stops at the flush of its new file; meanwhile another program
  // replaces the file. The look for such a change stands right before the
  // rename: the store gives up with status 3, and the other change stays.
  write_contents(scratch / "f.ini", "[s]\nk=1\n");
  ProcessResult result;
  std::atomic<bool> ended{false};
  std::thread store([&] {
    result = run_process(L"/usr/bin/strace",
                         {L"-qq", L"-o", L"/dev/null", L"-E", L"ASAN_OPTIONS=detect_leaks=0", L"-e", L"trace=fsync",
                          L"-e", L"inject=fsync:signal=STOP:when=1", program(), L"set", L"f.ini", L"s", L"k", L"2"},
                         to_wide(scratch), "");
    ended = true;
  });
  // Once its new file holds all of the new text, the store cannot pass the
  // flush that follows until it is continued.
  while (!ended && !holds_new_file(scratch, "f.ini", "[s]\nk=2\n")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  long stopped = ended ? 0 : find_vlxini(fs::canonical(scratch));
  if (stopped == 0) {
    store.join();
    FAIL() << "the store never reached its flush: " << result.status << " " << result.err;
  }
  write_contents(scratch / "other", "[s]\nk=other\n");
  fs::rename(scratch / "other", scratch / "f.ini");
  // Continued until it ends: a SIGCONT that comes before the tracer has let
  // the stop happen would be lost.
  while (!ended) {
    kill(static_cast<pid_t>(stopped), SIGCONT);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  store.join();
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.err, "Could not store init file f.ini\n  it was changed by another program since it was read\n");
  EXPECT_EQ(read_contents(scratch / "f.ini"), "[s]\nk=other\n");
  EXPECT_EQ(list_directory(scratch), std::vector<std::string>{"f.ini"});
}

}  // namespace
