#!/usr/bin/env bash
# Builds and runs every test. First the device's own build of logger/ and
# splitter/ against the platform's headers, with the check of Ravelink.Dll's
# export and import tables: that very Ravelink.Dll is the one the 32-bit
# Wine loads. Then the system's Windows programs (the wine preset's 32-bit
# ones and the wine64 preset's), which the optimised build's tests run on Wine beside the
# host; the optimised build and its tests; after its build, the host's
# shape: includes run from either side to the contract only, and every
# platform call it exports has a caller. Then AddressSanitizer with
# UndefinedBehaviorSanitizer (all but Wine's tests), and the concurrency
# tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-dependencies.sh wine wine32

jobs=${JOBS:-2}
for preset in device-check wine wine64; do
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
done
for preset in default asan; do
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  if [ "$preset" = default ]; then
    tools/check-host-shape.py build/default/host/libcehost.so
  fi
  ctest --preset "$preset" -j "$jobs"
done
cmake --preset tsan
cmake --build --preset tsan -j "$jobs" --target concurrency_tests
ctest --preset tsan -j "$jobs"
