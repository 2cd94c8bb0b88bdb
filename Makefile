# Entry points for people: `make demo` and `make test` do all set-up
# themselves on a Debian machine.

BUILD_PACKAGES := cmake ninja-build g++
MINGW_PACKAGES := gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
TEST_PACKAGES := $(BUILD_PACKAGES) $(MINGW_PACKAGES) clang libclang-rt-dev googletest libgtest-dev \
  strace python3 git gcc pkg-config wine wine64 mandoc

CONFIGURE := cmake -G Ninja -Wno-dev
# Builds use every core unless told otherwise (make test JOBS=1).
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PARALLEL := --parallel $(JOBS)
# The builds the suites run treat every warning as an error, and build the
# tests whatever a configure by hand left in their cache.
STRICT := -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DVLX_BUILD_TESTS=ON
NATIVE := $(CONFIGURE) -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo
WINDOWS_TOOLCHAIN := -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
SANITIZE := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
FUZZ_SECONDS ?= 300

.PHONY: demo test faults fuzz bench dist test-dist native sanitize windows \
  test-native test-sanitize test-windows clean

# The tool alone, in a build directory of its own, run on a copy of the
# sample distribution.
demo:
	@scripts/require-packages.sh $(BUILD_PACKAGES)
	$(CONFIGURE) -S . -B build/demo -DVLX_BUILD_TESTS=OFF
	cmake --build build/demo $(PARALLEL) --target vlxinstall
	scripts/demo.sh build/demo/bin/vlxinstall

# The whole suite: natively (with the fault-injection sweep), under
# AddressSanitizer and UndefinedBehaviorSanitizer (with a short fuzzing run),
# as a Windows build under Wine, and the release built twice to the same bytes.
test:
	@scripts/require-packages.sh $(TEST_PACKAGES)
	@MAKE="$(MAKE)" scripts/run-suites.sh test-native test-sanitize test-windows test-dist

# The whole fault-injection sweep: every realistic error of every system call
# of a run, a kill at each, and the in-place path failed part-way, in every
# scenario (about 7,700 runs).
faults: native
	@scripts/require-packages.sh strace python3
	python3 tests/faults/fault_sweep.py --full build/native/bin/vlxinstall

# The fuzz target alone, for FUZZ_SECONDS.
fuzz: sanitize
	cd build/sanitize && ./bin/init_text_fuzzer -max_total_time=$(FUZZ_SECONDS) \
	  -max_len=8192 -rss_limit_mb=2048 tests/fuzz-corpus ../../tests/fuzz/corpus

# Benchmarks of the init file library and of an installation, in one table.
bench:
	@scripts/require-packages.sh $(BUILD_PACKAGES) libbenchmark-dev libinih-dev libglib2.0-dev pkg-config python3 valgrind
	$(CONFIGURE) -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVLX_BUILD_TESTS=OFF \
	  -DVLX_BUILD_BENCHMARKS=ON
	cmake --build build/bench $(PARALLEL)
	python3 benchmarks/run.py build/bench build/bench-data

# Release archives for Windows and Linux with their SHA-256 sums, in build/dist:
# the same bytes from any clone, at any time (see scripts/release.sh).
dist:
	@scripts/require-packages.sh $(BUILD_PACKAGES) $(MINGW_PACKAGES) python3 git
	scripts/release.sh build

# Builds the release in two clones at two places and compares the sums, and
# runs the README's build commands in a fresh clone.
test-dist:
	scripts/test-reproducible.sh
	scripts/test-readme-build.sh

native:
	@scripts/require-packages.sh $(BUILD_PACKAGES)
	$(NATIVE) $(STRICT)
	cmake --build build/native $(PARALLEL)

sanitize:
	@scripts/require-packages.sh $(BUILD_PACKAGES) clang libclang-rt-dev libgtest-dev
	$(CONFIGURE) -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug $(STRICT) \
	  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$(SANITIZE)" -DVLX_BUILD_FUZZERS=ON \
	  -DVLX_LINK_STATIC=OFF
	cmake --build build/sanitize $(PARALLEL)

windows:
	@scripts/require-packages.sh $(BUILD_PACKAGES) $(MINGW_PACKAGES) googletest
	$(CONFIGURE) -S . -B build/windows -DCMAKE_BUILD_TYPE=Release $(STRICT) $(WINDOWS_TOOLCHAIN)
	cmake --build build/windows $(PARALLEL)

# Each suite ends with CTest's summary and why any test was skipped.
test-native: native
	cd build/native && ctest -j2 --output-on-failure; status=$$?; python3 ../../scripts/skip-reasons.py .; exit $$status

test-sanitize: sanitize
	cd build/sanitize && ctest -j2 --output-on-failure; status=$$?; python3 ../../scripts/skip-reasons.py .; exit $$status

test-windows: windows
	@scripts/require-packages.sh wine wine64
	scripts/wine-session.sh start
	cd build/windows && ctest -j2 --output-on-failure; status=$$?; python3 ../../scripts/skip-reasons.py .; \
	  cd ../.. && scripts/wine-session.sh stop; exit $$status

clean:
	rm -rf build
