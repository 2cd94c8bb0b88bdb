#include "installer/root_lock.h"

#include <chrono>
#include <thread>

#include "installer/messages.h"

using namespace vlx;

void lock_root(const RunState* state) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point started = Clock::now();
  bool told = false;
  // A lock that a killed run held is gone with its process, so waiting ends
  // as soon as the run that holds it does; polling keeps the wait portable.
  while (lock_directory(state->bin_dir, nullptr) == kLockHeld) {
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
}
