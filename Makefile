# The two commands of the README, and a few more for developers.
#   make run       install what is missing, build, run the viewer on the bundled level
#   make test      install what is missing, build, run every test
#   make sanitize  the tests under AddressSanitizer and UndefinedBehaviorSanitizer
#   make fuzz      build the fuzz targets with clang and run each for FUZZ_SECONDS
#   make bench     micro-benchmarks and the maze compile table
#   make format    reformat every source file with clang-format
#   make soak      compile 500 random levels with bspc --verify under the sanitizers
#   make real-levels  download the arena maps package once, write real-levels/ (OBJ, native
#                  and JSON); REAL_LEVELS_ARGS passes options, e.g. "--maps aggressor --check"
#   make bench-real   compile every real level and tabulate it (see docs/real-levels.md);
#                  BENCH_REAL_ARGS passes options, e.g. "--maps aggressor,fan --threads 2"

BUILD      ?= build
ASAN_BUILD ?= build-asan
SOAK_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
REAL_LEVELS_ARGS ?=
BENCH_REAL_ARGS ?=

.PHONY: all deps build run test sanitize fuzz bench format soak real-levels bench-real

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run-viewer.sh $(BUILD)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

sanitize: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBSPPVS_SANITIZE=ON \
		-DBSPPVS_BENCH=OFF >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1 ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) \
		-LE no-sanitize

fuzz: deps
	@CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DBSPPVS_FUZZ=ON -DBSPPVS_VIEWER=OFF -DBSPPVS_TESTS=OFF -DBSPPVS_BENCH=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@scripts/run-fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: build
	@scripts/run-bench.sh $(BUILD)

soak: deps
	@scripts/soak.py --build-dir $(SOAK_BUILD) --jobs $(JOBS)

real-levels: build
	@scripts/real_levels.py --fetch --convert-with $(abspath $(BUILD))/tools/levelconv/levelconv \
		$(REAL_LEVELS_ARGS)

bench-real: real-levels
	@scripts/bench_real.py $(BUILD) $(BENCH_REAL_ARGS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i
