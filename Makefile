# Pellucer: build and test entry points. README.md ("Building and testing") explains them.
#
#   make          build/linux, build/win64, build/win32 and build/release, and the modules in dist/
#   make test     the same, then every test: native under ASan/UBSan, Windows x64 under Wine,
#                 the export checks of every module, and 30 s of each fuzz target from its seeds
#   make bench    build/release (native Release) and run the benchmarks, then the timing host
#                 against the peer plug-ins when they are installed
#   make bench-peers  install the peer plug-ins (zam-plugins, lsp-plugins-vst) and time them
#   make skin     draw the skin's images again into skin/ (commit them; a test checks they match)
#   make gallery  every skin image and control state in one picture: docs/gallery.png
#   make screenshots  the editor under Wine and Xvfb, playing a sung vowel: docs/screenshots/*.png
#   make torture  the torture host on both modules for SECONDS (300), then the TSan build's tests
#   make test-tsan  build/tsan: the native tests and the torture host under ThreadSanitizer
#   make fuzz     build the libFuzzer targets of tests/fuzz with clang and run each for FUZZ_SECONDS
#                 (or FUZZ_RUNS executions); make fuzz-regression: 30 s each, as make test runs them
#   make reference-renders  the renders the tests hold the sound to: tests/data/reference/
#   make mutants  seed each fault of tools/mutants/faults.txt alone: which do the native tests catch?
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
BENCH_SECONDS ?= 20

BUILD_DIR := build
DIST_DIR  := dist
LINUX := $(BUILD_DIR)/linux
WIN64 := $(BUILD_DIR)/win64
WIN32 := $(BUILD_DIR)/win32
RELEASE := $(BUILD_DIR)/release
TSAN := $(BUILD_DIR)/tsan
FUZZ := $(BUILD_DIR)/fuzz
FUZZ_SECONDS ?= 60

WINE_RUN    := $(CURDIR)/cmake/wine-run.sh
WINE_PREFIX := $(CURDIR)/$(WIN64)/wineprefix

# The LV2 plug-in: its headers, and lilv with the tools its checks run (lv2_validate needs sordi).
LV2_PACKAGES := lv2-dev liblilv-dev lilv-utils sordi
LV2_BUNDLE   := $(RELEASE)/lv2/bundle/Pellucer.lv2

# Everything the builds, the tests and the tools need on a Debian 12 machine.
DEBIAN_PACKAGES := \
	make cmake ninja-build g++ pkg-config \
	googletest libgtest-dev libbenchmark-dev \
	g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
	g++-mingw-w64-i686 g++-mingw-w64-i686-posix binutils-mingw-w64-i686 \
	mingw-w64-tools \
	wine64 xvfb xauth xdotool imagemagick \
	libsndfile1-dev libcairo2-dev libfreetype-dev fonts-dejavu-core clang \
	$(LV2_PACKAGES)

# Enough for the native Release build (the renderer, the Linux module, the benchmarks): what
# `make demo` needs on a fresh machine, without the cross compilers and Wine.
NATIVE_PACKAGES := make cmake ninja-build g++ pkg-config googletest libbenchmark-dev libsndfile1-dev \
	$(LV2_PACKAGES)

# Linux VST2 plug-ins the timing host compares the strip with (`make bench-peers`).
PEER_PACKAGES := zam-plugins lsp-plugins-vst
PEER_MODULES  := /usr/lib/vst/ZamAutoSat-vst.so /usr/lib/vst/lsp-plugins/compressor-stereo.so

# Sanitizer settings for the native tests; override from the environment if needed.
ASAN_CHECKS   := detect_leaks=1:detect_stack_use_after_return=1
ASAN_OPTIONS  ?= $(ASAN_CHECKS):check_initialization_order=1:strict_init_order=1
UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1
# ThreadSanitizer (build/tsan): the first report fails the run; cmake/tsan-suppressions.txt says
# why each of its entries is there.
TSAN_OPTIONS  ?= halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/cmake/tsan-suppressions.txt
export ASAN_OPTIONS UBSAN_OPTIONS TSAN_OPTIONS

# How long `make torture` runs the torture host on each module.
SECONDS ?= 300

CONFIGURE := $(CMAKE) -S $(CURDIR) -G "$(GENERATOR)"

LINUX_FLAGS := -DCMAKE_BUILD_TYPE=Debug '-DCMAKE_C_FLAGS_DEBUG=-g -O1' '-DCMAKE_CXX_FLAGS_DEBUG=-g -O1' \
	-DPELLUCER_SANITIZE=ON
RELEASE_FLAGS := -DCMAKE_BUILD_TYPE=Release \
	'-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG' '-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG'
WIN64_FLAGS := -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake $(RELEASE_FLAGS)
WIN32_FLAGS := -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-i686.cmake $(RELEASE_FLAGS)
TSAN_FLAGS := -DCMAKE_BUILD_TYPE=Debug '-DCMAKE_C_FLAGS_DEBUG=-g -O1' '-DCMAKE_CXX_FLAGS_DEBUG=-g -O1' \
	-DPELLUCER_TSAN=ON -DPELLUCER_BUILD_BENCH=OFF
RELEASE_BUILD_FLAGS := $(RELEASE_FLAGS) -DPELLUCER_BUILD_TESTS=OFF -DPELLUCER_BUILD_BENCH=ON

CTEST_RUN := $(CTEST) --output-on-failure --no-tests=error -j$(CTEST_JOBS)
# The torture passes (label "torture") still cross their output ceiling now and then: `make
# torture` runs them, `make test` leaves them out until that is mended (TEST_LABELS= keeps them).
TEST_LABELS ?= -LE torture

# The Windows tests run under Wine in build/win64/wineprefix, with one wineserver kept up for
# the whole run; it is stopped whether the tests pass or not.
define run_win64_tests
echo "=== build/win64: tests under Wine ($(WINE_PREFIX))"; \
if $(WINE_RUN) $(WINE_PREFIX) --start; then \
	$(CTEST_RUN) $(TEST_LABELS) --test-dir $(WIN64); rc=$$?; \
else \
	echo "could not start Wine in $(WINE_PREFIX)" >&2; rc=1; \
fi; \
$(WINE_RUN) $(WINE_PREFIX) --stop; \
test $$rc -eq 0
endef

# The i686 and Release builds cannot (or need not) run the unit tests; their ctest holds the
# checks that read the built modules without running them (exports).
define run_module_checks
echo "=== build/win32 and build/release: module checks"; \
$(CTEST_RUN) --test-dir $(WIN32) && $(CTEST_RUN) --test-dir $(RELEASE)
endef

define run_linux_tests
echo "=== build/linux: tests under ASan/UBSan"; \
$(CTEST_RUN) $(TEST_LABELS) --test-dir $(LINUX)
endef

.PHONY: all deps deps-native demo host-check reference-renders skin gallery screenshots test test-linux test-win64 test-modules bench bench-peers clean build-linux build-win64 build-win32 \
	build-release build-tsan test-tsan torture dist fuzz mutants

all: dist

deps:
	@$(CURDIR)/cmake/install-deps.sh $(DEBIAN_PACKAGES)

deps-native:
	@$(CURDIR)/cmake/install-deps.sh $(NATIVE_PACKAGES)

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
$(TSAN)/.configured: Makefile | deps-native
	$(CONFIGURE) -B $(TSAN) $(TSAN_FLAGS)
	@touch $@
$(RELEASE)/.configured: Makefile | deps-native
	$(CONFIGURE) -B $(RELEASE) $(RELEASE_BUILD_FLAGS)
	@touch $@

build-linux: $(LINUX)/.configured
	$(CMAKE) --build $(LINUX)
build-win64: $(WIN64)/.configured
	$(CMAKE) --build $(WIN64)
# i686: a compile and link check only; nothing here can run 32-bit Windows programs.
build-win32: $(WIN32)/.configured
	$(CMAKE) --build $(WIN32)
# Native Debug -O1 under ThreadSanitizer: the unit tests and the torture host.
build-tsan: $(TSAN)/.configured
	$(CMAKE) --build $(TSAN)
# Native Release: the Linux plug-in and the tools as shipped, and the benchmarks.
build-release: $(RELEASE)/.configured
	$(CMAKE) --build $(RELEASE)

# What a user installs: each module with its Resources/ folder beside it.
define copy_module
rm -rf $(DIST_DIR)/$(2) && mkdir -p $(DIST_DIR)/$(2) && \
cp $(1)/vst/$(3) $(DIST_DIR)/$(2)/ && cp -r $(1)/vst/Resources $(DIST_DIR)/$(2)/
endef

dist: build-linux build-win64 build-win32 build-release
	@$(call copy_module,$(WIN32),win32,Pellucer.dll)
	@$(call copy_module,$(WIN64),win64,Pellucer.dll)
	@$(call copy_module,$(RELEASE),linux-x86_64,Pellucer.so)
	@cp -r $(LV2_BUNDLE) $(DIST_DIR)/linux-x86_64/
	@for tool in $(RELEASE)/tools/pellucer-render; do \
		if [ -x $$tool ]; then cp $$tool $(DIST_DIR)/linux-x86_64/; fi; \
	done
	@echo "=== dist/: $$(cd $(DIST_DIR) && find . -maxdepth 2 -type f | sort | tr '\n' ' ')"

# Runs both suites even when the first fails, and fails if either did.
test: all
	@status=0; \
	( $(run_linux_tests) ) || status=1; \
	( $(run_win64_tests) ) || status=1; \
	( $(run_module_checks) ) || status=1; \
	echo "=== fuzz targets: FUZZ_SECONDS=30 each from their seeds, two at a time"; \
	$(MAKE) --no-print-directory fuzz-regression || status=1; \
	if [ $$status -ne 0 ]; then echo "=== make test: FAILED (see above)" >&2; fi; \
	exit $$status

test-linux: build-linux
	@$(run_linux_tests)

test-win64: build-win64
	@$(run_win64_tests)

test-modules: build-win32 build-release
	@$(run_module_checks)

define run_tsan_tests
echo "=== build/tsan: tests under ThreadSanitizer"; \
$(CTEST_RUN) --test-dir $(TSAN)
endef

test-tsan: build-tsan
	@$(run_tsan_tests)

# The torture host (tests/torture) for SECONDS on each module: the native one under ASan/UBSan,
# the Windows x64 one under Wine with its editor; then build/tsan's
# tests under ThreadSanitizer, which are not part of make test: built from scratch and run they
# take about 13 minutes on the 2-core build machine (8 to build, 5 to run).
torture: build-linux build-win64 build-tsan
	@echo "=== torture: $(LINUX)/vst/Pellucer.so, $(SECONDS) s"; \
	$(LINUX)/tests/torture/pellucer_torture --seconds $(SECONDS) || exit 1; \
	echo "=== torture: $(WIN64)/vst/Pellucer.dll under Wine, $(SECONDS) s"; \
	$(WINE_RUN) $(WINE_PREFIX) --start && \
	$(WINE_RUN) $(WINE_PREFIX) $(WIN64)/tests/torture/pellucer_torture.exe --seconds $(SECONDS); rc=$$?; \
	$(WINE_RUN) $(WINE_PREFIX) --stop; \
	test $$rc -eq 0 || exit $$rc; \
	$(run_tsan_tests)

# The benchmarks pinned to CPU 1 (when there are two or more), then the timing host: the strip's
# Linux module against a chain of peer plug-ins, BENCH_SECONDS of turns (not after a run that
# picks benchmarks with --benchmark_filter).
BENCH_PIN := $$(if command -v taskset >/dev/null 2>&1 && [ "$$(nproc)" -gt 1 ]; then echo taskset -c 1; fi)
define run_timing_host
echo "=== $(RELEASE)/bench/pellucer_timing_host --seconds $(BENCH_SECONDS) $(RELEASE)/vst/Pellucer.so"; \
$(BENCH_PIN) $(RELEASE)/bench/pellucer_timing_host --seconds $(BENCH_SECONDS) $(RELEASE)/vst/Pellucer.so
endef

bench: build-release
	@if [ ! -x $(RELEASE)/bench/pellucer_bench ]; then \
		echo "no benchmarks yet (bench/*.cpp)"; exit 0; \
	fi; \
	echo "=== $(BENCH_PIN) $(RELEASE)/bench/pellucer_bench $(BENCH_ARGS)"; \
	$(BENCH_PIN) $(RELEASE)/bench/pellucer_bench $(BENCH_ARGS) || exit 1; \
	if [[ "$(BENCH_ARGS)" == *--benchmark_filter* ]]; then \
		echo "=== timing host skipped: BENCH_ARGS picks benchmarks (make bench-peers runs it alone)"; \
	elif ls $(PEER_MODULES) >/dev/null 2>&1; then \
		$(run_timing_host); \
	else \
		echo "=== timing host skipped: peer plug-ins not installed (make bench-peers installs them)"; \
	fi

bench-peers: build-release
	@$(CURDIR)/cmake/install-deps.sh $(PEER_PACKAGES)
	@$(run_timing_host)

# The skin's images are drawn by tools/skin/pellucer-skin (Cairo) and committed in skin/; the
# native tests check that the committed files are what the generator draws.
skin: deps build-release
	$(RELEASE)/tools/skin/pellucer-skin $(CURDIR)/skin

gallery: deps build-release
	@mkdir -p docs
	$(RELEASE)/tools/skin/pellucer-gallery $(CURDIR)/skin $(CURDIR)/docs/gallery.png

# The editor as a user sees it: the win64 module in a small host under Wine and Xvfb.
screenshots: build-win64
	@$(CURDIR)/tools/screenshots.sh $(WIN64) $(CURDIR)/docs/screenshots

# The main job: a spoken example through contrasting factory programs, rendered into out/.
demo: deps-native $(RELEASE)/.configured
	$(CMAKE) --build $(RELEASE) --target pellucer_render
	@$(CURDIR)/tools/demo.sh $(RELEASE)

# A host we did not write: Ardour renders through dist/linux-x86_64/Pellucer.so and the result
# is compared with the renderer's.
host-check: deps-native build-release
	@$(call copy_module,$(RELEASE),linux-x86_64,Pellucer.so)
	@cp -r $(LV2_BUNDLE) $(DIST_DIR)/linux-x86_64/
	@cp $(RELEASE)/tools/pellucer-render $(DIST_DIR)/linux-x86_64/
	@$(CURDIR)/tools/host-check.sh $(RELEASE) $(DIST_DIR)/linux-x86_64

# The sound the tests hold the engine to: renders of tests/data/reference/voice-excerpt.wav
# through a few factory programs. Make them again only for a change of sound that is meant.
reference-renders: deps-native $(RELEASE)/.configured
	$(CMAKE) --build $(RELEASE) --target pellucer_render
	@$(CURDIR)/tools/make-reference-renders.sh $(RELEASE)/tools/pellucer-render

# libFuzzer targets (clang from Debian). The shared sources are compiled once into objects (with
# dependency files, so later runs rebuild only what changed) and each target links what it uses.
# Every run starts from the target's committed seeds, tests/fuzz/corpus/NAME/, copied into a work
# corpus in build/fuzz/corpus/NAME (the repository is never written); a finding is left as
# build/fuzz/artifacts/NAME-crash-* (or -leak-, -timeout-, -oom-). FUZZ_RUNS, when given,
# replaces the time limit with a number of executions per target; FUZZ_JOBS targets run at once.
FUZZ_RUNS ?=
FUZZ_JOBS ?= 1
FUZZ_REGRESSION_SECONDS ?= 30
FUZZ_TARGETS := skin_table set_chunk envelope midi_input fxp_file bmp_file stream_format value_parser
FUZZ_CXX := clang++
FUZZ_COMMON := -std=c++20 -g -O1 -fno-math-errno -fno-sanitize-recover=undefined -I$(CURDIR) \
	-DPELLUCER_SOURCE_DIR='"$(CURDIR)"'
FUZZ_OBJ_FLAGS := $(FUZZ_COMMON) -fsanitize=fuzzer-no-link,address,undefined
FUZZ_LINK_FLAGS := $(FUZZ_COMMON) -fsanitize=fuzzer,address,undefined
FUZZ_LIB_SOURCES := $(sort $(wildcard dsp/*.cpp core/*.cpp)) platform/PlatformPosix.cpp \
	dx/automation/ParamEnvelope.cpp dx/automation/AutomationTimeline.cpp dx/midi/MidiEventQueue.cpp \
	dx/filter/StreamFormat.cpp Shared/GUI/BmpFile.cpp Shared/GUI/PixelBuffer.cpp \
	tools/render/FxpFile.cpp tools/render/StripSettings.cpp tools/render/ValueParser.cpp
FUZZ_LIB := $(FUZZ)/libfuzzed.a
FUZZ_LIB_OBJECTS := $(FUZZ_LIB_SOURCES:%.cpp=$(FUZZ)/obj/%.o)
# Per target: its source in tests/fuzz/ and the longest input (the skin tables': just past the
# value limits, 1027 bytes and 2048 units; longer inputs would only slow the runs).
FUZZ_SOURCE_skin_table := SkinTableFuzz
FUZZ_SOURCE_set_chunk := SetChunkFuzz
FUZZ_SOURCE_envelope := EnvelopeFuzz
FUZZ_SOURCE_midi_input := MidiInputFuzz
FUZZ_SOURCE_fxp_file := FxpFileFuzz
FUZZ_SOURCE_bmp_file := BmpFileFuzz
FUZZ_SOURCE_stream_format := StreamFormatFuzz
FUZZ_SOURCE_value_parser := ValueParserFuzz
FUZZ_ARGS_skin_table := -max_len=2304
FUZZ_ARGS_set_chunk := -max_len=6000
FUZZ_ARGS_envelope := -max_len=4096
FUZZ_ARGS_midi_input := -max_len=4096
FUZZ_ARGS_fxp_file := -max_len=6000
FUZZ_ARGS_bmp_file := -max_len=8192
FUZZ_ARGS_stream_format := -max_len=6000
FUZZ_ARGS_value_parser := -max_len=128
FUZZ_LIMIT = $(if $(FUZZ_RUNS),-runs=$(FUZZ_RUNS),-max_total_time=$(FUZZ_SECONDS))

$(FUZZ)/obj/%.o: %.cpp
	@mkdir -p $(@D)
	$(FUZZ_CXX) $(FUZZ_OBJ_FLAGS) -MMD -MP -c $< -o $@
-include $(FUZZ_LIB_OBJECTS:.o=.d) $(FUZZ_TARGETS:%=$(FUZZ)/obj/%.d)
$(FUZZ_LIB): $(FUZZ_LIB_OBJECTS)
	@rm -f $@
	ar rcs $@ $^
# Each target: its own object, linked against the shared objects (-ldl for the platform layer).
define fuzz_target_rule
$(FUZZ)/obj/$(1).o: tests/fuzz/$(FUZZ_SOURCE_$(1)).cpp
	@mkdir -p $$(@D)
	$(FUZZ_CXX) $(FUZZ_OBJ_FLAGS) -MMD -MP -MT $$@ -MF $(FUZZ)/obj/$(1).d -c $$< -o $$@
$(FUZZ)/$(1)_fuzz: $(FUZZ)/obj/$(1).o $(FUZZ_LIB)
	$(FUZZ_CXX) $(FUZZ_LINK_FLAGS) $$^ -ldl -o $$@
endef
$(foreach t,$(FUZZ_TARGETS),$(eval $(call fuzz_target_rule,$(t))))

# One target's run from its corpus (in the folder $(2)); its output goes to build/fuzz/logs/, and
# one line of figures is shown (the whole log when the run fails).
define fuzz_run
mkdir -p $(2)/$(1) $(FUZZ)/artifacts $(FUZZ)/logs && cp tests/fuzz/corpus/$(1)/* $(2)/$(1)/ && \
log=$(FUZZ)/logs/$(1).log && \
if $(FUZZ)/$(1)_fuzz $(FUZZ_LIMIT) -timeout=10 $(FUZZ_ARGS_$(1)) -print_final_stats=1 \
	-artifact_prefix=$(FUZZ)/artifacts/$(1)- $(2)/$(1) >$$log 2>&1; then \
	echo "=== $(1): $$(awk '/^stat::number_of_executed_units/ {n = $$2} /^stat::average_exec_per_sec/ {r = $$2} \
		/^#[0-9]+/ {c = $$0; sub(/^#[0-9]+[ \t]+[A-Z]+[ \t]+/, "", c); sub(/ exec\/s.*/, "", c)} \
		END {print n " runs, " r " exec/s, " c}' $$log)"; \
else \
	cat $$log; echo "=== $(1): FAILED (log $$log; input in $(FUZZ)/artifacts/)" >&2; exit 1; \
fi
endef

.PHONY: fuzz-deps fuzz-build fuzz-regression $(FUZZ_TARGETS:%=fuzz-run-%) $(FUZZ_TARGETS:%=fuzz-check-%)
fuzz-deps:
	@$(CURDIR)/cmake/install-deps.sh clang
fuzz-build: fuzz-deps
	@$(MAKE) --no-print-directory -j2 $(FUZZ_TARGETS:%=$(FUZZ)/%_fuzz)
$(FUZZ_TARGETS:%=fuzz-run-%): fuzz-run-%:
	@$(call fuzz_run,$*,$(FUZZ)/corpus)
# The regression pass of `make test`: each target FUZZ_REGRESSION_SECONDS from a fresh copy of its
# seeds, two at a time (the build machine has two cores).
$(FUZZ_TARGETS:%=fuzz-check-%): fuzz-check-%:
	@rm -rf $(FUZZ)/regression/$* && $(call fuzz_run,$*,$(FUZZ)/regression)

fuzz: fuzz-build
	@$(MAKE) --no-print-directory -k -j$(FUZZ_JOBS) $(FUZZ_TARGETS:%=fuzz-run-%)
fuzz-regression: fuzz-build
	@$(MAKE) --no-print-directory -k -j2 FUZZ_SECONDS=30 FUZZ_RUNS= $(FUZZ_TARGETS:%=fuzz-check-%)

# Mutation testing: each fault of tools/mutants/faults.txt (a small plausible mistake) is applied
# alone to a copy of the tree in build/mutants/src, which is built and tested natively as
# build/linux is (Debug -O1, ASan/UBSan, the whole pellucer_tests program). The table of caught,
# survived, not applicable and not building faults goes to stdout and build/mutants/report.md.
# Slow (a rebuild and a test run per fault), so not part of `make test`. Options go through
# MUTANTS_ARGS, e.g. make mutants MUTANTS_ARGS="--only dsp-delay-note-length --jobs 4".
mutants: deps-native
	python3 $(CURDIR)/tools/mutants/mutants.py $(MUTANTS_ARGS)

clean:
	@if [ -d $(WINE_PREFIX) ]; then $(WINE_RUN) $(WINE_PREFIX) --stop; fi
	rm -rf $(BUILD_DIR) $(DIST_DIR)
