#!/usr/bin/env bash
# Builds the device, the driver and Wendra, then runs the whole device in one
# command: the GPS (the built-in receiver unless --gps says otherwise), a
# program reading the relay port, and Wendra logging from the tap port.
# Every argument goes to `cedevice run` (see README.md); Ctrl-C ends it.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-dependencies.sh
cmake --preset default > /dev/null
cmake --build --preset default -j "${JOBS:-2}" --target cedevice Wendra Ravelink
exec build/default/tools/cedevice/cedevice run "$@"
