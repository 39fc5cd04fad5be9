#!/bin/sh
# Builds both presets and runs both test suites: the native Linux build under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the Windows build with
# its tests under Wine. Fails when anything fails.
set -eu
cd "$(dirname "$0")/.."
sh tools/install-packages.sh
status=0
for preset in linux windows; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
for preset in linux windows; do
  echo "=== $preset: tests"
  ctest --preset "$preset" || status=1
done
exit $status
