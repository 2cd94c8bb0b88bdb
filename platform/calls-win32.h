// The Win32 calls of the Windows backend on which Windows' documented rules
// for files rest: opening, closing and copying handles, renaming, deleting,
// and telling one file from another. The backend reaches them through this
// one table, which the shipped programs leave as it is (the system's own
// calls); a test build may put a layer over them that refuses what Windows
// documents that it refuses where Wine does not (tests/strict). Every other
// call of the backend goes to the system directly. Only the Windows backend
// and that layer include this header.
#ifndef VLX_PLATFORM_CALLS_WIN32_H
#define VLX_PLATFORM_CALLS_WIN32_H

#include <windows.h>

namespace vlx {

struct FileCalls {
  decltype(&::CreateFileW) create_file = ::CreateFileW;
  decltype(&::CloseHandle) close_handle = ::CloseHandle;
  decltype(&::DuplicateHandle) duplicate_handle = ::DuplicateHandle;
  decltype(&::MoveFileExW) move_file = ::MoveFileExW;
  decltype(&::DeleteFileW) delete_file = ::DeleteFileW;
  decltype(&::SetFileInformationByHandle) set_file_information = ::SetFileInformationByHandle;
  decltype(&::GetFileInformationByHandle) get_file_information = ::GetFileInformationByHandle;
  decltype(&::GetFileInformationByHandleEx) get_file_information_ex = ::GetFileInformationByHandleEx;
};

// The table the backend calls through.
FileCalls& file_calls();

}  // namespace vlx

#endif  // VLX_PLATFORM_CALLS_WIN32_H
