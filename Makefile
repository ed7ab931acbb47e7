# The two commands of the README, plus `make build` for the build alone.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: build check test demo clean

build:
	tools/install-deps.sh build
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS)

check:
	tools/install-deps.sh check
	$(MAKE) build
	$(MAKE) test

demo:
	BUILD_DIR=$(BUILD_DIR) tools/demo.sh

test:
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR)
