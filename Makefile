# Pellucer: build and test entry points. README.md ("Building and testing") explains them.
#
#   make          build/linux, build/win64 and build/win32
#   make test     the same, then every test: native under ASan/UBSan, Windows x64 under Wine
#   make bench    build/bench (native Release) and run the benchmarks
#   make deps     install the Debian packages that are missing
#   make clean    remove build/ and dist/

SHELL := /bin/bash
.DEFAULT_GOAL := all
.DELETE_ON_ERROR:

CMAKE      ?= cmake
CTEST      ?= ctest
GENERATOR  ?= Ninja
CTEST_JOBS ?= 2
BENCH_ARGS ?=

BUILD_DIR := build
DIST_DIR  := dist
LINUX := $(BUILD_DIR)/linux
WIN64 := $(BUILD_DIR)/win64
WIN32 := $(BUILD_DIR)/win32
BENCH := $(BUILD_DIR)/bench

WINE_RUN    := $(CURDIR)/cmake/wine-run.sh
WINE_PREFIX := $(CURDIR)/$(WIN64)/wineprefix

# Everything the builds, the tests and the tools need on a Debian 12 machine.
DEBIAN_PACKAGES := \
	make cmake ninja-build g++ pkg-config \
	googletest libgtest-dev libbenchmark-dev \
	g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
	g++-mingw-w64-i686 g++-mingw-w64-i686-posix binutils-mingw-w64-i686 \
	mingw-w64-tools \
	wine64 xvfb xauth imagemagick \
	libsndfile1-dev libcairo2-dev

# Sanitizer settings for the native tests; override from the environment if needed.
ASAN_CHECKS   := detect_leaks=1:detect_stack_use_after_return=1
ASAN_OPTIONS  ?= $(ASAN_CHECKS):check_initialization_order=1:strict_init_order=1
UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS UBSAN_OPTIONS

CONFIGURE := $(CMAKE) -S $(CURDIR) -G "$(GENERATOR)"

LINUX_FLAGS := -DCMAKE_BUILD_TYPE=Debug '-DCMAKE_C_FLAGS_DEBUG=-g -O1' '-DCMAKE_CXX_FLAGS_DEBUG=-g -O1' \
	-DPELLUCER_SANITIZE=ON
RELEASE_FLAGS := -DCMAKE_BUILD_TYPE=Release \
	'-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG' '-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG'
WIN64_FLAGS := -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake $(RELEASE_FLAGS)
WIN32_FLAGS := -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-i686.cmake $(RELEASE_FLAGS)
BENCH_FLAGS := $(RELEASE_FLAGS) -DPELLUCER_BUILD_TESTS=OFF -DPELLUCER_BUILD_BENCH=ON

CTEST_RUN := $(CTEST) --output-on-failure --no-tests=error -j$(CTEST_JOBS)

# The Windows tests run under Wine in build/win64/wineprefix, with one wineserver kept up for
# the whole run; it is stopped whether the tests pass or not.
define run_win64_tests
echo "=== build/win64: tests under Wine ($(WINE_PREFIX))"; \
if $(WINE_RUN) $(WINE_PREFIX) --start; then \
	$(CTEST_RUN) --test-dir $(WIN64); rc=$$?; \
else \
	echo "could not start Wine in $(WINE_PREFIX)" >&2; rc=1; \
fi; \
$(WINE_RUN) $(WINE_PREFIX) --stop; \
test $$rc -eq 0
endef

define run_linux_tests
echo "=== build/linux: tests under ASan/UBSan"; \
$(CTEST_RUN) --test-dir $(LINUX)
endef

.PHONY: all deps test test-linux test-win64 bench clean build-linux build-win64 build-win32

all: build-linux build-win64 build-win32

deps:
	@$(CURDIR)/cmake/install-deps.sh $(DEBIAN_PACKAGES)

# Configure each build once. Later runs only build: ninja re-runs CMake by itself when a
# CMakeLists.txt changes or a .cpp appears or disappears. Editing this Makefile re-runs the
# configure step on the existing cache, not from scratch.
$(LINUX)/.configured: Makefile | deps
	$(CONFIGURE) -B $(LINUX) $(LINUX_FLAGS)
	@touch $@
$(WIN64)/.configured: Makefile | deps
	$(CONFIGURE) -B $(WIN64) $(WIN64_FLAGS)
	@touch $@
$(WIN32)/.configured: Makefile | deps
	$(CONFIGURE) -B $(WIN32) $(WIN32_FLAGS)
	@touch $@
$(BENCH)/.configured: Makefile | deps
	$(CONFIGURE) -B $(BENCH) $(BENCH_FLAGS)
	@touch $@

build-linux: $(LINUX)/.configured
	$(CMAKE) --build $(LINUX)
build-win64: $(WIN64)/.configured
	$(CMAKE) --build $(WIN64)
# i686: a compile and link check only; nothing here can run 32-bit Windows programs.
build-win32: $(WIN32)/.configured
	$(CMAKE) --build $(WIN32)

# Runs both suites even when the first fails, and fails if either did.
test: all
	@status=0; \
	( $(run_linux_tests) ) || status=1; \
	( $(run_win64_tests) ) || status=1; \
	if [ $$status -ne 0 ]; then echo "=== make test: FAILED (see above)" >&2; fi; \
	exit $$status

test-linux: build-linux
	@$(run_linux_tests)

test-win64: build-win64
	@$(run_win64_tests)

bench: $(BENCH)/.configured
	$(CMAKE) --build $(BENCH)
	@if [ ! -x $(BENCH)/bench/pellucer_bench ]; then \
		echo "no benchmarks yet (bench/*.cpp)"; exit 0; \
	fi; \
	pin=""; \
	if command -v taskset >/dev/null 2>&1 && [ "$$(nproc)" -gt 1 ]; then pin="taskset -c 1"; fi; \
	echo "=== $$pin $(BENCH)/bench/pellucer_bench $(BENCH_ARGS)"; \
	$$pin $(BENCH)/bench/pellucer_bench $(BENCH_ARGS)

clean:
	@if [ -d $(WINE_PREFIX) ]; then $(WINE_RUN) $(WINE_PREFIX) --stop; fi
	rm -rf $(BUILD_DIR) $(DIST_DIR)
