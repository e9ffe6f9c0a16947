# Thin wrapper over CMake presets.
JOBS ?= 2
PRESET ?= release
BUILD := build/$(PRESET)
FUZZ_SECONDS ?= 60

.PHONY: all build deps test test-asan demo bench fuzz deb test-package clean

all: build

deps:
	@bash tools/install-deps.sh

$(BUILD)/build.ninja:
	cmake --preset $(PRESET)

build: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: deps
	@$(MAKE) --no-print-directory build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

test-asan: deps
	@$(MAKE) --no-print-directory build PRESET=asan
	cd build/asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

demo: deps
	@$(MAKE) --no-print-directory build
	@bash tools/demo.sh $(BUILD)

bench: deps
	@$(MAKE) --no-print-directory build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

fuzz: deps
	@$(MAKE) --no-print-directory build PRESET=fuzz
	@bash tools/run-fuzz.sh build/fuzz $(FUZZ_SECONDS)

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

clean:
	rm -rf build
