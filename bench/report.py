#!/usr/bin/env python3
"""Builds the table of the benchmark run: our MB/s (or ns) beside the
anchor of the same run and their ratio. Arguments: the Google Benchmark JSON
output, the anchors' JSON, the markdown file to write and, optionally, the
JSON of the whole-link cases (bench/linkbench.py). Prints the table too.
"""
import datetime
import json
import subprocess
import sys

FILE_BYTES = 64 << 20  # the file of the whole-link cases


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


def link_rows(link):
    """The whole-link cases over TCP: file rates in MB/s (higher is better),
    round trips in microseconds (lower is better)."""
    def rate(seconds):
        return FILE_BYTES / seconds / 1e6 if isinstance(seconds, float) else seconds

    def file_row(label, anchor_label, anchor):
        mine, theirs = rate(link.get("file/ours")), rate(link.get(anchor))
        ratio = "%.3g×" % (mine / theirs) if isinstance(mine, float) and isinstance(theirs, float) else "—"
        return [label, fmt(mine, "MB/s"), anchor_label, fmt(theirs, "MB/s"), ratio]

    def round_trip_row(anchor_label, anchor):
        mine, theirs = link.get("roundtrip/ours"), link.get(anchor)
        ratio = "%.2f× the time" % (mine / theirs) if isinstance(mine, float) and isinstance(theirs, float) else "—"
        return ['"send" + "waitfor" of 16 bytes over TCP to an echo peer (median)', fmt(mine, "µs"), anchor_label,
                fmt(theirs, "µs"), ratio]

    label = '"sendFile" + "compareFile" of 64 MiB over TCP to an echo peer'
    return [file_row(label, "Python socket script (2048-byte reads)", "file/python"),
            file_row(label, "socat into cmp", "file/socat"),
            ['"sendFile" of 64 MiB over TCP, echo sunk (the link alone)', fmt(rate(link.get("file/ours, echo sunk")), "MB/s"),
             "—", "—", "—"],
            round_trip_row("bare Python socket client", "roundtrip/python"),
            round_trip_row("Tcl Expect (spawn -open socket)", "roundtrip/Tcl Expect")]


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


def main(bench_json, anchors_json, out_path, link_json=None):
    table = rows(our_results(bench_json), json.load(open(anchors_json)))
    if link_json:
        table += link_rows(json.load(open(link_json)))
    header = ["case", "ours", "anchor (same run)", "anchor", "ratio"]
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(row) + " |" for row in table]
    print("\n".join(lines))
    with open(out_path, "w") as out:
        out.write("# Benchmarks\n\nWritten by `sh tools/bench.sh` (the linux-release build). Rates are bytes per "
                  "CPU second of the measuring process, the median of three repetitions; the anchors are "
                  "measured in the same run over the same bytes. The cases over TCP are wall time against one "
                  "echo peer on 127.0.0.1 (files: the median of five runs; round trips: the median of 2,000), "
                  "their anchors taking turns with them. Throughput figures are for comparison within "
                  "one run: the machine may be shared. The memcpy anchor copies 64 KiB that stay in the processor's cache.\n\n")
        out.writelines("- %s: %s\n" % item for item in machine())
        out.write("\n" + "\n".join(lines) + "\n")


if __name__ == "__main__":
    main(*sys.argv[1:5])
