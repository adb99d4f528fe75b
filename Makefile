# Top-level commands. `make run` installs what is missing, builds the programs
# it runs and starts the window; `make test` installs what is missing, builds
# and runs every test; `make package` makes the Debian package from the same
# build.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
BENCH_BUILD ?= build-bench
FUZZ_BUILD ?= build-fuzz
# CI builds the ThreadSanitizer pass with CMake's default generator (Unix
# Makefiles), so that the build works with either.
TSAN_GENERATOR ?= Ninja
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test package sanitize asan tsan bench fuzz clean

all: build

deps:
	@bash scripts/install-deps

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The window, the command line and the sample server only: no test programs.
RUN_TARGETS = marbloom marbloom-cli marbloom-sampled

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DMARBLOOM_WERROR=ON $(CMAKE_FLAGS)

run: configure
	cmake --build $(BUILD) -j $(JOBS) --target $(RUN_TARGETS)
	@bash scripts/run

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# $(BUILD)/marbloom_<version>_amd64.deb, made from the build the tests use
# (the programs are stripped on their way into it); scripts/package-test
# checks it.
package: build
	cmake --build $(BUILD) --target package

# Unit tests under AddressSanitizer + UndefinedBehaviorSanitizer.
asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMARBLOOM_WERROR=ON \
	  -DMARBLOOM_BUILD_GUI=OFF -DMARBLOOM_SANITIZE=address,undefined
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# Threaded tests (suites named *Threaded) under ThreadSanitizer; only the test
# programs that hold such suites are built (the window's tests need the GUI,
# which the sanitizer builds leave out).
TSAN_TARGETS = $(filter-out tests_ui,$(sort $(foreach f,$(shell grep -l 'Threaded' tests/*/*.cpp),tests_$(notdir $(patsubst %/,%,$(dir $(f)))))))

tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G "$(TSAN_GENERATOR)" -DCMAKE_BUILD_TYPE=Debug -DMARBLOOM_WERROR=ON \
	  -DMARBLOOM_BUILD_GUI=OFF -DMARBLOOM_SANITIZE=thread
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TARGETS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp $(TSAN_OPTIONS)" \
	  ctest --output-on-failure -j $(JOBS) -R 'Threaded\.'

sanitize: asan tsan

bench: deps
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARBLOOM_BUILD_BENCH=ON \
	  -DMARBLOOM_BUILD_TESTS=OFF -DMARBLOOM_BUILD_GUI=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	bash scripts/run-benchmarks $(BENCH_BUILD)

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DMARBLOOM_BUILD_FUZZ=ON -DMARBLOOM_BUILD_TESTS=OFF -DMARBLOOM_BUILD_GUI=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	bash scripts/run-fuzzers $(FUZZ_BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
