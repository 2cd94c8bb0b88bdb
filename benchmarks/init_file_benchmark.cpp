// Benchmarks of the init file library, with a plain INI parser reading the
// same content as the anchor.
#include <benchmark/benchmark.h>
#include <ini.h>
#include <malloc.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "benchmarks/generate.h"
#include "initfile/initfile.h"

namespace {

std::wstring wide(const std::string& path) { return std::filesystem::path(path).wstring(); }

// Peak resident memory of this process so far, in MB (Linux).
double peak_memory_mb() {
  std::ifstream status("/proc/self/status");
  std::string word;
  while (status >> word) {
    if (word == "VmHWM:") {
      double kilobytes = 0;
      status >> kilobytes;
      return kilobytes / 1024;
    }
  }
  return 0;
}

// Times the loading only: each document is released, and the allocator's
// deferred work of that release done, outside the timing, so that every load
// starts from a heap like a fresh process's.
void load_file(benchmark::State& state, const std::string& path) {
  std::wstring name = wide(path);
  for (auto _ : state) {
    InitFile* file = load_init_file(name.c_str());
    if (!file) state.SkipWithError("the file was rejected");
    benchmark::DoNotOptimize(file);
    state.PauseTiming();
    if (file) free_init_file(file);
    free(malloc(1 << 16));  // a large request makes the allocator merge what was freed
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file_size(path)));
  state.counters["peak_MB"] = peak_memory_mb();
}

void BM_LoadRealistic(benchmark::State& state) { load_file(state, realistic_file()); }
void BM_LoadShared(benchmark::State& state) { load_file(state, shared_file()); }
void BM_LoadLongLine(benchmark::State& state) { load_file(state, long_line_file(state.range(0))); }
void BM_LoadTinyLines(benchmark::State& state) { load_file(state, tiny_lines_file(state.range(0))); }

// The anchor: the same shared file through a plain INI parser whose handler
// only counts, so it does less than a loader that builds a document.
int count_entry(void* user, const char*, const char*, const char*) {
  ++*static_cast<long*>(user);
  return 1;
}

void BM_AnchorShared(benchmark::State& state) {
  std::string path = shared_file();
  for (auto _ : state) {
    long entries = 0;
    if (ini_parse(path.c_str(), count_entry, &entries) != 0) state.SkipWithError("parse error");
    benchmark::DoNotOptimize(entries);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file_size(path)));
  state.counters["peak_MB"] = peak_memory_mb();
}

void BM_Store(benchmark::State& state) {
  InitFile* file = create_init_file();
  for (int64_t s = 0; s < state.range(0) / 100; ++s) {
    InitSection* section = create_init_section(("section." + std::to_string(s)).c_str());
    for (int e = 0; e < 100; ++e) {
      set_init_entry(section, ("key_" + std::to_string(e)).c_str(), "C:\\Program Files\\vorlax;lib");
    }
    add_init_section(file, section);
  }
  std::string path = (std::filesystem::temp_directory_path() / "vlx-bench-store.ini").string();
  std::wstring name = wide(path);
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(path);  // each store creates the file anew
    state.ResumeTiming();
    if (store_init_file(file, name.c_str()) != 0) state.SkipWithError("store failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file_size(path)));
  state.counters["peak_MB"] = peak_memory_mb();
  std::filesystem::remove(path);
  free_init_file(file);
}

InitSection* make_section(int64_t entries) {
  InitSection* section = create_init_section("s");
  for (int64_t e = 0; e < entries; ++e) set_init_entry(section, ("key_" + std::to_string(e)).c_str(), "v");
  return section;
}

// Replaces the value of the last key: the longest search.
void BM_SetEntry(benchmark::State& state) {
  InitSection* section = make_section(state.range(0));
  std::string key = "key_" + std::to_string(state.range(0) - 1);
  for (auto _ : state) benchmark::DoNotOptimize(set_init_entry(section, key.c_str(), "value"));
  free_init_section(section);
}

void BM_LookupValue(benchmark::State& state) {
  InitSection* section = make_section(state.range(0));
  std::string key = "key_" + std::to_string(state.range(0) - 1);
  for (auto _ : state) benchmark::DoNotOptimize(lookup_init_value(section, key.c_str()));
  free_init_section(section);
}

}  // namespace

BENCHMARK(BM_LoadRealistic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadShared)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnchorShared)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadLongLine)->Arg(50)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadTinyLines)->Arg(1000000)->Arg(2000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Store)->Arg(1000000)->Arg(2000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetEntry)->Arg(10)->Arg(10000);
BENCHMARK(BM_LookupValue)->Arg(10)->Arg(10000);

BENCHMARK_MAIN();
