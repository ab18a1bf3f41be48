"""A complex reached through its management processor (-g): the remote-complex instance created, its namespace
used, the instance deleted at exit (also after an error or a signal), the IPMI password prompt. Locally the
small complex is served, behind the MP the example complex: they differ everywhere."""
import functools
import json
import os
import random
import select
import signal
import subprocess
import sys
import time
import unittest

from harness import (CMPLXVIEW, CREDENTIAL_VIOLATION as VIOLATION, FAILED_TO_CONNECT as FAILED, Provider,
                     await_request, cim_error, connect_block, example, fault, https_provider, load_complex, run,
                     small_complex, spawn)

LOCAL_NS, REMOTE_NS, REMOTE_CLASS = "root/cimv2/kest", "root/cimv2/kest/mp1", "XK_KestRemoteComplex"
MP_ADDRESS = "10.1.1.1"
MP_HOST, MP_HOST_TYPED = "mp-east.example", "MP-East.example"  # as the provider knows it, as typed
EMPTY_NS_ADDRESS = "10.2.2.2"        # the provider answers NameSpaceName with an empty text
EMPTY_PASSWORD_ADDRESS = "10.3.3.3"  # an MP whose IPMI password is empty
MARKUP_ADDRESS, MARKUP_PASSWORD = "10.4.4.4", ' <Ip&mi>"\' 7 '
PASSWORD = "Ipmi-7731-kx"
NOTE = "Note: The -g option may require up to 2 minutes to complete.  Please wait...\n"
PROMPT = "Please enter the IPMI password:  "
LOCALHOST = connect_block("<localhost>")
REMOTE_COMPLEX = example("default.json")


def complex_file(faults=()):
    mps = [(MP_ADDRESS, PASSWORD, REMOTE_NS), (MP_HOST, PASSWORD, REMOTE_NS), (EMPTY_NS_ADDRESS, PASSWORD, ""),
           (EMPTY_PASSWORD_ADDRESS, "", REMOTE_NS), (MARKUP_ADDRESS, MARKUP_PASSWORD, REMOTE_NS)]
    namespaces = {LOCAL_NS: small_complex()["namespaces"][LOCAL_NS],
                  REMOTE_NS: load_complex(REMOTE_COMPLEX)["namespaces"][LOCAL_NS]}
    return {"namespaces": namespaces, "faults": list(faults), "users": small_complex()["users"],
            "remoteComplexes": [{"address": a, "password": p, "namespace": n} for a, p, n in mps]}


@functools.lru_cache(maxsize=None)
def served_locally(*args):
    """What a command line prints for the complex behind the MP served locally."""
    with Provider(REMOTE_COMPLEX) as p:
        out, err, status = run(args, env=p.env)
    assert status == 0 and "\n[" in "\n" + out, (args, out, err)
    return out, err


def sent_properties(address):
    """The new instance's properties as the provider logs them (a password only as ****)."""
    return [{"name": "Address", "type": "string", "array": False, "value": address},
            {"name": "Password", "type": "string", "array": False, "value": "****"}]


CREATED = [("CreateInstance", LOCAL_NS, "ok"), ("InvokeMethod", LOCAL_NS, "ok")]
CREATE_ERROR = lambda code: ("CreateInstance", LOCAL_NS, "cim-error %d" % code)
CREATE_FAULT = lambda code, text: [cim_error(code, text, operation="CreateInstance")]
PROBE_FAULT = lambda code, text: [cim_error(code, text, operation="EnumerateInstanceNames", namespace=REMOTE_NS)]
SESSION = (MP_ADDRESS, MP_ADDRESS, "ok")
CG = ["-C", "-g", PASSWORD, "-h", MP_ADDRESS]

# Runs that report. name, faults, arguments, standard input, the report (the command line that prints it
# when the complex behind the MP is served locally), what follows its standard error, and the session:
# (typed address, address of the path the provider returned, result of the deletion).
REPORTS = [
    ("display all", (), ["-g", PASSWORD, "-h", MP_ADDRESS], None, (), "", SESSION),
    ("complex, host before -g", (), ["-X", "-h", MP_ADDRESS, "-g", PASSWORD], None, ("-X",), "", SESSION),
    # The path the provider returns (its spelling of the host) is asked and deleted; "Address" is as typed.
    ("I/O chassis, host name", (), ["-I", "-g", PASSWORD, "-h", MP_HOST_TYPED], None, ("-I",), "",
     (MP_HOST_TYPED, MP_HOST, "ok")),
    ("password with markup and blanks", (), ["-X", "-g", MARKUP_PASSWORD, "-h", MARKUP_ADDRESS], None, ("-X",), "",
     (MARKUP_ADDRESS, MARKUP_ADDRESS, "ok")),
    # Redirected input is no terminal: no prompt, its first line is the password.
    ("password from redirected input", (), ["-C", "-g", "-h", MP_ADDRESS], PASSWORD + "\nignored\n", ("-C",), "",
     SESSION),
    # The release at exit reports the library's message; the reports were shown, so the status stays 0.
    ("failed deletion", [cim_error(1, "MP busy", operation="DeleteInstance")], CG, None, ("-C",),
     "CIM_ERR_FAILED: MP busy\n", (MP_ADDRESS, MP_ADDRESS, "cim-error 1")),
]
# Runs that fail after the note, with status 1. name, faults, arguments, standard input, stderr (or a tuple:
# lines before, start of the library's message, a text it contains), the requests (op, ns, result).
# (How each CIM status is classified is shown at the probe of -u; here what differs for -g.)
DENIED = (VIOLATION, "CIM_ERR_ACCESS_DENIED: ", "@11:")
FAILURES = [
    ("wrong IPMI password", (), ["-C", "-g", "not-" + PASSWORD, "-h", MP_ADDRESS], None, DENIED, [CREATE_ERROR(2)]),
    # An empty answer is a password of its own, sent as a value, not as null.
    ("empty redirected password", (), ["-C", "-g", "-h", MP_ADDRESS], "\n", DENIED, [CREATE_ERROR(2)]),
    ("unknown MP address", (), ["-C", "-g", PASSWORD, "-h", "10.9.9.9"], None,
     (LOCALHOST, "CIM_ERR_NOT_FOUND: ", "@12:"), [CREATE_ERROR(6)]),
    ("provider code 11 wins over a missing-provider status", CREATE_FAULT(6, "no@11:locked out"), CG, None,
     VIOLATION + "CIM_ERR_NOT_FOUND: no@11:locked out\n", [CREATE_ERROR(6)]),
    # "Unauthorized" in the text counts at the probe only.
    ("creation refused: other status and code", CREATE_FAULT(1, "Unauthorized@12:later"), CG, None,
     FAILED + "CIM_ERR_FAILED: Unauthorized@12:later\n", [CREATE_ERROR(1)]),
    # A creation whose answer is lost fails like a refused one: nothing is deleted at exit.
    ("creation answered with HTTP 500", [fault("httpStatus", status=500, operation="CreateInstance")], CG,
     None, FAILED + "The CIM server answered HTTP 500\n", [("CreateInstance", LOCAL_NS, "http 500")]),
    ("creation dropped", [fault("drop", operation="CreateInstance")], CG, None,
     FAILED + "The CIM server closed the connection without answering\n", [("CreateInstance", LOCAL_NS, "drop")]),
    # From here on the instance exists, and is deleted in the namespace in force then.
    ("empty namespace answer", (), ["-C", "-g", PASSWORD, "-h", EMPTY_NS_ADDRESS], None, FAILED,
     CREATED + [("DeleteInstance", LOCAL_NS, "ok")]),
    ("namespace query fails", [cim_error(1, "lost", method="NameSpaceName")], CG, None,
     "CIM_ERR_FAILED: lost\n" + FAILED,
     [CREATED[0], ("InvokeMethod", LOCAL_NS, "cim-error 1"), ("DeleteInstance", LOCAL_NS, "ok")]),
    ("remote probe rejects the login", PROBE_FAULT(2, "MP session@11:expired"), CG, None,
     VIOLATION + "CIM_ERR_ACCESS_DENIED: MP session@11:expired\n",
     CREATED + [("EnumerateInstanceNames", REMOTE_NS, "cim-error 2"), ("DeleteInstance", REMOTE_NS, "ok")]),
    ("remote probe finds no namespace", PROBE_FAULT(3, "gone"), CG, None,
     LOCALHOST + "CIM_ERR_INVALID_NAMESPACE: gone\n",
     CREATED + [("EnumerateInstanceNames", REMOTE_NS, "cim-error 3"), ("DeleteInstance", REMOTE_NS, "ok")]),
]


class MPTestCase(unittest.TestCase):
    maxDiff = None

    def provider(self, faults=()):
        p = Provider(complex_file(faults))
        self.addCleanup(p.close)
        return p

    def assertStderr(self, err, expected):
        if isinstance(expected, str):
            return self.assertEqual(err, expected)
        before, start, contains = expected
        self.assertTrue(err.startswith(before), err)
        message = err[len(before):]
        self.assertEqual(message.count("\n"), 1, err)
        self.assertTrue(message.endswith("\n") and message.startswith(start) and contains in message, err)
        self.assertGreater(len(message.strip()), len(start.strip() + contains), err)

    def assertSession(self, log, session):
        """Created and asked its namespace locally, all else remote, deleted once, last."""
        typed, path_address, deleted = session
        self.assertEqual([(e["op"], e["ns"], e["class"], e["result"], e["properties"]) for e in log[:1]],
                         [("CreateInstance", LOCAL_NS, REMOTE_CLASS, "ok", sent_properties(typed))])
        self.assertEqual([(e["op"], e["ns"], e["class"], e["key"], e["method"]) for e in log[1:2]],
                         [("InvokeMethod", LOCAL_NS, REMOTE_CLASS, path_address, "NameSpaceName")])
        self.assertEqual([(e["op"], e["class"]) for e in log[2:3]], [("EnumerateInstanceNames", "XK_KestCellSlot")])
        self.assertEqual({e["ns"] for e in log[2:]}, {REMOTE_NS}, log)
        ops = [e["op"] for e in log]
        self.assertEqual((ops.count("CreateInstance"), ops.count("DeleteInstance")), (1, 1), log)
        self.assertEqual((log[-1]["op"], log[-1]["class"], log[-1]["key"], log[-1]["result"]),
                         ("DeleteInstance", REMOTE_CLASS, path_address, deleted), log[-1])


class ThroughTheMP(MPTestCase):
    def test_scenarios(self):
        rows = [(n, f, a, i, (NOTE + served_locally(*r)[0], served_locally(*r)[1] + e), 0, s)
                for n, f, a, i, r, e, s in REPORTS]
        rows += [(n, f, a, i, (NOTE, e), 1, r) for n, f, a, i, e, r in FAILURES]
        for name, faults, args, stdin, (stdout, stderr), status, requests in rows:
            with self.subTest(name), Provider(complex_file(faults)) as p:
                out, err, code = run(args, env=p.env, input_text=stdin)
                self.assertEqual((out, code), (stdout, status))
                self.assertStderr(err, stderr)
                log = p.log()
                if status:
                    self.assertEqual([(e["op"], e["ns"], e["result"]) for e in log], requests)
                    address = args[args.index("-h") + 1]
                    self.assertEqual(log[0]["properties"], sent_properties(address))
                    self.assertEqual(log[-1]["class"], REMOTE_CLASS)
                    self.assertEqual(log[-1]["key"], address if len(log) > 1 else log[-1]["key"])
                else:
                    self.assertSession(log, requests)

    def test_reader_gone_still_deletes_the_instance(self):
        # Standard output is a pipe nobody reads: status 1 quietly, and the instance is still deleted.
        p = self.provider()
        reader, writer = os.pipe()
        os.close(reader)
        try:
            r = subprocess.run([CMPLXVIEW] + CG, env=p.env, stdout=writer, stderr=subprocess.PIPE, timeout=60)
        finally:
            os.close(writer)
        self.assertEqual((r.stderr, r.returncode), (b"", 1))
        self.assertSession(p.log(), SESSION)

    def test_signal_during_a_slow_request(self):
        # The slow request is under way (the provider logs it before it waits): the signal ends the run at once;
        # an instance created is still deleted, over a new connection (the interrupted one closed with it).
        slow = lambda op, cls, ns=LOCAL_NS: fault("delay", ms=30000, operation=op, namespace=ns, **{"class": cls})
        for name, rule, args, signal_number, stdout in [
            ("SIGTERM, local", slow("EnumerateInstanceNames", "XK_KestComplex"), ["-C"], signal.SIGTERM, ""),
            ("SIGINT, over HTTPS", slow("EnumerateInstances", "XK_KestLocalPartition"),
             ["-w", "-u", "admin:kest-pw", "-h"], signal.SIGINT, ""),
            ("SIGINT through the MP", slow("EnumerateInstances", "XK_KestCellSlot", REMOTE_NS), CG, signal.SIGINT,
             NOTE),
        ]:
            p, address = https_provider(complex_file([rule]))
            with self.subTest(name), p:
                proc = spawn(args + [address] if args[-1] == "-h" else args, p.env)
                self.addCleanup(proc.kill)
                await_request(p, proc, lambda e: e["result"] == "delay")
                time.sleep(0.2)
                proc.send_signal(signal_number)
                out, err = proc.communicate(timeout=20)  # the answer comes after 30 s
                self.assertEqual((out.decode(), err.decode(), proc.returncode),
                                 (stdout, "Internal Error: Received signal %d.\n" % signal_number, 1))
                log = p.log()
                slow_requests = [e for e in log if e["result"] == "delay"]
                self.assertEqual(len(slow_requests), 1, log)
                if args is CG:
                    self.assertSession(log, SESSION)
                    self.assertNotEqual(log[-1]["conn"], slow_requests[0]["conn"])

    def test_password_typed_at_the_prompt_is_sent(self):
        # Standard input a terminal: what is typed after the prompt is the password sent, an empty line an empty
        # one. (The prompt, the echo and signals at the prompt are the command line's own tests.)
        for args, address in [(["-C", "-g", "-h", MP_ADDRESS], MP_ADDRESS),
                              (["-h", EMPTY_PASSWORD_ADDRESS, "-C", "-g"], EMPTY_PASSWORD_ADDRESS)]:
            with self.subTest(address), Provider(complex_file()) as p:
                master, slave = os.openpty()
                self.addCleanup(os.close, master)
                self.addCleanup(os.close, slave)
                proc = spawn(args, p.env, stdin=slave, start_new_session=True)
                self.addCleanup(lambda: proc.poll() is None and proc.kill())
                shown, deadline = b"", time.monotonic() + 20
                while not shown.endswith(PROMPT.encode()) and time.monotonic() < deadline:
                    if select.select([proc.stdout], [], [], 1)[0]:
                        shown += os.read(proc.stdout.fileno(), 4096) or b"(closed)"
                os.write(master, (PASSWORD if address == MP_ADDRESS else "").encode() + b"\n")
                out, err = proc.communicate(timeout=30)
                self.assertEqual(((shown + out).decode(), err.decode(), proc.returncode),
                                 (PROMPT + "\n" + NOTE + served_locally("-C")[0], served_locally("-C")[1], 0))
                self.assertSession(p.log(), (address, address, "ok"))


class SignalsAtRandomMoments(MPTestCase):
    """SIGINT and SIGTERM at random moments of a large local report and of a report through the MP: each run
    ends soon with the signal's message after a beginning of the whole output, or is whole; no instance is left.
    SIGNAL_RUNS sets the runs per row, SIGNAL_SEED the moments."""

    BOUND_S = 10

    def interrupted_run(self, provider, args, delay, signal_number):
        proc = spawn(args, provider.env)
        # The moment counts from when the program catches the signal (before, the default action ends it).
        armed = time.monotonic() + self.BOUND_S
        while proc.poll() is None and time.monotonic() < armed and not catches(proc.pid):
            time.sleep(0.0005)
        time.sleep(delay)
        signalled = time.monotonic()
        if signal_number:
            proc.send_signal(signal_number)
        try:
            out, err = proc.communicate(timeout=self.BOUND_S)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.communicate()
            self.fail("%s hung after signal %d at %.3f s" % (args, signal_number, delay))
        return out.decode(), err.decode(), proc.returncode, time.monotonic() - signalled

    def test_moments(self):
        runs = int(os.environ.get("SIGNAL_RUNS", "50"))
        seed = int(os.environ.get("SIGNAL_SEED", str(time.time_ns() % 100000)))
        rng = random.Random(seed)
        large = subprocess.run([sys.executable, example("generate.py"), "--cells", "64"], capture_output=True,
                               check=True).stdout
        local = Provider(json.loads(large))
        self.addCleanup(local.close)
        # The remote cells come slowly: some signals arrive while the answer is awaited.
        mp = self.provider([fault("delay", ms=20, operation="EnumerateInstances", namespace=REMOTE_NS,
                                  **{"class": "XK_KestCell"})])
        counts = []
        for command, provider, args in [("large local report", local, []),
                                        ("report through the MP", mp, ["-g", PASSWORD, "-h", MP_ADDRESS])]:
            # The fastest of three uninterrupted runs: on a busy machine one of them may be slow.
            whole = [self.interrupted_run(provider, args, 0, None) for _ in range(3)]
            (whole_out, whole_err, whole_status, _), duration = whole[0], min(w[3] for w in whole)
            self.assertEqual(whole_status, 0, whole_err)
            # Moments as fractions of an uninterrupted run (the start: connection, -g creation; the end: release).
            for moment, low, high in [("at the start", 0.0, 0.15), ("anywhere", 0.0, 1.0), ("about the end", 0.8, 1.2)]:
                interrupted = 0
                for n in range(runs):
                    signal_number = (signal.SIGINT, signal.SIGTERM)[n % 2]
                    delay = rng.uniform(low, high) * duration
                    case = "%s, %s: signal %d at %.3f s (seed %d)" % (command, moment, signal_number, delay, seed)
                    out, err, status, _ = self.interrupted_run(provider, args, delay, signal_number)
                    message = "Internal Error: Received signal %d.\n" % signal_number
                    if status == 0:  # the signal came after the work was done
                        self.assertEqual((out, err), (whole_out, whole_err), case)
                        continue
                    interrupted += 1
                    self.assertEqual(status, 1, case)
                    self.assertTrue(err.endswith(message) and whole_err.startswith(err[:-len(message)]),
                                    "%s: %r" % (case, err))
                    self.assertTrue(whole_out.startswith(out), "%s: %r" % (case, out))
                counts.append("%s, %s: %d of %d" % (command, moment, interrupted, runs))
                if high <= 1.0:
                    self.assertGreater(interrupted, runs // 4, "%s, %s: few runs interrupted" % (command, moment))
        ops = [(e["op"], e["result"]) for e in mp.log()]
        self.assertEqual(ops.count(("CreateInstance", "ok")), ops.count(("DeleteInstance", "ok")),
                         "remote-complex instances left on the provider")
        sys.stderr.write("runs interrupted: %s\n" % "; ".join(counts))


def catches(pid):
    """Whether the process is the program (not the test between fork and exec) and catches SIGINT."""
    try:
        with open("/proc/%d/status" % pid) as f:
            status = dict(line.split(":", 1) for line in f if ":" in line)
    except OSError:
        return False
    return (status.get("Name", "").strip() == os.path.basename(CMPLXVIEW)[:15]
            and bool(int(status.get("SigCgt", "0"), 16) >> (signal.SIGINT - 1) & 1))


if __name__ == "__main__":
    unittest.main()
