#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the updater need.
# Idempotent: packages already present are left alone, and apt-get runs only when something is missing.
#   install-deps.sh            the Linux build and its tests
#   install-deps.sh windows    the same, plus the Windows cross build: MinGW-w64, Wine to run the
#                              tests, NSIS for the installer, xdotool for the GUI smoke test
#                              (about 1.1 GB; make windows and make test-windows ask for it)
#   install-deps.sh web        the same, plus the web build: emscripten, Chromium and node from
#                              Debian, gzip for the size figures; then the browser test driver
#                              (puppeteer-core, ui/web/test/package-lock.json) from the npm
#                              registry, which never downloads a browser of its own
#   install-deps.sh usb        the same, plus QEMU, busybox-static, udev and kmod for make test-usb
#                              (scripts/usb-vm.sh fetches Debian's kernel package with apt-get
#                              download and unpacks it in the build folder, never installing it)
set -euo pipefail

PACKAGES=(
  qt6-base-dev
  libhidapi-dev
  libudev-dev
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  cmake
  ninja-build
  g++
  clang
  libclang-rt-14-dev
  pkg-config
  xvfb
  xauth
  fonts-wqy-zenhei
  appstream
  # make package and its tests: the .deb's dependencies and changelog tools, the RPM generator,
  # the .deb's and the desktop entry's checks.
  dpkg-dev
  rpm
  lintian
  desktop-file-utils
  # The shells whose completion scripts tarvix-flash writes: their scripts are checked there.
  zsh
  fish
)

WEB=0
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
    windows)
      # googletest: the sources, built with the cross compiler. zip: the portable archive.
      PACKAGES+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest wine wine64
                 nsis zip xdotool imagemagick)
      ;;
    web)
      # googletest: the sources, built with emcc for the core's tests under node. npm comes with a
      # node that bundles it; Debian's own npm otherwise.
      PACKAGES+=(emscripten chromium nodejs googletest gzip)
      command -v npm >/dev/null 2>&1 || PACKAGES+=(npm)
      WEB=1
      ;;
    usb)
      PACKAGES+=(qemu-system-x86 busybox-static udev kmod)
      ;;
    *)
      echo "install-deps: unknown group '$group' (known: windows, web, usb)" >&2
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
  if [[ $WEB -eq 1 ]]; then
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
if [[ $WEB -eq 1 ]]; then
  install_web_driver
fi
