#!/bin/sh
# Builds the linux-release preset and runs our host `varnel` under valgrind's
# memcheck over every example script that runs on Linux, with what they need
# beside them: a socat pseudo-terminal pair for rs232-pty.varnel and a
# `varnel serve` station (itself under memcheck) for proxy.varnel. Fails when
# a script does not end as it should or memcheck reports an error or a
# definite or indirect leak in any of these processes. Logs stay in the
# folder it names when something fails.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build/linux-release
port=47841
command -v valgrind >/dev/null || { echo "valgrind is not installed (Debian: valgrind)" >&2; exit 1; }

cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target varnel VarnelPlugin

work=$(mktemp -d)
# Definite and indirect leaks count as errors; children the programs start
# (the process link's shell) are not followed.
memcheck_options="--tool=memcheck --leak-check=full --errors-for-leak-kinds=definite,indirect
  --show-leak-kinds=definite,indirect --error-exitcode=99 --num-callers=30 --child-silent-after-fork=yes"
memcheck() {
  name=$1
  shift
  valgrind $memcheck_options --log-file="$work/$name.memcheck.%p.log" "$@"
}
stop_fixtures() {
  sh tests/varnel/serve-fixture.sh stop "$work/station" >/dev/null
  sh tests/links/pty-pair.sh stop "$work/pty" 5 6
}
trap stop_fixtures EXIT

sh tests/links/pty-pair.sh start "$work/pty" 5 6 >/dev/null
sh tests/varnel/serve-fixture.sh start "$work/station" valgrind $memcheck_options \
  --log-file="$work/station.memcheck.%p.log" "$build/bin/varnel" --no-time serve --port $port --key "station key" \
  >/dev/null

status=0
started=$(date +%s)
for script in examples/*.varnel; do
  name=$(basename "$script" .varnel)
  expected=0
  set --
  case $name in
  test-cases) set -- --define GREETING=hello ;;
  proxy) set -- --define STATION=localhost --define PORT=$port ;;
  long-wait) set -- --timeout 3; expected=1 ;; # its wait ends only when aborted
  esac
  ran=0
  # In the work folder: files.varnel writes its log files where it runs.
  (cd "$work" && VARNEL_SERIAL_DEVICE_PATTERN="$work/pty/tty%d" \
    memcheck "$name" "$build/bin/varnel" --no-time "$@" "$root/$script" >"$work/$name.out" 2>&1) || ran=$?
  if [ $ran -eq $expected ]; then
    echo "ok      $name"
  else
    echo "FAILED  $name: exit status $ran, expected $expected (99: memcheck found errors); see $work/$name.*"
    status=1
  fi
done
stop_fixtures
trap - EXIT
for log in "$work"/*.memcheck.*.log; do
  if ! grep -q "ERROR SUMMARY: 0 errors" "$log"; then
    echo "FAILED  memcheck: $log"
    grep -A12 "definitely lost in\|indirectly lost in\|Invalid\|uninitialised\|ERROR SUMMARY" "$log" | head -60
    status=1
  fi
done
echo "memcheck over the examples: $(($(date +%s) - started)) s, $(ls "$work"/*.memcheck.*.log | wc -l) processes"
if [ $status -eq 0 ]; then
  rm -rf "$work"
  echo PASSED
else
  echo "FAILED (logs in $work)"
fi
exit $status
