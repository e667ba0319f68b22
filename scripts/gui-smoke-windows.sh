#!/usr/bin/env bash
# GUI smoke test under Wine on a virtual display: a whole update of the demo's controller in its
# boot loader, by keyboard. Checks the title, the boxes (the window system traces each one), the
# new version in the title and in the controller; then, in a second run, that closing the window
# during the update asks first and that OK stops the update; last, that without a display the demo
# says it has no window and ends with an error. With a folder it saves the window after the update.
# The Wine server must be running (test-windows.sh starts it).
#   gui-smoke-windows.sh <tarvix-update-demo.exe> [screenshot folder]
set -euo pipefail
# The checks below read the program's trace lines (the message boxes it showed).
export TARVIX_TRACE=1
demo=$(realpath "$1")
shots=${2:-}
title='Tarvix Update v2.60'
work=$(mktemp -d)
log=$work/demo.log
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "gui-smoke: FAILED: $*" >&2 && cat "$log" >&2 && exit 1; }
exec 5<> <(:)  # Xvfb writes its display number here when it is ready
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
pids+=($!)
read -r -t 20 display <&5 || fail "Xvfb did not start"
export DISPLAY=:$display WINEDEBUG=-all

wait_for() {  # wait_for <seconds> <command...>
  for ((i = 0; i < $1 * 4; i++)); do "${@:2}" >/dev/null 2>&1 && return 0 || sleep 0.25; done
  return 1
}
logged() { grep -qF -- "$1" "$log"; }
# The visible windows of a name, the dialog itself left out (boxes, the file dialog).
others() { xdotool search --onlyvisible --name "$1" 2>/dev/null | grep -vx "${main:-none}" || true; }
has_other() { [[ -n "$(others "$1")" ]]; }
no_box() { ! has_other "^$title\$"; }
# press <key> <window: main or a name> <seconds> <condition...>: focuses the window and presses
# the key, again when the condition does not hold in time (a key may come before its window).
press() {
  local key=$1 name=$2 seconds=$3 window
  shift 3
  for ((try = 0; try < 8; try++)); do
    window=$([[ "$name" == main ]] && echo "$main" || others "$name" | tail -1)
    [[ -z "$window" ]] || xdotool mousemove --window "$window" 10 5 windowfocus "$window" || true
    xdotool key "$key"
    wait_for "$seconds" "$@" && return 0
  done
  fail "$key on '$name' did not lead to: $*"
}

# start_update: starts the demo with a controller in its boot loader and takes the update as far
# as the confirmation box. USB Update has the focus: Enter clicks it; then the file.
start_update() {
  main=
  /usr/lib/wine/wine64 "$demo" boot </dev/null >"$log" 2>&1 &
  pids+=($!)
  wait_for 60 has_other "^$title" || fail "no window titled '$title'"
  main=$(others "^$title" | head -1)
  [[ $(xdotool getwindowname "$main") == "$title" ]] || fail "the title is not '$title'"
  press Return main 2 logged "open-file dialog in"
  wait_for 20 has_other "^Open\$" || fail "no file dialog"
  xdotool type --delay 30 "tarvix-demo.dat"
  press Return "^Open\$" 2 logged "message box \"$title\": New firmware 2.00 and current is 1.37"
}

cd "$(dirname "$demo")"
# A whole update: the confirmation, then the success box; the update takes some seconds (two
# erase waits, a report per millisecond).
start_update
press space "^$title\$" 60 logged "message box \"$title\":   Firmware upgraded!"
wait_for 20 has_other "^$title\$" || fail "the success box did not show"
press space "^$title\$" 2 no_box
[[ $(xdotool getwindowname "$main") == "$title(GamePad V2.00)" ]] || fail "title after the update"
[[ -z "$shots" ]] || (sleep 1 && import -window "$main" "$shots/screenshot-windows-done.png")
# Escape closes the window like the close box; the demo then tells the controller's version.
press Escape main 2 logged "demo: the virtual controller's firmware is version"
wait "${pids[1]}" || fail "the demo ended with an error"
logged "demo: the virtual controller's firmware is version 2.00" || fail "not version 2.00"
[[ $(grep -c '^message box' "$log") -eq 2 ]] || fail "other boxes than the two expected"

# Closing during an update: the window asks first; OK stops the update and the window goes,
# without the success box.
start_update
press space "^$title\$" 2 no_box
press Escape main 2 logged "message box \"$title\": The new firmware is updating,and it is turned off"
press space "^$title\$" 10 logged "demo: the virtual controller's firmware is version"
wait "${pids[2]}" || fail "the demo ended with an error after the close"
! logged "Firmware upgraded!" || fail "the stopped update said it had succeeded"

# Without a display the window cannot be created: the demo traces why and ends with status 1.
status=0
env -u DISPLAY timeout 60 /usr/lib/wine/wine64 "$demo" boot </dev/null >"$log" 2>&1 || status=$?
[[ $status -eq 1 ]] && logged "could not create the dialog" || fail "no display: status $status"
echo "gui-smoke: passed: title, file dialog, confirmation, 'Firmware upgraded!', version 2.00," \
  "closing during an update, no window without a display"
