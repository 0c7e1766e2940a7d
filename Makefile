# Thin wrapper over the CMake presets, so that the quick start is
# `make run` and `make test`.
PRESET ?= default
BUILD_DIR := build/$(PRESET)

# Ninja where it is installed, CMake's own default otherwise.
ifneq ($(shell command -v ninja 2>/dev/null),)
export CMAKE_GENERATOR ?= Ninja
endif

.PHONY: all build run test clean

all: build

$(BUILD_DIR)/CMakeCache.txt:
	cmake --preset $(PRESET)

build: $(BUILD_DIR)/CMakeCache.txt
	cmake --build --preset $(PRESET)

# Runs the relay in the current directory, where it looks for TESSARD.INI
# and writes its log.
run: build
	./$(BUILD_DIR)/relay/tessard

test: build
	ctest --preset $(PRESET)

clean:
	rm -rf build
