// POSIX (Linux) implementation of keeping the file a commit replaces under
// an aside name, putting it back, and removing the kept name once the
// replacement stands. Only code specific to POSIX systems belongs here.
#include <unistd.h>

#include "platform/platform.h"
#include "platform/replacement.h"
#include "platform/system-posix.h"

namespace vlx {

bool keep_replaced_file(FileReplacement* replacement, std::wstring* kept, bool* moved) {
  int dir = static_cast<int>(replacement->directory);
  std::string target = base_name(replacement->target);
  std::wstring original = replacement->target.substr(directory_of(replacement->target).size()), name;
  // A link keeps the name filled; a file system without links gets the move.
  for (bool link : {true, false}) {
    *moved = !link;
    if (with_temporary_name(&name, [&](const std::wstring& candidate) {
          std::string aside = to_native(make_aside_name(candidate, original).c_str());
          int done = retry_interrupted([&] {
            return link ? linkat(dir, target.c_str(), dir, aside.c_str(), 0)
                        : renameat(dir, target.c_str(), dir, aside.c_str());
          });
          return done == 0 ? kNameUsed : errno == EEXIST ? kNameTaken : kNameFailed;
        })) {
      *kept = directory_of(replacement->target) + make_aside_name(name, original);
      return true;
    }
    if (link && errno != EPERM && errno != EMLINK && errno != EOPNOTSUPP && errno != ENOSYS) return false;
  }
  return false;
}

bool put_back_replaced_file(const FileReplacement& replacement, const std::wstring& kept) {
  int dir = static_cast<int>(replacement.directory);
  std::string target = base_name(replacement.target), old = base_name(kept);
  return retry_interrupted([&] {
           return kept.empty() ? unlinkat(dir, target.c_str(), 0) : renameat(dir, old.c_str(), dir, target.c_str());
         }) == 0;
}

// A rename leaves the old file's mode as it was: nothing to give back.
void give_back_attributes(const FileReplacement&, const std::wstring&) {}

void remove_kept_file(const FileReplacement& replacement, const std::wstring& kept) {
  std::string name = base_name(kept);
  retry_interrupted([&] { return unlinkat(static_cast<int>(replacement.directory), name.c_str(), 0); });
}

}  // namespace vlx
