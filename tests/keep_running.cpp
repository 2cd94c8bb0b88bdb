// A program that runs for the milliseconds its argument names (5000 without
// one) and ends: a launcher a user has left running.
#include <chrono>
#include <cstdlib>
#include <thread>

int main(int argc, char* argv[]) {
  long milliseconds = argc > 1 ? std::atol(argv[1]) : 5000;
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  return 0;
}
