#!/bin/sh
# Builds the linux-release preset and runs the soak (bench/Soak.cpp): the
# real plug-in driven through its testers for many actions and open/close
# cycles of every link kind, with a socat pseudo-terminal pair for the RS-232
# links and the simulated VISA instrument of the tests. Exits non-zero when
# an action fails or memory, descriptors or threads grew. Arguments go to
# the soak (--actions N, --cycles N).
set -eu
cd "$(dirname "$0")/.."
build=build/linux-release

cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target varnel_soak VarnelPlugin visa_instrument

pair=$(mktemp -d)
trap 'sh tests/links/pty-pair.sh stop "$pair" 5 6; rm -rf "$pair"' EXIT
sh tests/links/pty-pair.sh start "$pair" 5 6
VARNEL_SERIAL_DEVICE_PATTERN="$pair/tty%d" LD_LIBRARY_PATH="$build/tests/links/visa" \
  "$build/bin/varnel_soak" "$@"
