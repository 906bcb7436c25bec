# The README's two commands: `make run` and `make test`.
BUILD_RELEASE := build/release
BUILD_TEST    := build/test
JOBS          ?= $(shell nproc)

.PHONY: run test deps release test-build bench clean

deps:
	@bash scripts/install-deps.sh

release: deps
	cmake -S . -B $(BUILD_RELEASE) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DTELVANE_TESTS=OFF -DTELVANE_BENCH=ON
	cmake --build $(BUILD_RELEASE) -j $(JOBS)

run: release
	@bash scripts/run-telvane.sh $(BUILD_RELEASE)

test-build: deps
	cmake -S . -B $(BUILD_TEST) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DTELVANE_SANITIZE=ON -DTELVANE_BENCH=OFF
	cmake --build $(BUILD_TEST) -j $(JOBS)

# Calls through the virtual fax line (label e2e) spend their time waiting on
# real-time audio and use little processor time, so several run side by side,
# but only after the processor-bound tests, so that those cannot make the
# line's audio fall behind.
E2E_JOBS ?= 4

test: test-build
	cd $(BUILD_TEST) && ctest --output-on-failure -j $(JOBS) -LE e2e
	cd $(BUILD_TEST) && ctest --output-on-failure -j $(E2E_JOBS) -L e2e

bench: release
	@for b in $(BUILD_RELEASE)/bench/*_bench; do [ -x "$$b" ] && "$$b"; done; true

clean:
	rm -rf build
