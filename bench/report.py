"""Turns the raw results bench/run gathered in one folder into one table on standard output and
the same figures as JSON. Targets are reported, never enforced.

    python3 bench/report.py RAW_FOLDER RESULTS_JSON
"""

import json
import math
import pathlib
import sys

MEBIBYTE = 1024 * 1024

# Timing runs by raw file name, in table order.
TIMING = [
    ("timing-lowered", "transfer, timer slack lowered"),
    ("timing-default", "transfer, system timer slack"),
    ("timing-bare", "bare clock_nanosleep loop"),
    ("timing-mido", "mido MidiFile.play()"),
]

JACK_PERIODS = (32, 256, 1024)
JACK_LOADS = ("idle", "loaded")


def load_raw(raw, name):
    path = raw / (name + ".json")
    return json.loads(path.read_text()) if path.exists() else None


def rank(values, fraction):
    """Nearest-rank percentile of sorted values."""
    return values[max(0, math.ceil(fraction * len(values)) - 1)]


def summary(late):
    late = sorted(late)
    return {
        "n": len(late),
        "early": sum(1 for value in late if value < 0),
        "min_ms": late[0],
        "median_ms": rank(late, 0.5),
        "p99_ms": rank(late, 0.99),
        "max_ms": late[-1],
    }


def lateness(gaps):
    """Per requested delay in ms: count, early sends and lateness in ms."""
    classes = {}
    for delay_ms, gap_ns in gaps:
        classes.setdefault(delay_ms, []).append(gap_ns / 1e6 - delay_ms)
    return {str(delay_ms): summary(late) for delay_ms, late in sorted(classes.items())}


def met_timing_goal(f):
    return f["early"] == 0 and f["median_ms"] <= 0.1 and f["p99_ms"] <= 1


def ratio(numerator, denominator):
    return numerator / denominator if denominator > 0 and numerator > 0 else None


class Table:
    def __init__(self):
        self.rows = []

    def add(self, benchmark, case, value, target=""):
        self.rows.append((benchmark, case, value, target))

    def print(self):
        header = ("Benchmark", "Case", "Value", "Target")
        widths = [max(len(row[i]) for row in self.rows + [header]) for i in range(4)]
        line = lambda row: "  ".join(cell.ljust(width) for cell, width in zip(row, widths))
        print(line(header).rstrip())
        print("  ".join("-" * width for width in widths))
        for row in self.rows:
            print(line(row).rstrip())


def verdict(met):
    return "met" if met else "MISSED"


def timing(raw, table, results):
    runs = {}
    for name, label in TIMING:
        data = load_raw(raw, name)
        if data is None:
            continue
        figures = lateness(data["gaps"])
        runs[name] = figures
        results["timing"][name] = {"label": label, "slack_ns": data.get("slack_ns"),
                                   "classes": figures}
        slack = f" ({data['slack_ns'] / 1000:g} us)" if data.get("slack_ns") else ""
        for delay, f in figures.items():
            value = (f"n={f['n']:4} early={f['early']:3} min={f['min_ms']:8.3f} "
                     f"med={f['median_ms']:8.3f} p99={f['p99_ms']:8.3f} max={f['max_ms']:8.3f} ms")
            target = ""
            if name == "timing-lowered":
                target = verdict(met_timing_goal(f)) + " (early 0, med<=0.1, p99<=1)"
            elif f["early"]:
                target = "early sends"
            table.add("1-3 lateness", f"{label}{slack}, {delay:>3}" + (" ms" if delay != "all" else ""),
                      value, target)
    lowered, mido = runs.get("timing-lowered"), runs.get("timing-mido")
    if lowered and mido:
        for delay in lowered:
            m, t = mido[delay], lowered[delay]
            medians = ratio(m["median_ms"], t["median_ms"])
            p99s = ratio(m["p99_ms"], t["p99_ms"])
            results["timing"]["mido_over_transfer"][delay] = {"median": medians, "p99": p99s}
            text = lambda r: f"{r:6.2f}x" if r is not None else "   n/a "
            lower = (medians or 0) > 1 and (p99s or 0) > 1
            table.add("2 mido/transfer", f"{delay:>3} ms",
                      f"median {text(medians)}  p99 {text(p99s)}  (mido early {m['early']})",
                      verdict(t["early"] == 0 and lower) + " (lower median and p99)"
                      + ("; mido sends early" if m["early"] else ""))


def jack(raw, table, results):
    """Gap - delay at the receiver, in its own frames: each message against the one before."""
    for load in JACK_LOADS:
        for period in JACK_PERIODS:
            name = f"timing-jack-{period}-{load}"
            data = load_raw(raw, name)
            if data is None:
                continue
            rate = data["rate"]
            off = sorted(frames - delay_ms * rate / 1000 for delay_ms, frames in data["gaps"])
            if not off:
                continue
            within = sum(1 for value in off if abs(value) <= 1) / len(off)
            f = {"n": len(off), "early": sum(1 for value in off if value < 0),
                 "median_frames": rank(off, 0.5), "p99_frames": rank(off, 0.99),
                 "max_frames": off[-1], "within_one_frame": within,
                 "arrived": data["arrived"], "expected": data["expected"], "lost": data["lost"],
                 "completed": data["completed"]}
            results["jack"][name] = f
            table.add("3 JACK gap-delay", f"jackd -S dummy, {period:4} frames, {load}",
                      f"n={f['n']:4} early={f['early']:3} med={f['median_frames']:6.1f} "
                      f"p99={f['p99_frames']:7.1f} max={f['max_frames']:7.1f} frames, "
                      f"{within * 100:6.2f} % within 1 frame; {data['arrived']}/{data['expected']} "
                      f"arrived",
                      verdict(f["early"] == 0 and within >= 0.99) + " (early 0, >= 99 % within 1)")


def pace(raw, table, results):
    for factor in (1, 2, 4):
        data = load_raw(raw, f"pace-{factor}")
        if data is None:
            continue
        over = data["wall_s"] - data["estimate_s"]
        results["pace"][str(factor)] = dict(data, over_s=over)
        table.add("3b pace", f"{factor}x slower, 2 files x 20 x 20 ms",
                  f"took {data['wall_s']:.3f} s, estimate {data['estimate_s']:.3f} s "
                  f"({over * 1000:+.1f} ms)",
                  verdict(0 <= over < 0.05 * data["estimate_s"]) + " (not sooner, within 5 %)")


def waiting(raw, table, results):
    data = load_raw(raw, "waiting")
    if data is None:
        return
    cpu = data["user_s"] + data["system_s"]
    share = cpu / data["wall_s"]
    results["waiting"] = dict(data, cpu_per_wall_s=share)
    table.add("4 waiting", "100 x 100 ms",
              f"{cpu * 1000:.2f} ms CPU in {data['wall_s']:.2f} s = {share * 100:.3f} % of a core; "
              f"switches {data['voluntary']} voluntary, {data['involuntary']} involuntary",
              verdict(share < 0.01) + " (< 1 %)")


def memory(raw, table, results):
    for name, label, bound in (("memory-five", "5 x 50 MiB", 1.3), ("memory-one", "1 x 250 MiB", None)):
        data = load_raw(raw, name)
        if data is None:
            continue
        above = (data["peak_kib"] - data["baseline_kib"]) * 1024
        factor = above / data["largest_bytes"]
        results["memory"][name] = dict(data, above_baseline_bytes=above, over_largest=factor)
        target = verdict(factor < bound) + f" (< {bound} x largest)" if bound else ""
        table.add("5 memory", label,
                  f"peak {above / MEBIBYTE:.1f} MiB above baseline {data['baseline_kib'] / 1024:.1f} MiB"
                  f" = {factor:.3f} x largest file ({data['largest_bytes'] / MEBIBYTE:.1f} MiB)",
                  target)


def reader(raw, table, results):
    data = load_raw(raw, "reader")
    if data is None:
        return
    for run in data["benchmarks"]:
        mb = run["bytes_per_second"] / 1e6
        records = run["records"]
        results["reader"][run["name"]] = {"MB_per_s": mb, "records_per_s": records,
                                          "real_time_ms": run["real_time"]}
        table.add("6 reader", run["name"] + ", 64 MiB image",
                  f"{mb:8.1f} MB/s  {records / 1e6:6.2f} M records/s")


def alsa(raw, table, results):
    data = load_raw(raw, "alsa")
    if data is None:
        return
    results["alsa"] = data
    wire = data["wire"]
    table.add("7 alsa", "sample update, serial wire",
              f"took {wire['send_s']:.1f} s: delays {wire['delays_s']:.1f} s + bytes on the wire "
              f"{wire['wire_bytes_s']:.1f} s")
    for line in wire["report"]:
        if line.startswith(("bytes:", "that silence", "messages that met")):
            table.add("7 alsa", "", line)
    for run in data["slow"]:
        table.add("7 alsa", f"{run['bytes'] // 1024} KiB, {run['ms_per_event']} ms an event",
                  f"received in {run['until_received_s']:.1f} s",
                  "LOST messages" if run["lost"] else "whole")


def main(raw, out):
    raw = pathlib.Path(raw)
    results = {"timing": {"mido_over_transfer": {}}, "jack": {}, "pace": {}, "memory": {},
               "reader": {}}
    table = Table()
    timing(raw, table, results)
    jack(raw, table, results)
    pace(raw, table, results)
    waiting(raw, table, results)
    memory(raw, table, results)
    reader(raw, table, results)
    alsa(raw, table, results)
    table.print()
    pathlib.Path(out).write_text(json.dumps(results, indent=2) + "\n")


if __name__ == "__main__":
    main(*sys.argv[1:])
