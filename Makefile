# make run   - build, make a demo input and show what flatav does with it
# make test  - build and run every test
# make test-asan - the same under AddressSanitizer + UndefinedBehaviorSanitizer
# make bench - benchmarks against direct FFmpeg loops
# make fuzz  - every fuzz target for FUZZ_SECONDS each (clang, libFuzzer)
# make fuzz-smoke - every fuzz target for 60 s each

BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

PACKAGES := cmake ninja-build g++ pkg-config \
	libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libavfilter-dev \
	ffmpeg libgtest-dev libgmock-dev libbenchmark-dev

.PHONY: deps build run test test-asan bench fuzz-build fuzz fuzz-smoke clean

deps:
	@bash scripts/install-deps.sh $(PACKAGES)

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

bench: deps
	@bash scripts/install-deps.sh valgrind bc
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	cmake --build $(BUILD) --target bench-media
	$(BUILD)/bench/flatav_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
	bash bench/callgrind_ratio.sh $(BUILD) $(BUILD)/bench-media/minute.flac $(BUILD)/bench-media/minute.mp3
	$(BUILD)/bench/flatav_mlp_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
	bash bench/mlp_callgrind.sh $(BUILD) $(BUILD)/bench-media/short16.mlp $(BUILD)/bench-media/short24.mlp
	$(BUILD)/bench/flatav_encode_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
	bash bench/callgrind_encode.sh $(BUILD) $(BUILD)/bench-media/minute.s16
	bash bench/copy_bench.sh $(BUILD) $(BUILD)/bench-media
	$(BUILD)/bench/flatav_resample_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
	$(BUILD)/bench/flatav_filter_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
	bash bench/callgrind_convert.sh $(BUILD)

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

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
