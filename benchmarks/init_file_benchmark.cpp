// Benchmarks of the init file library, with a plain INI parser reading the
// same content as the anchor.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <ini.h>
#include <malloc.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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
void BM_LoadPlain(benchmark::State& state) { load_file(state, plain_file()); }
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

// Where the store cases write: a memory file system where there is one, so
// that the figures are the writer's own work and not the disk's (each store
// is flushed to the disk before it replaces the file).
std::filesystem::path store_directory() {
  return std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm")
                                             : std::filesystem::temp_directory_path();
}

InitFile* make_store_document(int64_t entries) {
  InitFile* file = create_init_file();
  for (int64_t s = 0; s < entries / 100; ++s) {
    InitSection* section = create_init_section(("section." + std::to_string(s)).c_str());
    for (int e = 0; e < 100; ++e) {
      set_init_entry(section, ("key_" + std::to_string(e)).c_str(), "C:\\Program Files\\vorlax;lib");
    }
    add_init_section(file, section);
  }
  return file;
}

void BM_Store(benchmark::State& state) {
  InitFile* file = make_store_document(state.range(0));
  std::string path = (store_directory() / "vlx-bench-store.ini").string();
  std::wstring name = wide(path);
  for (auto _ : state) {
    if (store_init_file(file, name.c_str()) != 0) state.SkipWithError("store failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file_size(path)));
  state.counters["peak_MB"] = peak_memory_mb();
  std::filesystem::remove(path);
  free_init_file(file);
}

// The anchor for the store: the same bytes, already formatted, written from C
// in 64 KiB blocks the way a careful program replaces a file: a new file
// beside the target, flushed, closed and renamed over it.
void BM_StoreAnchor(benchmark::State& state) {
  std::string path = (store_directory() / "vlx-bench-anchor.ini").string();
  std::string temporary = path + ".new";
  InitFile* file = make_store_document(state.range(0));
  store_init_file(file, wide(path).c_str());
  free_init_file(file);
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (auto _ : state) {
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool written = fd >= 0;
    for (size_t done = 0; written && done < bytes.size(); done += 1 << 16) {
      size_t size = std::min<size_t>(1 << 16, bytes.size() - done);
      written = write(fd, bytes.data() + done, size) == static_cast<ssize_t>(size);
    }
    written = written && fsync(fd) == 0;
    written = close(fd) == 0 && written && rename(temporary.c_str(), path.c_str()) == 0;
    if (!written) state.SkipWithError("write failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.counters["peak_MB"] = peak_memory_mb();
  std::filesystem::remove(path);
}

// What no writer of a document can beat: the document walked and its keys
// and values written unescaped, in 64 KiB blocks, flushed and renamed.
void BM_StoreUnescaped(benchmark::State& state) {
  std::string path = (store_directory() / "vlx-bench-unescaped.ini").string();
  std::string temporary = path + ".new";
  InitFile* file = make_store_document(state.range(0));
  std::vector<char> block(1 << 17);
  size_t total = 0;
  for (auto _ : state) {
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool written = fd >= 0;
    size_t used = 0;
    total = 0;
    for (int32_t s = 0; s < file->count && written; ++s) {
      for (int32_t e = 0; e < file->sections[s]->count && written; ++e) {
        const InitEntry* entry = file->sections[s]->entries[e];
        size_t key = strlen(entry->key), value = strlen(entry->value);
        memcpy(&block[used], entry->key, key);
        block[used + key] = '=';
        memcpy(&block[used + key + 1], entry->value, value);
        block[used + key + 1 + value] = '\n';
        used += key + value + 2;
        if (used >= 1 << 16) {
          written = write(fd, block.data(), used) == static_cast<ssize_t>(used);
          total += used;
          used = 0;
        }
      }
    }
    written = written && write(fd, block.data(), used) == static_cast<ssize_t>(used) && fsync(fd) == 0;
    total += used;
    written = close(fd) == 0 && written && rename(temporary.c_str(), path.c_str()) == 0;
    if (!written) state.SkipWithError("write failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total));
  std::filesystem::remove(path);
  free_init_file(file);
}

// One value changed in the realistic file and the file stored: by the
// editor, which keeps every other byte, and by a load and a store of the
// document, which keeps none of the comments. The last section's entry is
// changed, the farthest to look for. Both write to the memory file system.
const char kChangedSection[] = "component.9999";
const char kChangedKey[] = "size_98";

void BM_EditAndStore(benchmark::State& state) {
  std::wstring source = wide(realistic_file());
  std::wstring target = wide((store_directory() / "vlx-bench-edit.ini").string());
  for (auto _ : state) {
    InitEdit* edit = open_init_edit(source.c_str(), nullptr);
    if (!edit || set_init_edit_value(edit, kChangedSection, kChangedKey, "7") != 0 ||
        store_init_edit(edit, target.c_str()) != 0) {
      state.SkipWithError("the edit failed");
    }
    state.PauseTiming();
    if (edit) free_init_edit(edit);
    free(malloc(1 << 16));
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file_size(realistic_file())));
  state.counters["peak_MB"] = peak_memory_mb();
  std::filesystem::remove(target);
}

void BM_LoadAndStore(benchmark::State& state) {
  std::wstring source = wide(realistic_file());
  std::wstring target = wide((store_directory() / "vlx-bench-load-store.ini").string());
  for (auto _ : state) {
    InitFile* file = load_init_file(source.c_str());
    if (!file || set_init_entry(lookup_init_section(file, kChangedSection), kChangedKey, "7") != 0 ||
        store_init_file(file, target.c_str()) != 0) {
      state.SkipWithError("the load or store failed");
    }
    state.PauseTiming();
    if (file) free_init_file(file);
    free(malloc(1 << 16));
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file_size(realistic_file())));
  state.counters["peak_MB"] = peak_memory_mb();
  std::filesystem::remove(target);
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
BENCHMARK(BM_LoadPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadLongLine)->Arg(50)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadTinyLines)->Arg(1000000)->Arg(2000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Store)->Arg(1000000)->Arg(2000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreAnchor)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreUnescaped)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EditAndStore)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadAndStore)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetEntry)->Arg(10)->Arg(10000);
BENCHMARK(BM_LookupValue)->Arg(10)->Arg(10000);

BENCHMARK_MAIN();
