"""Reaching a complex through its management processor (-g): the remote-complex
instance, the switch to the namespace the provider answers with, the reports
run there, the deletion of the instance at exit (also after an error or a
signal), the failure branches and the IPMI password prompt.

The complex file holds two complexes that differ everywhere: the local one in
root/cimv2/kest and the one behind the MP in root/cimv2/kest/mp1.
"""
import errno
import os
import random
import select
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest

from frames import CABINET_HEADER, CELL_HEADER, CHASSIS_HEADER, PARTITION_HEADER, CABINET_NOTES, CELL_NOTES, DEFAULT_NOTE
from harness import CMPLXVIEW, Provider, ScenarioTest, example, run

LOCAL_NS, REMOTE_NS, REMOTE_CLASS = "root/cimv2/kest", "root/cimv2/kest/mp1", "XK_KestRemoteComplex"
MP_ADDRESS = "10.1.1.1"
MP_HOST, MP_HOST_TYPED = "mp-east.example", "MP-East.example"  # as the provider knows it, as typed
EMPTY_NS_ADDRESS = "10.2.2.2"        # the provider answers NameSpaceName with an empty text
EMPTY_PASSWORD_ADDRESS = "10.3.3.3"  # an MP whose IPMI password is empty
MARKUP_ADDRESS, MARKUP_PASSWORD = "10.4.4.4", ' <Ip&mi>"\' 7 '
UNKNOWN_ADDRESS = "10.9.9.9"
PASSWORD = "Ipmi-7731-kx"

NOTE = "Note: The -g option may require up to 2 minutes to complete.  Please wait...\n"
PROMPT = "Please enter the IPMI password:  "
VIOLATION = "Error: Remote user or IPMI password violation.\n"
FAILED = "Error: Failed to connect to target partition or complex.\n"
LOCALHOST = (
    "Error: Unable to connect to the Kest Provider on <localhost>.\n"
    "1. Verify that the XK Kest Provider (WMIKestProvider on Windows) is installed and running on <localhost>.\n"
    "2. Verify that you are logged-in to the correct account (or have provided the correct username & password) "
    "to access the provider on <localhost>.\n")


def columns(*fields, width=79):
    """A line of `width` blanks with each (column, text) written from its column."""
    line = [" "] * width
    for column, text in fields:
        line[column:column + len(text)] = text
    return "".join(line) + "\n"


# Behind the MP: cabinet 7 (2-cell compute, active MP), a populated and an
# empty cell slot, one I/O chassis wired to the populated cell, no partitions.
REMOTE_CLASSES = {
    "XK_KestComplex": [{"ProfileID": 0, "ComplexName": "falcon", "ModelString": "KX2000", "RevisionString": "2.1",
                        "CreatorSerialNumber": "FAL0042", "OriginalProductOrderNumber": "KX2000-B07",
                        "CreatorManufacturer": "Kestrel Systems", "CellAssignments": [255, 255]}],
    "XK_KestCabinet": [{"ID": 7, "CabinetType": 5, "ServiceProcessorCount": 1, "ServiceProcessorStatus": [2]}],
    "XK_KestPowerCoolingDomain": [
        {"CabinetID": 7, "DomainType": 3, "DomainSubtype": 2, "RedundancyState": 3,
         "UnitPresent": [True, True, True, True], "UnitFailed": [False, False, False, False]},
        {"CabinetID": 7, "DomainType": 2, "DomainSubtype": 2, "RedundancyState": 2,
         "UnitPresent": [True, True, True], "UnitFailed": [False, True, False]}],
    "XK_KestCellSlot": [
        {"ID": 0, "CabinetID": 7, "Number": 0, "LongLabel": "cab7, cell0", "Populated": True},
        {"ID": 1, "CabinetID": 7, "Number": 1, "LongLabel": "cab7,cell1", "Populated": False}],
    "XK_KestCell": [{"SlotID": 0, "ComponentStatus": 5, "CellUsage": 5, "CPUCount": 2, "CPUCountOK": 2,
                     "MaxCPUCount": 4, "TotalMemoryInstalled": 16384, "TotalMemoryOK": 12288,
                     "ConnectedToIOChassis": True, "ConnectedIOChassisID": 0, "HasCoreIO": False}],
    "XK_KestIOChassisSlot": [{"ID": 0, "CabinetID": 7, "IOBayNumber": 0, "Number": 1,
                              "LongLabel": "cab7,bay0,chassis1", "Populated": True}],
    "XK_KestIOChassis": [{"SlotID": 0, "ComponentStatus": 5, "Connected": True, "ConnectedCellID": 0,
                          "HasCoreIO": True}],
}
# Local: another name, cabinet 0, one inactive cell, an empty I/O bay.
LOCAL_CLASSES = {
    "XK_KestComplex": [{"ProfileID": 0, "ComplexName": "kite", "ModelString": "KX9000", "CellAssignments": [255]}],
    "XK_KestCabinet": [{"ID": 0, "CabinetType": 2, "ServiceProcessorCount": 1, "ServiceProcessorStatus": [3]}],
    "XK_KestPowerCoolingDomain": [{"CabinetID": 0, "DomainType": 3, "DomainSubtype": 3, "RedundancyState": 4,
                                   "UnitPresent": [True], "UnitFailed": [True]}],
    "XK_KestCellSlot": [{"ID": 0, "CabinetID": 0, "Number": 0, "LongLabel": "cab0,cell0", "Populated": True}],
    "XK_KestCell": [{"SlotID": 0, "ComponentStatus": 4, "CellUsage": 3, "CPUCount": 4, "CPUCountOK": 4,
                     "MaxCPUCount": 4, "TotalMemoryInstalled": 8192, "TotalMemoryOK": 8192,
                     "ConnectedToIOChassis": False, "HasCoreIO": True}],
    "XK_KestIOChassisSlot": [{"ID": 0, "CabinetID": 0, "IOBayNumber": 0, "Number": 0,
                              "LongLabel": "cab0,bay0,chassis0", "Populated": False}],
}


def complex_file(faults=()):
    mps = [(MP_ADDRESS, PASSWORD, REMOTE_NS), (MP_HOST, PASSWORD, REMOTE_NS), (EMPTY_NS_ADDRESS, PASSWORD, ""),
           (EMPTY_PASSWORD_ADDRESS, "", REMOTE_NS), (MARKUP_ADDRESS, MARKUP_PASSWORD, REMOTE_NS)]
    return {"namespaces": {LOCAL_NS: LOCAL_CLASSES, REMOTE_NS: REMOTE_CLASSES}, "faults": list(faults),
            "remoteComplexes": [{"address": a, "password": p, "namespace": n} for a, p, n in mps]}


REMOTE_COMPLEX = (
    "[Complex]\n   Complex Name : falcon\n   Complex Capacity\n     Compute Cabinet (2 cell capable) : 1\n"
    "   Active MP Location : cabinet 7\n   Model : KX2000\n   Original Serial Number : FAL0042\n"
    "   Original Product Order Number : KX2000-B07\n   Original Manufacturer : Kestrel Systems\n"
    "   Complex Profile Revision : 2.1\n   The total number of partitions present : 0\n\n")
REMOTE_CELLS = (CELL_HEADER
                + columns((0, "cab7,cell0"), (11, "Active"), (18, "Float"), (24, "2/0/4"), (32, "12.0/4.0"),
                          (42, "cab7,bay0,chassis1"), (62, "no "), (70, "-"), (75, "-"))
                + columns((0, "cab7,cell1"), (11, "Absent      "), (24, "-"), (32, "-"), (42, "-"), (62, "-"),
                          (70, "-"), (75, "-"))
                + CELL_NOTES)
REMOTE_CHASSIS = CHASSIS_HEADER + columns((0, "cab7,bay0,chassis1"), (20, "Active"), (33, "yes"), (38, "cab7,cell0"),
                                          (49, "-"))
REMOTE_ALL = (REMOTE_COMPLEX + CABINET_HEADER
              + columns((0, "7"), (4, "Compute 2"), (18, "4/0/N"), (28, "-"), (38, "2/1/N+"), (50, "-"), (65, "Active"))
              + CABINET_NOTES + REMOTE_CELLS + REMOTE_CHASSIS + PARTITION_HEADER + "No partitions found.")
LOCAL_CELLS = (CELL_HEADER + columns((0, "cab0,cell0"), (11, "Inactive"), (24, "4/0/4"), (32, "8.0/0.0"), (42, "-"),
                                     (62, "yes"), (70, "-"), (75, "-")) + CELL_NOTES)


def sent_properties(address):
    """The new instance's properties as the provider logs them (a password only as ****)."""
    return [{"name": "Address", "type": "string", "array": False, "value": address},
            {"name": "Password", "type": "string", "array": False, "value": "****"}]


def create_fault(code, description):
    return [{"operation": "CreateInstance", "action": "cimError", "code": code, "description": description}]


def probe_fault(code, description):
    return [{"operation": "EnumerateInstanceNames", "namespace": REMOTE_NS, "action": "cimError", "code": code,
             "description": description}]


CREATED = [("CreateInstance", LOCAL_NS, "ok"), ("InvokeMethod", LOCAL_NS, "ok")]
# A whole session: (typed address, address of the path the provider returned, result of the deletion).
SESSION = (MP_ADDRESS, MP_ADDRESS, "ok")

# name, faults, arguments, standard input, stdout, stderr, status, and either a SESSION (created, asked
# in the local namespace, everything else remote, deleted once at the end) or the requests (op, ns, result).
# A stderr tuple is (lines before, start of the library's message, text it contains) for a message
# whose description is the provider's own.
SCENARIOS = [
    ("display all", (), ["-g", PASSWORD, "-h", MP_ADDRESS], None, NOTE + REMOTE_ALL, DEFAULT_NOTE, 0, SESSION),
    ("complex, host before -g", (), ["-X", "-h", MP_ADDRESS, "-g", PASSWORD], None, NOTE + REMOTE_COMPLEX, "", 0,
     SESSION),
    # The path the provider returns (its spelling of the host) is asked and deleted; "Address" is as typed.
    ("I/O chassis, host name", (), ["-I", "-g", PASSWORD, "-h", MP_HOST_TYPED], None, NOTE + REMOTE_CHASSIS, "", 0,
     (MP_HOST_TYPED, MP_HOST, "ok")),
    ("password with markup and blanks", (), ["-X", "-g", MARKUP_PASSWORD, "-h", MARKUP_ADDRESS], None,
     NOTE + REMOTE_COMPLEX, "", 0, (MARKUP_ADDRESS, MARKUP_ADDRESS, "ok")),
    # Redirected input is no terminal: no prompt, its first line is the password.
    ("password from redirected input", (), ["-C", "-g", "-h", MP_ADDRESS], PASSWORD + "\nignored\n",
     NOTE + REMOTE_CELLS, "", 0, SESSION),
    # The release at exit reports the library's message; the reports were shown, so the status stays 0.
    ("failed deletion", [{"operation": "DeleteInstance", "action": "cimError", "code": 1, "description": "MP busy"}],
     ["-C", "-g", PASSWORD, "-h", MP_ADDRESS], None, NOTE + REMOTE_CELLS, "CIM_ERR_FAILED: MP busy\n", 0,
     (MP_ADDRESS, MP_ADDRESS, "cim-error 1")),
    ("without -g the local complex", (), ["-C"], None, LOCAL_CELLS, "", 0, None),
    ("wrong IPMI password", (), ["-C", "-g", "not-" + PASSWORD, "-h", MP_ADDRESS], None, NOTE,
     (VIOLATION, "CIM_ERR_ACCESS_DENIED: ", "@11:"), 1, [("CreateInstance", LOCAL_NS, "cim-error 2")]),
    # An empty answer is a password of its own, sent as a value, not as null.
    ("empty redirected password", (), ["-C", "-g", "-h", MP_ADDRESS], "\n", NOTE,
     (VIOLATION, "CIM_ERR_ACCESS_DENIED: ", "@11:"), 1, [("CreateInstance", LOCAL_NS, "cim-error 2")]),
    ("unknown MP address", (), ["-C", "-g", PASSWORD, "-h", UNKNOWN_ADDRESS], None, NOTE,
     (LOCALHOST, "CIM_ERR_NOT_FOUND: ", "@12:"), 1, [("CreateInstance", LOCAL_NS, "cim-error 6")]),
    ("provider code 11 wins over a missing-provider status", create_fault(6, "MP said no@11:locked out"),
     ["-C", "-g", PASSWORD, "-h", MP_ADDRESS], None, NOTE, VIOLATION + "CIM_ERR_NOT_FOUND: MP said no@11:locked out\n",
     1, [("CreateInstance", LOCAL_NS, "cim-error 6")]),
    ("creation refused: class missing", create_fault(5, "no such class"), ["-C", "-g", PASSWORD, "-h", MP_ADDRESS],
     None, NOTE, LOCALHOST + "CIM_ERR_INVALID_CLASS: no such class\n", 1, [("CreateInstance", LOCAL_NS, "cim-error 5")]),
    ("creation refused: namespace missing", create_fault(3, "no namespace"), ["-C", "-g", PASSWORD, "-h", MP_ADDRESS],
     None, NOTE, LOCALHOST + "CIM_ERR_INVALID_NAMESPACE: no namespace\n", 1,
     [("CreateInstance", LOCAL_NS, "cim-error 3")]),
    ("creation refused: other status and code", create_fault(1, "MP busy@12:try later"),
     ["-C", "-g", PASSWORD, "-h", MP_ADDRESS], None, NOTE, FAILED + "CIM_ERR_FAILED: MP busy@12:try later\n", 1,
     [("CreateInstance", LOCAL_NS, "cim-error 1")]),
    # A creation whose answer is lost fails like a refused one: nothing is deleted at exit.
    ("creation answered with HTTP 500", [{"operation": "CreateInstance", "action": "httpStatus", "status": 500}],
     ["-C", "-g", PASSWORD, "-h", MP_ADDRESS], None, NOTE, FAILED + "The CIM server answered HTTP 500\n", 1,
     [("CreateInstance", LOCAL_NS, "http 500")]),
    ("creation dropped", [{"operation": "CreateInstance", "action": "drop"}], ["-C", "-g", PASSWORD, "-h", MP_ADDRESS],
     None, NOTE, FAILED + "The CIM server closed the connection without answering\n", 1,
     [("CreateInstance", LOCAL_NS, "drop")]),
    # From here on the instance exists, and is deleted in the namespace in force then.
    ("empty namespace answer", (), ["-C", "-g", PASSWORD, "-h", EMPTY_NS_ADDRESS], None, NOTE, FAILED, 1,
     CREATED + [("DeleteInstance", LOCAL_NS, "ok")]),
    ("namespace query fails", [{"method": "NameSpaceName", "action": "cimError", "code": 1, "description": "MP lost"}],
     ["-C", "-g", PASSWORD, "-h", MP_ADDRESS], None, NOTE, "CIM_ERR_FAILED: MP lost\n" + FAILED, 1,
     [("CreateInstance", LOCAL_NS, "ok"), ("InvokeMethod", LOCAL_NS, "cim-error 1"), ("DeleteInstance", LOCAL_NS, "ok")]),
    ("remote probe rejects the login", probe_fault(2, "MP session@11:expired"),
     ["-C", "-g", PASSWORD, "-h", MP_ADDRESS], None, NOTE, VIOLATION + "CIM_ERR_ACCESS_DENIED: MP session@11:expired\n",
     1, CREATED + [("EnumerateInstanceNames", REMOTE_NS, "cim-error 2"), ("DeleteInstance", REMOTE_NS, "ok")]),
    ("remote probe finds no namespace", probe_fault(3, "gone"), ["-C", "-g", PASSWORD, "-h", MP_ADDRESS], None, NOTE,
     LOCALHOST + "CIM_ERR_INVALID_NAMESPACE: gone\n", 1,
     CREATED + [("EnumerateInstanceNames", REMOTE_NS, "cim-error 3"), ("DeleteInstance", REMOTE_NS, "ok")]),
]


class MPTestCase(ScenarioTest):
    def provider(self, faults=()):
        p = Provider(complex_file(faults))
        self.addCleanup(p.close)
        return p

    def assertNoPassword(self, provider, *texts):
        with open(provider.log_path, encoding="utf-8") as f:
            for text in texts + (f.read(),):
                self.assertNotIn(PASSWORD, text)

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
        """Created in the local namespace, asked its namespace there, every other request remote,
        deleted once there as the last request; without a session, nothing created or remote."""
        if session is None:
            self.assertEqual({(e["ns"], e["op"] in ("CreateInstance", "DeleteInstance")) for e in log},
                             {(LOCAL_NS, False)}, log)
            return
        typed, path_address, deleted = session
        self.assertEqual([(e["op"], e["ns"], e["class"], e["result"], e["properties"]) for e in log[:1]],
                         [("CreateInstance", LOCAL_NS, REMOTE_CLASS, "ok", sent_properties(typed))])
        self.assertEqual([(e["op"], e["ns"], e["class"], e["key"], e["method"]) for e in log[1:2]],
                         [("InvokeMethod", LOCAL_NS, REMOTE_CLASS, path_address, "NameSpaceName")])
        self.assertEqual([(e["op"], e["class"]) for e in log[2:3]], [("EnumerateInstanceNames", "XK_KestCellSlot")])
        self.assertEqual({e["ns"] for e in log[2:]}, {REMOTE_NS}, log)
        self.assertEqual([e["op"] for e in log].count("DeleteInstance"), 1, log)
        self.assertEqual([e["op"] for e in log].count("CreateInstance"), 1, log)
        self.assertEqual((log[-1]["op"], log[-1]["class"], log[-1]["key"], log[-1]["result"]),
                         ("DeleteInstance", REMOTE_CLASS, path_address, deleted), log[-1])


class ThroughTheMP(MPTestCase):
    def test_scenarios(self):
        for name, faults, args, stdin, stdout, stderr, status, expected in SCENARIOS:
            with self.subTest(name), Provider(complex_file(faults)) as p:
                out, err, code = run(args, env=p.env, input_text=stdin)
                self.assertEqual((out, code), (stdout, status))
                self.assertStderr(err, stderr)
                log = p.log()
                if isinstance(expected, list):
                    self.assertEqual([(e["op"], e["ns"], e["result"]) for e in log], expected)
                    address = args[args.index("-h") + 1]
                    self.assertEqual(log[0]["properties"], sent_properties(address))
                    self.assertEqual(log[-1]["class"], REMOTE_CLASS)
                    self.assertEqual(log[-1]["key"], address if len(log) > 1 else log[-1]["key"])
                else:
                    self.assertSession(log, expected)
                self.assertNoPassword(p, out, err)

    def test_reader_gone_still_deletes_the_instance(self):
        # Standard output is a pipe nobody reads: status 1 quietly, and the instance is still deleted.
        p = self.provider()
        reader, writer = os.pipe()
        os.close(reader)
        try:
            r = subprocess.run([CMPLXVIEW, "-C", "-g", PASSWORD, "-h", MP_ADDRESS], env=p.env, stdout=writer,
                               stderr=subprocess.PIPE, timeout=60)
        finally:
            os.close(writer)
        self.assertEqual((r.stderr, r.returncode), (b"", 1))
        self.assertSession(p.log(), SESSION)

    def test_local_provider_absent(self):
        # The diagnostics name the local machine; the note is not printed, the connection comes first.
        out, err, status = run(["-C", "-g", PASSWORD, "-h", MP_ADDRESS])
        self.assertEqual((out, status), ("", 1))
        self.assertStderr(err, (LOCALHOST, "", ""))
        self.assertNotIn(PASSWORD, err)

    def test_sigint_during_a_slow_report_still_deletes_the_instance(self):
        p = self.provider([{"operation": "EnumerateInstances", "namespace": REMOTE_NS, "class": "XK_KestCellSlot",
                            "action": "delay", "ms": 30000}])
        started = time.monotonic()
        proc = subprocess.Popen([CMPLXVIEW, "-C", "-g", PASSWORD, "-h", MP_ADDRESS], env=p.env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            while not any(e.get("fault") == "delay" for e in p.log()):
                self.assertIsNone(proc.poll(), "cmplxview ended before the slow request")
                self.assertLess(time.monotonic() - started, 20, "the slow request never arrived")
                time.sleep(0.02)
            time.sleep(0.2)
            proc.send_signal(signal.SIGINT)
            out, err = proc.communicate(timeout=20)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.communicate()
        self.assertLess(time.monotonic() - started, 25, "the program waited for the slow answer")
        self.assertEqual((out.decode(), err.decode(), proc.returncode), (NOTE, "Internal Error: Received signal 2.\n", 1))
        log = p.log()
        slow = [e for e in log if e.get("fault") == "delay"]
        self.assertEqual(len(slow), 1, log)
        self.assertSession(log, SESSION)
        # The interrupted request's connection was closed with it: the deletion comes over a new one.
        self.assertNotEqual(log[-1]["conn"], slow[0]["conn"])


class SignalsAtRandomMoments(MPTestCase):
    """SIGINT or SIGTERM, alternately, at random moments of many runs of a large local report and of a
    report through the MP. Each run ends within BOUND_S of the signal, with the signal's message last on
    standard error and status 1, having printed a beginning of an uninterrupted run's output; a signal
    after the work is done leaves an uninterrupted run. Every instance created is deleted.
    SIGNAL_RUNS sets the runs per row, SIGNAL_SEED the random moments."""

    BOUND_S = 10

    def interrupted_run(self, provider, args, delay, signal_number):
        proc = subprocess.Popen([CMPLXVIEW] + args, env=provider.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # The moment counts from when the program catches the signal (before, the default action ends it).
        armed = time.monotonic() + self.BOUND_S
        while proc.poll() is None and time.monotonic() < armed and not self.catches(proc.pid):
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

    @staticmethod
    def catches(pid):
        try:  # the program, not the test's own process between fork and exec
            with open("/proc/%d/status" % pid) as f:
                status = dict(line.split(":", 1) for line in f if ":" in line)
        except OSError:
            return False
        return (status.get("Name", "").strip() == os.path.basename(CMPLXVIEW)[:15]
                and bool(int(status.get("SigCgt", "0"), 16) >> (signal.SIGINT - 1) & 1))

    def test_moments(self):
        runs = int(os.environ.get("SIGNAL_RUNS", "50"))
        seed = int(os.environ.get("SIGNAL_SEED", str(time.time_ns() % 100000)))
        rng = random.Random(seed)
        with tempfile.TemporaryDirectory(prefix="kest-signals-") as d:
            large = os.path.join(d, "large.json")
            with open(large, "w") as f:
                subprocess.run([sys.executable, example("generate.py"), "--cells", "64"], stdout=f, check=True)
            local = Provider(large)
            self.addCleanup(local.close)
            # The remote cells come slowly: some signals arrive while the answer is awaited.
            mp = self.provider([{"operation": "EnumerateInstances", "namespace": REMOTE_NS, "class": "XK_KestCell",
                                 "action": "delay", "ms": 20}])
            # Moments as fractions of an uninterrupted run: at the start (connection, -g creation),
            # anywhere, about the end (the last lines, the release).
            moments = [("at the start", 0.0, 0.15), ("anywhere", 0.0, 1.0), ("about the end", 0.8, 1.2)]
            counts = []
            for command, provider, args in [("large local report", local, []),
                                            ("report through the MP", mp, ["-g", PASSWORD, "-h", MP_ADDRESS])]:
                whole_out, whole_err, whole_status, duration = self.interrupted_run(provider, args, 0, None)
                self.assertEqual(whole_status, 0, whole_err)
                for moment, low, high in moments:
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
                        self.assertTrue(err.endswith(message), "%s: %r" % (case, err))
                        self.assertTrue(whole_err.startswith(err[:-len(message)]), "%s: %r" % (case, err))
                        self.assertTrue(whole_out.startswith(out), "%s: %r" % (case, out))
                    counts.append("%s, %s: %d of %d" % (command, moment, interrupted, runs))
                    if high <= 1.0:
                        self.assertGreater(interrupted, runs // 4, "%s, %s: few runs interrupted" % (command, moment))
            ops = [(e["op"], e["result"]) for e in mp.log()]
            self.assertEqual(ops.count(("CreateInstance", "ok")), ops.count(("DeleteInstance", "ok")),
                             "remote-complex instances left on the provider")
            sys.stderr.write("runs interrupted: %s\n" % "; ".join(counts))


class IPMIPrompt(MPTestCase):
    """-g without a password, standard input a terminal: the prompt, without echo."""

    def prompted_run(self, provider, args, typed):
        """Types `typed` and a line feed once the prompt shows; gives stdout, stderr, status, what the
        terminal echoed, and whether echo was on again afterwards."""
        master, slave = os.openpty()
        self.addCleanup(os.close, master)
        self.addCleanup(os.close, slave)
        proc = subprocess.Popen([CMPLXVIEW] + args, env=provider.env, stdin=slave, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, start_new_session=True)
        try:
            shown, deadline = b"", time.monotonic() + 20
            while not shown.endswith(PROMPT.encode()):
                self.assertLess(time.monotonic(), deadline, "no prompt; so far: %r" % shown)
                if select.select([proc.stdout], [], [], 1)[0]:
                    chunk = os.read(proc.stdout.fileno(), 4096)
                    self.assertTrue(chunk, "standard output closed before the prompt: %r" % shown)
                    shown += chunk
            os.write(master, typed.encode() + b"\n")
            out, err = proc.communicate(timeout=30)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.communicate()
        echoed = b""
        while select.select([master], [], [], 0.2)[0]:
            try:
                chunk = os.read(master, 4096)
            except OSError as e:
                if e.errno == errno.EIO:
                    break
                raise
            if not chunk:
                break
            echoed += chunk
        echo_on = bool(termios.tcgetattr(slave)[3] & termios.ECHO)
        return (shown + out).decode(), err.decode(), proc.returncode, echoed.decode(errors="replace"), echo_on

    def test_prompt(self):
        for name, args, typed, address, after, stderr, status in [
            # name, arguments, typed, address, stdout after the prompt line, stderr, status
            ("-g directly before -h", ["-C", "-g", "-h", MP_ADDRESS], PASSWORD, MP_ADDRESS, NOTE + REMOTE_CELLS, "", 0),
            ("final -g, display all", ["-h", MP_ADDRESS, "-g"], PASSWORD, MP_ADDRESS, NOTE + REMOTE_ALL, DEFAULT_NOTE,
             0),
            ("wrong password typed", ["-C", "-g", "-h", MP_ADDRESS], "not-" + PASSWORD, MP_ADDRESS, NOTE, VIOLATION, 1),
            # An empty answer is sent as an empty "Password", which this MP accepts.
            ("empty answer", ["-C", "-g", "-h", EMPTY_PASSWORD_ADDRESS], "", EMPTY_PASSWORD_ADDRESS,
             NOTE + REMOTE_CELLS, "", 0),
        ]:
            with self.subTest(name), Provider(complex_file()) as p:
                out, err, code, echoed, echo_on = self.prompted_run(p, args, typed)
                self.assertEqual((out, code), (PROMPT + "\n" + after, status))
                if status == 0:
                    self.assertEqual(err, stderr)
                    self.assertSession(p.log(), (address, address, "ok"))
                else:
                    self.assertStderr(err, (stderr, "", ""))
                    self.assertEqual([(e["op"], e["result"], e["properties"]) for e in p.log()],
                                     [("CreateInstance", "cim-error 2", sent_properties(address))])
                self.assertEqual(echoed.strip("\r\n"), "", "the terminal echoed %r" % echoed)
                self.assertTrue(echo_on, "echo was not switched back on")
                self.assertNoPassword(p, out, err)


if __name__ == "__main__":
    unittest.main()
