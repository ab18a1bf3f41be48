#!/usr/bin/env python3
"""Per-request cost of the CIM client layer (cim::CIMClient) against curl on the same wire.

    python3 bench/client.py [--build DIR] [--count 1000] [--repeat 5] [--transports unix,https]
                            [--complex FILE] [--address 127.0.0.152] [--markdown FILE]

kest-provider serves the complex (default examples/default.json) on a private Unix socket and
on HTTPS at ADDRESS:5989. For enumerateInstances and getClass of XK_KestCell (getClass as
cmplxview asks for a value map, with qualifiers) and each transport:

- client_bench (bench/client_bench.cpp, one CIMClient) times COUNT requests after a warm-up
  (fewer when a run would take longer than --seconds),
  inside the process: requests per second and mean latency; the provider's log must show one
  connection for the client object and COUNT + warm-up requests on it;
- curl replays the same request body (captured with XK_CIM_TRACE) COUNT and 2 x COUNT times on
  one kept-alive connection; the difference of the two wall times, over COUNT, is curl's cost
  per request without its start-up, connection and handshake;
- the ratio of the two costs (goal: at most 1.3);
- the instructions per request in the client process alone, client_bench against curl
  (valgrind's callgrind, runs of 120 and 20 requests), which the load of the machine does not
  change.
Each figure is the median of --repeat runs. Python 3 standard library and curl.
"""

import argparse
import json
import os
import signal
import re
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import benchlib

OPERATIONS = [("enumerateInstances", "XK_KestCell"), ("getClass", "XK_KestCell")]


def client_command(args, provider, transport, op, class_name, count, warmup):
    command = [str(Path(args.build) / "bench" / "client_bench"), "--op", op, "--class", class_name,
               "--count", str(count), "--warmup", str(warmup)]
    if transport == "unix":
        command += ["--socket", provider.socket]
    else:
        command += ["--https", f"{args.address}:{benchlib.HTTPS_PORT}", "--user", benchlib.USER,
                    "--password", benchlib.PASSWORD]
    return command


def run_client(command, env):
    result = subprocess.run(command, env=env, capture_output=True, text=True, timeout=600)
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(command)}: {result.stderr}")
    return json.loads(result.stdout)


def instruction_count(command, env):
    result = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", *command], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, timeout=1800)
    if result.returncode != 0:
        raise RuntimeError(f"callgrind {' '.join(command)}: {result.stderr[-2000:]}")
    match = re.search(r"Collected : (\d+)", result.stderr)
    return int(match.group(1))


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, timeout=600)
    return time.perf_counter() - start


def measure(args, provider, transport, op, class_name, work):
    env = dict(os.environ)
    env.pop("XK_CIM_TRACE", None)
    tag = f"{transport}-{op}"

    # The request body, as the layer writes it.
    trace = work / f"trace-{tag}.txt"
    run_client(client_command(args, provider, transport, op, class_name, 1, 0), dict(env, XK_CIM_TRACE=str(trace)))
    (request,) = benchlib.parse_trace(trace)
    (answer,) = benchlib.parse_trace(trace, responses=True)

    # So that one run takes a few seconds at most: fewer requests when each takes long.
    probe = run_client(client_command(args, provider, transport, op, class_name, 20, 2), env)
    count = max(50, min(args.count, int(args.seconds * 1e6 / probe["mean_us"])))

    # The layer: COUNT requests timed in the process, one connection per client object.
    client_runs = []
    for _ in range(args.repeat):
        position = provider.log_position()
        result = run_client(client_command(args, provider, transport, op, class_name, count, args.warmup), env)
        logged = provider.requests_since(position)
        connections = len({r["conn"] for r in logged})
        if connections != 1 or len(logged) != count + args.warmup or any(r["result"] != "ok" for r in logged):
            raise RuntimeError(f"{tag}: {len(logged)} requests on {connections} connections, "
                               f"expected {count + args.warmup} on 1")
        client_runs.append(result)
    client_us = statistics.median(r["mean_us"] for r in client_runs)

    # curl: the same body COUNT and 2 x COUNT times on one connection.
    socket = provider.socket if transport == "unix" else None
    configs = {}
    for n in (count, 2 * count):
        configs[n] = benchlib.write_curl_config([request] * n, work / f"replay-{tag}-{n}", socket=socket,
                                                https_address=args.address)
    curl_per_request = []
    curl_connections = set()
    for _ in range(args.repeat):
        position = provider.log_position()
        single = timed(["curl", "--silent", "--show-error", "--fail", "-K", configs[count]])
        double = timed(["curl", "--silent", "--show-error", "--fail", "-K", configs[2 * count]])
        logged = provider.requests_since(position)
        if len(logged) != 3 * count or any(r["result"] != "ok" for r in logged):
            raise RuntimeError(f"{tag}: the replay got {len(logged)} answers of {3 * count}")
        curl_connections.add(len({r["conn"] for r in logged}))
        curl_per_request.append((double - single) / count * 1e6)
    curl_us = statistics.median(curl_per_request)

    # Instructions per request in the client process alone (valgrind, callgrind): the difference
    # between runs of SMALL and LARGE requests, so that start-up and handshake drop out. The
    # count does not depend on the load of the machine.
    instructions = None
    if args.instructions:
        small, large = 20, 120
        def client_instructions(n):
            return instruction_count(client_command(args, provider, transport, op, class_name, n, 0), env)
        def curl_instructions(n):
            config = benchlib.write_curl_config([request] * n, work / f"callgrind-{tag}-{n}", socket=socket,
                                                https_address=args.address)
            return instruction_count(["curl", "--silent", "--show-error", "--fail", "-K", config], env)
        layer = (client_instructions(large) - client_instructions(small)) / (large - small)
        curl = (curl_instructions(large) - curl_instructions(small)) / (large - small)
        instructions = {"client": layer, "curl": curl, "ratio": layer / curl}
    return {"transport": transport, "op": op, "class": class_name, "items": client_runs[0]["items"], "count": count,
            "answer_bytes": len(answer[1]), "client_us": client_us, "client_rps": 1e6 / client_us,
            "client_spread": (min(r["mean_us"] for r in client_runs), max(r["mean_us"] for r in client_runs)),
            "curl_us": curl_us, "curl_rps": 1e6 / curl_us,
            "curl_spread": (min(curl_per_request), max(curl_per_request)),
            "ratio": client_us / curl_us, "instructions": instructions, "client_connections": 1, "curl_connections": sorted(curl_connections)}


def instructions_text(i):
    if not i:
        return "-"
    return f"{i['client'] / 1e3:.0f} k / {i['curl'] / 1e3:.0f} k ({i['ratio']:.2f})"


def main():
    # A stop by SIGTERM still runs the clean-up (the provider is stopped, the files removed).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(benchlib.ROOT / "build"))
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--warmup", type=int, default=20)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--seconds", type=float, default=5.0,
                        help="fewer requests than --count when a run would take longer than this")
    parser.add_argument("--transports", default="unix,https")
    parser.add_argument("--complex", default=str(benchlib.ROOT / "examples" / "default.json"))
    parser.add_argument("--address", default="127.0.0.152", help="loopback address for HTTPS (port 5989)")
    parser.add_argument("--markdown", help="also write the table to this file")
    parser.add_argument("--no-instructions", dest="instructions", action="store_false",
                        help="skip the instruction counts (valgrind callgrind)")
    args = parser.parse_args()
    transports = args.transports.split(",")
    before = benchlib.machine()

    results = []
    with tempfile.TemporaryDirectory(prefix="cmplxview-client-bench-") as tmp:
        work = Path(tmp)
        provider = benchlib.Provider(str(Path(args.build) / "provider" / "kest-provider"), args.complex, work,
                                     https_address=args.address if "https" in transports else None)
        try:
            for transport in transports:
                for op, class_name in OPERATIONS:
                    r = measure(args, provider, transport, op, class_name, work)
                    results.append(r)
                    print(f"{transport:5s} {op:18s} client {r['client_us']:8.1f} us  curl {r['curl_us']:8.1f} us  "
                          f"ratio {r['ratio']:.2f}", flush=True)
        finally:
            provider.stop()
    after = benchlib.machine()

    lines = [
        f"Machine: {before['nproc']} CPUs, {before['cpu']}; load average {before['load'][0]:.2f} before, "
        f"{after['load'][0]:.2f} after.",
        f"Command: python3 bench/client.py {' '.join(sys.argv[1:])}",
        "",
        "| transport | operation | answer | requests per run | client req/s | client mean µs (min–max) "
        "| curl req/s | curl µs per request (min–max) | ratio | instructions per request: client / curl (ratio) "
        "| connections: client object / curl run |",
        "|---|---|---|---:|---:|---:|---:|---:|---:|---|---|",
    ]
    for r in results:
        answer = f"{r['items']} {'instances' if r['op'] == 'enumerateInstances' else 'properties'}"
        lines.append(
            f"| {r['transport']} | {r['op']} {r['class']} | {answer}, {r['answer_bytes'] / 1024:.1f} KiB | {r['count']} "
            f"| {r['client_rps']:.0f} "
            f"| {r['client_us']:.1f} ({r['client_spread'][0]:.1f}–{r['client_spread'][1]:.1f}) | {r['curl_rps']:.0f} "
            f"| {r['curl_us']:.1f} ({r['curl_spread'][0]:.1f}–{r['curl_spread'][1]:.1f}) | {r['ratio']:.2f} "
            f"| {instructions_text(r['instructions'])} "
            f"| 1 / {','.join(str(c // 2) for c in r['curl_connections'])} |")
    lines += ["", "Goals:", ""]
    lines.append(f"- {'met' if all(r['ratio'] <= 1.3 for r in results) else 'NOT met'}: "
                 "the layer's cost per request within 1.3x of curl's (wall time)")
    if all(r["instructions"] for r in results):
        lines.append(f"- {'met' if all(r['instructions']['ratio'] <= 1.3 for r in results) else 'NOT met'}: "
                     "the same in instructions of the client process")
    lines.append("- met: exactly one connection (one TCP/TLS handshake) per client object, "
                 "checked in the provider's log on every run")
    benchlib.publish(lines, args.markdown)
    return 0


if __name__ == "__main__":
    sys.exit(main())
