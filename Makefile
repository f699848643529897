# The two commands of the README, and a few more for developers.
BUILD   ?= build
JOBS    ?= $(shell nproc)
MAKEFLAGS += --no-print-directory
CMAKE_FLAGS ?=

.PHONY: all setup configure build build-all run install deb test bench bench-rank rank screenshots skin \
        sanitize tsan fuzz format format-check clean

all: build

# The program alone needs neither the test nor the benchmark packages; each target installs
# and configures only what it builds.
PROGRAM_ONLY = -DZELKA_BUILD_TESTS=OFF -DZELKA_BUILD_BENCH=OFF -DZELKA_BUILD_RANK=OFF

setup:
	@scripts/setup.sh program

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(PROGRAM_ONLY) $(CMAKE_FLAGS) >/dev/null

# The program and its data files.
build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Everything: the program, the test suite and the benchmarks.
build-all:
	@scripts/setup.sh program rank test bench
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DZELKA_BUILD_TESTS=ON \
	  -DZELKA_BUILD_BENCH=ON -DZELKA_BUILD_RANK=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# The main window where a display exists; otherwise a headless full run that prints the results.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then $(BUILD)/app/zelka; \
	 else $(BUILD)/app/zelka --run; fi

test: build-all
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench:
	@scripts/setup.sh program bench
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DZELKA_BUILD_TESTS=OFF -DZELKA_BUILD_BENCH=ON \
	  -DZELKA_BUILD_RANK=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target zelka_bench zelka
	@$(BUILD)/bench/zelka_bench --benchmark_filter=-BM_GdiTest
	@bench/screens.sh $(BUILD)
	@bench/spread.sh $(BUILD)

# The ranking service on its default address with its SQLite file; RANK_ARGS adds options,
# e.g. RANK_ARGS="--listen 0.0.0.0:8932" or RANK_ARGS="--db postgresql://user@host/db".
RANK_ARGS ?=
rank:
	@scripts/setup.sh program rank
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DZELKA_BUILD_TESTS=OFF -DZELKA_BUILD_BENCH=OFF \
	  -DZELKA_BUILD_RANK=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target zelka-rank
	@$(BUILD)/rank/zelka-rank $(RANK_ARGS)

# The ranking service under wrk on loopback, with SQLite and with PostgreSQL.
bench-rank:
	@scripts/setup.sh program rank bench
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DZELKA_BUILD_TESTS=OFF -DZELKA_BUILD_BENCH=ON \
	  -DZELKA_BUILD_RANK=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target zelka-rank zelka-rank-fill zelka-rank-hostile
	@bench/rank/bench-rank.sh $(BUILD)

screenshots: build
	@mkdir -p $(BUILD)/screenshots
	@QT_QPA_PLATFORM=offscreen $(BUILD)/app/zelka --screenshots $(BUILD)/screenshots

# Installs the program and the ranking service, their data files and manual pages, the desktop
# entry, icon and AppStream metadata under PREFIX.
PREFIX ?= /usr/local
install:
	@scripts/setup.sh program rank
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DZELKA_BUILD_TESTS=OFF -DZELKA_BUILD_BENCH=OFF \
	  -DZELKA_BUILD_RANK=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package build/zelka_<version>_<arch>.deb: what `make install` installs, under /usr,
# its library dependencies computed by dpkg-shlibdeps; then lintian's verdict on it.
deb:
	@scripts/setup.sh program rank deb
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DZELKA_BUILD_TESTS=OFF -DZELKA_BUILD_BENCH=OFF \
	  -DZELKA_BUILD_RANK=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@cd $(BUILD) && cpack -G DEB >/dev/null
	@ls $(BUILD)/zelka_*.deb
	@lintian --fail-on error $(BUILD)/zelka_*.deb

# Draws the main window's skin pictures again into resources/skin/.
skin: build
	@$(BUILD)/tools/skingen resources/skin

sanitize:
	@$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DZELKA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"

# The tests that drive the presenter, the canvas and the surfaces from two threads, built with
# ThreadSanitizer in build-tsan/ as one program (threads_tests) and run on Qt's offscreen
# platform; any report fails it. tests/tsan.supp holds only what happens inside Qt's own
# uninstrumented libraries.
tsan:
	@scripts/setup.sh program test
	@cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELKA_TSAN=ON -DZELKA_BUILD_TESTS=ON \
	  -DZELKA_BUILD_BENCH=OFF -DZELKA_BUILD_RANK=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-tsan -j $(JOBS) --target threads_tests
	@QT_QPA_PLATFORM=offscreen \
	  TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp" \
	  build-tsan/tests/threads_tests --gtest_brief=1

# The libFuzzer targets for FUZZ_SECONDS each (clang is checked and installed by the script).
FUZZ_SECONDS ?= 60
fuzz:
	@scripts/fuzz.sh $(FUZZ_SECONDS)

# The sources in the repository's style (.clang-format); format-check fails where one differs.
FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h')
format:
	@clang-format -i $(FORMAT_FILES)

format-check:
	@clang-format --dry-run --Werror $(FORMAT_FILES)

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
