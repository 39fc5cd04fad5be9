#!/bin/sh
# Builds the fuzz preset and runs every libFuzzer target (or the ones named)
# for SECONDS each (default 60), starting from its seed corpus in
# tests/fuzz/corpus. New inputs collect in build/fuzz/corpus, crashing
# inputs in build/fuzz/crashes/<target>/. Exits 1 when any target crashed.
#   sh tools/fuzz.sh [SECONDS] [TARGET...]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
[ $# -gt 0 ] && shift
case $seconds in '' | *[!0-9]*) echo "usage: sh tools/fuzz.sh [SECONDS] [TARGET...]" >&2; exit 2 ;; esac

# libFuzzer's runtime comes with clang's runtime libraries (Debian: libclang-rt-14-dev);
# only fuzzing needs them, so the CI's package list does not carry them.
if [ ! -e "$(clang -print-resource-dir 2>/dev/null)/lib/linux/libclang_rt.fuzzer-x86_64.a" ]; then
  if [ "$(id -u)" = 0 ]; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-14-dev >/dev/null
  else
    echo "fuzz: libFuzzer is missing; install clang and libclang-rt-14-dev as root" >&2
    exit 2
  fi
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

build=build/fuzz
targets=${*:-$(ls tests/fuzz/corpus)}
crashed=""
for target in $targets; do
  mkdir -p "$build/corpus/$target" "$build/crashes/$target"
  echo "== $target: $seconds s"
  # -timeout catches an input that makes a parser loop or crawl; it counts
  # wall time, so it is generous enough for a machine busy with builds.
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
      -artifact_prefix="$build/crashes/$target/" "$build/corpus/$target" "tests/fuzz/corpus/$target" \
      >"$build/crashes/$target.log" 2>&1; then
    crashed="$crashed $target"
    grep -E "^==[0-9]+==ERROR|runtime error|Test unit written" "$build/crashes/$target.log" >&2 || true
  fi
  grep -E "^stat::number_of_executed_units|^#[0-9]+ +DONE" "$build/crashes/$target.log" || true
done

if [ -n "$crashed" ]; then
  echo "fuzz: crashes in:$crashed (inputs in $build/crashes/, logs in $build/crashes/<target>.log)" >&2
  exit 1
fi
echo "fuzz: no crash in any target"
