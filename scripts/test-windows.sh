#!/usr/bin/env bash
# Runs the Windows build's tests under Wine: test-windows.sh <build folder> [ctest arguments].
# The build has a Wine profile of its own (<build>/wine). A new profile is set up by a first boot,
# let end completely: it runs without a display, goes on for a while after wineboot returns, and a
# program that starts meanwhile gets its desktop, which has no display driver (a window then fails
# with error 1400). Then the server and Wine's own processes are started before ctest with every
# stream away from ctest's pipes (started inside them, they keep ctest waiting for ever), by a
# second boot that has nothing left to set up; they are stopped afterwards, whatever the tests did.
set -euo pipefail
build=$(cd "$1" && pwd)
shift
export WINEPREFIX="$build/wine"
export WINEDEBUG=-all
# No Linux menu entries or file associations for what the tests install.
export WINEDLLOVERRIDES="winemenubuilder.exe=d"
# The unit tests need no display; the GUI smoke test starts a virtual one of its own.
unset DISPLAY
server=/usr/lib/wine/wineserver
stop() { "$server" -k </dev/null >/dev/null 2>&1 || true; }
trap stop EXIT

start=$(date +%s)
mkdir -p "$WINEPREFIX"  # a fresh clone has none yet: the server wants the folder
stop
"$server" -w
/usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1
"$server" -w  # the boot's server ends with the last of its processes
"$server" -p </dev/null >/dev/null 2>&1
/usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1
echo "test-windows: Wine profile ready in $(($(date +%s) - start)) s ($WINEPREFIX)"

cd "$build"
ctest --output-on-failure "$@"
