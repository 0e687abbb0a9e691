# Single commands for the common jobs. Everything builds in $(BUILD) with CMake.
BUILD ?= build
PACKAGE_BUILD ?= build-package
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all configure build test demo bench package test-package clean

all: build

configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The demo needs only the tool itself.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target weldrix
	examples/demo.sh $(BUILD)/weldrix

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

clean:
	rm -rf $(BUILD) $(PACKAGE_BUILD)
