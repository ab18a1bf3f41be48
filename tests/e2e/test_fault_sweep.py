"""Fault sweep: each request of a clean run of the commands below, failed in each way the provider or the
network can fail it (the fault rule {"request": k, ...}). Every run ends by itself, with status 0 or 1, no
"Internal Error" or sanitizer report, and no remote-complex instance left. A failing request of a step with a
fixed message (the platform check, a report's load, the -g connection) gives that message and status 1, and in
display-all the later sections still show; elsewhere (ValueMap lookups, tolerated counts) the sections and the
status stay. A drop retried on a new connection changes nothing. The phase tables, checked against each clean
run first, say which request belongs to which step. FAULT_SWEEP_JOBS (default 3): runs at once;
FAULT_SWEEP_ONLY (e.g. "-g,timeout"): only the commands and fault kinds named."""
import concurrent.futures
import os
import re
import sys
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

SECTION_ERRORS = {
    "complex": "\nError: Unable to get complex information.\n",
    "cabinet": "\nError: Unable to get any cabinet information.\n",
    "cell": "\nError: Unable to get any cell information.\n",
    "chassis": "\nError: Unable to get any I/O chassis information.\n",
    "partition": "\nError: Unable to get any partition information.\n",
}
DISPLAY_ORDER = ["complex", "cabinet", "cell", "chassis", "partition"]
HEADERS = {section: "[%s]\n" % section.capitalize() for section in DISPLAY_ORDER}
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
# Expectations: ("message", text), ("section", name), ("soft",), ("release",).
DISPLAY_ALL = [
    ("platform check", ["EIN Complex"], ("message", PLATFORM_ERROR)),
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
        ("platform check", ["EIN Complex"], ("message", PLATFORM_ERROR)),
        ("cell load", loads("CellSlot", "Cell", "IOChassisSlot", "Complex", "Partition"), ("message", CELL_ERROR)),
        ("cell lines", ["GetClass*"], ("soft",)),
    ]),
    ("-p 0 -V", ["-p", "0", "-V"], [
        ("platform check", ["EIN Complex"], ("message", PLATFORM_ERROR)),
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
        ("platform check", ["EIN Complex"], ("message", PLATFORM_ERROR)),
        ("cabinet fetch", ["GI Cabinet"],
         ("message", "Error: Cabinet 0 does not exist in this complex or is unavailable.\n")),
        ("cabinet load", loads("PowerCoolingDomain", "Complex"), ("message", SECTION_ERRORS["cabinet"])),
        ("cabinet block", ["GetClass*"], ("soft",)),
    ]),
    ("-w", ["-w"], [
        ("platform check", ["EIN Complex"], ("message", PLATFORM_ERROR)),
        ("local partition", loads("LocalPartition") + ["GI Partition"],
         ("message", "Error: Unable to get the local partition number.\n")),
    ]),
    ("-g", ["-g", "mp-demo-1", "-h", "10.1.1.1"], [
        ("remote complex", ["CI RemoteComplex", "IM NameSpaceName", "EIN CellSlot"], ("message", CONNECT_ERROR)),
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


def run_once(args, complex_data, rule, timeout_ms=None):
    """(stdout, stderr, status, log) of one run; status None and the reason in stderr for a hang."""
    with Provider(dict(complex_data, faults=[rule] if rule else [])) as p:
        env = dict(p.env, **({"XK_CIM_TIMEOUT_MS": str(timeout_ms)} if timeout_ms else {}))
        try:
            return run(args, env=env, timeout=RUN_LIMIT) + (p.log(),)
        except Exception as e:  # subprocess.TimeoutExpired: a hang
            return "", "hang: %s" % e, None, p.log()


def check(kind, k, phase, clean, result):
    """The problems of one faulted run, as a list of texts."""
    out, err, status, log = result
    if status is None:
        return [err]
    problems = []
    if status not in (0, 1):
        problems.append("exit status %d%s" % (status, " (signal %d)" % -status if status < 0 else ""))
    if "Internal Error" in out + err or SANITIZER.search(err):
        problems.append("Internal Error or sanitizer report: " + err.strip()[-400:])
    clean_out, clean_err, clean_status, _ = clean
    failing = kind in FAILING

    # -g: whatever the run created must have been deleted by it. A creation that failed (refused, or its
    # answer lost) is not known to the run, and nothing is deleted at exit.
    done = lambda op: [e for e in log if e["op"] == op and not NOT_DONE.match(e["result"])]
    faulted = [e for e in log if e["seq"] == k]
    if faulted and faulted[0]["op"] == "CreateInstance" and failing:
        if any(e["op"] == "DeleteInstance" for e in log):
            problems.append("a deletion after the creation failed")
    elif len(done("CreateInstance")) != len(done("DeleteInstance")) and not (
            faulted and faulted[0]["op"] == "DeleteInstance" and failing):
        problems.append("remote complex instance left behind")

    retry = [e for e in log if e["seq"] == k + 1]
    if kind == "drop" and faulted and retry and (token(retry[0]), retry[0]["key"]) == (token(faulted[0]),
                                                                                     faulted[0]["key"]):
        # Retried on a new connection: nothing may show.
        failing = False
        if (out, err, status) != (clean_out, clean_err, clean_status):
            problems.append("a drop that was retried changed the output")
    if not failing:
        return problems

    name, (what, *detail) = phase
    need = lambda text, stream, label: problems.extend([] if text in stream else ["%s: missing %r" % (label, text)])
    if status != 1 and what not in ("soft", "release"):
        problems.append("status %d after a failed %s" % (status, name))
    if what == "message":
        need(detail[0], err, name)
    elif what == "section":
        section = detail[0]
        need(SECTION_ERRORS[section], err, name)
        if HEADERS[section] in out:
            problems.append("%s: the section was shown although its load failed" % name)
        for other in DISPLAY_ORDER[DISPLAY_ORDER.index(section) + 1:] if section != "complex" else []:
            need(HEADERS[other], out, "section after the failed %s" % name)
        problems += ["%s: the %s section failed too" % (name, other) for other in DISPLAY_ORDER
                     if other != section and SECTION_ERRORS[other] in err]
    else:  # soft or release
        if status != clean_status:
            problems.append("%s: status %d instead of %d" % (name, status, clean_status))
        problems += ["%s: section %s missing" % (name, section) for section, header in HEADERS.items()
                     if header in clean_out and header not in out]
        problems += ["%s: %r" % (name, text.strip()) for text in list(SECTION_ERRORS.values()) + [PLATFORM_ERROR,
                     CONNECT_ERROR] if text in err and text not in clean_err]
        # The report is complete; the failed deletion is reported after it.
        if what == "release" and (out != clean_out or len(err.splitlines()) <= len(clean_err.splitlines())):
            problems.append("release: the report changed, or the failed deletion was not reported")
    return problems


class FaultSweep(unittest.TestCase):
    def test_every_request_every_fault(self):
        complex_data = load_complex(example("default.json"))
        jobs, cleans = [], {}
        for command, args, phases in COMMANDS:
            cleans[command] = clean = run_once(args, complex_data, None)
            self.assertIn(clean[2], (0, 1), "%s: clean run: %s" % (command, clean[1]))
            phased, error = align(phases, clean[3])
            self.assertIsNone(error, "%s: the clean run's requests do not fit the phase table: %s\n%s" % (
                command, error, "\n".join("%d %s" % (e["seq"], token(e)) for e in clean[3])))
            if ONLY - set(KINDS) and command not in ONLY:
                continue
            jobs += [(command, args, kind, k, phased[k - 1], dict(action, request=k))
                     for k in range(1, len(clean[3]) + 1) for kind, action in KINDS.items()
                     if not (ONLY & set(KINDS)) or kind in ONLY]
        problems, statuses = [], {}
        with concurrent.futures.ThreadPoolExecutor(JOBS) as pool:
            futures = {pool.submit(run_once, a, complex_data, rule, TIMEOUT_MS if kind == "timeout" else None):
                       (c, kind, k, phase) for c, a, kind, k, phase, rule in jobs}
            for future in concurrent.futures.as_completed(futures):
                command, kind, k, phase = futures[future]
                result = future.result()
                statuses[result[2]] = statuses.get(result[2], 0) + 1
                problems += ["%s, %s at request %d (%s): %s" % (command, kind, k, phase[0], p)
                             for p in check(kind, k, phase, cleans[command], result)]
        sys.stderr.write("\nFault sweep: %d runs, by exit status %s\n" % (len(jobs), statuses))
        self.assertEqual(problems, [], "%d problems in %d runs" % (len(problems), len(jobs)))


if __name__ == "__main__":
    unittest.main()
