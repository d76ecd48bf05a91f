# Front door: each target installs what is missing, builds, and runs.
BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: all deps build demo test bench check clean

all: build

deps:
	@scripts/install-deps

# QUIET=1 keeps the build's progress off the screen: only what the compiler
# and CMake say on standard error (errors and warnings) is shown.
QUIET ?=
ifeq ($(QUIET),1)
  HUSH := >/dev/null
endif

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(HUSH)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) $(HUSH)

# The example's table is in examples/, which is its WORK library. Only zul
# and the two libraries it loads are built (not the tests), quietly, so that
# the first thing shown is the analysis.
demo: deps $(BUILD)/CMakeCache.txt
	@cmake --build $(BUILD) -j $(JOBS) --target zul zulfact qkxfac >/dev/null
	@$(BUILD)/bin/zul --work examples --html socioeconomics.html examples/socioeconomics.zul
	@echo "HTML report: socioeconomics.html"

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B $(BUILD)-bench -DCMAKE_BUILD_TYPE=Release -DZUL_BUILD_BENCH=ON -DZUL_BUILD_TESTS=OFF
	cmake --build $(BUILD)-bench -j $(JOBS)
	@echo "Benchmarks are in $(BUILD)-bench/bin; see bench/README.md"

# Sanitizer builds (build-asan, build-tsan) running the whole suite, then the
# fuzzers for a fixed time (build-fuzz): slow, so not part of `make test`.
# scripts/check tells what each step does; FUZZ_SECONDS=n changes the time.
check:
	@scripts/install-deps --check
	JOBS=$(JOBS) scripts/check

clean:
	rm -rf $(BUILD) $(BUILD)-bench build-asan build-tsan build-fuzz
