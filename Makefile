# Thin wrapper over CMake. `make run` installs what the program needs, builds
# a release build and starts it; `make test` builds the sanitizer test build
# and runs every test; `make bench` runs the benchmarks against their references.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
TEST_BUILD ?= build-tests

.PHONY: all deps test-deps build run test bench clean

all: build

deps:
	./scripts/install-deps.sh

test-deps:
	./scripts/install-deps.sh --tests

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS) --target CalderwynStudio

run: build
	./$(BUILD)/CalderwynStudio

test: test-deps
	cmake -S . -B $(TEST_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCDW_SANITIZE=ON -DCDW_BUILD_TESTS=ON
	cmake --build $(TEST_BUILD) -j $(JOBS)
	./tests/run-tests.sh $(TEST_BUILD)

bench: test-deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DCDW_BUILD_BENCH=ON
	cmake --build $(BUILD) -j $(JOBS)
	./bench/run-benchmarks.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(TEST_BUILD)
