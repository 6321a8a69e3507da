# Thin wrapper over CMake. `make run` plays the demo, `make test` builds and runs every test.
BUILD   ?= build
ASAN    ?= build-asan
FUZZ    ?= build-fuzz
FUZZ_SECONDS ?= 30
JOBS    ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test bench test-asan format clean
.PHONY: fuzz

all: build

deps:
	@tools/install-deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

configure: $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/tools/vyrnat-host

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: configure
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; RINGLOGDIR=$(BUILD)/bench $$b; done

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B $(ASAN) -DVYRNAT_SANITIZE=ON -DVYRNAT_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(ASAN) -j $(JOBS)
	ctest --test-dir $(ASAN) --output-on-failure -j $(JOBS)

# The libFuzzer targets, built with clang, each run for FUZZ_SECONDS after replaying the crashes
# kept in fuzz/regressions; any crash fails.
fuzz:
	@tools/install-deps.sh fuzz
	cmake -S . -B $(FUZZ) -DVYRNAT_FUZZ=ON -DVYRNAT_BENCH=OFF -DCMAKE_C_COMPILER=clang \
		-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Fuzz \
		-DCMAKE_CXX_FLAGS='-O1 -gline-tables-only'
	cmake --build $(FUZZ) -j $(JOBS) --target fuzzers
	tools/run-fuzzers.sh $(FUZZ) $(FUZZ_SECONDS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN)
	rm -rf $(FUZZ)
