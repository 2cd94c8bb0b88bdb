// POSIX (Linux) implementation of reaching files beneath a directory by
// handle. Every name is opened relative to the descriptor of the directory
// that holds it and never through a link (O_NOFOLLOW). Directories are held
// as O_PATH descriptors, which need only the right to pass through them, as
// a path does; what lists or flushes one opens it again from there. A link is read
// through a descriptor of the link itself, judged by that descriptor's
// owner, and its text walked the same way, so that no swap between a look
// and an open can slip another file in.
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/platform.h"
#include "platform/replacement.h"
#include "platform/system-posix.h"

namespace vlx {

namespace {

// As many links as the kernel follows in one path.
constexpr int kMostLinks = 40;

int open_at(int directory, const char* name, int flags) {
  return retry_interrupted([&] { return openat(directory, name, flags | O_CLOEXEC | O_NOFOLLOW, 0); });
}

std::string join_shown(const std::string& shown, const std::string& name) {
  if (shown.empty()) return name;
  return shown.back() == '/' ? shown + name : shown + '/' + name;
}

// Refuses the link at shown, owned by owner.
void refuse_link(const std::string& shown, uid_t owner) {
  set_refusal(L"a link owned by another user (user " + std::to_wstring(owner) + L") stands in place of " +
              from_native(shown));
}

std::vector<std::string> split_components(const std::string& path) {
  std::vector<std::string> components;
  for (std::string::size_type start = 0; start <= path.size();) {
    std::string::size_type end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string component = path.substr(start, end - start);
    if (!component.empty() && component != ".") components.push_back(component);
    start = end + 1;
  }
  return components;
}

// What a walk reached: the directory that holds the last name, and the name
// (empty where the path names the start itself).
struct Reached {
  int directory = -1;
  std::string name;
  std::string shown;  // the path of directory
};

bool walk(int start, const std::string& shown, const std::string& path, bool follow_last, Reached* out, int* hops);

// The text of the link open (O_PATH) as link in directory, when the link rule
// lets the caller follow it: the caller's own, or the directory owner's.
bool read_followed_link(int directory, int link, const struct stat& info, const std::string& shown,
                        std::string* text, int* hops) {
  struct stat parent;
  if (retry_interrupted([&] { return fstat(directory, &parent); }) != 0) return false;
  if (info.st_uid != geteuid() && info.st_uid != parent.st_uid) {
    refuse_link(shown, info.st_uid);
    return false;
  }
  if (++*hops > kMostLinks) {
    errno = ELOOP;
    return false;
  }
  char buffer[PATH_MAX];
  ssize_t n = retry_interrupted([&] { return readlinkat(link, "", buffer, sizeof buffer); });
  if (n < 0) return false;
  if (n == static_cast<ssize_t>(sizeof buffer)) {
    errno = ENAMETOOLONG;
    return false;
  }
  text->assign(buffer, static_cast<size_t>(n));
  return true;
}

// Takes one step from *directory to its entry name, which must lead to a
// directory; *directory is replaced by the new one (the old closed).
bool step_into(int* directory, std::string* shown, const std::string& name, int* hops) {
  std::string here = join_shown(*shown, name);
  int next = open_at(*directory, name.c_str(), O_PATH | O_DIRECTORY);
  if (next < 0 && (errno == ELOOP || errno == ENOTDIR)) {
    KeepError kept;
    int link = open_at(*directory, name.c_str(), O_PATH);
    struct stat info;
    if (link >= 0 && retry_interrupted([&] { return fstat(link, &info); }) == 0 && S_ISLNK(info.st_mode)) {
      std::string text;
      Reached reached;
      if (read_followed_link(*directory, link, info, here, &text, hops) &&
          walk(*directory, *shown, text, true, &reached, hops)) {
        next = reached.name.empty() ? dup(reached.directory)
                                    : open_at(reached.directory, reached.name.c_str(), O_PATH | O_DIRECTORY);
        here = reached.name.empty() ? reached.shown : join_shown(reached.shown, reached.name);
        KeepError inner;
        close(reached.directory);
      }
      kept.saved = errno;
    }
    if (link >= 0) close(link);
  }
  if (next < 0) return false;
  close(*directory);
  *directory = next;
  *shown = here;
  return true;
}

// Walks path (absolute, or relative to start, whose path is shown) to the
// directory that holds its last name, following every link on the way
// under the link rule, and the last name too when follow_last. A last name
// that is missing is no failure: out->name may name nothing. The caller
// closes out->directory.
bool walk(int start, const std::string& shown, const std::string& path, bool follow_last, Reached* out, int* hops) {
  bool absolute = !path.empty() && path[0] == '/';
  int directory = absolute ? open_retrying("/", O_PATH | O_DIRECTORY | O_CLOEXEC)
                           : retry_interrupted([&] { return fcntl(start, F_DUPFD_CLOEXEC, 0); });
  if (directory < 0) return false;
  std::string where = absolute ? "/" : shown;
  std::vector<std::string> components = split_components(path);
  for (size_t i = 0; i + 1 < components.size(); ++i) {
    if (!step_into(&directory, &where, components[i], hops)) {
      KeepError kept;
      close(directory);
      return false;
    }
  }
  out->directory = directory;
  out->shown = where;
  out->name = components.empty() ? std::string() : components.back();
  if (!follow_last || out->name.empty() || out->name == "..") return true;
  int link = open_at(directory, out->name.c_str(), O_PATH);
  struct stat info;
  if (link < 0) {
    if (errno == ENOENT) return true;
  } else if (retry_interrupted([&] { return fstat(link, &info); }) == 0) {
    if (!S_ISLNK(info.st_mode)) {
      close(link);
      return true;
    }
    std::string text;
    Reached reached;
    bool followed = read_followed_link(directory, link, info, join_shown(where, out->name), &text, hops) &&
                    walk(directory, where, text, true, &reached, hops);
    KeepError kept;
    close(link);
    close(directory);
    if (followed) *out = reached;
    return followed;
  }
  KeepError kept;
  if (link >= 0) close(link);
  close(directory);
  return false;
}

// True when the directory open as directory is within, or beneath it: its
// parents are followed up to the top of the tree.
bool lies_beneath(int directory, int within) {
  struct stat goal, here;
  if (retry_interrupted([&] { return fstat(within, &goal); }) != 0) return false;
  int current = retry_interrupted([&] { return fcntl(directory, F_DUPFD_CLOEXEC, 0); });
  bool found = false;
  for (int depth = 0; !found && current >= 0 && depth < PATH_MAX / 2; ++depth) {
    if (retry_interrupted([&] { return fstat(current, &here); }) != 0) break;
    found = here.st_dev == goal.st_dev && here.st_ino == goal.st_ino;
    int parent = open_at(current, "..", O_PATH | O_DIRECTORY);
    struct stat above;
    if (parent >= 0 && (retry_interrupted([&] { return fstat(parent, &above); }) != 0 ||
                        (above.st_dev == here.st_dev && above.st_ino == here.st_ino))) {
      close(parent);  // the top: its parent is itself
      parent = -1;
    }
    close(current);
    current = parent;
  }
  if (current >= 0) close(current);
  return found;
}

// Opens the regular file name in directory, judged by its handle; errno
// and the refusal as open_file_beneath promises.
int open_regular(int directory, const std::string& name) {
  int fd = open_at(directory, name.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat info;
  if (retry_interrupted([&] { return fstat(fd, &info); }) != 0) {
    KeepError kept;
    close(fd);
    return -1;
  }
  if (S_ISREG(info.st_mode)) return fd;
  close(fd);
  if (S_ISDIR(info.st_mode)) {
    errno = EISDIR;
  } else {
    set_refusal(L"not a regular file: a FIFO, a device or a socket stands in its place");
  }
  return -1;
}

}  // namespace

bool open_root_directory(const wchar_t* path, Place* root) {
  std::string native = to_native(path);
  int fd = open_retrying(native.empty() ? "." : native.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  root->directory = fd;
  root->path = path;
  return true;
}

bool open_directory_beneath(const Place& from, const wchar_t* relative, Place* opened) {
  int hops = 0;
  std::string shown = to_native(from.path.c_str());
  int directory = retry_interrupted([&] { return fcntl(static_cast<int>(from.directory), F_DUPFD_CLOEXEC, 0); });
  if (directory < 0) return false;
  for (const std::string& name : split_components(to_native(relative))) {
    if (!step_into(&directory, &shown, name, &hops)) {
      KeepError kept;
      close(directory);
      return false;
    }
  }
  opened->directory = directory;
  opened->path = from.path + (from.path.empty() || from.path.back() == L'/' ? L"" : L"/") + relative;
  return true;
}

FileHandle open_file_beneath(const Place& directory, const wchar_t* name, const Place* within) {
  int hops = 0;
  Reached reached;
  if (!walk(static_cast<int>(directory.directory), to_native(directory.path.c_str()), to_native(name), false,
            &reached, &hops)) {
    return kInvalidFile;
  }
  // The name is opened as it is; only where it is a link (the open refuses
  // it) is the link judged and its text walked, to the name it leads to.
  int fd = -1;
  while (!reached.name.empty() && (fd = open_regular(reached.directory, reached.name)) < 0 && errno == ELOOP) {
    KeepError kept;
    int link = open_at(reached.directory, reached.name.c_str(), O_PATH);
    struct stat info;
    std::string text;
    Reached next;
    bool followed = link >= 0 && retry_interrupted([&] { return fstat(link, &info); }) == 0 &&
                    S_ISLNK(info.st_mode) &&
                    read_followed_link(reached.directory, link, info, join_shown(reached.shown, reached.name), &text,
                                       &hops) &&
                    walk(reached.directory, reached.shown, text, false, &next, &hops);
    kept.saved = errno;
    if (link >= 0) close(link);
    if (!followed) break;
    close(reached.directory);
    reached = next;
  }
  if (reached.name.empty()) errno = EISDIR;
  if (fd >= 0 && hops > 0 && within && !lies_beneath(reached.directory, static_cast<int>(within->directory))) {
    close(fd);
    fd = -1;
    set_refusal(L"a link to a file outside " + within->path);
  }
  KeepError kept;
  close(reached.directory);
  return fd < 0 ? kInvalidFile : fd;
}

void create_directory_beneath(const Place& directory, const wchar_t* name) {
  std::string native = to_native(name);
  retry_interrupted([&] { return mkdirat(static_cast<int>(directory.directory), native.c_str(), 0777); });
}

bool is_link_beneath(const Place& directory, const wchar_t* name) {
  struct stat info;
  std::string native = to_native(name);
  return retry_interrupted([&] {
           return fstatat(static_cast<int>(directory.directory), native.c_str(), &info, AT_SYMLINK_NOFOLLOW);
         }) == 0 &&
         S_ISLNK(info.st_mode);
}

bool can_list_directory(const Place& directory) {
  int fd = open_at(static_cast<int>(directory.directory), ".", O_RDONLY | O_DIRECTORY | O_NONBLOCK);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

FileHandle open_file_for_reading(const wchar_t* path) {
  int here = open_retrying(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (here < 0) return kInvalidFile;
  Place start;
  start.directory = here;
  FileHandle file = open_file_beneath(start, path);
  KeepError kept;
  close(here);
  return file;
}

bool resolve_for_store(const wchar_t* path, FileHandle* directory, std::wstring* target) {
  int here = open_retrying(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (here < 0) return false;
  int hops = 0;
  Reached reached;
  bool ok = walk(here, "", to_native(path), true, &reached, &hops);
  KeepError kept;
  close(here);
  if (!ok) return false;
  if (reached.name.empty() || reached.name == "..") {
    close(reached.directory);
    errno = EISDIR;
    return false;
  }
  *directory = reached.directory;
  *target = from_native(join_shown(reached.shown, reached.name));
  return true;
}

}  // namespace vlx
