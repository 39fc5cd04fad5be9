#!/bin/sh
# Ctrl-C (SIGINT) while a step waits: the first aborts the running action and
# stops the script, the second quits at once. Every wait is bounded.
# Usage: interrupt.sh HOST PLUGIN SCRIPT EXPECTED-STATUS INTERRUPTS OUTPUT-REGEX...
set -u
host=$1 plugin=$2 script=$3 expected=$4 interrupts=$5
shift 5
. "$(dirname "$0")/background-host.sh"
out=$(mktemp)
trap 'rm -f "$out"' EXIT

"$host" --no-time --plugin "$plugin" "$script" >"$out" 2>&1 &
pid=$!
await_output "$out" "Action (waitfor|stubborn) start" $pid
n=0
while [ $n -lt "$interrupts" ]; do
    kill -INT $pid
    n=$((n + 1))
    sleep 0.5
done
finish $pid "$out" "$expected" "$@"
echo "interrupt test passed"
