#!/bin/sh
# A pseudo-terminal pair from socat for the RS-232 tests (the Linux test
# program's own pairs, under Wine, and the host on an example script).
#   pty-pair.sh start FOLDER FIRST SECOND [WINEPREFIX]
#     starts socat with its ends at FOLDER/tty<FIRST> and FOLDER/tty<SECOND>,
#     waits (at most 10 s) until both exist and socat moves data, and with a
#     Wine prefix links COM<FIRST> and COM<SECOND> of that prefix to them.
#   pty-pair.sh stop FOLDER FIRST SECOND [WINEPREFIX]
#     ends that socat and removes the links.
set -eu
action=$1 folder=$2 first=$3 second=$4 prefix=${5:-}

stop_socat() {
  if [ -f "$folder/socat.pid" ]; then
    kill "$(cat "$folder/socat.pid")" 2>/dev/null || true
    rm -f "$folder/socat.pid"
  fi
}

case $action in
start)
  mkdir -p "$folder"
  stop_socat
  rm -f "$folder/tty$first" "$folder/tty$second"
  # Its own session and no inherited output, so that CTest does not wait for it.
  setsid socat -d -d "pty,raw,echo=0,link=$folder/tty$first" "pty,raw,echo=0,link=$folder/tty$second" \
    </dev/null >/dev/null 2>"$folder/socat.log" &
  echo $! >"$folder/socat.pid"
  tries=0
  # Ready once socat says it moves data: the links appear before the
  # terminals' settings are final.
  until [ -e "$folder/tty$first" ] && [ -e "$folder/tty$second" ] &&
    grep -q "starting data transfer loop" "$folder/socat.log"; do
    tries=$((tries + 1))
    if [ $tries -gt 200 ]; then
      echo "socat made no terminals within 10 s" >&2
      cat "$folder/socat.log" >&2
      exit 1
    fi
    sleep 0.05
  done
  if [ -n "$prefix" ]; then
    ln -sfn "$folder/tty$first" "$prefix/dosdevices/com$first"
    ln -sfn "$folder/tty$second" "$prefix/dosdevices/com$second"
  fi
  echo "pty pair ready: $folder/tty$first <-> $folder/tty$second"
  ;;
stop)
  stop_socat
  if [ -n "$prefix" ]; then
    rm -f "$prefix/dosdevices/com$first" "$prefix/dosdevices/com$second"
  fi
  ;;
*)
  echo "usage: $0 start|stop FOLDER FIRST SECOND [WINEPREFIX]" >&2
  exit 2
  ;;
esac
