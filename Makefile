# Tamberlit: the two set-up commands are `make run` and `make test`; each
# installs what is missing (Debian 12), configures, builds and then runs.

BUILD      ?= build
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
ARGS       ?=
PREFIX     ?=
# GUI=OFF builds everything but the window and skips the Qt packages.
GUI        ?= ON
BENCH_BUILD ?= build-release
# The fuzz targets' build folder (clang 14) and the seconds each target is
# fuzzed by `make fuzz`.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: all deps configure build test run install screenshot bench bench-scale fuzz clean

all: build

deps:
	@scripts/install-deps.sh build $(if $(filter ON,$(GUI)),gui)

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DTAMBERLIT_GUI=$(GUI) $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The tests include the fuzz targets' regression files and seeds, replayed
# through a plain main in the same build; fuzzing itself is `make fuzz`. The
# farm engines (Slurm, GNU parallel over ssh) are installed when we may; their
# tests skip with a message where they cannot run.
test: build
	@scripts/install-deps.sh test || echo "make test: without these packages the Slurm and ssh tests skip" >&2
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Opens the window; with ARGS it runs the command line on them instead (and
# without the window, built with GUI=OFF, it shows the command line's help).
run: build
ifneq ($(strip $(ARGS)),)
	@$(BUILD)/cli/tamberlit-cli $(ARGS)
else ifeq ($(GUI),ON)
	@$(BUILD)/app/tamberlit
else
	@$(BUILD)/cli/tamberlit-cli --help
endif

# Installs both programs, the desktop entry and the icon (under /usr/local
# unless PREFIX says otherwise; DESTDIR is honoured).
install: build
	@cmake --install $(BUILD) $(if $(strip $(PREFIX)),--prefix $(PREFIX))

# Renews docs/screenshot.png from the window on a virtual X server.
screenshot: build
	@scripts/screenshot.sh $(BUILD) docs/screenshot.png

# The comparison against peer tools (README, "Performance"): a Release build of
# the command line and the bench programs, then bench/compare.
bench:
	@scripts/install-deps.sh build bench
	@cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DTAMBERLIT_TESTS=OFF -DTAMBERLIT_GUI=OFF -DTAMBERLIT_BENCH=ON >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS) --target tamberlit-cli corpus_maker minimal_convert image_check
	@bench/compare --build $(BENCH_BUILD) --no-install --markdown $(BENCH_BUILD)/bench-results.md

# A studio's scale (README, "Performance"): 100,000 small textures against gm
# mogrify, and the planning of a list of a million entries.
bench-scale:
	@scripts/install-deps.sh build bench
	@cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DTAMBERLIT_TESTS=OFF -DTAMBERLIT_GUI=OFF -DTAMBERLIT_BENCH=ON >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS) --target tamberlit-cli
	@bench/scale --build $(BENCH_BUILD) --markdown $(BENCH_BUILD)/scale-results.md

# Builds the fuzz targets with clang 14 and the sanitizers and runs each for
# FUZZ_SECONDS, two at a time (README, "Fuzzing"). The script installs clang;
# cmake and the libraries come with the build packages, for a machine where
# `make fuzz` is the first command.
fuzz:
	@scripts/install-deps.sh build
	@scripts/fuzz.sh --build $(FUZZ_BUILD) --seconds $(FUZZ_SECONDS) --jobs 2

clean:
	rm -rf $(BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
