# Tamberlit: the two set-up commands are `make run` and `make test`; each
# installs what is missing (Debian 12), configures, builds and then runs.

BUILD      ?= build
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
ARGS       ?=
BENCH_BUILD ?= build-release

.PHONY: all deps configure build test run bench clean

all: build

deps:
	@scripts/install-deps.sh build

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Until the window exists this runs the command line (its help without ARGS).
run: build
	@$(BUILD)/cli/tamberlit-cli $(if $(strip $(ARGS)),$(ARGS),--help)

# The comparison against peer tools (README, "Performance"): a Release build of
# the command line and the bench programs, then bench/compare.
bench:
	@scripts/install-deps.sh build bench
	@cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DTAMBERLIT_TESTS=OFF -DTAMBERLIT_GUI=OFF >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS) --target tamberlit-cli corpus_maker minimal_convert image_check
	@bench/compare --build $(BENCH_BUILD) --no-install --markdown $(BENCH_BUILD)/bench-results.md

clean:
	rm -rf $(BUILD) $(BENCH_BUILD)
