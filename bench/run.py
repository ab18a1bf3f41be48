#!/usr/bin/env python3
"""How fast cmplxview does its job as the complex grows, against the transport's floor.

    python3 bench/run.py [--build DIR] [--sizes 16,64,256] [--runs 10] [--transports unix,https]
                         [--address 127.0.0.151] [--markdown FILE]

For each generated complex (examples/generate.py --cells N) kest-provider serves it on a
private Unix socket and on HTTPS at ADDRESS:5989. For each report (display-all, -C, -P,
-p 0 -V) and transport:

- requests and connections of one run, from the provider's request log, and the operations;
- the wall time of cmplxview (median of --runs runs) and of curl replaying exactly the same
  request bodies (captured with XK_CIM_TRACE) on one kept-alive connection, the two run in
  turn so that the machine's load falls on both alike; their ratio;
- the peak resident memory of cmplxview (GNU time, largest of 3 runs; it includes
  the shared libraries' pages), and over the Unix socket its heap peak (valgrind massif, heap
  and allocator overhead) and the instructions it executes (valgrind callgrind), which do not
  depend on the load of the machine.

Then kest-snapshot capturing the complex (one document to standard output) against
cmplxview display-all, the two run in turn.

Then the goals: one connection per run; wall time within 1.3x of the replay; time, requests
and memory growing no faster than the number of cells; peak memory under 16 MiB at 256 cells;
a capture in under twice the time of display-all at the largest size.
Python 3 standard library and curl.
"""

import argparse
import collections
import os
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

import benchlib

REPORTS = [("display-all", []), ("-C", ["-C"]), ("-P", ["-P"]), ("-p 0 -V", ["-p", "0", "-V"])]
OP_SHORT = {"EnumerateInstanceNames": "EIN", "EnumerateInstances": "EI", "GetInstance": "GI", "GetClass": "GC",
            "InvokeMethod": "IM", "CreateInstance": "CI", "DeleteInstance": "DI"}


def measure(args, provider, size, transport, report, report_args, work):
    cmplxview = str(Path(args.build) / "src" / "driver" / "cmplxview")
    env = dict(os.environ, XK_CIM_SOCKET=provider.socket, XK_SSL_SHARE=str(work))
    env.pop("XK_CIM_TRACE", None)
    command = [cmplxview] + report_args
    if transport == "https":
        command += ["-u", f"{benchlib.USER}:{benchlib.PASSWORD}", "-h", args.address]

    # One traced run: what it asked, on how many connections.
    trace = work / f"trace-{size}-{transport}-{report.replace(' ', '')}.txt"
    if trace.exists():
        trace.unlink()
    position = provider.log_position()
    run = subprocess.run(command, env=dict(env, XK_CIM_TRACE=str(trace)), capture_output=True, timeout=600)
    if run.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} failed ({run.returncode}): {run.stderr.decode(errors='replace')}")
    logged = provider.requests_since(position)
    requests = benchlib.parse_trace(trace)
    if len(requests) != len(logged):
        raise RuntimeError(f"trace has {len(requests)} requests, provider log {len(logged)}")
    operations = collections.Counter(OP_SHORT.get(r["op"], r["op"]) for r in logged)

    # The replay: the same bodies, by curl, on one connection; check that it is one.
    replay_dir = work / f"replay-{size}-{transport}-{report.replace(' ', '')}"
    config = benchlib.write_curl_config(requests, replay_dir, socket=provider.socket if transport == "unix" else None,
                                        https_address=args.address)
    replay = ["curl", "--silent", "--show-error", "--fail", "-K", config]
    position = provider.log_position()
    subprocess.run(replay, check=True, timeout=600)
    replayed = provider.requests_since(position)
    if len(replayed) != len(requests) or any(r["result"] != "ok" for r in replayed):
        raise RuntimeError(f"replay: {len(replayed)} requests answered of {len(requests)}")
    replay_connections = len({r["conn"] for r in replayed})

    heap = instructions = None
    if args.heap and transport == "unix":
        heap = benchlib.heap_peak_bytes(command, env, work / f"massif-{size}-{report.replace(' ', '')}.out")
        instructions = benchlib.instructions(command, env, work / f"callgrind-{size}-{report.replace(' ', '')}.out")
    cmd_time, replay_time = benchlib.interleaved_times([command, replay], args.runs, env)
    peak_kib, status = benchlib.peak_memory_kib(command, env)
    if status != 0:
        raise RuntimeError(f"{' '.join(command)} failed in the memory run")
    return {
        "size": size, "transport": transport, "report": report,
        "requests": len(logged), "connections": len({r["conn"] for r in logged}),
        "operations": dict(operations), "replay_connections": replay_connections,
        "time": cmd_time, "replay": replay_time, "ratio": cmd_time["median"] / replay_time["median"],
        "peak_kib": peak_kib, "heap_bytes": heap, "instructions": instructions, "output_bytes": len(run.stdout),
        "largest_answer": max((len(b) for _, b in benchlib.parse_trace(trace, responses=True)), default=0),
        "answer_bytes": sum(len(b) for _, b in benchlib.parse_trace(trace, responses=True)),
    }


def measure_capture(args, provider, size, transport, work):
    """kest-snapshot's capture against cmplxview display-all: wall and CPU time, in turn."""
    build = Path(args.build)
    env = dict(os.environ, XK_CIM_SOCKET=provider.socket, XK_SSL_SHARE=str(work))
    env.pop("XK_CIM_TRACE", None)
    remote = ["-u", f"{benchlib.USER}:{benchlib.PASSWORD}", "-h", args.address] if transport == "https" else []
    snapshot = [str(build / "src" / "snapshot" / "kest-snapshot")] + remote + ["-"]
    display_all = [str(build / "src" / "driver" / "cmplxview")] + remote
    capture, shown = benchlib.interleaved_times([snapshot, display_all], args.runs, env)
    return {"size": size, "transport": transport, "capture": capture, "display_all": shown,
            "ratio": capture["median"] / shown["median"]}


def capture_table(captures):
    lines = ["| cells | transport | kest-snapshot ms (median ± sd) | cmplxview display-all ms | ratio "
             "| CPU ms kest-snapshot / cmplxview |", "|---:|---|---:|---:|---:|---:|"]
    for c in captures:
        lines.append(f"| {c['size']} | {c['transport']} "
                     f"| {c['capture']['median'] * 1e3:.1f} ± {c['capture']['stddev'] * 1e3:.1f} "
                     f"| {c['display_all']['median'] * 1e3:.1f} ± {c['display_all']['stddev'] * 1e3:.1f} "
                     f"| {c['ratio']:.2f} | {c['capture']['cpu'] * 1e3:.1f} / {c['display_all']['cpu'] * 1e3:.1f} |")
    return "\n".join(lines)


def table(results):
    lines = ["| cells | transport | report | requests | conns | operations | cmplxview ms (median ± sd) "
             "| curl replay ms | ratio | CPU ms cmplxview / curl | instructions M | peak RSS MiB | heap peak MiB "
             "| largest answer KiB |",
             "|---:|---|---|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for r in results:
        ops = " ".join(f"{k} {v}" for k, v in sorted(r["operations"].items()))
        lines.append(
            f"| {r['size']} | {r['transport']} | {r['report']} | {r['requests']} | {r['connections']} | {ops} "
            f"| {r['time']['median'] * 1e3:.1f} ± {r['time']['stddev'] * 1e3:.1f} "
            f"| {r['replay']['median'] * 1e3:.1f} ± {r['replay']['stddev'] * 1e3:.1f} "
            f"| {r['ratio']:.2f} | {r['time']['cpu'] * 1e3:.1f} / {r['replay']['cpu'] * 1e3:.1f} "
            f"| {'-' if r['instructions'] is None else format(r['instructions'] / 1e6, '.1f')} "
            f"| {r['peak_kib'] / 1024:.1f} "
            f"| {'-' if r['heap_bytes'] is None else format(r['heap_bytes'] / 2**20, '.1f')} "
            f"| {r['largest_answer'] / 1024:.0f} |")
    return "\n".join(lines)


def growth(results, sizes):
    """Per report and transport: how requests, time and memory grow from each size to the next,
    beside the growth of the bytes the provider answered (the generated complexes carry more
    data per cell as they grow). Linear growth means at most the growth of the cells; 10% more is allowed for the counts of
    requests, which depend on the states the generator draws (a ValueMap lookup is one request),
    and for the noise of the times. The verdict takes the CPU time, which a loaded machine
    disturbs less than the wall time."""
    lines = ["| transport | report | step | cells × | requests × | answer bytes × | wall × | replay wall × | CPU × "
             "| instructions × | peak RSS × | heap × |",
             "|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    verdicts, per_byte = [], []
    by_key = {(r["transport"], r["report"], r["size"]): r for r in results}
    for transport in sorted({r["transport"] for r in results}):
        for report, _ in REPORTS:
            for small, large in zip(sizes, sizes[1:]):
                a, b = by_key.get((transport, report, small)), by_key.get((transport, report, large))
                if not a or not b:
                    continue
                cells = large / small
                req = b["requests"] / a["requests"]
                wall = b["time"]["median"] / a["time"]["median"]
                replay = b["replay"]["median"] / a["replay"]["median"]
                cpu = b["time"]["cpu"] / a["time"]["cpu"]
                rss = b["peak_kib"] / a["peak_kib"]
                heap = b["heap_bytes"] / a["heap_bytes"] if a["heap_bytes"] and b["heap_bytes"] else None
                ins = b["instructions"] / a["instructions"] if a["instructions"] and b["instructions"] else None
                answers = b["answer_bytes"] / a["answer_bytes"]
                lines.append(f"| {transport} | {report} | {small}→{large} | {cells:.0f} | {req:.2f} | {answers:.2f} "
                             f"| {wall:.2f} | {replay:.2f} | {cpu:.2f} | {'-' if ins is None else f'{ins:.2f}'} "
                             f"| {rss:.2f} | {'-' if heap is None else f'{heap:.2f}'} |")
                verdicts.append(max(req, cpu, rss, heap or 0) <= cells * 1.1)
                per_byte.append(max(cpu, ins or 0) <= answers * 1.1)
    return "\n".join(lines), all(verdicts), all(per_byte)


def main():
    # A stop by SIGTERM still runs the clean-up (the provider is stopped, the files removed).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(benchlib.ROOT / "build"))
    parser.add_argument("--sizes", default="16,64,256")
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--transports", default="unix,https")
    parser.add_argument("--reports", default=",".join(name for name, _ in REPORTS))
    parser.add_argument("--address", default="127.0.0.151", help="loopback address for HTTPS (port 5989)")
    parser.add_argument("--seed", default="1")
    parser.add_argument("--markdown", help="also write the tables to this file")
    parser.add_argument("--no-capture", dest="capture", action="store_false",
                        help="skip timing kest-snapshot's capture against display-all")
    parser.add_argument("--no-heap", dest="heap", action="store_false",
                        help="skip the heap peak and the instruction count (valgrind massif and callgrind, "
                             "once per size and report, Unix socket)")
    args = parser.parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]
    transports = args.transports.split(",")
    wanted = args.reports.split(",")
    provider_binary = str(Path(args.build) / "provider" / "kest-provider")
    before = benchlib.machine()
    # What loading the program and its libraries alone takes: a wrong command line, no connection.
    idle_kib, _ = benchlib.peak_memory_kib([str(Path(args.build) / "src" / "driver" / "cmplxview"), "-Q"], os.environ)
    curl_idle_kib, _ = benchlib.peak_memory_kib(["curl", "--version"], os.environ)

    results, captures = [], []
    with tempfile.TemporaryDirectory(prefix="cmplxview-bench-") as tmp:
        work = Path(tmp)
        for size in sizes:
            complex_file = work / f"complex-{size}.json"
            with open(complex_file, "w") as out:
                subprocess.run([sys.executable, str(benchlib.ROOT / "examples" / "generate.py"), "--cells", str(size),
                                "--seed", args.seed], stdout=out, check=True)
            directory = work / f"provider-{size}"
            directory.mkdir()
            provider = benchlib.Provider(provider_binary, complex_file, directory,
                                         https_address=args.address if "https" in transports else None)
            try:
                for transport in transports:
                    for report, report_args in REPORTS:
                        if report not in wanted:
                            continue
                        r = measure(args, provider, size, transport, report, report_args, work)
                        results.append(r)
                        print(f"{size:4d} {transport:5s} {report:12s} requests {r['requests']:5d} "
                              f"conns {r['connections']} time {r['time']['median'] * 1e3:8.1f} ms "
                              f"replay {r['replay']['median'] * 1e3:8.1f} ms ratio {r['ratio']:.2f} "
                              f"peak {r['peak_kib'] / 1024:.1f} MiB", flush=True)
                    if args.capture:
                        c = measure_capture(args, provider, size, transport, work)
                        captures.append(c)
                        print(f"{size:4d} {transport:5s} capture {c['capture']['median'] * 1e3:8.1f} ms "
                              f"display-all {c['display_all']['median'] * 1e3:8.1f} ms ratio {c['ratio']:.2f}",
                              flush=True)
            finally:
                provider.stop()
    after = benchlib.machine()

    growth_table, linear, linear_in_bytes = growth(results, sizes)
    largest = max(sizes)
    goals = [
        ("one connection per run", all(r["connections"] == 1 for r in results)),
        ("the replay used one connection", all(r["replay_connections"] == 1 for r in results)),
        ("wall time within 1.3x of the replay", all(r["ratio"] <= 1.3 for r in results)),
        ("requests, CPU time and memory grow no faster than the cells (10% allowed)", linear),
        ("CPU time and instructions grow no faster than the bytes the provider answered (10% allowed)",
         linear_in_bytes),
        (f"peak memory under 16 MiB at {largest} cells",
         all(r["peak_kib"] < 16 * 1024 for r in results if r["size"] == largest)),
    ]
    if captures:
        goals.append((f"a capture of {largest} cells in under 2x the time of display-all",
                      all(c["ratio"] < 2 for c in captures if c["size"] == largest)))
    text = [
        f"Machine: {before['nproc']} CPUs, {before['cpu']}; load average {before['load'][0]:.2f} before, "
        f"{after['load'][0]:.2f} after.",
        f"Command: python3 bench/run.py {' '.join(sys.argv[1:])}",
        "",
        f"Peak RSS of `cmplxview -Q` (loads, refuses the command line, never connects): {idle_kib / 1024:.1f} MiB; "
        f"of `curl --version`: {curl_idle_kib / 1024:.1f} MiB.",
        "",
        table(results),
        "",
        growth_table,
        "",
    ] + ([capture_table(captures), ""] if captures else []) + [
        "Goals:",
        "",
    ] + [f"- {'met' if ok else 'NOT met'}: {name}" for name, ok in goals]
    benchlib.publish(text, args.markdown)
    return 0


if __name__ == "__main__":
    sys.exit(main())
