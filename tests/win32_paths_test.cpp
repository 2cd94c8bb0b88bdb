// Windows path forms that the platform layer resolves: drive-relative paths,
// the "\\?\" form of names beside a target, and the names a link's reparse
// data holds. Built for Windows only.
#include "platform/system-win32.h"
#include "tests/initfile_test_util.h"
#include "tests/tool_runner.h"

using namespace vlx;

namespace {

using Win32PathsTest = ScratchTest;

TEST_F(Win32PathsTest, NamesTakeTheFormsTheirUsesNeed) {
  const struct {
    const wchar_t* given;
    const wchar_t* expected;
  } nt_names[] = {
      {L"\\??\\C:\\V\\bin\\vlx.exe", L"C:\\V\\bin\\vlx.exe"},
      {L"\\??\\UNC\\server\\share\\x", L"\\\\server\\share\\x"},
      {L"relative\\x", L"relative\\x"},
  }, extended[] = {
      {L"C:\\V\\bin\\", L"\\\\?\\C:\\V\\bin\\"},
      {L"C:\\V\\..\\W\\.\\bin", L"\\\\?\\C:\\W\\bin"},
      {L"\\\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\x"},
      {L"\\\\?\\C:\\V", L"\\\\?\\C:\\V"},
      {L"\\\\.\\NUL", L"\\\\.\\NUL"},
  };
  for (const auto& c : nt_names) EXPECT_EQ(name_from_nt_path(c.given), c.expected) << encode_utf8(c.given);
  for (const auto& c : extended) EXPECT_EQ(extended_path(c.given), c.expected) << encode_utf8(c.given);
}

TEST_F(Win32PathsTest, DriveRelativePathOfAnotherDriveIsStoredInItsDirectory) {
  // The current directory on a drive and a file system other than the
  // target's: Wine reaches the host's /dev/shm, a memory file system, through
  // drive Z:. A temporary file made in the current directory could not be
  // moved to the target.
  const std::wstring shm = L"Z:\\dev\\shm";
  if (GetFileAttributesW(shm.c_str()) == INVALID_FILE_ATTRIBUTES || to_wide(scratch)[0] == L'Z') {
    GTEST_SKIP() << "no second drive on a file system of its own";
  }
  std::wstring elsewhere = make_scratch_directory(L"vlx-Win32PathsTest");
  elsewhere = shm + L"\\" + elsewhere.substr(elsewhere.rfind(L'\\') + 1);
  ASSERT_TRUE(CreateDirectoryW(elsewhere.c_str(), nullptr));
  std::wstring drive = to_wide(scratch).substr(0, 2);  // "C:"
  std::wstring variable = L"=" + drive;                 // the drive's own current directory
  wchar_t before[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, before);
  SetEnvironmentVariableW(variable.c_str(), to_wide(scratch).c_str());
  SetCurrentDirectoryW(elsewhere.c_str());
  InitFile* file = build({{"s", {{"k", "v"}}}});
  int stored = store_init_file(file, (drive + L"out.ini").c_str());
  free_init_file(file);
  SetCurrentDirectoryW(before);
  SetEnvironmentVariableW(variable.c_str(), nullptr);
  bool elsewhere_empty = RemoveDirectoryW(elsewhere.c_str());
  EXPECT_EQ(stored, 0);
  EXPECT_EQ(read_contents(scratch / "out.ini"), "[s]\nk=v\n");
  EXPECT_TRUE(elsewhere_empty);
}

}  // namespace
