"""Fault sweep: every request of a run, failed in every way the provider or
the network can fail it.

For each command below, a clean run against examples/default.json gives the
run's requests (provider log). Then, for every request k of that run and every
fault kind, cmplxview runs once more against a provider whose only fault rule
is {"request": k, ...}. Every run must end by itself within RUN_LIMIT seconds
with status 0 or 1, without a signal, "Internal Error" or a sanitizer report;
a -g run must leave no remote-complex instance behind. Where the failing
request belongs to a step whose failure has a fixed message (the platform
check, a report's load, the -g connection), that message must appear with
status 1, and in display-all the later sections must still be shown; a
failing request anywhere else (ValueMap lookups, counts whose failure the
report tolerates) must leave every section in place and the status as it was.

The phase tables below say which request belongs to which step. They are
checked against each clean run first, so a change in the program's request
sequence shows up as a failure naming the request that no longer fits.

Fault kinds: a CIM error, HTTP 500, a dropped connection, a truncated body,
malformed XML, integer properties retyped as strings, and an answer delayed
past a client time-out shortened to TIMEOUT_MS through XK_CIM_TIMEOUT_MS. A
drop on a kept-alive connection is retried once by the client on a new
connection; such a run must give exactly the clean run's output.

FAULT_SWEEP_JOBS (default 3) sets how many runs go at once; FAULT_SWEEP_ONLY
(e.g. "-g,timeout") keeps only the commands and fault kinds named, for
looking into one of them.
"""
import concurrent.futures
import json
import os
import re
import sys
import time
import unittest

from harness import Provider, example, load_complex, run

JOBS = max(1, int(os.environ.get("FAULT_SWEEP_JOBS", "3")))
TIMEOUT_MS = 1000   # the client's time-out in the delay runs
DELAY_MS = 2500     # how late the delayed answer comes
RUN_LIMIT = 60      # seconds for one run of cmplxview
ONLY = {w.strip() for w in os.environ.get("FAULT_SWEEP_ONLY", "").split(",") if w.strip()}

KINDS = {
    "cimError": {"action": "cimError", "code": 1, "description": "injected fault"},
    "http500": {"action": "httpStatus", "status": 500},
    "drop": {"action": "drop"},
    "truncated": {"action": "truncated"},
    "malformed": {"action": "malformed"},
    "wrongType": {"action": "wrongType"},
    "timeout": {"action": "delay", "ms": DELAY_MS},
}
# Kinds after which the request has failed for the program.
FAILING = {"cimError", "http500", "drop", "truncated", "malformed", "timeout"}

HEADERS = {"complex": "[Complex]\n", "cabinet": "[Cabinet]\n", "cell": "[Cell]\n", "chassis": "[Chassis]\n",
           "partition": "[Partition]\n"}
SECTION_ERRORS = {
    "complex": "\nError: Unable to get complex information.\n",
    "cabinet": "\nError: Unable to get any cabinet information.\n",
    "cell": "\nError: Unable to get any cell information.\n",
    "chassis": "\nError: Unable to get any I/O chassis information.\n",
    "partition": "\nError: Unable to get any partition information.\n",
}
DISPLAY_ORDER = ["complex", "cabinet", "cell", "chassis", "partition"]
PLATFORM_ERROR = "Error: Cannot determine if platform is partitionable.\n"
CONNECT_ERROR = "Error: Failed to connect to target partition or complex.\n"

# Request tokens: operation and class (without XK_Kest); "GetClass*" stands
# for any number of ValueMap lookups (GetClass of any class).
OPS = {"EnumerateInstanceNames": "EIN", "EnumerateInstances": "EI", "GetInstance": "GI", "GetClass": "GC",
       "InvokeMethod": "IM", "CreateInstance": "CI", "DeleteInstance": "DI"}


def token(entry):
    cls = (entry.get("class") or "").replace("XK_Kest", "")
    return "%s %s" % (OPS.get(entry.get("op"), entry.get("op")), entry.get("method") or cls)


def loads(*classes):
    return [t for c in classes for t in ("EIN " + c, "EI " + c)]


# A phase: a name, its request tokens, and what a failing request in it gives.
# Expectations: ("platform",), ("connect",), ("section", name), ("soft",),
# ("message", text), ("release",).
DISPLAY_ALL = [
    ("platform check", ["EIN Complex"], ("platform",)),
    ("complex load", loads("Complex", "Cabinet"), ("section", "complex")),
    ("complex block", ["GetClass*", "EIN Partition"], ("soft",)),
    ("cabinet load", loads("Cabinet", "PowerCoolingDomain", "Complex"), ("section", "cabinet")),
    ("cabinet rows", ["GetClass*"], ("soft",)),
    ("cell load", loads("CellSlot", "Cell", "IOChassisSlot", "Complex", "Partition"), ("section", "cell")),
    ("cell rows", ["GetClass*"], ("soft",)),
    ("chassis load", loads("IOChassisSlot", "IOChassis", "CellSlot", "Complex"), ("section", "chassis")),
    ("chassis rows", ["GetClass*"], ("soft",)),
    ("partition load", loads("Partition", "CellSlot", "Complex", "Cell"), ("section", "partition")),
    ("partition rows", ["GetClass*"], ("soft",)),
]
CELL_ERROR = SECTION_ERRORS["cell"]
COMMANDS = [
    ("display-all", [], DISPLAY_ALL),
    ("-C -M", ["-C", "-M"], [
        ("platform check", ["EIN Complex"], ("platform",)),
        ("cell load", loads("CellSlot", "Cell", "IOChassisSlot", "Complex", "Partition"), ("message", CELL_ERROR)),
        ("cell lines", ["GetClass*"], ("soft",)),
    ]),
    ("-p 0 -V", ["-p", "0", "-V"], [
        ("platform check", ["EIN Complex"], ("platform",)),
        ("partition fetch", ["GI Partition"],
         ("message", "Error: Partition 0 does not exist in this complex or is unavailable.\n")),
        ("partition load", loads("CellSlot", "Complex", "Cell"), ("message", SECTION_ERRORS["partition"])),
        ("partition block", ["GetClass*", "EIN CellSlot"], ("soft",)),
        # A failed count of all partitions keeps the selected partition's table.
        ("device count", ["EIN Partition"], ("soft",)),
        ("device load", ["EI Partition"] + loads("IOChassisSlot", "IOChassis") + ["EI Cell"],
         ("message", "Error: Unable to display cell and I/O chassis information.")),
        ("device rows", ["GetClass*"], ("soft",)),
    ]),
    ("-b 0 -V", ["-b", "0", "-V"], [
        ("platform check", ["EIN Complex"], ("platform",)),
        ("cabinet fetch", ["GI Cabinet"],
         ("message", "Error: Cabinet 0 does not exist in this complex or is unavailable.\n")),
        ("cabinet load", loads("PowerCoolingDomain", "Complex"), ("message", SECTION_ERRORS["cabinet"])),
        ("cabinet block", ["GetClass*"], ("soft",)),
    ]),
    ("-w", ["-w"], [
        ("platform check", ["EIN Complex"], ("platform",)),
        ("local partition", loads("LocalPartition") + ["GI Partition"],
         ("message", "Error: Unable to get the local partition number.\n")),
    ]),
    ("-g", ["-g", "mp-demo-1", "-h", "10.1.1.1"], [
        ("remote complex", ["CI RemoteComplex", "IM NameSpaceName", "EIN CellSlot"], ("connect",)),
    ] + DISPLAY_ALL + [
        ("release", ["DI RemoteComplex"], ("release",)),
    ]),
]


def align(phases, log):
    """The phase of each request of a clean run's log, or an error text."""
    result, i = [], 0
    tokens = [token(e) for e in log]
    for name, pattern, expectation in phases:
        for t in pattern:
            if t == "GetClass*":
                while i < len(tokens) and tokens[i].startswith("GC "):
                    result.append((name, expectation))
                    i += 1
            elif i < len(tokens) and tokens[i] == t:
                result.append((name, expectation))
                i += 1
            else:
                return None, "request %d is %r where phase %r expects %r" % (
                    i + 1, tokens[i] if i < len(tokens) else "nothing", name, t)
    if i != len(tokens):
        return None, "request %d (%r) is beyond the last phase" % (i + 1, tokens[i])
    return result, None


SANITIZER = re.compile(r"Sanitizer|runtime error:|==\d+==ERROR")
# Results in the provider log of a request the provider did not carry out.
NOT_DONE = re.compile(r"^(cim-error \d+|http \d+|drop)$")


class Outcome:
    def __init__(self, command, kind, k, phase, out, err, status, seconds, log, problems):
        self.command, self.kind, self.k, self.phase = command, kind, k, phase
        self.out, self.err, self.status, self.seconds, self.log = out, err, status, seconds, log
        self.problems = problems


def run_once(command, args, complex_data, rule, timeout_ms=None):
    data = dict(complex_data, faults=[rule] if rule else [])
    with Provider(data) as p:
        env = dict(p.env)
        if timeout_ms:
            env["XK_CIM_TIMEOUT_MS"] = str(timeout_ms)
        start = time.monotonic()
        try:
            out, err, status = run(args, env=env, timeout=RUN_LIMIT)
        except Exception as e:  # subprocess.TimeoutExpired: a hang
            return "", "hang: %s" % e, None, time.monotonic() - start, p.log()
        return out, err, status, time.monotonic() - start, p.log()


def check(command, kind, k, phase, clean, result):
    """The problems of one faulted run, as a list of texts."""
    out, err, status, seconds, log = result
    problems = []
    if status is None:
        return [err]
    if status not in (0, 1):
        problems.append("exit status %d%s" % (status, " (signal %d)" % -status if status < 0 else ""))
    if "Internal Error" in out + err:
        problems.append("Internal Error: " + err.strip()[-200:])
    if SANITIZER.search(err):
        problems.append("sanitizer report: " + err.strip()[-400:])
    clean_out, clean_err, clean_status, _, clean_log = clean

    # -g: whatever the run created must have been deleted by it. A creation
    # that failed (refused, or its answer lost) is not known to the run, and
    # nothing is deleted at exit.
    created = [e for e in log if e["op"] == "CreateInstance" and not NOT_DONE.match(e["result"])]
    deleted = [e for e in log if e["op"] == "DeleteInstance" and not NOT_DONE.match(e["result"])]
    faulted_delete = any(e["seq"] == k and e["op"] == "DeleteInstance" for e in log)
    faulted_create = any(e["seq"] == k and e["op"] == "CreateInstance" for e in log)
    if faulted_create and kind in FAILING:
        if any(e["op"] == "DeleteInstance" for e in log):
            problems.append("a deletion after the creation failed")
    elif len(created) != len(deleted) and not (faulted_delete and kind in FAILING):
        problems.append("remote complex instance left behind (%d created, %d deleted)" % (len(created), len(deleted)))

    failing = kind in FAILING
    if kind == "drop":
        faulted = [e for e in log if e["seq"] == k]
        retry = [e for e in log if e["seq"] == k + 1]
        if faulted and retry and token(retry[0]) == token(faulted[0]) and retry[0]["key"] == faulted[0]["key"]:
            # Retried on a new connection: nothing may show.
            failing = False
            if (out, err, status) != (clean_out, clean_err, clean_status):
                problems.append("a drop that was retried changed the output")
    if not failing:
        return problems

    name, expectation = phase
    what = expectation[0]

    def need(text, stream, label):
        if text not in stream:
            problems.append("%s: missing %r" % (label, text))

    if status != 1 and what not in ("soft", "release"):
        problems.append("status %d after a failed %s" % (status, name))
    if what == "platform":
        need(PLATFORM_ERROR, err, "platform check")
    elif what == "connect":
        need(CONNECT_ERROR, err, "connection")
    elif what == "message":
        need(expectation[1], err, name)
    elif what == "section":
        section = expectation[1]
        need(SECTION_ERRORS[section], err, name)
        later = DISPLAY_ORDER[DISPLAY_ORDER.index(section) + 1:] if section != "complex" else []
        if HEADERS[section] in out:
            problems.append("%s: the section was shown although its load failed" % name)
        for other in later:
            need(HEADERS[other], out, "section after the failed %s" % name)
        for other in DISPLAY_ORDER:
            if other != section and SECTION_ERRORS[other] in err:
                problems.append("%s: the %s section failed too" % (name, other))
    elif what in ("soft", "release"):
        if status != clean_status:
            problems.append("%s: status %d instead of %d" % (name, status, clean_status))
        for section, header in HEADERS.items():
            if header in clean_out and header not in out:
                problems.append("%s: section %s missing" % (name, section))
        for text in list(SECTION_ERRORS.values()) + [PLATFORM_ERROR, CONNECT_ERROR]:
            if text in err and text not in clean_err:
                problems.append("%s: %r" % (name, text.strip()))
        if what == "release":
            # The report is complete; the failed deletion is reported after it.
            if out != clean_out:
                problems.append("release: the report changed")
            if len(err.splitlines()) <= len(clean_err.splitlines()):
                problems.append("release: the failed deletion was not reported")
    return problems


class FaultSweep(unittest.TestCase):
    maxDiff = None

    def test_every_request_every_fault(self):
        complex_data = load_complex(example("default.json"))
        started = time.monotonic()
        jobs, cleans, problems = [], {}, []
        for command, args, phases in COMMANDS:
            clean = run_once(command, args, complex_data, None)
            out, err, status, _, log = clean
            self.assertIn(status, (0, 1), "%s: clean run: %s" % (command, err))
            phased, error = align(phases, log)
            self.assertIsNone(error, "%s: the clean run's requests do not fit the phase table: %s\n%s" % (
                command, error, "\n".join("%d %s" % (e["seq"], token(e)) for e in log)))
            cleans[command] = clean
            if ONLY - set(KINDS) and command not in ONLY:
                continue
            for k in range(1, len(log) + 1):
                for kind, action in KINDS.items():
                    if ONLY & set(KINDS) and kind not in ONLY:
                        continue
                    jobs.append((command, args, kind, k, phased[k - 1], dict(action, request=k)))

        outcomes = []
        with concurrent.futures.ThreadPoolExecutor(JOBS) as pool:
            futures = {pool.submit(run_once, c, a, complex_data, rule, TIMEOUT_MS if kind == "timeout" else None):
                       (c, kind, k, phase) for c, a, kind, k, phase, rule in jobs}
            for future in concurrent.futures.as_completed(futures):
                command, kind, k, phase = futures[future]
                result = future.result()
                found = check(command, kind, k, phase, cleans[command], result)
                outcomes.append(Outcome(command, kind, k, phase, *result, found))
                problems += ["%s, %s at request %d (%s): %s" % (command, kind, k, phase[0], p) for p in found]

        self.print_table(outcomes, time.monotonic() - started)
        self.assertEqual(len(outcomes), len(jobs))
        self.assertEqual(problems, [], "%d of %d runs went wrong" % (len({p.split(":")[0] for p in problems}),
                                                                    len(outcomes)))

    @staticmethod
    def print_table(outcomes, seconds):
        rows = {}
        for o in outcomes:
            r = rows.setdefault((o.command, o.kind), {"runs": 0, "0": 0, "1": 0, "other": 0, "max": 0.0, "bad": 0})
            r["runs"] += 1
            r[str(o.status) if o.status in (0, 1) else "other"] += 1
            r["max"] = max(r["max"], o.seconds)
            r["bad"] += bool(o.problems)
        lines = ["", "Fault sweep: %d runs in %.0f s (%d at once)" % (len(outcomes), seconds, JOBS),
                 "%-12s %-10s %5s %9s %9s %6s %8s %8s" % ("command", "fault", "runs", "status 0", "status 1",
                                                         "other", "max s", "problems")]
        for (command, kind), r in sorted(rows.items(), key=lambda x: ([c[0] for c in COMMANDS].index(x[0][0]),
                                                                      list(KINDS).index(x[0][1]))):
            lines.append("%-12s %-10s %5d %9d %9d %6d %8.1f %8d" % (command, kind, r["runs"], r["0"], r["1"],
                                                                  r["other"], r["max"], r["bad"]))
        sys.stderr.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    unittest.main()
