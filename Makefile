# Two commands for a newcomer: `make run` and `make test`. Everything else builds on CMake in build/.
JOBS ?= $(shell nproc)
BUILD := build
ASAN_BUILD := build-asan
BENCH_BUILD := build-bench
CMAKE_FLAGS ?=

PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all setup configure run test test-asan bench clean assets assets-preview asset-gen fuzz-smoke install deb

all: configure
	cmake --build $(BUILD) -j $(JOBS)

setup:
	@bash scripts/setup.sh

configure:
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	@ln -sf $(BUILD)/compile_commands.json compile_commands.json

# Builds only what it runs (the viewer, evgpack and the demo pack), not the tests.
run: setup configure
	cmake --build $(BUILD) -j $(JOBS) --target evergreen evgpack evg_demo_pack
	@bash scripts/run.sh $(BUILD)

test: setup all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Installs the programs (optimised and stripped), manual pages, desktop entry, icons, AppStream
# metadata and the demo pack under PREFIX (inside DESTDIR when given): `sudo make install`, or
# `make install PREFIX=$$HOME/.local`. Builds only what it installs.
install: configure
	cmake --build $(BUILD) -j $(JOBS) --target evg_install_files
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)" --strip

# A Debian package in build/ (evergreen_VERSION-REVISION_ARCH.deb); needs scripts/packages-deb.txt.
# MAINTAINER="Name <address>" names the package's maintainer (kept in build/ for later runs).
MAINTAINER ?=
deb: configure
	@bash scripts/setup.sh scripts/packages-deb.txt
	$(if $(MAINTAINER),cmake -B $(BUILD) -DEVG_MAINTAINER="$(MAINTAINER)")
	cmake --build $(BUILD) -j $(JOBS) --target evg_install_files
	cd $(BUILD) && cpack -G DEB

test-asan: setup
	@test -f $(ASAN_BUILD)/CMakeCache.txt || cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DEVG_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

bench: setup
	@test -f $(BENCH_BUILD)/CMakeCache.txt || cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DEVG_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	@for b in $(BENCH_BUILD)/bench_*; do [ -x "$$b" ] || continue; echo "== $$b"; "$$b" || exit 1; done

# The built-in assets: tools/asset_gen rewrites assets/ (same bytes on every run). Its own
# packages are listed apart so that an ordinary build never needs them.
ASSETS_BUILD := build-assets
ASSET_GEN := $(ASSETS_BUILD)/tools/asset_gen/asset_gen

asset-gen:
	@bash scripts/setup.sh scripts/packages-assets.txt
	@test -f $(ASSETS_BUILD)/CMakeCache.txt || cmake -S . -B $(ASSETS_BUILD) -DEVG_ASSETS=ON $(CMAKE_FLAGS)
	cmake --build $(ASSETS_BUILD) --target asset_gen -j $(JOBS)

assets: asset-gen
	$(ASSET_GEN) assets

assets-preview: asset-gen
	$(ASSET_GEN) assets --preview $(ASSETS_BUILD)/assets-preview.png
	@echo "Contact sheet: $(ASSETS_BUILD)/assets-preview.png"

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) build-assets build-fuzz

# Builds the libFuzzer targets with clang in build-fuzz/, replays the kept inputs and fuzzes
# each target for FUZZ_RUNS runs (default 20000).
fuzz-smoke:
	@bash scripts/fuzz_smoke.sh
