#!/usr/bin/env python3
"""Writes docs/BENCHMARKS.md and its latency plot from one run of bench/system/run.sh.

    report.py RESULTS_JSON LOAD_LOG MARKDOWN PNG COMMAND

RESULTS_JSON comes from system_bench, LOAD_LOG is the output of the full-size load and fault
tests. The plot is drawn with ImageMagick's convert (no plotting library needed).
"""
import datetime
import json
import math
import os
import platform
import subprocess
import sys

BARS = {1000: 10.0, 10000: 100.0}  # p99 bars, ms


def machine():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem_kib = int(f.readline().split()[1])
    return "%s, %d cores, %.0f GiB RAM, Linux %s" % (
        model, os.cpu_count(), mem_kib / 1048576, platform.release())


def plot(sizes, png):
    width, height = 900, 560
    left, right, top, bottom = 90, 60, 50, 70
    xs = [s["n"] for s in sizes]
    ys = [s[k][q] for s in sizes for k in ("server_change", "client_request")
          for q in ("p50_ms", "p99_ms", "max_ms")] + list(BARS.values())
    ymin = 10 ** math.floor(math.log10(max(min(y for y in ys if y > 0), 0.01)))
    ymax = 10 ** math.ceil(math.log10(max(ys) * 1.01))  # a bar never on the top edge
    xmin, xmax = 10 ** math.floor(math.log10(min(xs))), 10 ** math.ceil(math.log10(max(xs)))
    if xmax == xmin:
        xmax = xmin * 10

    def px(x):
        return left + (math.log10(x) - math.log10(xmin)) / (
            math.log10(xmax) - math.log10(xmin)) * (width - left - right)

    def py(y):
        return height - bottom - (math.log10(y) - math.log10(ymin)) / (
            math.log10(ymax) - math.log10(ymin)) * (height - top - bottom)

    draw = ["-stroke", "gray80", "-strokewidth", "1"]
    labels = []
    decade = xmin
    while decade <= xmax:
        draw += ["-draw", "line %.1f,%d %.1f,%d" % (px(decade), top, px(decade), height - bottom)]
        labels.append((px(decade) - 16, height - bottom + 22, "{:,}".format(int(decade))))
        decade *= 10
    decade = ymin
    while decade <= ymax * 1.0001:
        draw += ["-draw", "line %d,%.1f %d,%.1f" % (left, py(decade), width - right, py(decade))]
        labels.append((12, py(decade) + 5, ("%g ms" % decade)))
        decade *= 10
    series = [("server_change", "p99_ms", "blue", "sound-server change, p99"),
              ("server_change", "p50_ms", "lightblue", "sound-server change, p50"),
              ("client_request", "p99_ms", "darkgreen", "client request, p99"),
              ("client_request", "p50_ms", "lightgreen", "client request, p50")]
    for key, q, colour, _ in series:
        points = [(px(s["n"]), py(max(s[key][q], ymin))) for s in sizes]
        draw += ["-stroke", colour, "-strokewidth", "3", "-fill", "none"]
        # Segment by segment: ImageMagick's polyline also strokes a closing edge here.
        for (x0, y0), (x1, y1) in zip(points, points[1:]):
            draw += ["-draw", "line %.1f,%.1f %.1f,%.1f" % (x0, y0, x1, y1)]
        for s in sizes:
            draw += ["-fill", colour, "-draw", "circle %.1f,%.1f %.1f,%.1f" % (
                px(s["n"]), py(max(s[key][q], ymin)), px(s["n"]) + 4, py(max(s[key][q], ymin)))]
    for n, bar in BARS.items():
        if xmin <= n <= xmax:
            draw += ["-stroke", "red", "-strokewidth", "2", "-draw",
                     "line %.1f,%.1f %.1f,%.1f" % (px(n) - 25, py(bar), px(n) + 25, py(bar))]
            labels.append((px(n) - 190, py(bar) + 22, "bar: p99 < %g ms" % bar))
    text = ["-stroke", "none", "-fill", "black", "-undercolor", "white", "-font", "DejaVu-Sans",
            "-pointsize", "14"]
    for x, y, label in labels:
        text += ["-draw", "text %.1f,%.1f '%s'" % (x, y, label)]
    text += ["-pointsize", "16", "-draw",
             "text %d,30 'Change to state byte at every client, against the number of clients'"
             % left]
    text += ["-pointsize", "14", "-draw",
             "text %d,%d 'clients connected (log)'" % (width // 2 - 80, height - 20)]
    for i, (_, _, colour, name) in enumerate(series):
        text += ["-fill", colour, "-draw", "text %d,%d '%s'" % (left + 15, top + 20 + 18 * i,
                                                               name)]
    subprocess.run(["convert", "-size", "%dx%d" % (width, height), "xc:white"] + draw + text +
                   [png], check=True)


def fault_results(load_log):
    """(test, result, the figure line it printed) for every test in the log."""
    results, figure = [], ""
    with open(load_log) as f:
        for line in f:
            line = line.rstrip()
            if line.startswith("[       OK ]") or line.startswith("[  FAILED  ]"):
                parts = line.split("]", 1)[1].split()
                if not parts or "(" not in line:
                    continue  # the summary lines
                name = parts[0].split(".")[-1]
                results.append((name, "passed" if "OK" in line else "**failed**", figure))
                figure = ""
            elif line and not line.startswith(("[", "Running", "Note:", "/")):
                figure = line
    return results


def load_note(results):
    load = results.get("loadavg_at_start")
    if load is None or load < 0:
        return ""
    return " The one-minute load average when the run began was %.2f." % load


def verdict(ok):
    return "meets the bar" if ok else "**misses the bar**"


def kept_sections(markdown):
    """Sections other benchmarks write into the same document (bench/peers/report.py,
    bench/idle/wakeups.py)."""
    try:
        with open(markdown) as f:
            text = f.read()
    except FileNotFoundError:
        return ""
    kept = ""
    for heading in ("## Against MPD", "## Idle wake-ups"):
        start = text.find("\n%s\n" % heading)
        if start < 0:
            continue
        end = text.find("\n## ", start + 1)
        kept += "\n" + text[start + 1:end + 1 if end >= 0 else len(text)]
    return kept


def main():
    results_path, load_log, markdown, png, command = sys.argv[1:6]
    with open(results_path) as f:
        results = json.load(f)
    sizes = results["sizes"]
    plot(sizes, png)
    with open(load_log) as f:
        load_lines = [l.rstrip() for l in f if l.strip() and not l.startswith(("[", "Running",
                                                                               "Note:"))]
    out = []
    out.append("# Benchmarks\n")
    revision = subprocess.run(["git", "describe", "--always"], capture_output=True,
                              text=True).stdout.strip() or "unknown"
    # Changes to what was measured, not to the documents this run writes.
    if subprocess.run(["git", "diff", "--quiet", "HEAD", "--", ".", ":(exclude)docs"]).returncode:
        revision += "-dirty"
    out.append("Measured by one command, `%s`, at revision `%s`, on %s, %s UTC.\n" % (
        command, revision, machine(), datetime.datetime.utcnow().strftime("%Y-%m-%d %H:%M")))
    out.append("The real `quavix-server` runs with the endpoint backend on a private PulseAudio "
               "null sink (`tests/fixtures/with-sound-server.sh`); `system_bench` holds the "
               "clients on loopback with one epoll thread and changes the volume through a "
               "libpulse client of its own. Latency is timed from the request (to the sound "
               "server, or the byte sent by one more client) to the moment the kernel queued "
               "the state byte on each client's socket (its receive timestamp), over every "
               "client and round; the last column gives the p99 of the moment the swarm's one "
               "thread got round to reading it. The swarm, the sound server and the server under "
               "test share the machine's cores; the swarm's thread runs at nice 10, so that, like "
               "clients on other machines, it does not take the cores from the server while a "
               "broadcast is under way.%s\n" % load_note(results))
    out.append("![Latency against the number of clients](benchmarks/latency.png)\n")
    out.append("## Change to state byte\n")
    out.append("| clients | path | p50 ms | p99 ms | max ms | samples | missed | p99 read ms |")
    out.append("|---:|---|---:|---:|---:|---:|---:|---:|")
    for s in sizes:
        for key, name in (("server_change", "sound-server change"),
                          ("client_request", "client request")):
            l = s[key]
            read = s.get(key + "_read")
            out.append("| {:,} | {} | {:.2f} | {:.2f} | {:.2f} | {:,} | {} | {} |".format(
                s["n"], name, l["p50_ms"], l["p99_ms"], l["max_ms"], l["samples"],
                l["missed"], "%.2f" % read["p99_ms"] if read else ""))
    out.append("")
    out.append("## Clients held, memory, accept rate\n")
    out.append("| clients | held | server threads | resident KiB | KiB per client | accepted/s |")
    out.append("|---:|---:|---:|---:|---:|---:|")
    for s in sizes:
        out.append("| {:,} | {:,} | {:,} | {:,} | {:.1f} | {:,.0f} |".format(
            s["n"], s["held"], s["threads"], s["rss_kib"], s["rss_per_client_kib"],
            s["accept_per_s"]))
    out.append("\nResident memory is the server's own (VmRSS) less its resident memory with no "
               "client (%s KiB), divided by the clients; the kernel's socket buffers are not in "
               "it.\n" % "{:,}".format(results["base_rss_kib"]))
    burst = results.get("burst")
    if burst:
        out.append("## A burst of connections\n")
        out.append("{:,} clients connect at the same moment, every connect fired in one go with "
                   "no pacing (as when every client reconnects after a restart or a port "
                   "change): {:,} greeted, the last {:,.0f} ms after the first connect.\n".format(
                       burst["clients"], burst["greeted"], burst["ms"]))
    idle = results.get("idle")
    if idle:
        out.append("## Idle\n")
        out.append("With {:,} clients connected and nothing changing, over {} s: {:.3f} % of one "
                   "core, {:.1f} wake-ups per second (context switches of all its threads; the "
                   "keep-alive every 20 s; the retry runs only while a client is held off, see "
                   "Idle wake-ups).\n".format(idle["clients"], idle["seconds"], idle["cpu_percent"],
                                   idle["wakeups_per_s"]))
    out.append("## Against the bars\n")
    by_n = {s["n"]: s for s in sizes}
    for n, bar in BARS.items():
        if n in by_n:
            p99 = max(by_n[n]["server_change"]["p99_ms"], by_n[n]["client_request"]["p99_ms"])
            out.append("- p99 at {:,} clients: {:.1f} ms against {:g} ms: {}.".format(
                n, p99, bar, verdict(p99 < bar)))
    if 10000 in by_n:
        s = by_n[10000]
        out.append("- {:,} clients held at {:.1f} KiB each against 64 KiB: {}.".format(
            s["held"], s["rss_per_client_kib"], verdict(s["held"] >= 10000 and
                                                       s["rss_per_client_kib"] <= 64)))
    if idle:
        out.append("- Idle CPU {:.3f} % of one core against 1 %: {}.".format(
            idle["cpu_percent"], verdict(idle["cpu_percent"] < 1.0)))
    if burst:
        out.append("- Burst of {:,} connects: {:,} greeted: {}.".format(
            burst["clients"], burst["greeted"], verdict(burst["greeted"] == burst["clients"])))
    out.append("- Server exit code after the run: %d." % results["server_exit"])
    if any(max(by_n[n]["server_change"]["p99_ms"], by_n[n]["client_request"]["p99_ms"]) >= bar
           for n, bar in BARS.items() if n in by_n):
        out.append("\nWhere the time goes at 1,000 clients and more: the broadcast pass, in which "
                   "each one-byte send carries the kernel's whole TCP work for it (on loopback, "
                   "the receiving side's too), shared by the server's send pool over the cores "
                   "the client swarm and the sound server also use; the tail is the clients "
                   "served last in the pass.")
    out.append("\n## Faults (full sizes)\n")
    out.append("The load and fault tests at full size (`QUAVIX_LOAD_FULL=1`), each with the "
               "figure it printed:\n")
    out.append("| test | result | figure |")
    out.append("|---|---|---|")
    for name, result, figure in fault_results(load_log):
        out.append("| %s | %s | %s |" % (name, result, figure))
    out.append("\nBars from the faults: a reading client has each final state within 600 ms of "
               "the last change (`StalledClientsWhileTheSoundServerKeepsChanging` prints the "
               "slowest reader); the server comes back on its own after the sound server "
               "restarts (back-off up to 2 s) and drops no client; under `ulimit -n 1024` it "
               "stays up, serves what it holds and accepts again once descriptors free up; "
               "churn leaves no thread, descriptor or record behind (the tests count them).\n")
    out.append("Everything the tests printed:\n")
    out.append("```")
    out.extend(load_lines)
    out.append("```\n")
    text = "\n".join(out) + "\n" + kept_sections(markdown)
    with open(markdown, "w") as f:
        f.write(text)


if __name__ == "__main__":
    main()
