// A launcher a user has left running: a program that runs until the file its
// argument names exists (or two minutes have passed, so that a test that
// died leaves nothing running for long), and then ends.
#include <chrono>
#include <filesystem>
#include <thread>

int main(int argc, char* argv[]) {
  if (argc < 2) return 2;
  const std::filesystem::path stop = argv[1];
  const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (!std::filesystem::exists(stop) && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}
