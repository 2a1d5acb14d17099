# make run   - build, make a demo input and show what flatav does with it
# make test  - build and run every test
# make test-asan - the same under AddressSanitizer + UndefinedBehaviorSanitizer
# make test-tsan - the same under ThreadSanitizer (the concurrency tests among them)
# make test-ffmpeg7 - build and run every test against FFmpeg 7.1 in a Debian 13 root (root only)
# make install [PREFIX=/usr/local] - install the library, header, packages and tool
# make test-install - install into a temporary prefix and build an outside host on it
# make windows - flatav.dll and flatav.exe for 64-bit Windows on a minimal FFmpeg
#                cross-built from Debian's source (cached in ~/.cache/flatav),
#                into $(BUILD)-windows/flatav-windows-x64.zip
# make test-windows - the package's jobs under Wine against the Linux build,
#                then the test suite cross-built for Windows under Wine
# make bench - every benchmark against its direct FFmpeg twin, into bench/RESULTS.md
# make bench-counts - only the callgrind counts of decoding and FLAC encoding, into their own section
# make bench-ffmpeg7 - the same counts against FFmpeg 7.1 in the Debian 13 root (root only)
# make fuzz  - every fuzz target for FUZZ_SECONDS each (clang, libFuzzer)
# make fuzz-smoke - every fuzz target for 60 s each
# make fuzz-valgrind - what fuzzing kept, replayed under valgrind (sees FFmpeg's own writes)
# make bindings - regenerate the Python, C# and Pascal bindings from include/flatav.h
# make coverage - line and branch coverage of src/ and tools/ by the suite (gcov, gcovr),
#                 into build-coverage/coverage.txt
# make mutants - small changes to a sample of src/ lines, one at a time, rebuilt and tested:
#                how many the suite catches [MUTANTS_SEED=1 MUTANTS_COUNT=60], into
#                build-mutants/mutants.txt

BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
BENCH_BUILD ?= build-bench
PREFIX ?= /usr/local
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

PACKAGES := cmake ninja-build g++ pkg-config \
	libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libavfilter-dev \
	ffmpeg jq libgtest-dev libgmock-dev libbenchmark-dev \
	python3-clang python3-pip python3-numpy mono-mcs mono-runtime fp-compiler

.PHONY: windows test-windows deps print-packages build run test test-asan test-tsan test-ffmpeg7 install test-install bench-build bench bench-counts bench-ffmpeg7 fuzz-build fuzz fuzz-smoke fuzz-valgrind bindings clean

deps:
	@bash scripts/install-deps.sh $(PACKAGES)

print-packages:
	@echo $(PACKAGES)

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/demo.sh $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFLATAV_SANITIZE=ON \
		-DFLATAV_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp \
		ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# FFmpeg's own libraries are not instrumented: races are found in flatav's
# code and in what reaches the runtime's interceptors (memory, threads).
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DFLATAV_SANITIZE_THREAD=ON \
		-DFLATAV_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	TSAN_OPTIONS=second_deadlock_stack=1 \
		ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS)

test-ffmpeg7:
	JOBS=$(JOBS) bash scripts/test-ffmpeg7.sh

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

test-install: build
	bash scripts/test-install.sh $(BUILD)

windows:
	BUILD=$(BUILD) JOBS=$(JOBS) bash scripts/windows.sh package

test-windows: build windows
	BUILD=$(BUILD) JOBS=$(JOBS) bash scripts/windows.sh test

bench-build: deps
	@bash scripts/install-deps.sh valgrind bc python3
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DFLATAV_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	cmake --build $(BENCH_BUILD) --target bench-media

bench: bench-build
	python3 bench/report.py $(BENCH_BUILD)

bench-counts: bench-build
	python3 bench/report.py $(BENCH_BUILD) --instructions-only

bench-ffmpeg7:
	JOBS=$(JOBS) bash scripts/test-ffmpeg7.sh make bench-counts BENCH_BUILD=build-bench-ffmpeg7 \
		FLATAV_COMMIT=$$(git rev-parse --short HEAD)

fuzz-build: deps
	@bash scripts/install-deps.sh clang libclang-rt-14-dev
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
		-DFLATAV_FUZZ=ON -DFLATAV_BUILD_TESTS=OFF -DFLATAV_BUILD_TOOLS=OFF \
		-DFLATAV_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz: fuzz-build
	bash fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

fuzz-smoke: fuzz-build
	bash fuzz/run.sh $(FUZZ_BUILD) 60

fuzz-valgrind: build
	@bash scripts/install-deps.sh valgrind
	bash fuzz/valgrind.sh $(BUILD) $(FUZZ_BUILD)

bindings: deps
	/usr/bin/python3 bindings/generate.py

# Neither is part of CI: they measure the suite.
COVERAGE_BUILD ?= build-coverage
MUTANTS_BUILD ?= build-mutants
MUTANTS_SEED ?= 1
MUTANTS_COUNT ?= 60
.PHONY: coverage mutants

coverage: deps
	@bash scripts/install-deps.sh gcovr
	cmake -S . -B $(COVERAGE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFLATAV_COVERAGE=ON \
		-DFLATAV_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(COVERAGE_BUILD) -j $(JOBS)
	bash scripts/coverage.sh $(COVERAGE_BUILD) $(JOBS)

mutants: deps
	@bash scripts/install-deps.sh python3
	python3 scripts/mutants.py --build $(MUTANTS_BUILD) --seed $(MUTANTS_SEED) \
		--count $(MUTANTS_COUNT) --jobs $(JOBS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD) build-ffmpeg7 build-bench-ffmpeg7
