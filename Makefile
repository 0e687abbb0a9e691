# Single commands for the common jobs. Everything builds in $(BUILD) with CMake.
BUILD ?= build
PACKAGE_BUILD ?= build-package
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

# Fuzzing (clang with libFuzzer, ASan and UBSan), the targets of fuzz/targets.txt (or FUZZ_TARGETS)
# from the committed corpus fuzz/corpus: `make fuzz` runs FUZZ_RUNS inputs per target,
# `make fuzz-long` FUZZ_SECONDS per target; `make fuzz-merge` folds what they found into
# fuzz/corpus. FUZZ_SEED is libFuzzer's seed; left empty it is taken from the commit.
FUZZ_BUILD ?= build-fuzz
FUZZ_RUNS ?= 20000
FUZZ_SECONDS ?= 600
FUZZ_SEED ?=
FUZZ_TARGETS ?=

# The test suite and the bundled library's parts under AddressSanitizer (with LeakSanitizer) and
# UBSan; any report fails the run. Reports exit with 86, which no run of the tool gives, so that
# tests expecting exit code 1 or 2 cannot mistake one for the tool's own result.
SANITIZE_BUILD ?= build-sanitize
TSAN_BUILD ?= build-tsan
SANITIZER_ENV = ASAN_OPTIONS=exitcode=86:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
  UBSAN_OPTIONS=exitcode=86:print_stacktrace=1:halt_on_error=1

# Windows (64-bit), cross-compiled with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix); its tests
# run under Wine (Debian: wine, wine64).
WINDOWS_BUILD ?= build-windows
WINDOWS_PACKAGE_BUILD ?= build-windows-package
WINDOWS_CMAKE = cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release -DWELDRIX_BENCHMARKS=OFF

# The page and the module for browsers and Node (web/), built with Debian's Emscripten (package
# emscripten) into $(WEB_BUILD). Its tools run on Node and need the Debian JavaScript libraries in
# /usr/share/nodejs, which a Node from elsewhere does not search by itself.
WEB_BUILD ?= build-web
WEB_ENV = NODE_PATH=/usr/share/nodejs$${NODE_PATH:+:$$NODE_PATH}

SOURCES = $(shell git ls-files '*.cpp' '*.hpp' 2>/dev/null)

.PHONY: all configure build test demo bench package test-package fuzz-build fuzz fuzz-long fuzz-merge sanitize tsan format check-format clean
.PHONY: windows test-windows package-windows test-package-windows
.PHONY: web package-web test-web bench-web

all: build

# The tests are built when GoogleTest and nlohmann-json are installed (WELDRIX_TESTS=AUTO), so that
# the tool alone needs only CMake and a compiler; `make test` requires them (WELDRIX_TESTS=ON).
CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DWELDRIX_TESTS=AUTO $(CMAKE_FLAGS)
configure:
	$(CONFIGURE)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Installs the Debian packages the tests need when they are missing (tools/install-packages.sh:
# as root or through sudo; otherwise it stops with the command to run), then builds everything and
# runs every test. Without GoogleTest or nlohmann-json the configuration fails: no test is skipped.
test:
	tools/install-packages.sh test
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DWELDRIX_TESTS=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The demo needs only the tool itself (CMake and a compiler, installed when missing). It leaves the
# cleaned part and the report's page in $(BUILD)/demo.
demo:
	tools/install-packages.sh demo
	$(CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS) --target weldrix
	examples/demo.sh $(BUILD)/weldrix $(BUILD)/demo

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

# A Debian package of the tool and its manual page (no tests or benchmarks are built for it):
# $(PACKAGE_BUILD)/weldrix_<version>_<arch>.deb
package:
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=Release -DWELDRIX_TESTS=OFF -DWELDRIX_BENCHMARKS=OFF $(CMAKE_FLAGS)
	cmake --build $(PACKAGE_BUILD) -j $(JOBS) --target package

# Builds the package, unpacks it into a temporary folder and checks the tool and its manual page.
test-package: package
	packaging/test-deb.sh $(PACKAGE_BUILD)/weldrix_*.deb

# weldrix.exe and the Windows test programs: $(WINDOWS_BUILD)/weldrix.exe
windows:
	$(WINDOWS_CMAKE) -S . -B $(WINDOWS_BUILD) $(CMAKE_FLAGS)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# Under Wine, in a fresh prefix removed at the end: the Windows unit tests, then every bundled part
# and the Windows cases run by weldrix.exe and by the Linux build, compared byte for byte.
test-windows: windows configure
	cmake --build $(BUILD) -j $(JOBS) --target weldrix
	JOBS=$(JOBS) tests/windows/run.sh $(WINDOWS_BUILD) $(BUILD)/weldrix

# The zip for Windows users: $(WINDOWS_PACKAGE_BUILD)/weldrix-<version>-win64.zip
package-windows:
	$(WINDOWS_CMAKE) -S . -B $(WINDOWS_PACKAGE_BUILD) -DWELDRIX_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(WINDOWS_PACKAGE_BUILD) -j $(JOBS) --target package

# Builds the zip and checks its contents, the text files and the program's DLL imports.
test-package-windows: package-windows
	packaging/windows/test-zip.sh $(WINDOWS_PACKAGE_BUILD)/weldrix-*-win64.zip

# The page (index.html: open it from disk or put the folder on any static web host) and the module
# weldrix.mjs, in $(WEB_BUILD).
web:
	$(WEB_ENV) emcmake cmake -S . -B $(WEB_BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	$(WEB_ENV) cmake --build $(WEB_BUILD) -j $(JOBS)

# The zip of the page: $(WEB_BUILD)/weldrix-<version>-web.zip
package-web: web
	$(WEB_ENV) cmake --build $(WEB_BUILD) --target package_web

# The module against the native build on every bundled part, then the page in headless Chromium
# from disk and from a local web server (web/test/run.sh).
test-web: web configure
	cmake --build $(BUILD) -j $(JOBS) --target weldrix
	web/test/run.sh $(WEB_BUILD) $(BUILD)/weldrix

# The module in Node against the native program on a generated 300,000-quad part (web/bench/).
bench-web: web configure
	cmake --build $(BUILD) -j $(JOBS) --target weldrix
	node web/bench/bench.mjs $(WEB_BUILD) $(BUILD)/weldrix

fuzz-build:
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DWELDRIX_FUZZ=ON -DWELDRIX_TESTS=OFF -DWELDRIX_BENCHMARKS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets

fuzz: fuzz-build
	fuzz/run.sh --runs $(FUZZ_RUNS) --seed "$(FUZZ_SEED)" $(FUZZ_BUILD) $(FUZZ_TARGETS)

fuzz-long: fuzz-build
	fuzz/run.sh --seconds $(FUZZ_SECONDS) --seed "$(FUZZ_SEED)" $(FUZZ_BUILD) $(FUZZ_TARGETS)

fuzz-merge: fuzz-build
	fuzz/merge.sh $(FUZZ_BUILD) $(FUZZ_TARGETS)

# Built with clang, so that CI builds with both compilers.
sanitize:
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DWELDRIX_SANITIZE=ON -DWELDRIX_TESTS=ON -DWELDRIX_BENCHMARKS=OFF $(CMAKE_FLAGS)
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	$(SANITIZER_ENV) ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j $(JOBS)
	$(SANITIZER_ENV) tests/run_library_parts.sh $(SANITIZE_BUILD)/weldrix
	$(SANITIZER_ENV) tests/run_library_batch.sh $(SANITIZE_BUILD)/weldrix

# The tests that run threads (batch mode, the shared subfile library, a long file read in halves)
# and a batch of the bundled library on four threads, under ThreadSanitizer; any report fails the
# run.
tsan:
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DWELDRIX_TSAN=ON -DWELDRIX_TESTS=ON -DWELDRIX_BENCHMARKS=OFF $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target weldrix weldrix_tests
	TSAN_OPTIONS=exitcode=86:halt_on_error=1 ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS) \
	  -R '^(Batch\.|SubfileLibrary\.|DocumentReader\.ALongInput|Unify\.GridIndex)'
	TSAN_OPTIONS=exitcode=86:halt_on_error=1 tests/run_library_batch.sh $(TSAN_BUILD)/weldrix

format:
	clang-format -i $(SOURCES)

check-format:
	clang-format --dry-run --Werror $(SOURCES)

clean:
	rm -rf $(BUILD) $(PACKAGE_BUILD) $(FUZZ_BUILD) $(SANITIZE_BUILD) $(WINDOWS_BUILD) $(WINDOWS_PACKAGE_BUILD) $(WEB_BUILD)
