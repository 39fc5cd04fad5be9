#!/bin/sh
# Builds the linux-release preset, runs the in-process benchmarks and their
# outside anchors (Python, pexpect, Tcl Expect) over the same bytes, then the
# whole-link cases over TCP beside theirs (Python sockets, socat, Tcl Expect)
# against one echo peer, prints a table of rates, times and ratios and
# writes it, with the machine and the date, to docs/benchmarks.md. The
# anchors' Debian packages are installed here when missing (as root); an
# anchor that still cannot run says so.
set -eu
cd "$(dirname "$0")/.."

anchor_packages="python3-pexpect expect socat"
missing=""
command -v python3 >/dev/null || missing=" python3"
for p in $anchor_packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  if [ "$(id -u)" = 0 ]; then
    echo "Installing the anchors:$missing"
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null; } ||
      echo "Could not install$missing: those anchors will not run" >&2
  else
    echo "Missing$missing (run as root to install): those anchors will not run" >&2
  fi
fi

cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target varnel_bench varnel_linkbench varnel_echo_peer

data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
echo "=== benchmarks"
VARNEL_BENCH_DATA="$data" build/linux-release/bench/varnel_bench \
  --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_out="$data/bench.json" --benchmark_out_format=json
echo "=== anchors"
python3 bench/anchors.py "$data" >"$data/anchors.json"
echo "=== whole-link cases over TCP, with their anchors"
python3 bench/linkbench.py "$data" build/linux-release/bench >"$data/link.json"
echo "=== results (also in docs/benchmarks.md)"
mkdir -p docs
python3 bench/report.py "$data/bench.json" "$data/anchors.json" docs/benchmarks.md "$data/link.json"
