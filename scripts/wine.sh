#!/usr/bin/env bash
# Runs a Windows program under Wine, quietly: Debian's 64-bit loader is not on PATH. The profile is
# WINEPREFIX when set (make test-windows sets the build's own), else Wine's default.
set -euo pipefail
export WINEDEBUG="${WINEDEBUG:--all}"
exec /usr/lib/wine/wine64 "$@"
