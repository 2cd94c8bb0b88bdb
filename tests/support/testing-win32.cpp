// Windows implementation of the test services. Only code specific to Windows
// belongs here.
#include "tests/support/testing.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include "platform/platform.h"
#include "platform/replacement.h"

namespace vlx {

namespace {

// Quotes one argument so that the C runtime's command-line parser gives it
// back unchanged: backslashes count only before a quote.
std::wstring quote_argument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

std::wstring make_temp_file() {
  wchar_t directory[MAX_PATH], name[MAX_PATH];
  GetTempPathW(MAX_PATH, directory);
  GetTempFileNameW(directory, L"vlx", 0, name);
  return name;
}

HANDLE open_inheritable(const std::wstring& name, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The whole contents of the file name, which others may be writing.
std::string read_whole_file(const std::wstring& name) {
  std::string text;
  HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  char buffer[4096];
  DWORD n;
  while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) text.append(buffer, n);
  CloseHandle(file);
  return text;
}

std::string take_file(const std::wstring& name) {
  std::string text = read_whole_file(name);
  DeleteFileW(name.c_str());
  return text;
}


// Runs program with standard input from a file holding input, standard
// output to the existing file or device output names or, without one, to a
// file it collects, and standard error collected, calling watch (when set)
// while it runs.
ProcessResult run_with_streams(const std::wstring& program, const std::vector<std::wstring>& arguments,
                               const std::wstring& directory, const std::string& input, const std::wstring* output,
                               const std::function<void(const std::string& err)>& watch) {
  std::wstring in = make_temp_file(), out = output ? *output : make_temp_file(), err = make_temp_file();
  HANDLE input_file = open_inheritable(in, GENERIC_WRITE | GENERIC_READ, CREATE_ALWAYS);
  DWORD written;
  WriteFile(input_file, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
  SetFilePointer(input_file, 0, nullptr, FILE_BEGIN);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input_file;
  startup.hStdOutput = open_inheritable(out, GENERIC_WRITE, output ? OPEN_EXISTING : CREATE_ALWAYS);
  startup.hStdError = open_inheritable(err, GENERIC_WRITE, CREATE_ALWAYS);

  std::wstring command = quote_argument(program);
  for (const std::wstring& argument : arguments) command += L" " + quote_argument(argument);
  PROCESS_INFORMATION process = {};
  DWORD code = 127;
  // Under Wine a start has been seen to fail once while other tests started
  // many processes; it is tried again before the test is failed, and the
  // reason is kept for the test's report.
  bool started = false;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    started = CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, directory.c_str(),
                             &startup, &process) != 0;
  }
  std::string not_started =
      started ? "" : "the process could not be started: " + encode_utf8(describe_last_error().c_str());
  if (started) {
    while (WaitForSingleObject(process.hProcess, watch ? 5 : INFINITE) == WAIT_TIMEOUT) watch(read_whole_file(err));
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  CloseHandle(input_file);
  CloseHandle(startup.hStdOutput);
  CloseHandle(startup.hStdError);
  DeleteFileW(in.c_str());
  return ProcessResult{static_cast<int>(code), output ? std::string() : take_file(out), take_file(err) + not_started};
}

}  // namespace

std::wstring full_device() {
  // Wine reaches the host's devices through drive Z:; Windows has no such device.
  const wchar_t* full = L"Z:\\dev\\full";
  HANDLE device = CreateFileW(full, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  if (device == INVALID_HANDLE_VALUE) return std::wstring();
  CloseHandle(device);
  return full;
}

ProcessResult run_process_into(const std::wstring& program, const std::vector<std::wstring>& arguments,
                               const std::wstring& directory, const std::string& input, const std::wstring& output) {
  return run_with_streams(program, arguments, directory, input, &output, nullptr);
}

ProcessResult run_process_watching(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                   const std::wstring& directory, const std::string& input,
                                   const std::function<void(const std::string& err)>& watch) {
  return run_with_streams(program, arguments, directory, input, nullptr, watch);
}

ProcessResult run_process(const std::wstring& program, const std::vector<std::wstring>& arguments,
                          const std::wstring& directory, const std::string& input) {
  return run_with_streams(program, arguments, directory, input, nullptr, nullptr);
}

ProcessHandle start_process(const std::wstring& program, const std::vector<std::wstring>& arguments,
                            const std::wstring& directory) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  std::wstring command = quote_argument(program);
  for (const std::wstring& argument : arguments) command += L" " + quote_argument(argument);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, directory.c_str(),
                      &startup, &process)) {
    return -1;
  }
  CloseHandle(process.hThread);
  return reinterpret_cast<ProcessHandle>(process.hProcess);
}

bool process_is_running(ProcessHandle process) {
  return WaitForSingleObject(reinterpret_cast<HANDLE>(process), 0) == WAIT_TIMEOUT;
}

void wait_for_process(ProcessHandle process) {
  WaitForSingleObject(reinterpret_cast<HANDLE>(process), INFINITE);
  CloseHandle(reinterpret_cast<HANDLE>(process));
}

std::wstring locate_sibling_program(const wchar_t* base) {
  wchar_t self[MAX_PATH];
  std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
  return path.substr(0, path.rfind(L'\\') + 1) + base + L".exe";
}

std::string console_text(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

bool run_with_file_size_limit(std::uint64_t, const std::function<void()>&) { return false; }

std::wstring make_scratch_directory(const std::wstring& prefix) {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string random = make_temporary_name();
    std::wstring path = base + prefix + L"-" + std::wstring(random.end() - 6, random.end());
    if (CreateDirectoryW(path.c_str(), nullptr)) return path;
  }
  return std::wstring();
}

FileHandle hold_file_unshared(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(file);
}

FileHandle hold_file_sharing_delete(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(file);
}

bool file_is_open_for_writing(const std::wstring& path) {
  // Sharing read access only, the open fails while a writer holds the file.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(file);
  return false;
}

bool set_extended_attribute(const std::wstring&, const char*, const std::string&) { return false; }

std::string read_extended_attribute(const std::wstring&, const char*) { return std::string(); }

long file_owner(const std::wstring&) { return -1; }

bool change_owner(const std::wstring&, long) { return false; }

bool change_link_owner(const std::wstring&, long) { return false; }

bool exchange_names(const std::wstring&, const std::wstring&) { return false; }

bool make_fifo(const std::wstring&) { return false; }

long long allocated_bytes(const std::wstring&) { return -1; }

bool built_with_sanitizer() { return false; }

void set_environment_variable(const char* name, const char* value) {
  std::wstring wide_name = decode_utf8(name, strlen(name)), wide_value = decode_utf8(value, strlen(value));
  SetEnvironmentVariableW(wide_name.c_str(), *value ? wide_value.c_str() : nullptr);
}

std::string access_list_text(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return std::string();
  }
  wchar_t* text = nullptr;
  std::string shown;
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                           &text, nullptr)) {
    shown = encode_utf8(text);
    LocalFree(text);
  }
  LocalFree(descriptor);
  return shown;
}

bool can_run_as_other_users() { return false; }

bool run_as_user(long, long, const std::vector<long>&, const std::function<bool()>&) { return false; }

std::uint64_t file_identity(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return known ? (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow : 0;
}

namespace {

// The host's name of a file under Wine; empty on Windows itself.
std::string unix_name(const std::wstring& path) {
  using Convert = char*(CDECL*)(LPCWSTR);
  auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  char* name = convert ? convert(path.c_str()) : nullptr;
  if (!name) return std::string();
  std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

// True when a new file can be made in directory.
bool accepts_new_files(const std::wstring& directory) {
  HANDLE probe = CreateFileW((directory + L"\\probe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return false;
  CloseHandle(probe);
  return true;
}

}  // namespace

bool refuse_new_files(const std::wstring& directory, bool refuse) {
  // Wine starts a host program without waiting for it, and reports no exit
  // status: the shell says it is done with a file beside the directory.
  std::wstring done = directory + L".attribute-set";
  std::string host_directory = unix_name(directory), host_done = unix_name(done);
  if (host_directory.empty() || host_done.empty()) return false;
  std::string script = std::string("chattr ") + (refuse ? "+i" : "-i") + " '" + host_directory + "'; echo >'" +
                       host_done + ".part'; mv '" + host_done + ".part' '" + host_done + "'";
  std::wstring command = L"Z:\\bin\\sh -c \"" + decode_utf8(script.data(), script.size()) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"Z:\\bin\\sh", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // A bound that only a shell that never ran reaches.
  for (int waited = 0; GetFileAttributesW(done.c_str()) == INVALID_FILE_ATTRIBUTES && waited < 60000; waited += 10) {
    Sleep(10);
  }
  DeleteFileW(done.c_str());
  return accepts_new_files(directory) != refuse;
}

bool set_hidden(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
}

bool is_hidden(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN);
}

std::string reason_line(SystemError error) {
  static const DWORD codes[] = {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                                ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,  ERROR_DISK_FULL,
                                ERROR_DISK_FULL,      ERROR_SHARING_VIOLATION, ERROR_DIRECTORY,
                                ERROR_NOT_ENOUGH_MEMORY};
  SetLastError(codes[error]);
  return "  " + encode_utf8(describe_last_error().c_str()) + "\n";
}

}  // namespace vlx
