#!/usr/bin/env bash
# Takes the README's screenshots of the Windows dialog under Wine, idle, in English and in Chinese
# (a zh_CN.UTF-8 locale is built in a temporary folder for Wine to pick Chinese). Wine's virtual
# desktop draws the window's frame and caption as Windows does. The window after an update comes
# from the GUI smoke test (gui-smoke-windows.sh <demo> <folder>).
#   windows-screenshots.sh <build-windows folder> <output folder>
# Needs what install-deps.sh windows installs (Wine, Xvfb, xdotool, ImageMagick) and locales.
set -euo pipefail
build=$(realpath "$1")
out=$(realpath "$2")
demo=$build/demo/tarvix-update-demo.exe
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; WINEPREFIX=$work/wine /usr/lib/wine/wineserver -k; rm -rf "$work"' EXIT
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
localedef -i zh_CN -f UTF-8 "$work/zh_CN.UTF-8" >/dev/null 2>&1 || true

exec 5<> <(:)
Xvfb -displayfd 5 -screen 0 800x600x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
pids+=($!)
read -r -t 20 display <&5
export DISPLAY=:$display
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1

# shoot <suffix> [environment...]: the demo's window, idle.
shoot() {
  local suffix=$1
  shift
  (cd "$build/demo" && env "$@" /usr/lib/wine/wine64 explorer /desktop=TarvixShot,430x300 \
    "$demo" </dev/null >/dev/null 2>&1) &
  local run=$!
  sleep 8
  import -window "$(xdotool search --name "TarvixShot" | head -1)" \
    "$out/screenshot-windows-idle$suffix.png"
  /usr/lib/wine/wineserver -k  # ends the demo and its desktop
  wait "$run" || true
}
shoot ""
shoot "-zh" LOCPATH="$work" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
ls -l "$out"/screenshot-windows-*.png
