# The two commands of the README, and a few more for developers.
BUILD   ?= build
JOBS    ?= $(shell nproc)
MAKEFLAGS += --no-print-directory
CMAKE_FLAGS ?=

.PHONY: all setup configure build run test bench screenshots skin sanitize fuzz clean

all: build

setup:
	@scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The main window where a display exists; otherwise a headless full run that prints the results.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then $(BUILD)/app/zelka; \
	 else $(BUILD)/app/zelka --run; fi

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: build
	@$(BUILD)/bench/zelka_bench

screenshots: build
	@mkdir -p $(BUILD)/screenshots
	@QT_QPA_PLATFORM=offscreen $(BUILD)/app/zelka --screenshots $(BUILD)/screenshots

# Draws the main window's skin pictures again into resources/skin/.
skin: build
	@$(BUILD)/tools/skingen resources/skin

sanitize:
	@$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DZELKA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"

# The libFuzzer targets for FUZZ_SECONDS each (clang is checked and installed by the script).
FUZZ_SECONDS ?= 60
fuzz:
	@scripts/fuzz.sh $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) build-asan build-fuzz
