# Two commands set everything up on a fresh Debian 12 machine:
#   make run    build and start the updater
#   make test   build and run every test
# and `make demo` starts the updater against the virtual controller.
# For Windows (cross-built with MinGW-w64, tested under Wine; about 1.1 GB of packages the first time):
#   make windows        tarvix-update.exe, tarvix-update-demo.exe, the zip and the installer
#   make test-windows   the tests that need no Qt, the HID backend's and a GUI smoke test, under Wine

BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
WIN_BUILD_DIR ?= build-windows
WIN_CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: all deps configure build test run demo bench asan clean windows-deps windows-configure \
	windows test-windows

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

windows-deps:
	./scripts/install-deps.sh windows

windows-configure: windows-deps
	cmake -S . -B $(WIN_BUILD_DIR) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
		$(WIN_CMAKE_FLAGS)

windows: windows-configure
	cmake --build $(WIN_BUILD_DIR) -j $(JOBS) --target package-windows
	@ls -l $(WIN_BUILD_DIR)/ui/win32/tarvix-update.exe $(WIN_BUILD_DIR)/demo/tarvix-update-demo.exe \
		$(WIN_BUILD_DIR)/tarvix-update-*-win64.zip $(WIN_BUILD_DIR)/tarvix-update-*-setup.exe

test-windows: windows-configure
	cmake --build $(WIN_BUILD_DIR) -j $(JOBS)
	./scripts/test-windows.sh $(WIN_BUILD_DIR) -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR) build-asan $(WIN_BUILD_DIR)
