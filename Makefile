# Two commands set everything up on a fresh Debian 12 machine:
#   make run    build and start the updater
#   make test   build and run every test
# and `make demo` starts the updater against the virtual controller. `.ci/run` adds the sanitizer
# builds (make asan, make tsan) and the fuzz targets (make fuzz).
# For Windows (cross-built with MinGW-w64, tested under Wine; about 1.1 GB of packages the first time):
#   make windows        tarvix-update.exe, tarvix-update-demo.exe, the zip and the installer
#   make test-windows   the tests that need no Qt, the HID backend's and a GUI smoke test, under Wine
# In a browser (emscripten, Chromium and node from Debian; the test driver from the npm registry):
#   make web            the static folder build-web/site: page, script, wasm, workers
#   make serve-web      serves it on http://localhost:8080/ with the isolation headers
#   make test-web       the page in headless Chromium with a fake navigator.hid on the virtual
#                       controller; screenshots in build-web/screenshots
# On a real USB bus (QEMU, busybox-static and Debian's kernel package, unpacked in the build folder):
#   make test-usb       the virtual controller as USB gadgets in a test machine, met through its
#                       kernel, udev and hidapi (tests/usb/run.sh; about 2 minutes under TCG)

BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
WIN_BUILD_DIR ?= build-windows
WIN_CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release
WEB_BUILD_DIR ?= build-web
WEB_PORT ?= 8080
# Debian's emscripten under a newer node finds its own modules only through NODE_PATH.
WEB_ENV = NODE_PATH=/usr/share/nodejs
empty :=
space := $(empty) $(empty)

# The fuzz targets (fuzz/) and how long `make fuzz` runs each one.
FUZZERS = $(patsubst fuzz/%.cpp,%,$(wildcard fuzz/*_fuzz.cpp))
FUZZ_SECONDS ?= 20
FUZZ_DIR = build-fuzz
# The test folders that need no Qt (tests/ui/ holds the Qt ones, and tarvix-flash's, which needs
# none): ThreadSanitizer runs these (Qt itself is not instrumented).
TSAN_TEST_DIRS = $(filter-out tests/support,$(patsubst %/CMakeLists.txt,%,$(wildcard tests/*/CMakeLists.txt))) \
	tests/ui/cli

.PHONY: all deps test-deps package-deps fuzz-deps configure build test run demo bench package asan \
	tsan fuzz clean windows-deps windows-configure windows test-windows web-deps web-test-deps web \
	serve-web test-web usb-deps test-usb

all: build

# Each target installs what it needs and no more: building and running the programs (deps), the
# test tools (test-deps), the packages' tools (package-deps), clang for the fuzz targets.
deps:
	./scripts/install-deps.sh

test-deps:
	./scripts/install-deps.sh test

package-deps:
	./scripts/install-deps.sh package

fuzz-deps:
	./scripts/install-deps.sh fuzz

# Configured once; the build itself reruns CMake when a CMakeLists.txt changes.
configure: deps $(BUILD_DIR)/build.ninja

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# A build folder first configured by make run has no tests: configuring again once the test tools
# are there adds them.
test: test-deps configure
	cmake $(BUILD_DIR) >/dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# run and demo build only what they start: no tests, no benchmarks.
run: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target tarvix-update
	./scripts/run.sh $(BUILD_DIR)/ui/qt/tarvix-update

demo: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target tarvix-update-demo tarvix_demo_dat
	./scripts/run.sh $(BUILD_DIR)/demo/tarvix-update-demo $(ARGS)

bench: test-deps configure
	cmake $(BUILD_DIR) >/dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS) --target tarvix-bench
	$(BUILD_DIR)/bench/tarvix-bench

# The .deb and, where rpmbuild exists, the .rpm, in $(BUILD_DIR); built without the tests (make test
# checks the packages).
package: package-deps configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target tarvix_packaged
	cd $(BUILD_DIR) && cpack
	@ls -l $(BUILD_DIR)/tarvix-update*.deb $(BUILD_DIR)/tarvix-update*.rpm 2>/dev/null || true

# Undefined behaviour fails the test that runs into it instead of only printing a line.
asan: test-deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARVIX_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

# A data race is a test failure (ThreadSanitizer ends the test with status 66).
tsan: test-deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARVIX_TSAN=ON
	cmake --build build-tsan -j $(JOBS) --target $(addsuffix /all,$(TSAN_TEST_DIRS)) tarvix-flash
	failed=0; for dir in $(TSAN_TEST_DIRS); do \
	  TSAN_OPTIONS=second_deadlock_stack=1 \
	    ctest --test-dir build-tsan/$$dir --output-on-failure -j $(JOBS) || failed=1; \
	done; exit $$failed

# Builds the fuzz targets with clang, runs every seed once, then fuzzes each for FUZZ_SECONDS on a
# corpus in the build folder (the seeds of fuzz/corpus and what earlier runs found), so that the
# seeds in the repository stay as they are. A failing input lands in $(FUZZ_DIR)/artifacts/.
fuzz: fuzz-deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DTARVIX_FUZZ=ON
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzzers
	ctest --test-dir $(FUZZ_DIR)/fuzz --output-on-failure
	mkdir -p $(FUZZ_DIR)/artifacts
	for f in $(FUZZERS); do \
	  mkdir -p $(FUZZ_DIR)/corpus/$$f && cp fuzz/corpus/$$f/* $(FUZZ_DIR)/corpus/$$f/ && \
	  $(FUZZ_DIR)/fuzz/$$f -max_total_time=$(FUZZ_SECONDS) -timeout=10 -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_DIR)/artifacts/$$f- $(FUZZ_DIR)/corpus/$$f || exit 1; \
	done

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

web-deps:
	./scripts/install-deps.sh web

web-test-deps:
	./scripts/install-deps.sh web-test

$(WEB_BUILD_DIR)/build.ninja:
	$(WEB_ENV) emcmake cmake -S ui/web -B $(WEB_BUILD_DIR) -G Ninja

web: web-deps $(WEB_BUILD_DIR)/build.ninja
	$(WEB_ENV) cmake --build $(WEB_BUILD_DIR) -j $(JOBS) --target site
	@ls -l $(WEB_BUILD_DIR)/site

serve-web: web
	node ui/web/serve.js $(WEB_BUILD_DIR)/site $(WEB_PORT)

# The core's tests under node first (one program per test folder), leaving out the four cases of a
# file held by another program: emscripten's file system keeps no advisory locks, and the page's
# firmware file is its own copy that nothing else holds. Then the page in Chromium.
WEB_CORE_TEST_SKIP = AppUpdateTest.AFileThatStaysLockedFailsTheUpdateAfterAFewRequests \
	BootUpdateTest.FileCutShortOrHeldAtTheConfirmationFailsBeforeTheErase \
	FirmwareRecordTest.EmptyMissingAndLockedFilesHaveNoRecord \
	SelectFirmwareTest.FilesThatCannotBeOpenedEndSilentlyWithoutBlocking

test-web: web-test-deps web
	$(WEB_ENV) cmake --build $(WEB_BUILD_DIR) -j $(JOBS) --target web-tests core-tests
	failed=0; for t in $(WEB_BUILD_DIR)/core-tests/core_*_tests.js; do \
	  node --no-experimental-fetch $$t --gtest_brief=1 \
	    --gtest_filter=-$(subst $(space),:,$(strip $(WEB_CORE_TEST_SKIP))) || failed=1; \
	done; \
	node ui/web/test/test_web.js $(WEB_BUILD_DIR)/site $(WEB_BUILD_DIR)/test/fake-controller.js \
	  --screenshots $(WEB_BUILD_DIR)/screenshots || failed=1; \
	exit $$failed

# One boot of the test machine for the whole suite; the machine is killed after USB_VM_SECONDS.
USB_VM_SECONDS ?= 900
usb-deps:
	./scripts/install-deps.sh usb

test-usb: usb-deps configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target tarvix-flash tarvix-gadget tarvix_demo_dat \
	  gui_usb_tests
	BUILD_DIR=$(BUILD_DIR) ./scripts/usb-vm.sh -t $(USB_VM_SECONDS) -- tests/usb/run.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) build-asan build-tsan $(FUZZ_DIR) $(WIN_BUILD_DIR) $(WEB_BUILD_DIR)
