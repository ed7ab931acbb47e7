# The two commands of the README, plus `make build` for the build alone.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: build build-clang check test demo demo-check clean

build:
	tools/install-deps.sh build
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Warnings are errors under both compilers; the tests run on the GCC build. Last, the
# demo as a newcomer meets it: built from an empty folder, searched, stopped.
check:
	tools/install-deps.sh check
	$(MAKE) build
	$(MAKE) build-clang
	$(MAKE) test
	$(MAKE) demo-check

build-clang:
	cmake -S . -B $(BUILD_DIR)-clang -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(BUILD_DIR)-clang -j $(JOBS)

demo:
	BUILD_DIR=$(BUILD_DIR) tools/demo.sh

demo-check:
	tests/e2e/demo_test.sh

test:
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-clang
