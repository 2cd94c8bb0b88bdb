// Names and the damage note of replacements, for both backends.
#include "platform/replacement.h"

#include "platform/platform.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace vlx {

namespace {

const char kPrefix[] = ".vlxinstall-";
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kRandomLength = 6;

// splitmix64: each call gets a different well-mixed number. The seed mixes
// the clock with an address that address-space randomisation moves, so that
// processes started together still differ; the creating open refuses names
// that exist anyway.
std::uint64_t next_random() {
  static std::atomic<std::uint64_t> state{
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      reinterpret_cast<std::uintptr_t>(&state)};
  std::uint64_t z = state.fetch_add(0x9E3779B97F4A7C15ull) + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// kRandomLength random letters and digits.
std::string make_random_letters() {
  std::string letters;
  std::uint64_t bits = next_random();
  for (std::size_t i = 0; i < kRandomLength; ++i, bits /= sizeof kAlphabet - 1) {
    letters += kAlphabet[bits % (sizeof kAlphabet - 1)];
  }
  return letters;
}

}  // namespace

std::string make_temporary_name() { return kPrefix + make_random_letters(); }

std::wstring make_store_temporary_name(const std::wstring& target) {
  const std::size_t kLongestName = 255, kAdded = sizeof ".." - 1 + kRandomLength + sizeof ".tmp" - 1;
  std::wstring name = target;
  while (encode_utf8(name.c_str()).size() > kLongestName - kAdded) name.pop_back();
  // Never half of a UTF-16 pair.
  if (!name.empty() && name.back() >= 0xD800 && name.back() <= 0xDBFF) name.pop_back();
  std::string random = make_random_letters();
  return L"." + name + L"." + std::wstring(random.begin(), random.end()) + L".tmp";
}

bool is_temporary_name(const std::string& name) {
  std::size_t prefix = sizeof kPrefix - 1;
  if (name.size() != prefix + kRandomLength || name.compare(0, prefix, kPrefix) != 0) return false;
  for (std::size_t i = prefix; i < name.size(); ++i) {
    if (name[i] == '\0' || !std::strchr(kAlphabet, name[i])) return false;
  }
  return true;
}

std::wstring make_aside_name(const std::wstring& temporary, const std::wstring& original) {
  return temporary + L'-' + original;
}

std::wstring original_of_aside_name(const std::wstring& name) {
  std::wstring::size_type length = sizeof kPrefix - 1 + kRandomLength;
  if (name.size() <= length + 1 || name[length] != L'-') return std::wstring();
  std::wstring temporary = name.substr(0, length);
  if (!is_temporary_name(encode_utf8(temporary.c_str()))) return std::wstring();
  return name.substr(length + 1);
}

std::wstring directory_of(const std::wstring& path) {
  // Windows takes '/' as a separator too.
  const wchar_t separators[] = {kPathSeparator, L'/', L'\0'};
  std::wstring::size_type separator = path.find_last_of(separators);
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

long long next_held_file_pause(HeldFileWait* wait, std::uint64_t now) {
  if (!wait->refused) {
    wait->refused = true;
    wait->first_refusal = now;
  }
  const std::uint64_t kWait = kHeldFileWaitMilliseconds;
  std::uint64_t waited = now >= wait->first_refusal ? now - wait->first_refusal : 0;
  if (waited >= kWait) return -1;
  wait->pause = wait->pause == 0 ? 1 : wait->pause < 125 ? 2 * wait->pause : 250;
  if (wait->pause > kWait - waited) wait->pause = kWait - waited;
  return static_cast<long long>(wait->pause);
}

namespace {

// What the replacement that failed last on this thread left of its target.
thread_local TargetDamage last_damage = kTargetIntact;
thread_local std::wstring last_moved_to;

}  // namespace

void note_target_damage(TargetDamage damage, const std::wstring& moved_to) {
  last_damage = damage;
  last_moved_to = moved_to;
}

TargetDamage last_target_damage(std::wstring* moved_to) {
  if (moved_to) *moved_to = last_moved_to;
  return last_damage;
}

std::vector<std::wstring> list_replacement_leftovers(const Place& directory) {
  std::vector<std::wstring> names;
  for (const DirectoryEntry& entry : list_directory_entries(directory)) {
    // A directory of such a name is no file a run made, and no sweep removes it.
    if (!entry.directory &&
        (is_temporary_name(encode_utf8(entry.name.c_str())) || !original_of_aside_name(entry.name).empty())) {
      names.push_back(entry.name);
    }
  }
  return names;
}

}  // namespace vlx
