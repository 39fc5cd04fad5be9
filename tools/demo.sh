#!/bin/sh
# The main job in one command: builds the plug-in and our command-line host
# natively (optimised, without the tests) and runs the loop-back demo script,
# which prints every log line, each step's result and the summary. Installs
# missing Debian packages first when run as root. Exits with the host's
# status: 0 when every step met its expectation.
set -eu
cd "$(dirname "$0")/.."
sh tools/install-packages.sh
cmake --preset linux-release -B build/demo -DVARNEL_TESTS=OFF >/dev/null
cmake --build build/demo --target varnel VarnelPlugin
exec build/demo/bin/varnel examples/loopback-demo.varnel
