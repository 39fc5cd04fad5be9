#!/bin/sh
# Ctrl-C (SIGINT) while a step waits: the first aborts the running action and
# stops the script, the second quits at once. Every wait is bounded.
# Usage: interrupt.sh HOST PLUGIN SCRIPT EXPECTED-STATUS INTERRUPTS OUTPUT-REGEX...
set -u
host=$1 plugin=$2 script=$3 expected=$4 interrupts=$5
shift 5
out=$(mktemp)
trap 'rm -f "$out"' EXIT

"$host" --no-time --plugin "$plugin" "$script" >"$out" 2>&1 &
pid=$!
# Wait (at most 30 s) for the long action to start.
tries=0
until grep -q -E "Action (waitfor|stubborn) start" "$out"; do
    tries=$((tries + 1))
    if [ $tries -gt 300 ]; then kill -KILL $pid; cat "$out"; echo "FAIL: the action never started"; exit 1; fi
    sleep 0.1
done
n=0
while [ $n -lt "$interrupts" ]; do
    kill -INT $pid
    n=$((n + 1))
    sleep 0.5
done
# The host must end by itself within 30 s.
tries=0
while kill -0 $pid 2>/dev/null; do
    tries=$((tries + 1))
    if [ $tries -gt 300 ]; then kill -KILL $pid; cat "$out"; echo "FAIL: still running after the interrupt"; exit 1; fi
    sleep 0.1
done
wait $pid
status=$?
cat "$out"
[ "$status" = "$expected" ] || { echo "FAIL: exit status $status, expected $expected"; exit 1; }
for pattern in "$@"; do
    grep -q -E -- "$pattern" "$out" || { echo "FAIL: no line matches: $pattern"; exit 1; }
done
echo "interrupt test passed"
