# Entry points for people: `make demo` and `make test` do all set-up
# themselves on a Debian machine.

BUILD_PACKAGES := cmake ninja-build g++
TEST_PACKAGES := $(BUILD_PACKAGES) clang libclang-rt-14-dev googletest libgtest-dev \
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64

CONFIGURE := cmake -G Ninja -Wno-dev
SANITIZE := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer

.PHONY: demo test test-native test-sanitize test-windows build clean

demo: build
	scripts/demo.sh build/native/bin/vlxinstall

build:
	@scripts/require-packages.sh $(BUILD_PACKAGES)
	$(CONFIGURE) -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build/native

# The whole suite: natively, under AddressSanitizer and UndefinedBehaviorSanitizer,
# and as a Windows build under Wine.
test:
	@scripts/require-packages.sh $(TEST_PACKAGES)
	$(MAKE) --no-print-directory test-native test-sanitize test-windows

test-native: build
	cd build/native && ctest --output-on-failure

test-sanitize:
	$(CONFIGURE) -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$(SANITIZE)"
	cmake --build build/sanitize
	cd build/sanitize && ctest --output-on-failure

test-windows:
	$(CONFIGURE) -S . -B build/windows -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
	cmake --build build/windows
	scripts/wine-session.sh start
	cd build/windows && ctest --output-on-failure; status=$$?; \
	  cd ../.. && scripts/wine-session.sh stop; exit $$status

clean:
	rm -rf build
