#!/usr/bin/env bash
# The installer under Wine: /S installs both programs, the Start-menu shortcuts and the uninstall
# entry, silently; the uninstaller's /S removes them all again. Run it with the Wine profile's
# server already started (scripts/test-windows.sh does).
#   installer-test-windows.sh <tarvix-update-x.y-setup.exe>
set -euo pipefail
installer=$(realpath "$1")
wine=/usr/lib/wine/wine64
folder="$WINEPREFIX/drive_c/Program Files/Tarvix Update"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tarvix Update"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TarvixUpdate'
files=("$folder/tarvix-update.exe" "$folder/tarvix-update-demo.exe" "$folder/uninstall.exe"
       "$menu/Tarvix Update.lnk" "$menu/Tarvix Update demo.lnk")
fail() { echo "installer-test: FAILED: $*" >&2 && exit 1; }

WINEDEBUG=-all "$wine" "$installer" /S </dev/null >/dev/null 2>&1 || fail "the installer failed"
for file in "${files[@]}"; do [[ -f "$file" ]] || fail "not installed: $file"; done
cmp -s "$folder/tarvix-update.exe" "$(dirname "$installer")/ui/win32/tarvix-update.exe" ||
  fail "the installed tarvix-update.exe is not the one built"
"$wine" reg query "$key" /v DisplayVersion </dev/null 2>/dev/null | grep -q "2\.60" ||
  fail "no uninstall entry with the version"
# The uninstaller copies itself away and returns at once: wait for it to finish its work.
"$wine" "$folder/uninstall.exe" /S </dev/null >/dev/null 2>&1 || fail "the uninstaller failed"
for ((i = 0; i < 120; i++)); do [[ -e "$folder" ]] && sleep 0.25; done
for file in "${files[@]}" "$folder" "$menu"; do [[ ! -e "$file" ]] || fail "left: $file"; done
! "$wine" reg query "$key" </dev/null >/dev/null 2>&1 || fail "the uninstall entry is left"
echo "installer-test: passed: silent install (programs, shortcuts, entry) and silent uninstall"
