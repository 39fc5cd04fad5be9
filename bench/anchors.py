#!/usr/bin/env python3
"""The outside anchors of the benchmarks, over the files the benchmark
program wrote: Python's split + int over the numbers, and a search for the
waited text after the noise by pexpect and by Tcl Expect, for one text and
for four. Prints one JSON object: case -> MB/s (median of three runs, per
CPU second, as the benchmarks report), or a text saying why it could not run.
"""
import json
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

WAITED = "READY"
OTHERS = ["ERROR", "FAULT", "ABORT"]
RUNS = 3


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def median_rate(size, measure):
    seconds = [measure() for _ in range(RUNS)]
    return size / statistics.median(seconds) / 1e6


def split_and_int(path):
    with open(path, "rb") as f:
        data = f.read()

    def measure():
        start = time.process_time()
        total = sum(map(int, data.split()))
        elapsed = time.process_time() - start
        assert total != 0
        return elapsed
    return median_rate(len(data), measure)


def texts(count):
    return OTHERS[:count - 1] + [WAITED]


def pexpect_search(path, count):
    import pexpect

    def measure():
        start = time.process_time()
        child = pexpect.spawn("cat", [path], maxread=65536, timeout=None, encoding=None)
        child.expect_exact([t.encode() for t in texts(count)])
        elapsed = time.process_time() - start
        child.close()
        return elapsed
    return median_rate(os.path.getsize(path), measure)


def expect_search(path, count):
    if not shutil.which("expect"):
        raise RuntimeError("the expect command is not installed")
    patterns = " ".join('-exact "%s" {}' % t for t in texts(count))
    script = "log_user 0\nmatch_max 65536\nset timeout -1\nspawn cat %s\nexpect { %s }\n" % (path, patterns)
    with tempfile.NamedTemporaryFile("w", suffix=".exp", delete=False) as f:
        f.write(script)

    def measure():
        start = children_cpu()
        subprocess.run(["expect", f.name], check=True)
        return children_cpu() - start
    try:
        return median_rate(os.path.getsize(path), measure)
    finally:
        os.unlink(f.name)


def main(folder):
    noise = os.path.join(folder, "noise.txt")
    numbers = os.path.join(folder, "numbers.txt")
    cases = {
        "scanf/python split+int": lambda: split_and_int(numbers),
        "waitfor/1/pexpect": lambda: pexpect_search(noise, 1),
        "waitfor/4/pexpect": lambda: pexpect_search(noise, 4),
        "waitfor/1/Tcl Expect": lambda: expect_search(noise, 1),
        "waitfor/4/Tcl Expect": lambda: expect_search(noise, 4),
    }
    results = {}
    for name, run in cases.items():
        try:
            results[name] = run()
        except Exception as error:  # an anchor that cannot run is reported, not fatal
            results[name] = "not run: %s" % (error or type(error).__name__)
        print("anchor %s: %s" % (name, results[name]), file=sys.stderr)
    print(json.dumps(results))


if __name__ == "__main__":
    main(sys.argv[1])
