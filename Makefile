# The two everyday commands: `make demo` and `make test`. Both install any
# missing Debian packages first (scripts/install-deps.sh, idempotent).
#
# Proof targets: `make fuzz` (every fuzz target for FUZZ_SECONDS each),
# `make valgrind` (the core tests under memcheck), `make bench` (Release
# benchmarks, table and JSON).
#
# `make package` builds the Debian package tessaly_<version>-1_amd64.deb at
# the top of the tree and runs lintian on it; `make package-check` then
# unpacks it into a scratch root and runs the programs from there.
# `make windows` cross-builds the Qt-free core, tessaly-cli.exe,
# tessaly-printer-sim.exe and their tests for Windows with
# MinGW-w64 in build-windows/; `make windows-test` runs their tests under
# wine.
# `make vm-test` runs the USB and parallel links on a real Linux kernel under
# QEMU (scripts/vm-test.sh; build-vm/, the kernel package cached there).
# `make screenshots` redraws the README's pictures in docs/ (Xvfb and the
# simulator; nothing else depends on it).
.PHONY: deps build demo test asan asan-test fuzz-build fuzz valgrind bench package package-check screenshots windows windows-test vm-test format format-check clean

FUZZ_SECONDS ?= 60
# Options of tessaly_bench, e.g. BENCH_FLAGS="--quick --pairs 5" on a busy machine.
BENCH_FLAGS ?=
# Extra configure options, e.g. CMAKE_FLAGS=-DTESSALY_WERROR=ON (as CI does).
CMAKE_FLAGS ?=

deps:
	@scripts/install-deps.sh

build: deps
	@cmake --preset default $(CMAKE_FLAGS) >/dev/null
	@cmake --build --preset default

demo: build
	@scripts/demo.sh

screenshots: build
	@scripts/screenshots.sh

# The whole suite, then a few seconds of fuzzing per target so the fuzz
# targets stay alive.
test: build fuzz-build
	@ctest --preset default
	@ctest --preset fuzz

asan: deps
	@cmake --preset asan $(CMAKE_FLAGS) >/dev/null
	@cmake --build --preset asan

asan-test: asan
	@ctest --preset asan

fuzz-build: deps
	@cmake --preset fuzz $(CMAKE_FLAGS) >/dev/null
	@cmake --build --preset fuzz

fuzz: fuzz-build
	@FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz.sh

valgrind: build
	@scripts/valgrind.sh

bench: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release
	@build-release/tessaly_bench --json build-release/bench.json $(BENCH_FLAGS)

windows:
	@scripts/install-deps.sh --windows
	@cmake --preset windows $(CMAKE_FLAGS) >/dev/null
	@cmake --build --preset windows

# Under wine64, in a prefix of the build's own (build-windows/wineprefix),
# without a display. The command-line tool's tests also talk to the Linux
# simulator.
windows-test: windows
	@cmake --preset default $(CMAKE_FLAGS) >/dev/null
	@cmake --build --preset default --target tessaly-printer-sim
	@ctest --preset windows

# A USB printer gadget (the simulator behind dummy_hcd) and QEMU's parallel
# port, driven by tessaly-cli inside the machine. The build comes first, as
# any build does; the machine's run after it is bounded to 10 minutes.
vm-test:
	@scripts/install-deps.sh --vm
	@cmake --preset vm $(CMAKE_FLAGS) >/dev/null
	@cmake --build --preset vm
	@TESSALY_VM_BUILT=1 timeout --kill-after=15 10m scripts/vm-test.sh

# The C++ files against .clang-format: check, or rewrite them.
format-check: deps
	@scripts/check-format.sh

format: deps
	@scripts/check-format.sh --fix

package:
	@packaging/build-package.sh

package-check: package
	@packaging/check-package.sh

clean:
	rm -rf build build-asan build-fuzz build-release build-package build-windows build-vm tessaly_*.deb
