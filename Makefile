# Thin wrapper over CMake presets.
JOBS ?= 2
PRESET ?= release
BUILD := build/$(PRESET)
FUZZ_SECONDS ?= 30

.PHONY: all build deps recordings test test-asan demo bench fuzz fuzz-coverage deb test-package windows test-windows clean

all: build

# Package groups of tools/install-deps.sh; `make fuzz` adds its own.
DEPS ?= core

deps:
	@bash tools/install-deps.sh $(DEPS)

$(BUILD)/build.ninja:
	cmake --preset $(PRESET)

build: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: deps
	@$(MAKE) --no-print-directory build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The recorded updates that the tests replay (tests/data/recordings/), made
# again from the simulator: for a change of the command sequence that is meant.
recordings:
	@$(MAKE) --no-print-directory build
	@bash tools/record-updates.sh $(BUILD)

test-asan: deps
	@$(MAKE) --no-print-directory build PRESET=asan
	cd build/asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

demo: deps
	@$(MAKE) --no-print-directory build
	@bash tools/demo.sh $(BUILD)

bench: deps
	@$(MAKE) --no-print-directory build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

# Every fuzz target for FUZZ_SECONDS each, from its seeds and its corpus in
# build/fuzz/corpus/ (configured each time, so that a changed preset applies).
fuzz: DEPS = core fuzz
fuzz: deps
	@cmake --preset fuzz >/dev/null
	cmake --build build/fuzz -j $(JOBS) --target orvel_fuzz_all
	@bash tools/run-fuzz.sh build/fuzz $(FUZZ_SECONDS)

# Line coverage of firmware/ reached by the seeds and the corpora of make fuzz.
fuzz-coverage: DEPS = core fuzz
fuzz-coverage: deps
	@cmake --preset fuzz-coverage >/dev/null
	cmake --build build/fuzz-coverage -j $(JOBS) --target orvel_fuzz_all
	@bash tools/fuzz-coverage.sh build/fuzz-coverage build/fuzz

# Debian packages into build/deb/ (tests off: they ran in make test), checked
# with lintian, desktop-file-validate and appstreamcli.
deb:
	@bash tools/install-deps.sh package
	@JOBS=$(JOBS) bash tools/make-deb.sh

# The orvel-cli package installed and run in a clean Debian 12 root (builds the
# packages first when build/deb/ has none).
test-package:
	@bash tools/install-deps.sh package
	@bash tools/test-package.sh
# The Windows programs (i686) and dist/orvel-<version>-windows-i686.zip.
windows:
	@bash tools/install-deps.sh windows
	@[ -f build/win32/build.ninja ] || cmake --preset win32
	cmake --build build/win32 -j $(JOBS)
	@bash tools/windows-dist.sh build/win32 dist

# The Windows programs' imports, then the Windows test suites under Wine.
test-windows: windows
	@bash tools/check-imports.sh build/win32
	@bash tools/windows-tests.sh $(JOBS)

clean:
	rm -rf build dist/*.zip
