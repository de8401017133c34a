#!/usr/bin/env bash
# Builds the device, the driver and Wendra, then runs the whole device in one
# command: the GPS (the built-in receiver unless --gps says otherwise), a
# program reading the relay port, and Wendra logging from the tap port.
# Every argument goes to `cedevice run` (see README.md); Ctrl-C ends it.
# With --wine first, the arguments go to tools/wine/wendra-on-wine run
# instead: Wendra on Wine, with the same bindings.
set -euo pipefail
cd "$(dirname "$0")"
if [ "${1:-}" = --wine ]; then
  shift
  # The device's 32-bit programs, with the device-check build's driver; the
  # 64-bit ones where the kernel runs no 32-bit program (the runner says so).
  presets=(wine64)
  if tools/runs-32-bit-programs > /dev/null; then presets=(device-check wine); fi
  tools/install-dependencies.sh wine wine32
  for preset in "${presets[@]}"; do
    cmake --preset "$preset" > /dev/null
    cmake --build --preset "$preset" -j "${JOBS:-2}"
  done
  cmake --preset default > /dev/null
  cmake --build --preset default -j "${JOBS:-2}" --target cedevice
  root="${XDG_DATA_HOME:-$HOME/.local/share}/wendra/wine"
  for arg in "$@"; do
    if [ "$arg" = --root ]; then root=""; fi
  done
  if [ -n "$root" ]; then set -- --root "$root" "$@"; fi
  exec tools/wine/wendra-on-wine run "$@"
fi
tools/install-dependencies.sh
cmake --preset default > /dev/null
cmake --build --preset default -j "${JOBS:-2}" --target cedevice Wendra Ravelink
exec build/default/tools/cedevice/cedevice run "$@"
