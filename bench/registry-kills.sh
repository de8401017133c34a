#!/usr/bin/env bash
# Kills the device process with SIGKILL at random moments while a program
# changes the registry, as many times as asked (200 unless told), and checks
# after each kill that the registry file loads and holds a state the device
# had saved. Needs the default build (cmake --build --preset default).
set -euo pipefail
cd "$(dirname "$0")/.."
kills=${1:-200}
CE_REGISTRY_KILLS=$kills exec build/default/tests/tools/device_process_tests \
  --gtest_filter='RegistryKillTest.*'
