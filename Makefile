# The two commands of the README: `make demo` and `make test`.
JOBS       := $(shell nproc 2>/dev/null || echo 2)
TEST_BUILD := build/test
REL_BUILD  := build/release
DEMO_DIR   := build/demo

.PHONY: all deps fuzz test demo demo-server demo-install bench build clean windows windows-deps test-windows

all: build

deps:
	@scripts/install-deps.sh

# Sanitized build with every test, as CI runs it; the benchmarks are built too (not run) so
# that none of them can rot unnoticed.
test: deps
	cmake -S . -B $(TEST_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKAP_SANITIZE=ON -DKAP_TESTS=ON -DKAP_BENCH=ON
	cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 60

build: deps
	cmake -S . -B $(REL_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKAP_TESTS=OFF
	cmake --build $(REL_BUILD) -j $(JOBS)

# Lays out a fresh demo installation and starts the program on it in this terminal.
demo: build
	scripts/make-demo.sh $(REL_BUILD) $(DEMO_DIR)
	scripts/run-demo.sh $(REL_BUILD) $(DEMO_DIR)

# The same demo with its data files on a private PostgreSQL server under build/.
demo-server: build
	scripts/run-demo-server.sh $(REL_BUILD) $(DEMO_DIR)

# Only lays out the demo installation (used by the end-to-end tests and by hand).
demo-install: build
	scripts/make-demo.sh $(REL_BUILD) $(DEMO_DIR)

# Each fuzz harness under libFuzzer (clang), FUZZ_SECONDS each, one after the other; prints a
# table of executions, coverage and findings. Crash inputs are kept in fuzz/corpus/.
FUZZ_SECONDS := 60
fuzz: deps
	@scripts/install-deps.sh clang-14 libclang-rt-14-dev
	scripts/run-fuzz.sh build/fuzz $(FUZZ_SECONDS) $(FUZZ_TARGETS)

bench: deps
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKAP_TESTS=OFF -DKAP_BENCH=ON
	cmake --build build/bench -j $(JOBS)
	scripts/run-benchmarks.sh build/bench

# The Windows programs, cross-built with MinGW-w64 (statically linked); SQLite is built from
# Debian's source package. Tests of that build run under Wine.
WIN_BUILD      := build/windows
WIN_TEST_BUILD := build/windows-test
WIN_CMAKE      := -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DKAP_SQLITE_DIR=$(CURDIR)/build/sqlite

windows-deps: deps
	@scripts/install-windows-deps.sh
	@scripts/fetch-sqlite-source.sh build/sqlite

windows: windows-deps
	cmake -S . -B $(WIN_BUILD) $(WIN_CMAKE) -DCMAKE_BUILD_TYPE=Release -DKAP_TESTS=OFF
	cmake --build $(WIN_BUILD) -j $(JOBS)

test-windows: windows-deps
	cmake -S . -B $(WIN_TEST_BUILD) $(WIN_CMAKE) -DCMAKE_BUILD_TYPE=Release -DKAP_TESTS=ON
	cmake --build $(WIN_TEST_BUILD) -j $(JOBS)
	scripts/run-windows-tests.sh $(WIN_TEST_BUILD)

clean:
	rm -rf build
