# Tamberlit: the two set-up commands are `make run` and `make test`; each
# installs what is missing (Debian 12), configures, builds and then runs.

BUILD      ?= build
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
ARGS       ?=

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

clean:
	rm -rf $(BUILD)
