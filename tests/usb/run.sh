#!/usr/bin/env bash
# The USB bus cases, run inside the test machine (scripts/usb-vm.sh) as root: each controller is a
# tarvix-gadget on a dummy_hcd port, met by tarvix-flash through the guest's kernel, udev and
# hidapi. Every wait is bounded. Prints one line per case and ends with the failures' count.
#   run.sh BUILD_DIR [CASE...]
set -uo pipefail
BUILD=$(realpath "$1")
shift
HERE=$(dirname "$(realpath "$0")")
. "$HERE/../../scripts/usb-bus.sh"
IMAGE=$OUT/image.bin
# The sample file's one record: a 28-byte header, then the 48 KiB image.
tail -c +29 "$DAT" >"$IMAGE"
# What a boot loader of device type 0x3009 holds from its image base after the update: the image,
# but its version area (32 bytes at base + 0x34) erased again and holding the version word 2.00.
BOOT_FLASH=$OUT/boot-flash.bin
{
  head -c 52 "$IMAGE"
  printf '\xc8\x00\x00\x00'
  head -c 28 /dev/zero | tr '\0' '\377'
  tail -c +85 "$IMAGE"
} >"$BOOT_FLASH"

# ---- The cases ----

case_list_and_device() {
  start_gadget g0 dummy_udc.0 TVX-LIST-A || return 1
  flash list --json || return 1
  grep -q '"identity": "7a3d:3208", "mode": "boot", "port": "1-1", "serial": "TVX-LIST-A"' \
    "$OUT/last.json" || return 1
  # verify finds the controller by serial number and by port (its image differs: exit 1), and
  # finds none for a serial number nobody has (exit 3).
  expect_exit 1 verify --json --device TVX-LIST-A "$DAT" || return 1
  expect_exit 1 verify --json --device 1-1 "$DAT" || return 1
  expect_exit 3 verify --json --device TVX-NOT-HERE "$DAT"
}

case_boot_update_verify() {
  start_gadget g0 dummy_udc.0 TVX-BOOT --dump "$OUT/boot.bin" || return 1
  timed "gadget 48 KiB boot update with --verify" \
    expect_exit 0 flash --yes --verify --json --device TVX-BOOT "$DAT" || return 1
  timed "in-process virtual 48 KiB boot update with --verify" \
    expect_exit 0 flash --virtual boot --yes --verify --json "$DAT"
  stop_gadgets
  same_as "$OUT/boot.bin" "$BOOT_FLASH"
}

# The running firmware's update, with the gamepad's own input reports streaming in between.
case_app_update() {
  start_gadget g0 dummy_udc.0 TVX-APP --mode app --stream 1 --dump "$OUT/app.bin" || return 1
  expect_exit 0 flash --yes --json --device 1-1 "$DAT" || return 1
  stop_gadgets
  grep -q ': [1-9][0-9]* ordinary input reports sent' "$LOG" && same_as "$OUT/app.bin" "$IMAGE"
}

# A removal in the middle of the transfer: a failure with its cause, within the bound, exit 1.
unplugged_mid_transfer() {
  start_gadget g0 dummy_udc.0 TVX-UNPLUG "$@" || return 1
  expect_exit 1 flash --yes --json --device TVX-UNPLUG "$DAT" || return 1
  grep -q '"event":"result".*"outcome":"failed","cause":"[a-z-]*"' "$OUT/last.json"
}
case_unplug_boot() { unplugged_mid_transfer --mode boot --unplug-after 300; }
case_unplug_app() { unplugged_mid_transfer --mode app --unplug-after 300; }

# The boot loader restarts into its running firmware after the update, is found again under the
# running firmware's identity with the same serial number, and is updated there too.
case_reenumerates_after_update() {
  start_gadget g0 dummy_udc.0 TVX-SWITCH --then app --dump "$OUT/switch.bin" || return 1
  usbmon_start 1
  expect_exit 0 flash --yes --json --device TVX-SWITCH "$DAT" || return 1
  usbmon_stop "boot update without --verify"
  wait_listed '"identity": "0483:5750", "mode": "app", "port": "1-1", "serial": "TVX-SWITCH"' ||
    return 1
  expect_exit 0 flash --yes --json --device TVX-SWITCH "$DAT" || return 1
  stop_gadgets
  same_as "$OUT/switch.bin" "$IMAGE"
}

# The user switches the running firmware to its boot loader: found again on the same port under the
# boot loader's identity, and updated there.
case_switch_to_boot_loader() {
  start_gadget g0 dummy_udc.0 TVX-SWITCH --mode app --dump "$OUT/switched.bin" || return 1
  kill -USR1 "${PIDS[g0]}"
  wait_listed '"identity": "7a3d:3208", "mode": "boot", "port": "1-1", "serial": "TVX-SWITCH"' ||
    return 1
  expect_exit 0 flash --yes --verify --json --device 1-1 "$DAT" || return 1
  stop_gadgets
  same_as "$OUT/switched.bin" "$BOOT_FLASH"
}

case_flash_all_three() {
  local n
  for n in 0 1 2; do
    start_gadget "g$n" "dummy_udc.$n" "TVX-ALL-$n" --dump "$OUT/all$n.bin" || return 1
  done
  expect_exit 0 flash --yes --all --json "$DAT" || return 1
  grep -q '"event":"summary".*"done":3' "$OUT/last.json" || return 1
  stop_gadgets
  for n in 0 1 2; do
    same_as "$OUT/all$n.bin" "$BOOT_FLASH" || return 1
  done
}

# A controller whose update failed comes back sooner than a timed look's interval: its hidraw node
# is taken away and made again 100 ms later (its HID driver unbound and bound again). The watch,
# woken by udev's notices, sees it gone and back and updates it again; the node's time away is in
# times.txt.
case_watch_sees_a_quick_replug() {
  start_gadget g0 dummy_udc.0 TVX-QUICK --mode app --fail-after-chunks 100 || return 1
  watch_start 2
  watch_results 1 || return 1
  local node hid
  node=$(hidraw_of 0483 5750) || return 1
  hid=$(basename "$(readlink -f "/sys/class/hidraw/$node/device")")
  hidraw_events_start
  sleep 0.5  # the event reader is listening
  echo "$hid" >/sys/bus/hid/drivers/hid-generic/unbind || return 1
  sleep 0.1
  echo "$hid" >/sys/bus/hid/drivers/hid-generic/bind || return 1
  watch_results 2
  local seen=$?
  hidraw_events_stop
  kill "$WATCH" 2>/dev/null
  wait "$WATCH"
  cat "$OUT/watch.json" >>"$LOG"
  stop_gadgets
  [[ $seen -eq 0 ]]
}

# The udev rule tags the hidraw node of each of the three identities, and of no other, uaccess.
case_udev_rule() {
  cp "$HERE/../../res/70-tarvix-update.rules" /run/udev/rules.d/ || return 1
  local ids
  for ids in "0483 5750 yes" "7a3d 5750 yes" "7a3d 3208 yes" "1234 5678 no"; do
    set -- $ids
    "$GADGET" --name g0 --udc dummy_udc.0 --vid "0x$1" --pid "0x$2" >>"$LOG" 2>&1 &
    PIDS[g0]=$!
    local node
    node=$(hidraw_of "$1" "$2") || { echo "no hidraw node for $1:$2" >>"$LOG"; return 1; }
    timeout 30 udevadm test "/sys/class/hidraw/$node" >"$OUT/udev-test.txt" 2>&1
    grep -v '^Reading rules file' "$OUT/udev-test.txt" >>"$LOG"
    local tagged=no
    grep -q '^TAGS=.*:uaccess:' "$OUT/udev-test.txt" && tagged=yes
    [[ $tagged == "$3" ]] || { echo "$1:$2 uaccess: $tagged, expected $3" >>"$LOG"; return 1; }
    stop_gadgets
  done
}

# Controllers bound one after another are each updated once, and the watch ends after --count.
case_watch_one_after_another() {
  watch_start 2
  start_gadget g0 dummy_udc.0 TVX-WATCH-0 --dump "$OUT/watch0.bin" || return 1
  watch_results 1 || return 1
  start_gadget g1 dummy_udc.1 TVX-WATCH-1 --dump "$OUT/watch1.bin" || return 1
  watch_end 2 || return 1
  stop_gadgets
  same_as "$OUT/watch0.bin" "$BOOT_FLASH" && same_as "$OUT/watch1.bin" "$BOOT_FLASH"
}

# A controller that restarts right after its update (unbound and bound again at once, under the
# boot loader's identity) is a new arrival: the watch updates it again.
case_watch_restart_right_after_update() {
  hidraw_events_start
  watch_start 2
  start_gadget g0 dummy_udc.0 TVX-REPLUG --then boot || return 1
  watch_end 2 || return 1
  hidraw_events_stop
}

# The Qt window follows a real arrival and removal, and updates a boot loader gadget.
case_qt_window() {
  TARVIX_GADGET=$GADGET TARVIX_DAT=$DAT TARVIX_GUI_DUMP=$OUT/gui.bin TARVIX_BOOT_FLASH=$BOOT_FLASH \
    QT_QPA_PLATFORM=offscreen timeout 180 "$BUILD/tests/usb/gui_usb_tests" >>"$LOG" 2>&1
}

CASES=(list_and_device boot_update_verify app_update unplug_boot unplug_app
  reenumerates_after_update switch_to_boot_loader flash_all_three watch_one_after_another
  watch_restart_right_after_update watch_sees_a_quick_replug udev_rule qt_window)
[[ $# -gt 0 ]] && CASES=("$@")
run_cases "${CASES[@]}"
