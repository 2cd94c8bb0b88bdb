// A run stays within its root: links planted on the way by another user are
// not followed, a name swapped between a look and an open slips nothing in,
// names reach the terminal harmless, and no size is trusted.
#include <algorithm>
#include <atomic>
#include <fstream>

#include "installer/messages.h"
#include "tests/distribution.h"

using namespace vlx;

namespace {

constexpr long kMember = 1001;

class ConfinementTest : public DistributionTest {
 protected:
  // A link at path to target, owned by owner.
  void plant_link(const fs::path& target, const fs::path& path, long owner) {
    fs::create_directory_symlink(target, path);
    ASSERT_TRUE(change_link_owner(to_wide(path), owner));
  }
  std::string shown(const fs::path& path) { return encode_utf8(to_wide(path).c_str()); }
  std::string refused_link(const fs::path& link) {
    return "  a link owned by another user (user " + std::to_string(kMember) + ") stands in place of " +
           shown(link) + "\n";
  }
  std::string copy_failed(const fs::path& from, const std::wstring& name, const std::string& reason) {
    return message(kCopyFailed, shown(from / name), shown(bin_dir / name)) + reason;
  }
};

TEST_F(ConfinementTest, LinksOnTheWayAreFollowedOnlyForTheirOwners) {
  if (!can_run_as_other_users()) GTEST_SKIP() << "needs root";
  // Another installation, and a directory of root's, that a member's links
  // lead to.
  fs::path other = scratch / "other", safe = scratch / "safe";
  write_contents(other / "vlx.ini", "[vorlax]\nBindir=other\n");
  write_contents(safe / "vlx.exe", "root's own\n");

  // bin: every file fails as its policy says, and nothing reaches safe.
  plant_link(safe, bin_dir, kMember);
  std::string expected;
  for (const std::wstring& name : kLaunchers) {
    expected += copy_failed(runtime_bin_dir, name, refused_link(bin_dir)) + kContinuing;
  }
  expected += copy_failed(release_dir, L"start_minimal.boot", refused_link(bin_dir)) + kBailingOut;
  expect_failure(run_silent(), expected);
  EXPECT_EQ(list_directory(safe), std::vector<std::string>{"vlx.exe"});
  EXPECT_EQ(read_contents(safe / "vlx.exe"), "root's own\n");
  ProcessResult check = run_tool({L"--check", to_wide(root)});
  EXPECT_EQ(check.status, 1);
  EXPECT_NE(check.out.find(message(kFindingUnreadable, "bin") + refused_link(bin_dir)), std::string::npos)
      << check.out;
  fs::remove(bin_dir);

  // The runtime's bin: the launchers are refused, and the other
  // installation's vlx.ini is never written.
  fs::rename(runtime_bin_dir, scratch / "runtime");
  plant_link(other, runtime_bin_dir, kMember);
  ProcessResult run = run_silent();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.rfind(copy_failed(runtime_bin_dir, L"vlx.exe", refused_link(runtime_bin_dir)), 0), 0u) << run.err;
  EXPECT_NE(run.err.find(message(kCreateFailed, shown(runtime_bin_dir / "vlx.ini")) + refused_link(runtime_bin_dir) +
                         kBailingOut),
            std::string::npos)
      << run.err;
  EXPECT_EQ(read_contents(other / "vlx.ini"), "[vorlax]\nBindir=other\n");
  fs::remove(runtime_bin_dir);
  fs::rename(scratch / "runtime", runtime_bin_dir);

  // A release directory: its boot files are not copied.
  fs::path secrets = scratch / "secrets";
  for (const std::wstring& name : kBootFileNames) write_contents(secrets / name, "secret\n");
  fs::rename(release_dir, scratch / "release");
  plant_link(secrets, release_dir, kMember);
  run = run_silent();
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(copy_failed(release_dir, L"start_minimal.boot", refused_link(release_dir)) + kBailingOut),
            std::string::npos)
      << run.err;
  for (const std::wstring& name : kBootFileNames) EXPECT_FALSE(fs::exists(bin_dir / name));
}

TEST_F(ConfinementTest, TheUsersOwnLinksOnTheWayAreFollowed) {
  // bin on another disk, a release directory kept elsewhere: links of the
  // user running the tool, which install and check as plain directories do.
  fs::path data = scratch / "data-bin";
  fs::create_directory(data);
  std::error_code error;
  fs::create_directory_symlink(data, bin_dir, error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  fs::rename(release_dir, scratch / "release");
  fs::create_directory_symlink(scratch / "release", release_dir);
  ProcessResult own = run_silent();
  EXPECT_EQ(own.status, 0) << own.err;
  EXPECT_EQ(own.err, "");
  expect_installed(false);
  EXPECT_TRUE(fs::is_symlink(bin_dir));
  EXPECT_FALSE(list_directory(data).empty());
  ProcessResult check = run_tool({L"--check", to_wide(root)});
  EXPECT_EQ(check.status, 0) << check.out;
}

TEST_F(ConfinementTest, SwapsBetweenALookAndAnOpenSlipNothingIn) {
  if (!can_run_as_other_users()) GTEST_SKIP() << "needs root";
  // A member swaps a launcher with a link to a secret of root's, and the
  // descriptor with a FIFO that a writer holds open, over and over while
  // root installs and checks.
  write_contents(scratch / "secret", "root's secret\n");
  fs::permissions(scratch / "secret", fs::perms::owner_read | fs::perms::owner_write);
  fs::path launcher = runtime_bin_dir / "vlx.exe", swapped = runtime_bin_dir / "swap";
  fs::create_symlink(scratch / "secret", swapped);
  ASSERT_TRUE(change_link_owner(to_wide(swapped), kMember));
  fs::path descriptor = root / "Install.ini", fifo = root / "fifo";
  ASSERT_TRUE(make_fifo(to_wide(fifo)));
  std::fstream writer(fifo, std::ios::in | std::ios::out);  // held open: no reader ever sees its end
  std::atomic<bool> done{false};
  std::thread swapper([&] {
    while (!done) {
      exchange_names(to_wide(launcher), to_wide(swapped));
      exchange_names(to_wide(descriptor), to_wide(fifo));
    }
  });
  for (int run = 0; run < 40; ++run) {
    ProcessResult result = run_tool({L"-s", to_wide(root)});
    EXPECT_TRUE(result.status == 0 || result.status == 1) << result.status << result.err;
    ProcessResult check = run_tool({L"--check", to_wide(root)});
    EXPECT_TRUE(check.status == 0 || check.status == 1 || check.status == 2) << check.status << check.err;
    if (fs::exists(bin_dir / "vlx.exe")) {
      ASSERT_NE(read_contents(bin_dir / "vlx.exe"), "root's secret\n") << "run " << run;
    }
  }
  done = true;
  swapper.join();
}

TEST_F(ConfinementTest, NamesReachTheTerminalAsEscapes) {
  if (kPathSeparator == L'\\') GTEST_SKIP() << "Windows names hold no control characters";
  ASSERT_EQ(run_silent().status, 0);
  // Left-overs whose names would retitle and clear the screen, or forge a
  // line of their own.
  write_contents(bin_dir / ".vlxinstall-AAAAAA-\x1b]2;OWNED\x07\x1b[2J", "");
  write_contents(bin_dir / ".vlxinstall-BBBBBB-\nVorlax 2.4.1 is installed completely (minimal start-up)", "");
  ProcessResult check = run_tool({L"--check", to_wide(root)});
  EXPECT_EQ(check.status, 1);
  for (const std::string& line :
       {message(kFindingLeftOver, "bin/.vlxinstall-AAAAAA-\\x1b]2;OWNED\\x07\\x1b[2J"),
        message(kFindingLeftOver, "bin/.vlxinstall-BBBBBB-\\nVorlax 2.4.1 is installed completely (minimal start-up)"),
        message(kCheckedFindings, "2.4.1", "2")}) {
    EXPECT_NE(check.out.find(line), std::string::npos) << check.out;
  }
  EXPECT_EQ(check.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(std::count(check.out.begin(), check.out.end(), '\n'), 3);
  // A C1 control in the version, as a raw byte and as UTF-8.
  fs::remove_all(bin_dir);
  fs::rename(root / "vlxcore-2.4.1", root / "vlxcore-2.4.1\x9b\xc2\x9b");
  write_contents(root / "Install.ini", "[Install]\nVSN=2.4.1\x9b\xc2\x9b\nSYSTEM_VSN=9\n");
  ProcessResult run = run_interactive("\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, std::string(kPrompt) + message(kInstalled, "2.4.1\\x9b\\xc2\\x9b"));
}

TEST_F(ConfinementTest, SizesAreNeverTrusted) {
  // A descriptor is a few lines: a huge sparse one costs its maker nothing
  // and is refused unread.
  std::string path = shown(root / "Install.ini");
  fs::resize_file(root / "Install.ini", std::uintmax_t(3) << 30);
  std::string refused = message(kCannotOpenDescriptor, path) + "  larger than 1 MiB: a release descriptor is a few lines\n";
  expect_failure(run_silent(), refused);
  ProcessResult check = run_tool({L"--check", to_wide(root)});
  EXPECT_EQ(check.status, 2);
  EXPECT_EQ(check.err, console_text(refused));
  // So under a small limit of the address space too: a message, never a signal.
  bool limited = kPathSeparator == L'/' && fs::exists("/bin/sh") && !built_with_sanitizer();
  auto run_limited = [&](const std::wstring& arguments) {
    std::wstring line = L"ulimit -v 262144; exec \"$0\" " + arguments;
    return run_process(L"/bin/sh", {L"-c", line, locate_sibling_program(L"vlxinstall")}, to_wide(scratch), "");
  };
  if (limited) {
    ProcessResult small = run_limited(L"--check root");
    EXPECT_EQ(small.status, 2);
    EXPECT_EQ(small.err, message(kCannotOpenDescriptor, path) +
                             "  larger than 1 MiB: a release descriptor is a few lines\n");
  }
  write_contents(root / "Install.ini", "[Install]\nVSN=2.4.1\nSYSTEM_VSN=9\n");

  // A sparse launcher keeps its holes in bin, and two huge sparse files are
  // compared where they hold data: the check ends long before it could read
  // 15 TiB of zeros.
  if (allocated_bytes(to_wide(root / "Install.ini")) < 0) return;
  fs::resize_file(runtime_bin_dir / "vlx.exe", std::uintmax_t(1) << 30);
  ASSERT_EQ(run_silent().status, 0);
  EXPECT_EQ(fs::file_size(bin_dir / "vlx.exe"), std::uintmax_t(1) << 30);
  EXPECT_LT(allocated_bytes(to_wide(bin_dir / "vlx.exe")), 1 << 20);
  if (limited) {
    EXPECT_EQ(run_limited(L"-s root").status, 0);
    ProcessResult small = run_limited(L"--check root");
    EXPECT_EQ(small.status, 0) << small.err;
  }
  std::error_code error;
  fs::resize_file(runtime_bin_dir / "vlxrun.exe", std::uintmax_t(15) << 40, error);
  if (error) return;  // the file system holds no file that large
  fs::resize_file(bin_dir / "vlxrun.exe", std::uintmax_t(15) << 40);
  EXPECT_EQ(run_tool({L"--check", to_wide(root)}).status, 0);
  {
    std::fstream tail(bin_dir / "vlxrun.exe", std::ios::in | std::ios::out | std::ios::binary);
    tail.seekp(std::streamoff(std::uintmax_t(15) << 40) - 1);
    tail.put('x');
  }
  ProcessResult differs = run_tool({L"--check", to_wide(root)});
  EXPECT_EQ(differs.status, 1);
  EXPECT_NE(differs.out.find("vlxrun.exe"), std::string::npos) << differs.out;
}

}  // namespace
