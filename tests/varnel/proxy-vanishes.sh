#!/bin/sh
# A station (`varnel serve`) killed outright while the ScriptProxy tester
# waits for the end of its script: the waiting step ends at its timeout, the
# host runs the script to its end and exits as the script expects. Every
# wait is bounded.
# Usage: proxy-vanishes.sh HOST PORT SCRIPT OUTPUT-REGEX...
set -u
host=$1 port=$2 script=$3
shift 3
. "$(dirname "$0")/background-host.sh"
work=$(mktemp -d)
station=""
trap '[ -n "$station" ] && kill -KILL $station 2>/dev/null; rm -rf "$work"' EXIT

"$host" --no-time serve --port "$port" >"$work/station.log" 2>&1 &
station=$!
await_output "$work/station.log" "Serving on"
"$host" --no-time --define PORT="$port" "$script" >"$work/host.log" 2>&1 &
pid=$!
await_output "$work/host.log" "Action waitfor start" $pid
kill -KILL $station
finish $pid "$work/host.log" 0 "$@"
echo "proxy-vanishes test passed"
