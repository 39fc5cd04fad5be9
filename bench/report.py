#!/usr/bin/env python3
"""Builds the table of the benchmark run: our MB/s (or ns) beside the
anchor of the same run and their ratio. Arguments: the Google Benchmark JSON
output, the anchors' JSON, the markdown file to write. Prints the table too.
"""
import datetime
import json
import subprocess
import sys


def our_results(path):
    """run name -> entry; the median of repetitions when there are any."""
    results = {}
    for entry in json.load(open(path))["benchmarks"]:
        name = entry["run_name"].split("/iterations:")[0]
        if entry.get("run_type") == "aggregate":
            if entry.get("aggregate_name") == "median":
                results[name] = entry
        else:
            results.setdefault(name, entry)
    return results


def mbps(entry):
    return entry["bytes_per_second"] / 1e6 if entry and "bytes_per_second" in entry else None


def nanoseconds(entry):
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[entry["time_unit"]]
    return entry["cpu_time"] * scale


def fmt(value, unit):
    return "%.1f %s" % (value, unit) if isinstance(value, float) else str(value)


def rows(ours, anchors):
    def rate_row(case, name, anchor_label, anchor):
        mine = mbps(ours.get(name))
        ratio = "%.3g×" % (mine / anchor) if mine and isinstance(anchor, float) else "—"
        return [case, fmt(mine, "MB/s"), anchor_label, fmt(anchor, "MB/s") if anchor is not None else "—", ratio]

    table = []
    for count, label in (("1", "one text"), ("4", "four texts")):
        for tool in ("pexpect", "Tcl Expect"):
            table.append(rate_row('"waitfor" after 64 MiB of noise, %s' % label, "waitfor/texts/" + count,
                                  tool + " (maxread/match_max 65536)", anchors.get("waitfor/%s/%s" % (count, tool))))
    table.append(rate_row('"scanf" of 800,000 integers, "%d" each', "scanf/integers", "Python split + int",
                          anchors.get("scanf/python split+int")))
    memcpy = mbps(ours.get("send/memcpy"))
    table.append(rate_row("formatter over 64 KiB of plain text", "send/formatter", "memcpy", memcpy))
    table.append(rate_row('"send" of 64 KiB over loop-back (echo sunk)', "send/action", "memcpy", memcpy))
    table.append(rate_row("sendFile + compareFile of 64 MiB over loop-back", "file/loopback", "—", None))
    count = nanoseconds(ours["ExecuteAction/GetActionCount"])
    for arg, label in (("1", "a host that discards the lines"), ("0", "no host")):
        spent = nanoseconds(ours["ExecuteAction/logdata/host/" + arg])
        table.append(['ExecuteAction of "logdata true", %s' % label, "%.1f ns" % spent,
                      "GetActionCount", "%.1f ns" % count, "%.0f× the time" % (spent / count)])
    for chunk in ("65536", "80", "1"):
        held = ours["queue/chunk/" + chunk].get("held_per_byte")
        table.append(["receive queue, %s-byte chunks" % chunk, "%.2f× the bytes queued" % held, "—", "—", "—"])
    return table


def command(*words):
    return subprocess.run(words, capture_output=True, text=True).stdout.strip()


def machine():
    model = "unknown"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return [("Date", datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")),
            ("Machine", command("uname", "-a")), ("Processors", command("nproc")), ("CPU", model)]


def main(bench_json, anchors_json, out_path):
    table = rows(our_results(bench_json), json.load(open(anchors_json)))
    header = ["case", "ours", "anchor (same run)", "anchor", "ratio"]
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(row) + " |" for row in table]
    print("\n".join(lines))
    with open(out_path, "w") as out:
        out.write("# Benchmarks\n\nWritten by `sh tools/bench.sh` (the linux-release build). Rates are bytes per "
                  "CPU second of the measuring process, the median of three repetitions; the anchors are "
                  "measured in the same run over the same bytes. Throughput figures are for comparison within "
                  "one run: the machine may be shared. The memcpy anchor copies 64 KiB that stay in the processor's cache.\n\n")
        out.writelines("- %s: %s\n" % item for item in machine())
        out.write("\n" + "\n".join(lines) + "\n")


if __name__ == "__main__":
    main(*sys.argv[1:4])
