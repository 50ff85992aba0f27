# Kest: `make` builds the stub and the packer, `make test` runs every test,
# `make demo` installs a sample package under Wine, `make bench` measures a
# 256 MiB package from packing to a whole run under Wine, beside dd, Wine's
# own start and an NSIS installer, and the transfer client with a 256 MiB
# download, `make screenshots` pictures the dialogs and
# the progress window into docs/, `make fuzz` runs every fuzzer for
# FUZZ_SECONDS (60) each on seeds that kestpack packs, `make dist` writes the
# release archive dist/kest-<version>.zip and prints its SHA-256. `make deps`
# installs what a fresh Debian 12 machine lacks (as root); test, bench, demo
# and fuzz run it.
BUILD := build
CROSS := $(BUILD)/cross
CROSS64 := $(BUILD)/cross64
NATIVE := $(BUILD)/native
FUZZ := $(BUILD)/fuzz
FUZZ_SECONDS ?= 60
# make test's pass: the fuzzers, two at a time, stay within 30 s together.
FUZZ_SHORT_SECONDS ?= 1
PYTHON := /usr/bin/python3
PYTEST := $(PYTHON) -m pytest
# No scenario may hold the suite: one that runs past this is stopped, with
# the stacks of its threads, and the suite goes on.
TEST_TIMEOUT := $(shell $(PYTHON) -c 'import pytest_timeout' 2>/dev/null && echo --timeout=1800)
JOBS := $(shell nproc 2>/dev/null || echo 2)

.PHONY: all stub stub32 stub64 native fuzzers fuzz fuzz-short deps test layers unit e2e bench demo \
	screenshots dist clean

all: stub native

$(CROSS)/Makefile: CMakeLists.txt cmake/stub.cmake cmake/mingw-i686.cmake tests/win/CMakeLists.txt
	@command -v i686-w64-mingw32-g++ >/dev/null || { echo "kest: no MinGW-w64 cross compiler; run 'make deps' as root" >&2; exit 1; }
	cmake -S . -B $(CROSS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null

$(NATIVE)/Makefile: CMakeLists.txt cmake/native.cmake
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Debug >/dev/null

# The fuzzers need clang's libFuzzer; their tree is apart from the native one.
$(FUZZ)/Makefile: CMakeLists.txt cmake/fuzz.cmake
	@command -v clang++ >/dev/null || { echo "kest: no clang++ for the fuzzers; run 'make deps' as root" >&2; exit 1; }
	cmake -S . -B $(FUZZ) -DKEST_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ >/dev/null

$(CROSS64)/Makefile: CMakeLists.txt cmake/stub.cmake cmake/mingw-x86_64.cmake tests/win/CMakeLists.txt
	@command -v x86_64-w64-mingw32-g++ >/dev/null || { echo "kest: no 64-bit MinGW-w64 cross compiler; run 'make deps' as root" >&2; exit 1; }
	cmake -S . -B $(CROSS64) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null

# Both stubs, each with the Windows test programs of its architecture; the
# 64-bit tree also builds kestpack.exe.
stub: stub32 stub64

stub32: $(CROSS)/Makefile
	@$(MAKE) --no-print-directory -j$(JOBS) -C $(CROSS)

stub64: $(CROSS64)/Makefile
	@$(MAKE) --no-print-directory -j$(JOBS) -C $(CROSS64)

native: $(NATIVE)/Makefile
	@$(MAKE) --no-print-directory -j$(JOBS) -C $(NATIVE)

fuzzers: $(FUZZ)/Makefile
	@$(MAKE) --no-print-directory -j$(JOBS) -C $(FUZZ)

# The kept crash inputs of each fuzzer run first, then the fuzzer itself;
# the seeds come from kestpack, hence native.
fuzz: deps
	@$(MAKE) --no-print-directory native fuzzers
	$(PYTHON) tests/fuzz/run.py $(FUZZ) $(FUZZ_SECONDS)

fuzz-short: native fuzzers
	$(PYTHON) tests/fuzz/run.py --short $(FUZZ) $(FUZZ_SHORT_SECONDS)

deps:
	@sh scripts/deps.sh

# Includes of the stub's sources point down: common/ <- subsystems <- driver/.
layers:
	@$(PYTHON) scripts/check_layers.py

unit: native
	cd $(NATIVE) && ctest --output-on-failure

# The scenarios run on the 32-bit stub and then on the 64-bit one where the
# host runs 32-bit programs and has 32-bit Wine, and on the 64-bit stub
# under wine64 alone elsewhere; KEST_TEST_ARCH=x86|x64 forces one. The
# first line says which run, and why the other does not.
PLAN = cd tests/e2e && $(PYTHON) -c 'import winehost; print($(1))'
e2e: stub
	@$(call PLAN,winehost.PLAN_LINE)
	@status=0; for arch in $$($(call PLAN,*winehost.ARCHES)); do \
	    echo "KEST_TEST_ARCH=$$arch $(PYTEST) -q -rs --durations=12 $(TEST_TIMEOUT) tests/e2e"; \
	    KEST_TEST_ARCH=$$arch $(PYTEST) -q -rs --durations=12 $(TEST_TIMEOUT) tests/e2e || status=1; \
	done; exit $$status

test: deps
	@$(call PLAN,winehost.PLAN_LINE)
	@$(MAKE) --no-print-directory layers
	@$(MAKE) --no-print-directory all
	@$(MAKE) --no-print-directory unit
	@$(MAKE) --no-print-directory fuzz-short
	@$(MAKE) --no-print-directory e2e

bench: deps
	@$(MAKE) --no-print-directory all
	$(PYTHON) bench/speed_bench.py
	$(PYTHON) bench/transfer_bench.py

demo: deps
	@$(MAKE) --no-print-directory all
	@sh scripts/demo.sh

# Both stubs, kestpack for Linux and Windows, the README and the licence.
dist: all
	@$(PYTHON) scripts/dist.py dist

screenshots: stub
	$(PYTHON) scripts/screenshots.py docs

clean:
	rm -rf $(BUILD)
