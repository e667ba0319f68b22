#!/usr/bin/env bash
# Sourced inside the test machine (scripts/usb-vm.sh) by the USB cases (tests/usb/run.sh): brings up
# the USB gadget stack on dummy_hcd (UDCS device controllers, each with its host port), configfs and
# udev, so that hidraw nodes, their links and monitor events are real; then gives the helpers that
# bind tarvix-gadget controllers and run tarvix-flash against them, every wait bounded. Needs BUILD
# set; the cases' files go to OUT. run_cases runs the case_NAME functions and prints one line each.
OUT=${USB_VM_OUT:-/tmp}/cases
rm -rf "$OUT"
mkdir -p "$OUT"
FLASH=$BUILD/ui/cli/tarvix-flash
GADGET=$BUILD/emulator/tarvix-gadget
DAT=$BUILD/tarvix-demo.dat

UDCS=${UDCS:-4}
for module in usb-common usbcore udc-core configfs libcomposite usb_f_hid hid usbhid hid-generic; do
  modprobe -d "$USB_VM_MODULES" "$module" || echo "guest: modprobe $module failed"
done
modprobe -d "$USB_VM_MODULES" dummy_hcd num="$UDCS" || echo "guest: modprobe dummy_hcd failed"
mountpoint -q /sys/kernel/config || mount -t configfs none /sys/kernel/config
mkdir -p /run/udev/rules.d
/lib/systemd/systemd-udevd --daemon --resolve-names=never 2>/dev/null
timeout 20 udevadm settle || echo "guest: udevadm settle timed out"

declare -A PIDS
LOG=/dev/null

# start_gadget NAME UDC SERIAL ARGS...: binds a controller and waits (10 s at most) for its hidraw
# node to be listed with that serial number.
start_gadget() {
  local name=$1 udc=$2 serial=$3
  shift 3
  "$GADGET" --name "$name" --udc "$udc" --serial "$serial" "$@" >>"$LOG" 2>&1 &
  PIDS[$name]=$!
  wait_listed "\"serial\": \"$serial\""
}

# wait_listed PATTERN [SECONDS]: until tarvix-flash list --json shows PATTERN.
wait_listed() {
  local deadline=$((SECONDS + ${2:-10}))
  while ((SECONDS < deadline)); do
    timeout 10 "$FLASH" list --json 2>/dev/null | grep -q "$1" && return 0
    sleep 0.2
  done
  echo "not listed within ${2:-10} s: $1" >>"$LOG"
  return 1
}

stop_gadgets() {
  local name
  for name in "${!PIDS[@]}"; do
    kill -TERM "${PIDS[$name]}" 2>/dev/null
  done
  for name in "${!PIDS[@]}"; do
    timeout 10 tail --pid="${PIDS[$name]}" -f /dev/null || kill -KILL "${PIDS[$name]}" 2>/dev/null
  done
  PIDS=()
  timeout 10 udevadm settle
}

# flash ARGS...: tarvix-flash with a bound of 120 s; its JSON lines land in $OUT/last.json.
flash() {
  timeout 120 "$FLASH" "$@" >"$OUT/last.json" 2>>"$LOG"
  local status=$?
  cat "$OUT/last.json" >>"$LOG"
  echo "tarvix-flash $* -> $status" >>"$LOG"
  return $status
}

expect_exit() {
  local want=$1
  shift
  flash "$@"
  local got=$?
  [[ $got -eq $want ]] || { echo "expected exit $want, got $got" >>"$LOG"; return 1; }
}

# same_as FILE EXPECTED: what a gadget held at its end.
same_as() {
  cmp "$1" "$2" >>"$LOG" 2>&1
}

# hidraw_of VID PID: the hidraw node of the interface with that identity, within 10 s.
hidraw_of() {
  local deadline=$((SECONDS + 10)) node
  while ((SECONDS < deadline)); do
    for node in /sys/class/hidraw/hidraw*; do
      [[ $(readlink -f "$node/device") == *":${1^^}:${2^^}."* ]] && echo "${node##*/}" && return 0
    done
    sleep 0.2
  done
  return 1
}

# timed LABEL COMMAND...: runs the command and notes its wall time under LABEL.
timed() {
  local label=$1 start
  shift
  start=$(date +%s%N)
  "$@" || return 1
  echo "$label: $((($(date +%s%N) - start) / 1000000)) ms" >>"$OUT/times.txt"
}

# usbmon_start BUS / usbmon_stop LABEL: usbmon's text capture of the bus (kept in tmpfs, where the
# reader keeps up), then its summary: reports completed each way, the longest gap between two.
usbmon_start() {
  modprobe -d "$USB_VM_MODULES" usbmon && mount -t debugfs none /sys/kernel/debug 2>/dev/null
  timeout 150 cat "/sys/kernel/debug/usb/usbmon/${1}u" >/tmp/usbmon.txt 2>/dev/null &
  USBMON=$!
}
usbmon_stop() {
  kill "$USBMON" 2>/dev/null
  cp /tmp/usbmon.txt "$OUT/usbmon.txt"
  awk -v label="$1" '$3 == "C" && $4 ~ /^Io:/ { out++ } $3 == "C" && $4 ~ /^Ii:/ && $6 == 64 { inputs++ }
       $3 == "C" { if (last && $2 - last > gap) gap = $2 - last; last = $2; if (!first) first = $2 }
       END { printf "%s, usbmon: %d output reports, %d input reports in %.1f s, longest gap %.1f ms\n",
             label, out, inputs, (last - first) / 1e6, gap / 1000 }' /tmp/usbmon.txt >>"$OUT/times.txt"
}

# hidraw_events_start / hidraw_events_stop: the kernel's hidraw events meanwhile, and how long each
# node removed was away until the next arrival.
hidraw_events_start() {
  timeout 100 udevadm monitor --kernel --subsystem-match=hidraw >/tmp/hidraw-events.txt &
  EVENTS=$!
}
hidraw_events_stop() {
  kill "$EVENTS" 2>/dev/null
  awk '$3 == "remove" { gone = $2 } $3 == "add" && gone { printf "replug: hidraw away %.0f ms\n",
       ($2 - gone) * 1000; gone = 0 }' FS='[][ ]+' /tmp/hidraw-events.txt >>"$OUT/times.txt"
}

# watch_start COUNT ARGS...: starts tarvix-flash watch --count COUNT in the background (bounded to
# 120 s); its JSON lines land in $OUT/watch.json.
watch_start() {
  local count=$1
  shift
  timeout 120 "$FLASH" watch --yes --json --count "$count" "$@" "$DAT" >"$OUT/watch.json" \
    2>>"$LOG" &
  WATCH=$!
}
# watch_results N: waits (60 s at most) until the watch has told N results.
watch_results() {
  local deadline=$((SECONDS + 60))
  while ((SECONDS < deadline)); do
    (($(grep -c '"event":"result"' "$OUT/watch.json") >= $1)) && return 0
    sleep 0.2
  done
  return 1
}
watch_end() {
  wait "$WATCH"
  local status=$?
  cat "$OUT/watch.json" >>"$LOG"
  echo "watch -> $status" >>"$LOG"
  [[ $status -eq 0 ]] && (($(grep -c '"event":"result".*"outcome":"done"' "$OUT/watch.json") == $1))
}

# run_cases NAME...: each case with its own log, printed when it fails; fails when one did.
run_cases() {
  failed=0
  for name in "$@"; do
    LOG=$OUT/$name.log
    start=$SECONDS
    if "case_$name"; then
      echo "usb case $name: passed ($((SECONDS - start)) s)"
    else
      echo "usb case $name: FAILED ($((SECONDS - start)) s); its log:"
      sed 's/^/    /' "$LOG"
      failed=$((failed + 1))
    fi
    stop_gadgets
  done
  [[ -f "$OUT/times.txt" ]] && cat "$OUT/times.txt"
  echo "usb cases: $# run, $failed failed"
  [[ $failed -eq 0 ]]
}
