// vlxini through the real executable: its commands, statuses and messages,
// and the bytes it keeps.
#include <algorithm>
#include <fstream>

#include "initfile/initfile.h"
#include "tests/tool_runner.h"

using namespace vlx;

namespace {

class VlxiniTest : public ScratchTest {
 protected:
  vlx::ProcessResult vlxini(const std::vector<std::wstring>& arguments) {
    return run_process(locate_sibling_program(L"vlxini"), arguments, to_wide(scratch), "");
  }
  // The path of name in the scratch directory, for the command line.
  std::wstring file(const wchar_t* name) { return to_wide(scratch / to_path(name)); }
  std::string shown(const wchar_t* name) { return encode_utf8(file(name).c_str()); }
};

const char kSample[] =
    "; release descriptor\r\n"
    "[Install]\r\n"
    "  VSN = 2.4.1   ; the runtime\r\n"
    "  SYSTEM_VSN=9\r\n"
    "\r\n"
    "; paths\r\n"
    "[Paths]\r\n"
    "root=C:\\\\V\\;old ; escaped\r\n";

TEST_F(VlxiniTest, CommandsGiveTheirOutputAndStatus) {
  write_contents(scratch / "Install.ini", kSample);
  std::wstring ini = file(L"Install.ini");
  const std::string checked = encode_utf8(ini.c_str()) + ": ok\n";
  const struct {
    std::vector<std::wstring> arguments;
    int status;
    std::string out;
    std::string err;
  } cases[] = {
      {{L"get", ini, L"Install", L"VSN"}, 0, "2.4.1\n", ""},
      {{L"get", ini, L"Paths", L"root"}, 0, "C:\\V;old\n", ""},
      {{L"get", ini, L"Install", L"vsn"}, 1, "", "  [Install] has VSN; names are case-sensitive\n"},
      {{L"get", ini, L"install", L"VSN"}, 1, "", "  the file has [Install]; names are case-sensitive\n"},
      {{L"get", ini, L"Other", L"VSN"}, 1, "", ""},
      {{L"get", ini, L"Other", L"VSN", L"--default", L"x y"}, 0, "x y\n", ""},
      {{L"get", ini, L"Install", L"VSN", L"--default", L"x"}, 0, "2.4.1\n", ""},
      {{L"get", file(L"absent.ini"), L"s", L"k", L"--default", L""}, 0, "\n", ""},
      {{L"list", ini}, 0, "Install\nPaths\n", ""},
      {{L"list", ini, L"Install"}, 0, "VSN=2.4.1\nSYSTEM_VSN=9\n", ""},
      // Entries as the file writes them, so that they read back as they are.
      {{L"list", ini, L"Paths"}, 0, "root=C:\\\\V\\;old\n", ""},
      {{L"list", ini, L"Other"}, 1, "", ""},
      {{L"delete", ini, L"Install", L"absent"}, 1, "", ""},
      {{L"delete", ini, L"Other"}, 1, "", ""},
      {{L"rename", ini, L"Other", L"New"}, 1, "", ""},
      {{L"rename", ini, L"Install", L"vsn", L"V"}, 1, "", "  [Install] has VSN; names are case-sensitive\n"},
      {{L"check", ini}, 0, checked, ""},
  };
  for (const auto& c : cases) {
    std::string trace;
    for (const std::wstring& argument : c.arguments) trace += encode_utf8(argument.c_str()) + " ";
    SCOPED_TRACE(trace);
    ProcessResult result = vlxini(c.arguments);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, console_text(c.out));
    EXPECT_EQ(result.err, console_text(c.err));
  }
  EXPECT_EQ(read_contents(scratch / "Install.ini"), kSample);  // nothing was changed
  EXPECT_FALSE(fs::exists(scratch / "absent.ini"));
}

TEST_F(VlxiniTest, ChangesKeepEveryOtherByte) {
  write_contents(scratch / "Install.ini", kSample);
  std::wstring ini = file(L"Install.ini");
  std::string expected = kSample;
  auto expect_change = [&](const std::vector<std::wstring>& arguments, const std::string& from,
                           const std::string& to) {
    ProcessResult result = vlxini(arguments);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out + result.err, "");
    expected.replace(expected.find(from), from.size(), to);
    EXPECT_TRUE(same_bytes(read_contents(scratch / "Install.ini"), expected));
  };
  expect_change({L"set", ini, L"Install", L"VSN", L"2.5.0"}, "2.4.1", "2.5.0");
  expect_change({L"set", ini, L"Install", L"BUILD", L"7"}, "SYSTEM_VSN=9\r\n", "SYSTEM_VSN=9\r\n  BUILD=7\r\n");
  expect_change({L"set", ini, L"Paths", L"root", L"D:\\W;new"}, "C:\\\\V\\;old", "D:\\\\W\\;new");
  expect_change({L"set", ini, L"New", L"k", L""}, "escaped\r\n", "escaped\r\n[New]\r\nk=\r\n");
  expect_change({L"delete", ini, L"Install", L"BUILD"}, "  BUILD=7\r\n", "");
  expect_change({L"delete", ini, L"Paths"}, "; paths\r\n[Paths]\r\nroot=D:\\\\W\\;new ; escaped\r\n", "");

  // A file that does not exist is made.
  ProcessResult result = vlxini({L"set", file(L"new.ini"), L"s", L"k", L"v"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(read_contents(scratch / "new.ini"), "[s]\nk=v\n");
}

TEST_F(VlxiniTest, NonAsciiArgumentsAndPaths) {
  // On Windows the arguments arrive as UTF-16; the file holds UTF-8.
  const wchar_t* name = L"r\u00e9pertoire \u6839.ini";
  ProcessResult result = vlxini({L"set", file(name), L"\u00e9t\u00e9", L"cl\u00e9", L"valeur \u6839"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(read_contents(scratch / to_path(name)), "[\xc3\xa9t\xc3\xa9]\ncl\xc3\xa9=valeur \xe6\xa0\xb9\n");
  result = vlxini({L"get", file(name), L"\u00e9t\u00e9", L"cl\u00e9"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, console_text("valeur \xe6\xa0\xb9\n"));  // redirected output is UTF-8
}

TEST_F(VlxiniTest, FailuresSayWhyAndChangeNothing) {
  write_contents(scratch / "bad.ini", "[s]\nk=v\norphan\n");
  write_contents(scratch / "good.ini", "[s]\nk=v\n");
  fs::create_directory(scratch / "dir.ini");
  const struct {
    std::vector<std::wstring> arguments;
    std::string err;
  } cases[] = {
      {{L"get", file(L"bad.ini"), L"s", L"k"},
       "Cannot load init file " + shown(L"bad.ini") +
           "\n  line 3: a line that is neither a section header nor an entry\n"},
      {{L"set", file(L"bad.ini"), L"s", L"k", L"w"},
       "Cannot load init file " + shown(L"bad.ini") +
           "\n  line 3: a line that is neither a section header nor an entry\n"},
      {{L"list", file(L"dir.ini")}, "Cannot open init file " + shown(L"dir.ini") + "\n" + reason_line(kIsADirectory)},
      // A change the text cannot hold: the one rule it breaks, by argument.
      {{L"set", file(L"good.ini"), L"s", L"k", L" padded"}, "Cannot write this change to init file " +
                                                              shown(L"good.ini") +
                                                              "\n  VALUE cannot begin or end with a space\n"},
      {{L"set", file(L"good.ini"), L"s", L"k=j", L"v"}, "Cannot write this change to init file " +
                                                          shown(L"good.ini") + "\n  KEY cannot hold '=', CR or LF\n"},
      {{L"set", file(L"good.ini"), L"", L"k", L"v"}, "Cannot write this change to init file " + shown(L"good.ini") +
                                                       "\n  SECTION cannot be empty\n"},
      // Standard input can be read, not changed.
      {{L"set", L"-", L"s", L"k", L"v"}, "Cannot change standard input: name the file to change\n"},
      {{L"delete", L"-", L"s"}, "Cannot change standard input: name the file to change\n"},
      {{L"set", to_wide(scratch / "missing" / "x.ini"), L"s", L"k", L"v"},
       "Could not store init file " + encode_utf8(to_wide(scratch / "missing" / "x.ini").c_str()) + "\n" +
           reason_line(kNoSuchDirectory)},
      // Only set makes a file: the reading commands, and delete, need it.
      {{L"get", file(L"absent.ini"), L"s", L"k"}, "Cannot open init file " + shown(L"absent.ini") + "\n" +
                                                     reason_line(kNoSuchFile)},
      {{L"list", file(L"absent.ini")}, "Cannot open init file " + shown(L"absent.ini") + "\n" +
                                          reason_line(kNoSuchFile)},
      {{L"delete", file(L"absent.ini"), L"s"}, "Cannot open init file " + shown(L"absent.ini") + "\n" +
                                                 reason_line(kNoSuchFile)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(encode_utf8(c.arguments[0].c_str()) + " " + encode_utf8(c.arguments[1].c_str()));
    ProcessResult result = vlxini(c.arguments);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, console_text(c.err));
  }
  // check says it of each file, on standard output, one line each.
  ProcessResult checked = vlxini({L"check", file(L"good.ini"), file(L"bad.ini"), file(L"absent.ini")});
  EXPECT_EQ(checked.status, 2);
  EXPECT_EQ(checked.out, console_text(shown(L"good.ini") + ": ok\n" + shown(L"bad.ini") +
                                      ":3: a line that is neither a section header nor an entry\n" +
                                      shown(L"absent.ini") + ": the file cannot be opened: " +
                                      reason_line(kNoSuchFile).substr(2)));
  EXPECT_EQ(checked.err, "");
  EXPECT_EQ(read_contents(scratch / "bad.ini"), "[s]\nk=v\norphan\n");
  EXPECT_EQ(read_contents(scratch / "good.ini"), "[s]\nk=v\n");
  EXPECT_FALSE(fs::exists(scratch / "missing"));

  // A wrong command line: its one line, then where the usage is; status 2.
  const std::string try_help = "Try 'vlxini --help' for more information.\n";
  const struct {
    std::vector<std::wstring> arguments;
    std::string err;
  } wrong[] = {
      {{L"frobnicate", file(L"good.ini")}, "Unknown command frobnicate\n" + try_help},
      {{L"get", file(L"good.ini"), L"s"}, "Wrong number of arguments for get\n" + try_help},
      {{}, "No command given\n" + try_help},
      {{L"--version", L"extra"}, "Wrong number of arguments for --version\n" + try_help},
      {{L"--help", L"extra"}, "Wrong number of arguments for --help\n" + try_help},
  };
  for (const auto& c : wrong) {
    ProcessResult result = vlxini(c.arguments);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, console_text(c.err));
  }

  ProcessResult version = vlxini({L"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("vlxini ", 0), 0u);
  std::wstring full = full_device();
  if (!full.empty()) {
    ProcessResult written = run_process_into(locate_sibling_program(L"vlxini"),
                                             {L"get", file(L"good.ini"), L"s", L"k"}, to_wide(scratch), "", full);
    EXPECT_EQ(written.status, 2);
    EXPECT_EQ(written.err, console_text("Could not write to standard output\n" + reason_line(kNoSpace)));
  }
}

TEST_F(VlxiniTest, LinksPlantedByOthersAreNotFollowed) {
  if (!can_run_as_other_users()) GTEST_SKIP() << "needs root";
  write_contents(scratch / "secret", "[s]\npassword=1234\n");
  fs::permissions(scratch / "secret", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_directory(scratch / "private");
  fs::permissions(scratch / "private", fs::perms::owner_all);
  fs::permissions(scratch, fs::perms::others_exec, fs::perm_options::add);
  auto refused = [&](const fs::path& link) {
    std::string shown_link = encode_utf8(to_wide(link).c_str());
    return console_text("Cannot open init file " + shown_link + "\n  a link owned by another user (user 1001) "
                        "stands in place of " + shown_link + "\n");
  };
  // A sticky directory anyone may write (as /tmp is), and a directory that
  // root shares with group 1001 (2775): in either, user 1001's link to a file
  // only root may read and write, or to a name in root's private directory,
  // is refused for every command, and nothing is read, written or created.
  fs::path sticky = scratch / "shared", group = scratch / "conf";
  fs::create_directory(sticky);
  fs::permissions(sticky, fs::perms::all | fs::perms::sticky_bit);
  fs::create_directory(group);
  fs::permissions(group, fs::perms::owner_all | fs::perms::group_all | fs::perms::others_read |
                             fs::perms::others_exec | fs::perms::set_gid);
  for (const fs::path& directory : {sticky, group}) {
    SCOPED_TRACE(directory.filename().string());
    fs::path link = directory / "c.ini", dangling = directory / "new.ini";
    fs::create_symlink(scratch / "secret", link);
    fs::create_symlink(scratch / "private" / "new.ini", dangling);
    ASSERT_TRUE(change_link_owner(to_wide(link), 1001) && change_link_owner(to_wide(dangling), 1001));
    for (const std::vector<std::wstring>& arguments :
         {std::vector<std::wstring>{L"set", to_wide(link), L"s", L"password", L"0"},
          {L"get", to_wide(link), L"s", L"password"}, {L"list", to_wide(link)}}) {
      ProcessResult result = vlxini(arguments);
      EXPECT_EQ(result.status, 2);
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(result.err, refused(link));
    }
    ProcessResult created = vlxini({L"set", to_wide(dangling), L"s", L"k", L"v"});
    EXPECT_EQ(created.status, 2);
    EXPECT_EQ(created.err, refused(dangling));
    EXPECT_EQ(read_contents(scratch / "secret"), "[s]\npassword=1234\n");
    EXPECT_FALSE(fs::exists(scratch / "private" / "new.ini"));
    // The caller's own link there is followed, and the file it names stored.
    write_contents(scratch / "own.ini", "[s]\nk=1\n");
    fs::create_symlink(scratch / "own.ini", directory / "own.ini");
    EXPECT_EQ(vlxini({L"set", to_wide(directory / "own.ini"), L"s", L"k", L"2"}).status, 0);
    EXPECT_EQ(read_contents(scratch / "own.ini"), "[s]\nk=2\n");
    EXPECT_TRUE(fs::is_symlink(directory / "own.ini"));
  }
  // A FIFO that a writer holds open is no file to read: every command that
  // reads says so at once instead of waiting for bytes that never come.
  ASSERT_TRUE(make_fifo(to_wide(sticky / "fifo.ini")));
  std::fstream writer(sticky / "fifo.ini", std::ios::in | std::ios::out);
  for (const std::vector<std::wstring>& arguments :
       {std::vector<std::wstring>{L"get", to_wide(sticky / "fifo.ini"), L"s", L"k"},
        {L"check", to_wide(sticky / "fifo.ini")}, {L"set", to_wide(sticky / "fifo.ini"), L"s", L"k", L"v"}}) {
    ProcessResult result = vlxini(arguments);
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_NE((result.err + result.out).find("not a regular file: a FIFO, a device or a socket stands in its place"),
              std::string::npos)
        << result.err;
  }
}

TEST_F(VlxiniTest, FilesLargerThanMemoryAreRefusedWithTheReason) {
  if (kPathSeparator != L'/' || !fs::exists("/bin/sh")) GTEST_SKIP() << "needs a POSIX shell's ulimit";
  if (built_with_sanitizer()) GTEST_SKIP() << "the sanitizer's shadow memory takes more than any limit here";
  // One line of 2 GiB, in a sparse file that costs nothing on the disk:
  // under a limit of 1 GiB of address space, no block can hold it.
  write_contents(scratch / "huge.ini", "[s]\nk=");
  fs::resize_file(scratch / "huge.ini", std::uintmax_t(2) << 30);
  std::wstring program = locate_sibling_program(L"vlxini");
  for (const wchar_t* command : {L"get", L"set"}) {
    SCOPED_TRACE(encode_utf8(command));
    std::wstring line = L"ulimit -v 1048576; exec \"$0\" " + std::wstring(command) + L" huge.ini s k" +
                        (std::wstring(command) == L"set" ? L" v" : L"");
    ProcessResult result = run_process(L"/bin/sh", {L"-c", line, program}, to_wide(scratch), "");
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_EQ(result.err, "Cannot open init file huge.ini\n" + reason_line(kOutOfMemory)) << result.err;
  }
  EXPECT_EQ(fs::file_size(scratch / "huge.ini"), std::uintmax_t(2) << 30);
}

TEST_F(VlxiniTest, UnreachableFilesAreErrorsNotMissingOnes) {
  // A loop of links, and a file in a directory the caller may not enter:
  // every command says why, with status 2, and none reads them as empty.
  if (kPathSeparator != L'/') GTEST_SKIP() << "Wine makes no symbolic links and enforces no permissions";
  fs::create_symlink("loop.ini", scratch / "loop.ini");
  for (const std::vector<std::wstring>& arguments :
       {std::vector<std::wstring>{L"get", file(L"loop.ini"), L"s", L"k"}, {L"list", file(L"loop.ini")},
        {L"delete", file(L"loop.ini"), L"s"}, {L"set", file(L"loop.ini"), L"s", L"k", L"v"}}) {
    SCOPED_TRACE(encode_utf8(arguments[0].c_str()));
    ProcessResult result = vlxini(arguments);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err.rfind(console_text("Cannot open init file " + shown(L"loop.ini") + "\n  "), 0), 0u)
        << result.err;
  }
  if (!can_run_as_other_users()) return;
  write_contents(scratch / "secret" / "a.ini", "[s]\nk=v\n");
  fs::permissions(scratch / "secret", fs::perms::owner_all);
  fs::permissions(scratch, fs::perms::others_exec, fs::perm_options::add);
  std::wstring hidden = to_wide(scratch / "secret" / "a.ini"), program = locate_sibling_program(L"vlxini");
  fs::copy_file(to_path(program), scratch / "vlxini");
  for (const std::vector<std::wstring>& arguments :
       {std::vector<std::wstring>{L"get", hidden, L"s", L"k"}, {L"list", hidden}, {L"delete", hidden, L"s"},
        {L"set", hidden, L"s", L"k", L"w"}}) {
    SCOPED_TRACE(encode_utf8(arguments[0].c_str()));
    std::vector<std::wstring> as_nobody = {L"--reuid=65534", L"--regid=65534", L"--clear-groups",
                                           to_wide(scratch / "vlxini")};
    as_nobody.insert(as_nobody.end(), arguments.begin(), arguments.end());
    ProcessResult result = run_process(L"/usr/bin/setpriv", as_nobody, to_wide(scratch), "");
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "Cannot open init file " + encode_utf8(hidden.c_str()) + "\n" +
                              reason_line(kPermissionDenied));
  }
  EXPECT_EQ(read_contents(scratch / "secret" / "a.ini"), "[s]\nk=v\n");
}

TEST_F(VlxiniTest, UnchangedValuesAndAbsentEntriesStoreNothing) {
  write_contents(scratch / "n.ini", "[s]\nk = v ; as it was\n");
  fs::create_hard_link(scratch / "n.ini", scratch / "other name");
  auto before = fs::last_write_time(scratch / "n.ini") - std::chrono::hours(1);
  fs::last_write_time(scratch / "n.ini", before);
  std::uint64_t identity = file_identity(file(L"n.ini"));
  EXPECT_EQ(vlxini({L"set", file(L"n.ini"), L"s", L"k", L"v"}).status, 0);
  EXPECT_EQ(vlxini({L"delete", file(L"n.ini"), L"s", L"absent"}).status, 1);
  EXPECT_EQ(file_identity(file(L"n.ini")), identity);  // the same file: no store parted the link
  EXPECT_EQ(fs::last_write_time(scratch / "n.ini"), before);
  EXPECT_EQ(read_contents(scratch / "n.ini"), "[s]\nk = v ; as it was\n");
}

TEST_F(VlxiniTest, DeletesRemoveEveryMatch) {
  write_contents(scratch / "d.ini", "[s]\nk=1\nj=1\n[t]\nk=3\n[s]\nk=2\n");
  EXPECT_EQ(vlxini({L"delete", file(L"d.ini"), L"s", L"k"}).status, 0);
  EXPECT_EQ(read_contents(scratch / "d.ini"), "[s]\nj=1\n[t]\nk=3\n[s]\n");
  EXPECT_EQ(vlxini({L"get", file(L"d.ini"), L"s", L"k"}).status, 1);
  EXPECT_EQ(vlxini({L"delete", file(L"d.ini"), L"s"}).status, 0);
  EXPECT_EQ(read_contents(scratch / "d.ini"), "[t]\nk=3\n");
  EXPECT_EQ(vlxini({L"list", file(L"d.ini"), L"s"}).status, 1);
}

TEST_F(VlxiniTest, DashReadsStandardInput) {
  ProcessResult result =
      run_process(locate_sibling_program(L"vlxini"), {L"get", L"-", L"s", L"k"}, to_wide(scratch), "[s]\nk=v ; c\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, console_text("v\n"));
  result = run_process(locate_sibling_program(L"vlxini"), {L"list", L"-"}, to_wide(scratch), "[a]\n[b]\n");
  EXPECT_EQ(result.out, console_text("a\nb\n"));
  result = run_process(locate_sibling_program(L"vlxini"), {L"check", L"-"}, to_wide(scratch), "[s]\norphan\n");
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, console_text("-:2: a line that is neither a section header nor an entry\n"));
}

TEST_F(VlxiniTest, ChangesMadeAtOnceAllLand) {
  // Two changes at a time, each of its own key: each holds the file for its
  // whole read, change and store, so that no store replaces another's; also
  // where something else stands at the lock file's name, and where the
  // directory refuses new files (no lock file, every store in place): the
  // file itself is held then.
  const int rounds = kPathSeparator == L'/' ? 30 : 4;  // Wine starts a process in a tenth of a second
  std::wstring program = locate_sibling_program(L"vlxini");
  for (const char* configuration : {"plain", "something at the lock's name", "no new files"}) {
    SCOPED_TRACE(configuration);
    fs::path directory = scratch / configuration;
    fs::create_directories(directory);
    write_contents(directory / "c.ini", "[s]\n");
    if (std::string(configuration) == "something at the lock's name") fs::create_directory(directory / ".c.ini.lock");
    bool refused = std::string(configuration) == "no new files" && refuse_new_files(to_wide(directory), true);
    if (std::string(configuration) == "no new files" && !refused) continue;  // no such attribute here
    std::wstring path = to_wide(directory / "c.ini");
    for (int i = 0; i < rounds; ++i) {
      std::wstring n = std::to_wstring(i);
      ProcessHandle a = start_process(program, {L"set", path, L"s", L"a" + n, L"1"}, to_wide(scratch));
      ProcessHandle b = start_process(program, {L"set", path, L"s", L"b" + n, L"2"}, to_wide(scratch));
      ASSERT_NE(a, -1);
      ASSERT_NE(b, -1);
      wait_for_process(a);
      wait_for_process(b);
    }
    if (refused) refuse_new_files(to_wide(directory), false);
    InitFile* changed = load_init_file(path.c_str());
    ASSERT_NE(changed, nullptr);
    InitSection* section = lookup_init_section(changed, "s");
    ASSERT_NE(section, nullptr);
    for (int i = 0; i < rounds; ++i) {
      EXPECT_STREQ(lookup_init_value(section, ("a" + std::to_string(i)).c_str()), "1") << i;
      EXPECT_STREQ(lookup_init_value(section, ("b" + std::to_string(i)).c_str()), "2") << i;
    }
    EXPECT_EQ(section->count, 2 * rounds);
    free_init_file(changed);
    EXPECT_EQ(fs::is_directory(directory / ".c.ini.lock"), std::string(configuration) == "something at the lock's name");
  }
}

TEST_F(VlxiniTest, AStoreKilledPartWayLeavesATemporaryFileNamedForItsTarget) {
  // Killed at the flush of the new file, before its rename: the file is as
  // it was, and what is left beside it says what it was for.
  if (kPathSeparator != L'/' || !fs::exists("/usr/bin/strace")) GTEST_SKIP() << "needs Linux and strace";
  write_contents(scratch / "vlx.ini", "[s]\nk=1\n");
  ProcessResult result = run_process(L"/usr/bin/strace",
                                     {L"-qq", L"-o", L"/dev/null", L"-E", L"ASAN_OPTIONS=detect_leaks=0", L"-e",
                                      L"trace=fsync", L"-e", L"inject=fsync:signal=KILL:when=1",
                                      locate_sibling_program(L"vlxini"), L"set", file(L"vlx.ini"), L"s", L"k", L"2"},
                                     to_wide(scratch), "");
  EXPECT_NE(result.status, 0);
  EXPECT_EQ(read_contents(scratch / "vlx.ini"), "[s]\nk=1\n");
  // Beside it, the hold's lock file, which the next holder takes over.
  std::vector<std::string> left = list_directory(scratch);
  for (const char* known : {".vlx.ini.lock", "vlx.ini"}) {
    auto at = std::find(left.begin(), left.end(), known);
    ASSERT_NE(at, left.end()) << known;
    left.erase(at);
  }
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].size(), 19u);
  EXPECT_EQ(left[0].compare(0, 9, ".vlx.ini."), 0) << left[0];
  EXPECT_EQ(left[0].compare(15, 4, ".tmp"), 0) << left[0];
  EXPECT_EQ(read_contents(scratch / left[0]), "[s]\nk=2\n");
  EXPECT_EQ(vlxini({L"set", file(L"vlx.ini"), L"s", L"k", L"3"}).status, 0);
}

TEST_F(VlxiniTest, MergeSetsEveryEntryInOneStoreOrNone) {
  write_contents(scratch / "m.ini", "; kept\n[s]\na = 0 ; old\n");
  write_contents(scratch / "snippet.ini", "[s]\na=1\nb=2\n[t]\nc=3\n");
  EXPECT_EQ(vlxini({L"merge", file(L"m.ini"), file(L"snippet.ini")}).status, 0);
  EXPECT_EQ(read_contents(scratch / "m.ini"), "; kept\n[s]\na = 1 ; old\nb=2\n[t]\nc=3\n");
  // A snippet that does not load, wrong in its middle: nothing is written.
  write_contents(scratch / "broken.ini", "[s]\na=5\norphan\n[t]\nc=6\n");
  ProcessResult result = vlxini({L"merge", file(L"m.ini"), file(L"broken.ini")});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, console_text("Cannot load init file " + shown(L"broken.ini") +
                                     "\n  line 3: a line that is neither a section header nor an entry\n"));
  EXPECT_EQ(read_contents(scratch / "m.ini"), "; kept\n[s]\na = 1 ; old\nb=2\n[t]\nc=3\n");
  // A snippet from standard input, into a file it makes.
  result = run_process(locate_sibling_program(L"vlxini"), {L"merge", file(L"new.ini")}, to_wide(scratch),
                       "[u]\nk=v\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(read_contents(scratch / "new.ini"), "[u]\nk=v\n");
}

}  // namespace
