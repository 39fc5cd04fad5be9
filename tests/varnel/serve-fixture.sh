#!/bin/sh
# Starts and stops a `varnel serve` in the background for the host's
# example scripts that drive it through the ScriptProxy tester.
#   serve-fixture.sh start FOLDER COMMAND [ARGS...]
#     runs COMMAND ARGS (the program, or wine-run.sh and the program) with
#     its output in FOLDER/serve.log, and waits (at most 20 s) until it says
#     it is serving.
#   serve-fixture.sh stop FOLDER
#     ends it (Ctrl-C first, as a person would, then for sure).
set -eu
action=$1 folder=$2
shift 2

stop_server() {
  [ -f "$folder/serve.pid" ] || return 0
  pid=$(cat "$folder/serve.pid")
  kill -INT "$pid" 2>/dev/null || true
  tries=0
  while kill -0 "$pid" 2>/dev/null && [ $tries -lt 50 ]; do
    tries=$((tries + 1))
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  rm -f "$folder/serve.pid"
}

case $action in
start)
  mkdir -p "$folder"
  stop_server
  # Its own session and no inherited output, so that CTest does not wait for it.
  setsid "$@" </dev/null >"$folder/serve.log" 2>&1 &
  echo $! >"$folder/serve.pid"
  tries=0
  until grep -q "Serving on" "$folder/serve.log" 2>/dev/null; do
    tries=$((tries + 1))
    if [ $tries -gt 200 ] || ! kill -0 "$(cat "$folder/serve.pid")" 2>/dev/null; then
      echo "varnel serve did not start:" >&2
      cat "$folder/serve.log" >&2
      exit 1
    fi
    sleep 0.1
  done
  cat "$folder/serve.log"
  ;;
stop)
  stop_server
  cat "$folder/serve.log" 2>/dev/null || true
  ;;
*)
  echo "usage: $0 start FOLDER COMMAND [ARGS...] | stop FOLDER" >&2
  exit 2
  ;;
esac
