#!/usr/bin/env python3
"""The whole-link cases over TCP on 127.0.0.1, ours and their anchors in
one run, against one echo peer (bench/EchoPeer.cpp, outside every measured
process), in wall time:
- a 64 MiB file sent and its echo compared: "sendFile" + "compareFile" of
  the serial tester; a Python socket script (the file sent whole by one
  thread, the echo compared with the file in 2048-byte reads); socat moving
  the file to the peer and the echo into cmp, which compares it with the file;
  and, to show the link's own share, "sendFile" alone with the echo sunk;
- a 16-byte "send" + "waitfor" round trip: the serial tester; a bare Python
  socket client; Tcl Expect over `spawn -open [socket ...]`.
The contenders take turns, so that a busy machine weighs on all alike.
Arguments: the folder of the benchmark data (noise.txt), the folder of the
varnel_linkbench and varnel_echo_peer programs. Prints one JSON object:
case -> seconds (file, median of five runs) or microseconds (round trip,
median over the round trips), or a text saying why it could not run.
"""
import json
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

FILE_BYTES = 64 << 20
FILE_RUNS = 5
ROUND_TRIPS = 2000
WARM_UP = 200
READ_BYTES = 2048


def round_trip_text(number):
    return b"rt%014d" % number


def python_file(port, path):
    start = time.perf_counter()
    with socket.create_connection(("127.0.0.1", port)) as connection, open(path, "rb") as expected:
        def send_file():
            with open(path, "rb") as f:
                connection.sendfile(f)
        sender = threading.Thread(target=send_file)
        sender.start()
        position = 0
        while position < FILE_BYTES:
            chunk = connection.recv(READ_BYTES)
            if not chunk or chunk != expected.read(len(chunk)):
                raise RuntimeError("the echo differs at %d" % position)
            position += len(chunk)
        sender.join()
    return time.perf_counter() - start


def socat_file(port, path):
    if not shutil.which("socat"):
        raise RuntimeError("the socat command is not installed")
    start = time.perf_counter()
    subprocess.run("socat OPEN:%s,rdonly!!STDOUT TCP:127.0.0.1:%d | cmp - %s" % (path, port, path),
                   shell=True, check=True)
    return time.perf_counter() - start


def ours_file(programs, port, path, mode="file"):
    result = subprocess.run([os.path.join(programs, "varnel_linkbench"), mode, str(port), path, "1"],
                            check=True, capture_output=True, text=True)
    return json.loads(result.stdout)["seconds"][0]


def python_round_trips(port):
    times = []
    with socket.create_connection(("127.0.0.1", port)) as connection:
        for number in range(WARM_UP + ROUND_TRIPS):
            text = round_trip_text(number)
            start = time.perf_counter()
            connection.sendall(text)
            echoed = b""
            while len(echoed) < len(text):
                part = connection.recv(len(text) - len(echoed))
                if not part:
                    raise RuntimeError("the peer closed the connection")
                echoed += part
            if number >= WARM_UP:
                times.append(time.perf_counter() - start)
            if echoed != text:
                raise RuntimeError("the echo differs")
    return statistics.median(times) * 1e6


def expect_round_trips(port):
    if not shutil.which("expect"):
        raise RuntimeError("the expect command is not installed")
    script = """log_user 0
set timeout 60
spawn -open [socket 127.0.0.1 %d]
set times {}
for {set i 0} {$i < %d} {incr i} {
    set text [format "rt%%014d" $i]
    set start [clock microseconds]
    send -- $text
    expect {
        -exact $text {}
        timeout { exit 1 }
        eof { exit 1 }
    }
    if {$i >= %d} { lappend times [expr {[clock microseconds] - $start}] }
}
puts [lindex [lsort -integer $times] [expr {[llength $times] / 2}]]
""" % (port, WARM_UP + ROUND_TRIPS, WARM_UP)
    with tempfile.NamedTemporaryFile("w", suffix=".exp", delete=False) as f:
        f.write(script)
    try:
        result = subprocess.run(["expect", f.name], check=True, capture_output=True, text=True)
        return float(result.stdout.split()[-1])
    finally:
        os.unlink(f.name)


def ours_round_trips(programs, port):
    result = subprocess.run([os.path.join(programs, "varnel_linkbench"), "roundtrip", str(port), str(ROUND_TRIPS),
                             str(WARM_UP)], check=True, capture_output=True, text=True)
    return json.loads(result.stdout)["median_us"]


def write_file(data_folder, path):
    with open(os.path.join(data_folder, "noise.txt"), "rb") as noise, open(path, "wb") as out:
        out.write(noise.read(FILE_BYTES))


class EchoPeer:
    """The peer runs until its standard input closes."""

    def __init__(self, programs):
        self.process = subprocess.Popen([os.path.join(programs, "varnel_echo_peer")], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)
        self.port = int(self.process.stdout.readline())

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=30)


def attempt(results, name, measure):
    """Runs one measurement; an anchor that cannot run is reported, not fatal."""
    if isinstance(results.get(name), str):
        return
    try:
        results.setdefault(name, []).append(measure())
    except Exception as error:
        results[name] = "not run: %s" % (error or type(error).__name__)


def main(data_folder, programs):
    path = os.path.join(data_folder, "link-file.bin")
    write_file(data_folder, path)
    peer = EchoPeer(programs)
    runs = {}
    try:
        for _ in range(FILE_RUNS):
            attempt(runs, "file/ours", lambda: ours_file(programs, peer.port, path))
            attempt(runs, "file/python", lambda: python_file(peer.port, path))
            attempt(runs, "file/socat", lambda: socat_file(peer.port, path))
            attempt(runs, "file/ours, echo sunk", lambda: ours_file(programs, peer.port, path, "sunkfile"))
        attempt(runs, "roundtrip/ours", lambda: ours_round_trips(programs, peer.port))
        attempt(runs, "roundtrip/python", lambda: python_round_trips(peer.port))
        attempt(runs, "roundtrip/Tcl Expect", lambda: expect_round_trips(peer.port))
    finally:
        peer.close()
        os.unlink(path)
    results = {name: value if isinstance(value, str) else statistics.median(value) for name, value in runs.items()}
    for name, value in results.items():
        print("link %s: %s" % (name, value), file=sys.stderr)
    print(json.dumps(results))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
