// The strict Windows layer refuses, rule by rule, what Windows documents
// that it refuses, over Wine's own calls. Built into the Windows suite only.
#include <windows.h>

#include <vector>

#include "platform/calls-win32.h"
#include "platform/system-win32.h"
#include "tests/tool_runner.h"

using namespace vlx;

namespace {

class StrictLayerTest : public ScratchTest {
 protected:
  std::wstring path(const wchar_t* name) { return to_wide(scratch / to_path(name)); }
  // Opens name as another program holding it would, sharing share.
  HANDLE hold(const wchar_t* name, DWORD access, DWORD share) {
    return file_calls().create_file(path(name).c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  // Renames the file open as file to name through its handle, with the
  // given FileRenameInfoEx flags, or by FileRenameInfo where flags is 0.
  bool rename_by_handle(HANDLE file, const wchar_t* name, DWORD flags) {
    std::wstring target = L"\\??\\" + path(name);
    DWORD bytes = static_cast<DWORD>(target.size() * sizeof(wchar_t)), size = sizeof(FILE_RENAME_INFO) + bytes;
    std::vector<ULONGLONG> buffer(size / sizeof(ULONGLONG) + 1);
    FILE_RENAME_INFO* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    if (flags) {
      memcpy(info, &flags, sizeof flags);
    } else {
      info->ReplaceIfExists = TRUE;
    }
    info->FileNameLength = bytes;
    memcpy(info->FileName, target.data(), bytes);
    FILE_INFO_BY_HANDLE_CLASS kind = flags ? static_cast<FILE_INFO_BY_HANDLE_CLASS>(22) : FileRenameInfo;
    return file_calls().set_file_information(file, kind, info, size) != 0;
  }
};

TEST_F(StrictLayerTest, AReadOnlyTargetIsNotReplaced) {
  write_contents(scratch / "new", "new");
  write_contents(scratch / "old", "old");
  SetFileAttributesW(path(L"old").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(file_calls().move_file(path(L"new").c_str(), path(L"old").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  HANDLE file = hold(L"new", GENERIC_READ | DELETE, 0);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(rename_by_handle(file, L"old", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  file_calls().close_handle(file);
  EXPECT_EQ(read_contents(scratch / "old"), "old");
  // Nor deleted, but where the deletion says to ignore the attribute.
  EXPECT_FALSE(file_calls().delete_file(path(L"old").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  SetFileAttributesW(path(L"old").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(StrictLayerTest, AFileHeldWithoutDeleteSharingIsNeitherRenamedNorDeleted) {
  write_contents(scratch / "held", "held");
  HANDLE holder = hold(L"held", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(file_calls().move_file(path(L"held").c_str(), path(L"moved").c_str(), 0));
  EXPECT_FALSE(file_calls().delete_file(path(L"held").c_str()));
  file_calls().close_handle(holder);
  EXPECT_EQ(read_contents(scratch / "held"), "held");
}

TEST_F(StrictLayerTest, ATargetWithAnyOpenHandleIsReplacedOnlyWithPosixSemantics) {
  write_contents(scratch / "new", "new");
  write_contents(scratch / "old", "old");
  // A scanner's handle that shares everything.
  HANDLE scanner = hold(L"old", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(file_calls().move_file(path(L"new").c_str(), path(L"old").c_str(), MOVEFILE_REPLACE_EXISTING));
  HANDLE file = hold(L"new", GENERIC_READ | DELETE, 0);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(rename_by_handle(file, L"old", 0));
  EXPECT_EQ(read_contents(scratch / "old"), "old");
  // POSIX semantics replace it, where the system has them.
  if (rename_by_handle(file, L"old", 0x1 | 0x2)) {
    EXPECT_EQ(read_contents(scratch / "old"), "new");
  } else {
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  file_calls().close_handle(file);
  file_calls().close_handle(scanner);
}

TEST_F(StrictLayerTest, RenamingOrDeletingThroughAHandleNeedsDeleteAccess) {
  write_contents(scratch / "file", "file");
  HANDLE file = hold(L"file", GENERIC_READ | GENERIC_WRITE, 0);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(rename_by_handle(file, L"renamed", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  FILE_DISPOSITION_INFO disposition = {TRUE};
  EXPECT_FALSE(file_calls().set_file_information(file, FileDispositionInfo, &disposition, sizeof disposition));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  file_calls().close_handle(file);
  EXPECT_TRUE(fs::exists(scratch / "file"));
}

TEST_F(StrictLayerTest, ARunningProgramIsRenamedButNeitherWrittenNorDeleted) {
  fs::copy_file(to_path(locate_sibling_program(L"vlx_keep_running")), scratch / "running.exe");
  fs::path stop = scratch / "stop";
  ProcessHandle running = start_process(path(L"running.exe"), {to_wide(stop)}, to_wide(scratch));
  ASSERT_NE(running, -1);
  HANDLE writer = file_calls().create_file(path(L"running.exe").c_str(), GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(file_calls().delete_file(path(L"running.exe").c_str()));
  EXPECT_TRUE(file_calls().move_file(path(L"running.exe").c_str(), path(L"aside.exe").c_str(), 0));
  write_contents(stop, "");
  wait_for_process(running);
}

TEST_F(StrictLayerTest, OnlyTheFileIdTellsFilesApart) {
  write_contents(scratch / "a", "a");
  write_contents(scratch / "b", "b");
  HANDLE a = hold(L"a", GENERIC_READ, FILE_SHARE_READ), b = hold(L"b", GENERIC_READ, FILE_SHARE_READ);
  BY_HANDLE_FILE_INFORMATION info_a, info_b;
  ASSERT_TRUE(file_calls().get_file_information(a, &info_a) && file_calls().get_file_information(b, &info_b));
  EXPECT_EQ(info_a.nFileIndexLow, info_b.nFileIndexLow);
  EXPECT_EQ(info_a.nFileIndexHigh, info_b.nFileIndexHigh);
  FILE_ID_INFO id_a, id_b;
  if (file_calls().get_file_information_ex(a, FileIdInfo, &id_a, sizeof id_a) &&
      file_calls().get_file_information_ex(b, FileIdInfo, &id_b, sizeof id_b)) {
    EXPECT_NE(memcmp(&id_a.FileId, &id_b.FileId, sizeof id_a.FileId), 0);
  }
  file_calls().close_handle(a);
  file_calls().close_handle(b);
}

// Not a rule of the layer but the backend's reading of the refusals the
// layer and the system give: a step is tried again only while a hold
// explains its refusal, counted in tries, not in time.
TEST_F(StrictLayerTest, OnlyARefusalThatAHoldExplainsIsTriedAgain) {
  write_contents(scratch / "file", "file");
  int tries = 0;
  auto refuse_with = [&](DWORD error, int until) {
    return [&tries, error, until] {
      ++tries;
      SetLastError(error);
      return tries >= until;
    };
  };
  // Access denied where nothing holds the file: tried a few times more (a
  // hold may have gone by the look), then told, with its code.
  EXPECT_FALSE(retry_while_held(path(L"file"), refuse_with(ERROR_ACCESS_DENIED, 100)));
  EXPECT_EQ(tries, static_cast<int>(kUnexplainedRefusals));
  tries = 0;
  EXPECT_TRUE(retry_while_held(path(L"file"), refuse_with(ERROR_ACCESS_DENIED, 2)));
  EXPECT_EQ(tries, 2);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  // The same while another handle holds the file, or while its deletion is
  // pending: tried again.
  HANDLE holder = hold(L"file", GENERIC_READ, FILE_SHARE_READ);
  tries = 0;
  EXPECT_TRUE(retry_while_held(path(L"file"), refuse_with(ERROR_ACCESS_DENIED, 3)));
  EXPECT_EQ(tries, 3);
  file_calls().close_handle(holder);
  HANDLE going = hold(L"file", DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  FILE_DISPOSITION_INFO disposition = {TRUE};
  ASSERT_TRUE(file_calls().set_file_information(going, FileDispositionInfo, &disposition, sizeof disposition));
  tries = 0;
  EXPECT_TRUE(retry_while_held(path(L"file"), refuse_with(ERROR_ACCESS_DENIED, 2)));
  EXPECT_EQ(tries, 2);
  file_calls().close_handle(going);
  // A sharing violation says by itself that the file is held.
  tries = 0;
  EXPECT_TRUE(retry_while_held(std::wstring(), refuse_with(ERROR_SHARING_VIOLATION, 2)));
  EXPECT_EQ(tries, 2);
  // Any other refusal is final at once.
  tries = 0;
  EXPECT_FALSE(retry_while_held(path(L"file"), refuse_with(ERROR_FILE_NOT_FOUND, 5)));
  EXPECT_EQ(tries, 1);
}

}  // namespace
