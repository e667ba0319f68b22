#!/usr/bin/env bash
# Starts a program of the updater. Without a display it says so instead of failing obscurely.
set -euo pipefail
program=$1
shift
if [[ ! -x "$program" ]]; then
  echo "run: $program was not built yet" >&2
  exit 1
fi
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "run: no display found (DISPLAY and WAYLAND_DISPLAY are empty)." >&2
  echo "run: start it from a desktop session, or under a virtual display: xvfb-run -a $program" >&2
  exit 1
fi
exec "$program" "$@"
