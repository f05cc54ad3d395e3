#!/usr/bin/env python3
"""Writes the "Against MPD" section of docs/BENCHMARKS.md from runs of bench/peers/run.sh.

    report.py MARKDOWN INVOCATION COMMAND RUN_DIR...

INVOCATION is how bench/peers/run.sh was called, COMMAND the harness command it ran (each run
adds its own --out).

Each RUN_DIR holds one run of the peer harness: RESULTS.md and RESULTS.json as it wrote them,
and output.txt, what it printed. The rest of MARKDOWN is kept as it is; the section replaces
an earlier one, or is added at the end.
"""
import datetime
import json
import os
import re
import subprocess
import sys

HEADING = "## Against MPD"
# Ours over MPD's, same run, kernel receive stamps: (clients, percentile, at most).
TARGETS = [(10, "p50", 1.2), (100, "p99", 1.0), (1000, "p99", 0.5)]


def load_run(run_dir):
    with open(os.path.join(run_dir, "RESULTS.json")) as f:
        data = json.load(f)
    load = "unknown"
    with open(os.path.join(run_dir, "RESULTS.md")) as f:
        match = re.search(r"Load average \(1/5/15 min\) before: ([\d. ]+), after: ([\d. ]+)",
                          f.read())
    if match:
        load = "%s before, %s after" % (match.group(1).strip(), match.group(2).strip())
    with open(os.path.join(run_dir, "output.txt")) as f:
        output = [line.rstrip() for line in f if line.strip()]
    results = {(r["name"], r["n"]): r for r in data["results"]}
    return {"date": data["date"], "machine": data["machine"], "versions": data["versions"],
            "load": load, "results": results, "output": output}


def usable(result):
    return (result is not None and result.get("k_p99_ms") is not None
            and not result.get("errors") and not result.get("missed"))


def ms(value):
    return "%.2f" % value


def ratio(ours, mpd, key):
    return ours[key] / mpd[key]


def section(invocation, command, runs):
    out = [HEADING, ""]
    first = runs[0]
    m = first["machine"]
    revision = subprocess.run(["git", "describe", "--always"], capture_output=True,
                              text=True).stdout.strip() or "unknown"
    # Changes to what was measured, not to the documents a run writes.
    if subprocess.run(["git", "diff", "--quiet", "HEAD", "--", ".", ":(exclude)docs"]).returncode:
        revision += "-dirty"
    out.append(
        "Measured by `%s` at revision `%s`, on %s, %s cores, %s RAM, %s UTC. It runs the "
        "peer harness beside the repository (`../shared/peers`, not part of it), each run with "
        "its own `--out`:" % (
            invocation, revision, m["cpu"], m["nproc"], m["mem"],
            datetime.datetime.fromisoformat(first["date"]).astimezone(
                datetime.timezone.utc).strftime("%Y-%m-%d %H:%M")))
    out.append("")
    out.append("```")
    out.append(command)
    out.append("```")
    out.append("")
    out.append(
        "One private PulseAudio with a null sink; MPD (%s, PulseAudio output, its hardware "
        "mixer) and then our server, each started afresh for every size. One more client sends "
        "a change (ours: a state byte; MPD: `setvol`) 30 times, alternating 40 and 60 %%; the "
        "latency runs from just before that send to the kernel's receive stamp of the "
        "notification on each listening client (ours: the state byte; MPD: `changed: mixer` "
        "after `idle mixer`), nearest-rank over every (client, change). The harness, both "
        "servers and the sound server share the machine's cores; compare the ratios of one run, "
        "not figures across runs." % first["versions"].get("mpd", "MPD"))
    out.append("")
    out.append("| run | clients | ours p50 / p99 ms | MPD p50 / p99 ms | p50 ratio | p99 ratio "
               "| target | load average (1/5/15 min) |")
    out.append("|---:|---:|---:|---:|---:|---:|---|---|")
    verdicts = []
    for number, run in enumerate(runs, 1):
        for n in sorted({key[1] for key in run["results"]}):
            ours, mpd = run["results"].get(("ours", n)), run["results"].get(("mpd", n))
            target = next(((p, limit) for size, p, limit in TARGETS if size == n), None)
            if not (usable(ours) and usable(mpd)):
                out.append("| %d | {:,} | not measured | not measured | | | | %s |".format(n) % (
                    number, run["load"]))
                verdicts.append("run %d, {:,} clients: not measured".format(n) % number)
                continue
            p50, p99 = ratio(ours, mpd, "k_p50_ms"), ratio(ours, mpd, "k_p99_ms")
            target_text = ""
            if target:
                value = p50 if target[0] == "p50" else p99
                met = value <= target[1]
                target_text = "%s <= %.1fx: %s" % (target[0], target[1],
                                                   "met" if met else "**missed**")
                verdicts.append("run %d, {:,} clients: %s %.2fx against %.1fx, %s".format(n) % (
                    number, target[0], value, target[1], "met" if met else "missed"))
            out.append("| %d | {:,} | %s / %s | %s / %s | %.2f | %.2f | %s | %s |".format(n) % (
                number, ms(ours["k_p50_ms"]), ms(ours["k_p99_ms"]), ms(mpd["k_p50_ms"]),
                ms(mpd["k_p99_ms"]), p50, p99, target_text, run["load"]))
    out.append("")
    out.append("Targets, ours over MPD's in one run: p50 at 10 clients at most 1.2x, p99 at 100 "
               "clients at most 1.0x, p99 at 1,000 clients at most 0.5x.")
    out.append("")
    out.extend("- %s" % v for v in verdicts)
    out.append("")
    out.append("What the harness printed:")
    out.append("")
    out.append("```")
    for number, run in enumerate(runs, 1):
        if len(runs) > 1:
            out.append("# run %d" % number)
        out.extend(run["output"])
    out.append("```")
    return "\n".join(out) + "\n"


def replace_section(text, new):
    start = text.find("\n" + HEADING + "\n")
    if start < 0:
        return text.rstrip("\n") + "\n\n" + new
    start += 1
    end = text.find("\n## ", start + len(HEADING))
    rest = "" if end < 0 else text[end + 1:]
    return text[:start] + new + ("\n" + rest if rest else "")


def main():
    markdown, invocation, command, run_dirs = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    runs = []
    for run_dir in run_dirs:
        try:
            runs.append(load_run(run_dir))
        except OSError as error:
            print("skipped %s: %s" % (run_dir, error), file=sys.stderr)
    if not runs:
        sys.exit("no run to report")
    try:
        with open(markdown) as f:
            text = f.read()
    except FileNotFoundError:
        text = "# Benchmarks\n"
    with open(markdown, "w") as f:
        f.write(replace_section(text, section(invocation, command, runs)))


if __name__ == "__main__":
    main()
