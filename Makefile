# The two everyday commands: `make demo` and `make test`. Both install any
# missing Debian packages first (scripts/install-deps.sh, idempotent).
.PHONY: deps build demo test asan asan-test clean

deps:
	@scripts/install-deps.sh

build: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default

demo: build
	@scripts/demo.sh

test: build
	@ctest --preset default

asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan

asan-test: asan
	@ctest --preset asan

clean:
	rm -rf build build-asan
