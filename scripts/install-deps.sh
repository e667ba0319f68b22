#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the updater need.
# Idempotent: packages already present are left alone, and apt-get runs only when something is missing.
#   install-deps.sh            the Linux build and its tests
#   install-deps.sh windows    the same, plus the Windows cross build: MinGW-w64, Wine to run the
#                              tests, NSIS for the installer, xdotool for the GUI smoke test
#                              (about 1.1 GB; make windows and make test-windows ask for it)
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
)

for group in "$@"; do
  case "$group" in
    windows)
      # googletest: the sources, built with the cross compiler. zip: the portable archive.
      PACKAGES+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest wine wine64
                 nsis zip xdotool imagemagick)
      ;;
    *)
      echo "install-deps: unknown group '$group' (known: windows)" >&2
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
