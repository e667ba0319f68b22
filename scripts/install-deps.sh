#!/usr/bin/env bash
# Installs the Debian packages that a make target needs, and nothing more: building and running the
# programs needs far less than testing them.
# Idempotent: packages already present are left alone, and apt-get runs only when something is missing.
#   install-deps.sh            building and running the Linux programs (make run, make demo)
#   install-deps.sh test       the same, plus the test tools: GoogleTest, Google Benchmark, the
#                              packages' checks (lintian, rpm, ...), the shells whose completion
#                              scripts are checked, fonts for the Chinese screenshots (make test)
#   install-deps.sh package    the same as the first, plus what the .deb and the .rpm are built
#                              with (make package)
#   install-deps.sh fuzz       the test tools, plus clang and its sanitizer runtime (make fuzz)
#   install-deps.sh windows    the first, plus the Windows cross build: MinGW-w64, Wine to run the
#                              tests, NSIS for the installer, xdotool for the GUI smoke test
#                              (about 1.1 GB; make windows and make test-windows ask for it)
#   install-deps.sh web        the first, plus the web build: emscripten and node from Debian, gzip
#                              for the size figures, GoogleTest's sources for the core's tests
#                              under node (make web)
#   install-deps.sh web-test   the web build, plus Chromium, then the browser test driver (puppeteer-core, ui/web/test/package-lock.json)
#                              from the npm registry, which never downloads a browser of its own
#                              (make test-web)
#   install-deps.sh usb        the test tools, plus QEMU, busybox-static, udev and kmod (make
#                              test-usb; scripts/usb-vm.sh fetches Debian's kernel package with
#                              apt-get download and unpacks it in the build folder, never
#                              installing it)
# Several groups may be given at once.
set -euo pipefail

# Building and running tarvix-update, tarvix-update-demo and tarvix-flash.
PACKAGES=(
  qt6-base-dev
  # Qt's own texts (file dialog, buttons) in the user's language: qtbase_zh_CN.qm.
  qt6-translations-l10n
  libhidapi-dev
  libudev-dev
  nettle-dev
  cmake
  ninja-build
  g++
  pkg-config
)
# What make package builds the .deb and the .rpm with (the .deb's dependencies, the RPM generator),
# and what checks them.
PACKAGE_TOOLS=(
  dpkg-dev
  rpm
  lintian
  desktop-file-utils
  appstream
)
# make test: the test and benchmark libraries, the GUI tests' virtual display and fonts, the
# packages' checks, and the shells whose completion scripts are checked there.
TEST_TOOLS=(
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  xvfb
  xauth
  fonts-wqy-zenhei
  "${PACKAGE_TOOLS[@]}"
  zsh
  fish
)

WEB_DRIVER=0
# The browser test driver, exactly as the lock file names it; no browser download.
install_web_driver() {
  local folder
  folder="$(dirname "$0")/../ui/web/test"
  if [[ -d "$folder/node_modules/puppeteer-core" ]]; then
    return 0
  fi
  echo "install-deps: npm ci in ui/web/test"
  (cd "$folder" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund)
}

for group in "$@"; do
  case "$group" in
    test)
      PACKAGES+=("${TEST_TOOLS[@]}")
      ;;
    package)
      PACKAGES+=("${PACKAGE_TOOLS[@]}")
      ;;
    fuzz)
      # The sanitizer builds run the tests; the fuzz targets are built with clang.
      PACKAGES+=("${TEST_TOOLS[@]}" clang libclang-rt-14-dev)
      ;;
    windows)
      # googletest: the sources, built with the cross compiler. zip: the portable archive.
      PACKAGES+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest wine wine64
                 nsis zip xdotool imagemagick xvfb xauth)
      ;;
    web | web-test)
      # googletest: the sources, built with emcc for the core's tests under node.
      PACKAGES+=(emscripten nodejs gzip googletest)
      if [[ $group == web-test ]]; then
        # npm comes with a node that bundles it; Debian's own npm otherwise.
        PACKAGES+=(chromium)
        command -v npm >/dev/null 2>&1 || PACKAGES+=(npm)
        WEB_DRIVER=1
      fi
      ;;
    usb)
      # The Qt window's case is a GoogleTest program.
      PACKAGES+=("${TEST_TOOLS[@]}" qemu-system-x86 busybox-static udev kmod)
      ;;
    *)
      echo "install-deps: unknown group '$group' (known: test, package, fuzz, windows, web, web-test, usb)" >&2
      exit 2
      ;;
  esac
done

missing=()
for pkg in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  if [[ "$status" != "install ok installed" ]]; then
    missing+=("$pkg")
  fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "install-deps: all packages present"
  if [[ $WEB_DRIVER -eq 1 ]]; then
    install_web_driver
  fi
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [[ $(id -u) -eq 0 ]]; then
  SUDO=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  SUDO=(sudo -n)
else
  echo "install-deps: these packages are missing: ${missing[*]}" >&2
  echo "install-deps: run this script as root, or as a user who may use sudo without a password," >&2
  echo "install-deps: or install them yourself: apt-get install ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
if [[ $WEB_DRIVER -eq 1 ]]; then
  install_web_driver
fi
