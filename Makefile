# Single commands for the common jobs. Everything builds in $(BUILD) with CMake.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

# Fuzzing (clang with libFuzzer, ASan and UBSan): each target runs FUZZ_RUNS inputs from seed FUZZ_SEED.
FUZZ_BUILD ?= build-fuzz
FUZZ_RUNS ?= 20000
FUZZ_SEED ?= 1

# The test suite and the bundled library's parts under AddressSanitizer (with LeakSanitizer) and
# UBSan; any report fails the run. Reports exit with 86, which no run of the tool gives, so that
# tests expecting exit code 1 or 2 cannot mistake one for the tool's own result.
SANITIZE_BUILD ?= build-sanitize
SANITIZER_ENV = ASAN_OPTIONS=exitcode=86:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
  UBSAN_OPTIONS=exitcode=86:print_stacktrace=1:halt_on_error=1

.PHONY: all build test demo bench clean fuzz sanitize

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	examples/demo.sh $(BUILD)/weldrix

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

fuzz:
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DWELDRIX_FUZZ=ON -DWELDRIX_TESTS=OFF -DWELDRIX_BENCHMARKS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_RUNS) $(FUZZ_SEED)

sanitize:
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWELDRIX_SANITIZE=ON -DWELDRIX_BENCHMARKS=OFF
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	$(SANITIZER_ENV) ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j $(JOBS)
	$(SANITIZER_ENV) tests/run_library_parts.sh $(SANITIZE_BUILD)/weldrix

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) $(SANITIZE_BUILD)
