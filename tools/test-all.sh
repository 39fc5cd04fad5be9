#!/bin/sh
# Builds and runs every test suite: the native Linux build under
# AddressSanitizer and UndefinedBehaviorSanitizer, the Windows build with its
# tests under Wine, then the Linux build again under ThreadSanitizer. Fails
# when anything fails.
set -eu
cd "$(dirname "$0")/.."
sh tools/install-packages.sh
status=0
for preset in linux windows linux-tsan; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
for preset in linux windows linux-tsan; do
  echo "=== $preset: tests"
  ctest --preset "$preset" || status=1
done
exit $status
