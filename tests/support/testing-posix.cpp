// POSIX implementation of the test services. Only code specific to POSIX
// systems belongs here.
#include "tests/support/testing.h"

#include <errno.h>
#include <grp.h>
#include <linux/fs.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/platform.h"

namespace vlx {

namespace {

std::string make_temp_file(const std::string& contents) {
  char name[] = "/tmp/vlx-test-XXXXXX";
  int fd = mkstemp(name);
  if (fd >= 0) {
    bool written = write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
    (void)written;  // a short input file shows up as a failing test
    close(fd);
  }
  return name;
}

std::string take_file(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  unlink(name.c_str());
  return text.str();
}

void redirect(const std::string& name, int flags, int target) {
  int fd = open(name.c_str(), flags);
  dup2(fd, target);
  close(fd);
}

// Starts program with arguments in directory; in the child, before the
// program runs, prepare (which may redirect the standard streams).
template <typename Prepare>
pid_t spawn(const std::wstring& program, const std::vector<std::wstring>& arguments,
            const std::wstring& directory, Prepare prepare) {
  std::vector<std::string> words{encode_utf8(program.c_str())};
  for (const std::wstring& argument : arguments) words.push_back(encode_utf8(argument.c_str()));
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  std::string where = encode_utf8(directory.c_str());
  pid_t child = fork();
  if (child == 0) {
    prepare();
    if (chdir(where.c_str()) == 0) execv(argv[0], argv.data());
    _exit(127);
  }
  return child;
}


// Runs program with standard input from a file holding input, standard
// output to the file output names or, without one, to a file it collects,
// and standard error collected, calling watch (when set) while it runs.
ProcessResult run_with_streams(const std::wstring& program, const std::vector<std::wstring>& arguments,
                               const std::wstring& directory, const std::string& input, const std::wstring* output,
                               const std::function<void(const std::string& err)>& watch) {
  std::string in = make_temp_file(input), err = make_temp_file("");
  std::string out = output ? encode_utf8(output->c_str()) : make_temp_file("");
  pid_t child = spawn(program, arguments, directory, [&] {
    redirect(in, O_RDONLY, 0);
    redirect(out, O_WRONLY, 1);
    redirect(err, O_WRONLY, 2);
  });
  int status = 0;
  while (waitpid(child, &status, watch ? WNOHANG : 0) == 0) {
    std::ifstream written(err, std::ios::binary);
    watch(std::string(std::istreambuf_iterator<char>(written), std::istreambuf_iterator<char>()));
    usleep(5000);
  }
  unlink(in.c_str());
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return ProcessResult{code, output ? std::string() : take_file(out), take_file(err)};
}

}  // namespace

std::wstring full_device() { return access("/dev/full", W_OK) == 0 ? L"/dev/full" : std::wstring(); }

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
  return spawn(program, arguments, directory, [] {});
}

bool process_is_running(ProcessHandle process) {
  // A child that ended stays a zombie until it is waited for.
  siginfo_t info = {};
  return waitid(P_PID, static_cast<id_t>(process), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

void wait_for_process(ProcessHandle process) {
  int status;
  waitpid(static_cast<pid_t>(process), &status, 0);
}

std::wstring locate_sibling_program(const wchar_t* base) {
  wchar_t self[kPathCapacity];
  std::wstring path(self, get_module_file_name(get_module_handle(), self, kPathCapacity));
  return path.substr(0, path.rfind(L'/') + 1) + base;
}

std::string console_text(const std::string& text) { return text; }

bool run_with_file_size_limit(std::uint64_t limit, const std::function<void()>& action) {
  // Ignoring SIGXFSZ turns the signal into the write error EFBIG.
  struct sigaction ignore = {}, previous;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &previous);
  struct rlimit original;
  getrlimit(RLIMIT_FSIZE, &original);
  struct rlimit limited = {static_cast<rlim_t>(limit), original.rlim_max};
  setrlimit(RLIMIT_FSIZE, &limited);
  action();
  setrlimit(RLIMIT_FSIZE, &original);
  sigaction(SIGXFSZ, &previous, nullptr);
  return true;
}

std::wstring make_scratch_directory(const std::wstring& prefix) {
  const char* base = getenv("TMPDIR");
  std::string path = std::string(base && *base ? base : "/tmp") + "/" + encode_utf8(prefix.c_str()) + "-XXXXXX";
  if (!mkdtemp(&path[0])) return std::wstring();
  return decode_utf8(path.data(), path.size());
}

FileHandle hold_file_unshared(const std::wstring&) { return kInvalidFile; }

FileHandle hold_file_sharing_delete(const std::wstring&) { return kInvalidFile; }

bool file_is_open_for_writing(const std::wstring&) { return false; }

std::string reason_line(SystemError error) {
  static const int codes[] = {ENOENT, ENOENT, EISDIR, ENOTDIR, EACCES, ENOSPC, EFBIG, EBUSY, ENOTDIR, ENOMEM};
  return std::string("  ") + strerror(codes[error]) + "\n";
}

bool set_extended_attribute(const std::wstring& path, const char* name, const std::string& value) {
  return setxattr(encode_utf8(path.c_str()).c_str(), name, value.data(), value.size(), 0) == 0;
}

std::string read_extended_attribute(const std::wstring& path, const char* name) {
  char value[256];
  ssize_t length = getxattr(encode_utf8(path.c_str()).c_str(), name, value, sizeof value);
  return length > 0 ? std::string(value, static_cast<size_t>(length)) : std::string();
}

long file_owner(const std::wstring& path) {
  struct stat info;
  return stat(encode_utf8(path.c_str()).c_str(), &info) == 0 ? static_cast<long>(info.st_uid) : -1;
}

bool change_owner(const std::wstring& path, long owner) {
  return chown(encode_utf8(path.c_str()).c_str(), static_cast<uid_t>(owner), static_cast<gid_t>(owner)) == 0;
}

bool change_link_owner(const std::wstring& path, long owner) {
  return lchown(encode_utf8(path.c_str()).c_str(), static_cast<uid_t>(owner), static_cast<gid_t>(owner)) == 0;
}

bool exchange_names(const std::wstring& a, const std::wstring& b) {
  return renameat2(AT_FDCWD, encode_utf8(a.c_str()).c_str(), AT_FDCWD, encode_utf8(b.c_str()).c_str(),
                   RENAME_EXCHANGE) == 0;
}

bool make_fifo(const std::wstring& path) { return mkfifo(encode_utf8(path.c_str()).c_str(), 0666) == 0; }

long long allocated_bytes(const std::wstring& path) {
  struct stat info;
  return stat(encode_utf8(path.c_str()).c_str(), &info) == 0 ? static_cast<long long>(info.st_blocks) * 512 : -1;
}

bool built_with_sanitizer() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}

void set_environment_variable(const char* name, const char* value) {
  if (*value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

std::string access_list_text(const std::wstring&) { return std::string(); }

bool can_run_as_other_users() { return geteuid() == 0; }

bool run_as_user(long user, long group, const std::vector<long>& groups, const std::function<bool()>& action) {
  if (!can_run_as_other_users()) return false;
  std::vector<gid_t> supplementary(groups.begin(), groups.end());
  pid_t child = fork();
  if (child == 0) {
    bool changed = setgroups(supplementary.size(), supplementary.data()) == 0 &&
                   setresgid(static_cast<gid_t>(group), static_cast<gid_t>(group), static_cast<gid_t>(group)) == 0 &&
                   setresuid(static_cast<uid_t>(user), static_cast<uid_t>(user), static_cast<uid_t>(user)) == 0;
    _exit(changed && action() ? 0 : 1);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::uint64_t file_identity(const std::wstring& path) {
  struct stat info;
  return stat(encode_utf8(path.c_str()).c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_ino) : 0;
}

bool refuse_new_files(const std::wstring& directory, bool refuse) {
  int fd = open(encode_utf8(directory.c_str()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = refuse ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
  done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  close(fd);
  return done;
}

bool set_hidden(const std::wstring&) { return false; }

bool is_hidden(const std::wstring&) { return false; }

}  // namespace vlx
