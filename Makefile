# Two commands set everything up on a fresh Debian 12 machine:
#   make run    build and start the updater
#   make test   build and run every test
# and `make demo` starts the updater against the virtual controller.

BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build test run demo bench asan clean

all: build

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

run: build
	./scripts/run.sh $(BUILD_DIR)/ui/qt/tarvix-update

demo: build
	./scripts/run.sh $(BUILD_DIR)/demo/tarvix-update-demo $(ARGS)

bench: build
	$(BUILD_DIR)/bench/tarvix-bench

asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARVIX_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR) build-asan
