#!/usr/bin/env bash
# Builds and runs every test: the optimised build (with the system on Wine), then AddressSanitizer with
# UndefinedBehaviorSanitizer, then the concurrency tests under ThreadSanitizer,
# then the device's own build of logger/ and splitter/ against the platform's
# headers, with the check of Ravelink.Dll's export and import tables. After the
# first build, the host's shape: includes run from either side to the
# contract only, and every platform call it exports has a caller. The
# system's Windows programs (the wine preset) are built first: the optimised
# build's tests run them on Wine beside the host.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-dependencies.sh wine

jobs=${JOBS:-2}
cmake --preset wine
cmake --build --preset wine -j "$jobs"
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
cmake --preset device-check
cmake --build --preset device-check -j "$jobs"
