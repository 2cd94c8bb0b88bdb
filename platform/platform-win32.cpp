// Windows implementation of the platform services over KERNEL32 and the C
// runtime. Only code specific to Windows belongs here.
#include <string.h>

#include "platform/calls-win32.h"
#include "platform/platform.h"
#include "platform/system-win32.h"

namespace vlx {

namespace {

std::string convert_wide(UINT code_page, const wchar_t* text, const char* default_char) {
  int size = WideCharToMultiByte(code_page, 0, text, -1, nullptr, 0, default_char, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(code_page, 0, text, -1, &out[0], size, default_char, nullptr);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

}  // namespace

FileCalls& file_calls() {
  static FileCalls calls;
  return calls;
}

void* get_module_handle() { return GetModuleHandleA(nullptr); }

int get_module_file_name(void* module, wchar_t* buffer, int capacity) {
  DWORD n = GetModuleFileNameW(static_cast<HMODULE>(module), buffer, static_cast<DWORD>(capacity));
  // A result equal to the capacity means the name was cut short.
  if (n == 0 || n >= static_cast<DWORD>(capacity)) return 0;
  return static_cast<int>(n);
}

void set_invalid_argument_error() { SetLastError(ERROR_INVALID_PARAMETER); }

void set_invalid_data_error() { SetLastError(ERROR_INVALID_DATA); }

long last_error_code() { return static_cast<long>(GetLastError()); }

void set_last_error_code(long code) { SetLastError(static_cast<DWORD>(code)); }

void set_not_a_directory_error() { SetLastError(ERROR_DIRECTORY); }

void set_out_of_memory_error() { SetLastError(ERROR_NOT_ENOUGH_MEMORY); }

void set_held_error() { SetLastError(ERROR_LOCK_VIOLATION); }

bool last_error_means_held() { return GetLastError() == ERROR_LOCK_VIOLATION; }

bool last_error_means_no_file() {
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool file_exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

LockResult lock_file(const wchar_t* lock_path, FileHandle* lock) {
  std::wstring path = extended_path(lock_path);
  HANDLE file = file_calls().create_file(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    if (lock) *lock = from_handle(file);
    return kLockTaken;
  }
  DWORD error = GetLastError();
  if (error == ERROR_SHARING_VIOLATION) return kLockHeld;
  // A lock file whose holder has just closed it is refused until it is gone.
  if (error == ERROR_ACCESS_DENIED && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
      GetLastError() != ERROR_FILE_NOT_FOUND) {
    return kLockHeld;
  }
  return kLockUnavailable;
}

void release_file_lock(const wchar_t*, FileHandle lock) { close_file(lock); }  // deleted on close

LockResult lock_file_in(const Place& directory, const wchar_t* name, FileHandle* lock) {
  // The directory's open handle keeps its path leading to it.
  std::wstring path = directory.path;
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
  return lock_file((path + name).c_str(), lock);
}

void release_file_lock_in(const Place&, const wchar_t*, FileHandle lock) { close_file(lock); }

std::vector<DirectoryEntry> list_directory_entries(const Place& directory) {
  std::vector<DirectoryEntry> entries;
  std::wstring pattern = extended_path(directory.path);
  if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((pattern + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return entries;
}

bool FileIdentity::operator==(const FileIdentity& other) const {
  return volume == other.volume && memcmp(id, other.id, sizeof id) == 0;
}

std::string FileIdentity::text() const {
  static const char kDigits[] = "0123456789abcdef";
  std::string shown = std::to_string(volume) + ":";
  for (BYTE byte : id) {
    shown += kDigits[byte >> 4];
    shown += kDigits[byte & 15];
  }
  return shown;
}

bool read_file_identity(HANDLE file, FileIdentity* identity) {
  FILE_ID_INFO id;
  if (file_calls().get_file_information_ex(file, FileIdInfo, &id, sizeof id)) {
    identity->volume = id.VolumeSerialNumber;
    memcpy(identity->id, &id.FileId, sizeof identity->id);
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!file_calls().get_file_information(file, &info)) return false;
  *identity = FileIdentity();
  identity->volume = info.dwVolumeSerialNumber;
  DWORD index[2] = {info.nFileIndexLow, info.nFileIndexHigh};
  memcpy(identity->id, index, sizeof index);
  return true;
}

std::string file_signature(const wchar_t* path) {
  HANDLE file = file_calls().create_file(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  BY_HANDLE_FILE_INFORMATION info;
  FileIdentity identity;
  bool known = read_file_identity(file, &identity) && file_calls().get_file_information(file, &info);
  file_calls().close_handle(file);
  if (!known) return std::string();
  auto join = [](DWORD high, DWORD low) { return std::to_string((static_cast<unsigned long long>(high) << 32) | low); };
  return identity.text() + ":" +
         join(info.nFileSizeHigh, info.nFileSizeLow) + ":" +
         join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
}

bool file_size(FileHandle file, std::uint64_t* size) {
  LARGE_INTEGER bytes;
  if (GetFileType(to_handle(file)) != FILE_TYPE_DISK || !GetFileSizeEx(to_handle(file), &bytes)) return false;
  *size = static_cast<std::uint64_t>(bytes.QuadPart);
  return true;
}

bool read_file(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* count) {
  DWORD n = 0;
  if (!ReadFile(to_handle(file), buffer, size, &n, nullptr)) return false;
  *count = n;
  return true;
}

bool write_file(FileHandle file, const void* data, std::uint32_t size, std::uint32_t* count) {
  DWORD n = 0;
  if (!WriteFile(to_handle(file), data, size, &n, nullptr)) return false;
  *count = n;
  return true;
}

bool close_file(FileHandle file) { return file_calls().close_handle(to_handle(file)) != 0; }

std::wstring make_absolute(const wchar_t* path) { return *path ? full_path(path) : std::wstring(); }

std::wstring describe_last_error() {
  DWORD error = GetLastError();
  if (error == ERROR_SUCCESS) return std::wstring();
  std::wstring refused;
  if (describe_refusal(&refused)) return refused;
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring description = length ? std::wstring(text, length) : L"Error " + std::to_wstring(error);
  LocalFree(text);
  while (!description.empty() && (description.back() == L'\n' || description.back() == L'\r' ||
                                  description.back() == L' ')) {
    description.pop_back();
  }
  return description;
}

std::string convert_path_to_utf8(const wchar_t* path) { return convert_wide(CP_UTF8, path, nullptr); }

int compare_ignoring_case(const char* a, const char* b) { return _stricmp(a, b); }

std::string render_for_console(ConsoleStream stream, const wchar_t* text) {
  // A real console shows its output code page; redirected output is UTF-8.
  DWORD mode;
  HANDLE handle = GetStdHandle(stream == kStandardOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  UINT code_page = GetConsoleMode(handle, &mode) ? GetConsoleOutputCP() : CP_UTF8;
  if (code_page == CP_UTF8) return encode_utf8(text);
  return convert_wide(code_page, text, "?");
}

bool console_is_own_window() {
  // A shell shares its console with the programs it starts; a program
  // started from Explorer gets a console that lists it alone.
  DWORD mode, processes[2];
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) &&
         GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) && GetConsoleProcessList(processes, 2) == 1;
}

}  // namespace vlx
