# ZOR build entry points.  `make demo` and `make test` are what a fresh
# machine runs: every target that reaches CMake first goes through `deps`
# (tools/install-deps.sh), so no other step is needed.
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
# Warnings are errors in the builds made here (tests, sanitizers, CI); a
# plain `cmake` build leaves them warnings (ZOR_WERROR defaults to OFF).
WERROR ?= ON
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all build test asan tsan deps demo clean fuzz bench damage install

all: build

deps:
	@bash tools/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOR_WERROR=$(WERROR) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DZOR_SANITIZE=ON -DZOR_WERROR=$(WERROR) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

# ThreadSanitizer over the tests of the writer thread and the parallel
# unload (the transcripts of every unload, serial and with two workers).
tsan: deps
	@cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DZOR_TSAN=ON >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target zor zor_tests forge
	@cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1:exitcode=66 \
		ctest --output-on-failure -j $(JOBS) -R '(BackgroundWriter|ParallelUnload\.|parallel2|e2e\.unload|UnloadTable)'

# libFuzzer targets (clang, installed when missing), each run FUZZ_SECONDS.
FUZZ_SECONDS ?= 60
fuzz: deps
	@FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) bash fuzz/run.sh

# Damaged copies of the sample database, each rescued by the sanitizer build
# of ZOR (tools/damage/run.sh): 0 crashes, hangs and sanitizer reports, and
# every row of an intact block recovered.
DAMAGE_RUNS ?= 300
DAMAGE_SEED ?= 1
damage: deps
	@DAMAGE_RUNS=$(DAMAGE_RUNS) DAMAGE_SEED=$(DAMAGE_SEED) DAMAGE_BUILD=$(ASAN_BUILD) JOBS=$(JOBS) \
		bash tools/damage/run.sh

# The sample database in demo/ and a short ZOR session on it: only the
# program and the forge are built, not the tests.
demo: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOR_WERROR=$(WERROR) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target zor forge
	@bash tools/forge/demo.sh $(BUILD)

# The benchmark: writes a 2 GiB database into bench/data/ (once) and prints
# the table of scan and unload times against the `cat` floor.
bench: deps
	@bash bench/run.sh

# zor, the forge as zor-forge and the manual page zor(1), under
# $(DESTDIR)$(PREFIX).
install: build
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
