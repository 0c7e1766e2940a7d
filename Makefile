# Thin wrapper over the CMake presets, so that the quick start is
# `make run` and `make test`.
PRESET ?= default
BUILD_DIR := build/$(PRESET)

# Ninja where it is installed, CMake's own default otherwise.
ifneq ($(shell command -v ninja 2>/dev/null),)
export CMAKE_GENERATOR ?= Ninja
endif

.PHONY: all build run test package clean

all: build

$(BUILD_DIR)/CMakeCache.txt:
	cmake --preset $(PRESET)

build: $(BUILD_DIR)/CMakeCache.txt
	cmake --build --preset $(PRESET)

# Builds the relay alone (the tests, benchmarks and soak programs are for
# `make test`) and runs it in the current directory, where it looks for
# TESSARD.INI and writes its log.
run: $(BUILD_DIR)/CMakeCache.txt
	cmake --build --preset $(PRESET) --target tessard
	./$(BUILD_DIR)/relay/tessard

test: build
	ctest --preset $(PRESET)

# The benchmarks, the relay latency tool, the relay beside socat and a
# minimal relay (under two minutes), and the idle-CPU reading, on the default
# (optimised) preset; see BENCHMARKS.md.
.PHONY: bench
BENCH_DIR := build/default
bench:
	cmake --preset default
	cmake --build --preset default --target benchmarks tessard
	$(BENCH_DIR)/bench/cipher_bench
	$(BENCH_DIR)/bench/log_bench
	$(BENCH_DIR)/bench/util_bench
	$(BENCH_DIR)/bench/relay_latency 30 40
	$(BENCH_DIR)/bench/relay_compare
	bench/idle_cpu.sh $(BENCH_DIR)/relay/tessard 10

# The release packages, in build/packages: the .deb and the tarball from a
# Linux Release build, the zip and the installer from the MinGW-w64 cross
# build. Each build is configured afresh, so that the version names the
# current commit.
PACKAGE_DIR := build/packages
# One time for every file that the packages date, the commit's, so that
# the zip and the installer hold the same tessard.exe (strip writes this
# time into it) and a package made again from the commit is the same.
SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null)
ifneq ($(SOURCE_DATE_EPOCH),)
package: export SOURCE_DATE_EPOCH := $(SOURCE_DATE_EPOCH)
endif
package:
	rm -rf $(PACKAGE_DIR)
	cmake --preset package
	cmake --build --preset package
	cpack --config build/package/CPackConfig.cmake -B $(PACKAGE_DIR)
	cmake --preset package-windows
	cmake --build --preset package-windows
	cpack --config build/package-windows/CPackConfig.cmake -B $(PACKAGE_DIR)
	rm -rf $(PACKAGE_DIR)/_CPack_Packages
	ls -l $(PACKAGE_DIR)

clean:
	rm -rf build
