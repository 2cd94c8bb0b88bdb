#include "installer/root_lock.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "installer/messages.h"

using namespace vlx;

namespace {

FileHandle root_lock = kInvalidFile;
const wchar_t kLockName[] = L".vlxinstall.lock";
const Place* lock_directory = nullptr;  // bin

// Releases the lock as the run ends, however it ends but killed: the lock
// file is then gone when the process is, not a moment after.
void release_root_lock() {
  if (root_lock != kInvalidFile) release_file_lock_in(*lock_directory, kLockName, root_lock);
  root_lock = kInvalidFile;
}

}  // namespace

void lock_root(const RunState* state) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point started = Clock::now();
  bool told = false;
  // A lock that a killed run held is gone with its process, so waiting ends
  // as soon as the run that holds it does; polling keeps the wait portable.
  if (state->bin.place.directory == kInvalidFile) return;  // no bin: its files fail on their own
  lock_directory = &state->bin.place;
  LockResult lock;
  while ((lock = lock_file_in(*lock_directory, kLockName, &root_lock)) == kLockHeld) {
    Clock::duration waited = Clock::now() - started;
    if (waited >= std::chrono::minutes(5)) {
      fail(kOtherRunTooLong, state->root_dir);
    }
    if (!told && waited >= std::chrono::seconds(1)) {
      print_message(kStandardError, kWaitingForOtherRun, state->root_dir);
      flush_console(kStandardError);  // seen now, not when the run ends
      told = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (lock == kLockTaken) std::atexit(release_root_lock);
}
