# Bounded waits for the shell tests that run our host in the background, and
# the check of how it ended; sourced by them. Each fails the test (exit 1).

# await_output FILE REGEX [PID]: until FILE has a line matching REGEX, at
# most 30 s; on failure PID, when given, is killed and FILE shown.
await_output() {
  tries=0
  until grep -q -E -- "$2" "$1"; do
    tries=$((tries + 1))
    if [ $tries -gt 300 ]; then
      [ -n "${3:-}" ] && kill -KILL "$3" 2>/dev/null
      cat "$1"
      echo "FAIL: no line matching '$2' within 30 s"
      exit 1
    fi
    sleep 0.1
  done
}

# await_exit PID FILE: until PID has ended by itself, at most 60 s; on
# failure it is killed and FILE shown.
await_exit() {
  tries=0
  while kill -0 "$1" 2>/dev/null; do
    tries=$((tries + 1))
    if [ $tries -gt 600 ]; then
      kill -KILL "$1"
      cat "$2"
      echo "FAIL: still running after 60 s"
      exit 1
    fi
    sleep 0.1
  done
}

# finish PID FILE EXPECTED-STATUS PATTERN...: waits for PID as await_exit
# does and shows FILE; fails unless PID's exit status is EXPECTED-STATUS and
# every PATTERN (an extended regular expression) matches a line of FILE.
finish() {
  pid=$1 file=$2 expected=$3
  shift 3
  await_exit "$pid" "$file"
  wait "$pid"
  status=$?
  cat "$file"
  [ "$status" = "$expected" ] || { echo "FAIL: exit status $status, expected $expected"; exit 1; }
  for pattern in "$@"; do
    grep -q -E -- "$pattern" "$file" || { echo "FAIL: no line matches: $pattern"; exit 1; }
  done
}
