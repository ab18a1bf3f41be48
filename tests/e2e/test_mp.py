"""Reaching a complex through its management processor (-g): the remote-complex
instance, the switch to the namespace the provider answers with, the reports
run there, the deletion of the instance at exit (also after an error or a
signal), the failure branches and the IPMI password prompt.

The complex file holds two complexes that differ everywhere: the local one in
root/cimv2/kest and the one behind the MP in root/cimv2/kest/mp1. Every row
below is written field by field at the columns the reports give it.
"""
import errno
import json
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
from harness import CMPLXVIEW, Provider, ScenarioTest, run

LOCAL_NS = "root/cimv2/kest"
REMOTE_NS = "root/cimv2/kest/mp1"
REMOTE_CLASS = "XK_KestRemoteComplex"

MP_ADDRESS = "10.1.1.1"
MP_HOST = "mp-east.example"          # the same MP under a host name, as the provider knows it
MP_HOST_TYPED = "MP-East.example"    # ... and as an operator may type it
EMPTY_NS_ADDRESS = "10.2.2.2"        # the provider answers NameSpaceName with an empty text
EMPTY_PASSWORD_ADDRESS = "10.3.3.3"  # an MP whose IPMI password is empty
UNKNOWN_ADDRESS = "10.9.9.9"
PASSWORD = "Ipmi-7731-kx"
MARKUP_ADDRESS = "10.4.4.4"           # an MP whose password is full of markup and blanks
MARKUP_PASSWORD = ' <Ip&mi>"\' 7 '

NOTE = "Note: The -g option may require up to 2 minutes to complete.  Please wait...\n"
PROMPT = "Please enter the IPMI password:  "
VIOLATION = "Error: Remote user or IPMI password violation.\n"
FAILED_TO_CONNECT = "Error: Failed to connect to target partition or complex.\n"
LOCALHOST_DIAGNOSTICS = (
    "Error: Unable to connect to the Kest Provider on <localhost>.\n"
    "1. Verify that the XK Kest Provider (WMIKestProvider on Windows) is installed and running on <localhost>.\n"
    "2. Verify that you are logged-in to the correct account (or have provided the correct username & password) "
    "to access the provider on <localhost>.\n")


def columns(width, *fields):
    """A line of `width` blanks with each (column, text) written from its column."""
    line = [" "] * width
    for column, text in fields:
        assert column + len(text) <= width, (column, text)
        line[column:column + len(text)] = text
    return "".join(line) + "\n"



def cabinet_row(number, type_, blowers, fans, bps, backplane, mp):
    return columns(79, (0, number), (4, type_), (18, blowers), (28, fans), (38, bps), (50, backplane), (65, mp))


def cell_row(location, usage, qualifier, cpu, memory, connected, core, next_boot, partition):
    fields = [(0, location), (11, usage)] + ([(18, qualifier)] if qualifier else [])
    return columns(79, *fields, (24, cpu), (32, memory), (42, connected), (62, core), (70, next_boot),
                   (75, partition))


def chassis_row(location, usage, core, connected, partition):
    return columns(79, (0, location), (20, usage), (33, core), (38, connected), (49, partition))


# The complex behind the MP: cabinet 7 (a 2-cell compute cabinet with the
# active MP), one populated and one empty cell slot, one I/O chassis wired to
# the populated cell, no partitions.
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

# The local complex: another name, cabinet 0, one inactive cell, an empty I/O bay.
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
    data = {
        "namespaces": {LOCAL_NS: LOCAL_CLASSES, REMOTE_NS: REMOTE_CLASSES},
        "remoteComplexes": [
            {"address": MP_ADDRESS, "password": PASSWORD, "namespace": REMOTE_NS},
            {"address": MP_HOST, "password": PASSWORD, "namespace": REMOTE_NS},
            {"address": EMPTY_NS_ADDRESS, "password": PASSWORD, "namespace": ""},
            {"address": EMPTY_PASSWORD_ADDRESS, "password": "", "namespace": REMOTE_NS},
            {"address": MARKUP_ADDRESS, "password": MARKUP_PASSWORD, "namespace": REMOTE_NS},
        ],
    }
    if faults:
        data["faults"] = list(faults)
    return data


REMOTE_COMPLEX_BLOCK = (
    "[Complex]\n"
    "   Complex Name : falcon\n"
    "   Complex Capacity\n"
    "     Compute Cabinet (2 cell capable) : 1\n"
    "   Active MP Location : cabinet 7\n"
    "   Model : KX2000\n"
    "   Original Serial Number : FAL0042\n"
    "   Original Product Order Number : KX2000-B07\n"
    "   Original Manufacturer : Kestrel Systems\n"
    "   Complex Profile Revision : 2.1\n"
    "   The total number of partitions present : 0\n"
    "\n")
REMOTE_CABINETS = (CABINET_HEADER
                   + cabinet_row("7", "Compute 2", "4/0/N", "-", "2/1/N+", "-", "Active")
                   + CABINET_NOTES)
REMOTE_CELLS = (CELL_HEADER
                + cell_row("cab7,cell0", "Active", "Float", "2/0/4", "12.0/4.0", "cab7,bay0,chassis1", "no ", "-",
                           "-")
                + cell_row("cab7,cell1", "Absent      ", None, "-", "-", "-", "-", "-", "-")
                + CELL_NOTES)
REMOTE_CHASSIS = CHASSIS_HEADER + chassis_row("cab7,bay0,chassis1", "Active", "yes", "cab7,cell0", "-")
REMOTE_PARTITIONS = PARTITION_HEADER + "No partitions found."
REMOTE_DISPLAY_ALL = REMOTE_COMPLEX_BLOCK + REMOTE_CABINETS + REMOTE_CELLS + REMOTE_CHASSIS + REMOTE_PARTITIONS

LOCAL_CELLS = (CELL_HEADER
               + cell_row("cab0,cell0", "Inactive", None, "4/0/4", "8.0/0.0", "-", "yes", "-", "-")
               + CELL_NOTES)


def sent_properties(address, password_sent=True):
    """The properties of the new instance as the provider's log shows them
    (it never shows a password's value)."""
    return [{"name": "Address", "type": "string", "array": False, "value": address},
            {"name": "Password", "type": "string", "array": False, "value": "****" if password_sent else None}]


class MPTestCase(ScenarioTest):
    def provider(self, faults=()):
        p = Provider(complex_file(faults))
        self.addCleanup(p.close)
        return p

    def raw_log(self, provider):
        if not os.path.exists(provider.log_path):
            return ""
        with open(provider.log_path, encoding="utf-8") as f:
            return f.read()

    def assertNoPassword(self, provider, *texts):
        for text in texts + (self.raw_log(provider),):
            self.assertNotIn(PASSWORD, text)

    def assertCreated(self, entry, typed_address, password_sent=True):
        self.assertEqual((entry["op"], entry["ns"], entry["class"], entry["result"]),
                         ("CreateInstance", LOCAL_NS, REMOTE_CLASS, "ok"), entry)
        self.assertEqual(entry["properties"], sent_properties(typed_address, password_sent))

    def assertSessionThroughMP(self, log, typed_address, path_address, password_sent=True):
        """The run created the instance in the local namespace, asked for its
        namespace there, made every other request in the remote namespace,
        and deleted the instance there exactly once, as its last request."""
        self.assertGreaterEqual(len(log), 4, log)
        self.assertCreated(log[0], typed_address, password_sent)
        self.assertEqual((log[1]["op"], log[1]["ns"], log[1]["class"], log[1]["key"], log[1]["method"]),
                         ("InvokeMethod", LOCAL_NS, REMOTE_CLASS, path_address, "NameSpaceName"), log[1])
        probe = log[2]
        self.assertEqual((probe["op"], probe["ns"], probe["class"]),
                         ("EnumerateInstanceNames", REMOTE_NS, "XK_KestCellSlot"), probe)
        for entry in log[2:]:
            self.assertEqual(entry["ns"], REMOTE_NS, entry)
        deletions = [e for e in log if e["op"] == "DeleteInstance"]
        self.assertEqual(len(deletions), 1, log)
        self.assertEqual((log[-1]["op"], log[-1]["ns"], log[-1]["class"], log[-1]["key"], log[-1]["result"]),
                         ("DeleteInstance", REMOTE_NS, REMOTE_CLASS, path_address, "ok"), log[-1])
        self.assertEqual([e for e in log if e["op"] == "CreateInstance"], [log[0]])


class ReportsThroughTheMP(MPTestCase):
    """Successful runs: the note first, then the reports of the remote complex."""

    scenarios = [
        # name, arguments, address typed, address of the path the provider returned, stdout, stderr
        ("display all", ["-g", PASSWORD, "-h", MP_ADDRESS], MP_ADDRESS, MP_ADDRESS,
         NOTE + REMOTE_DISPLAY_ALL, DEFAULT_NOTE),
        ("all cells", ["-C", "-g", PASSWORD, "-h", MP_ADDRESS], MP_ADDRESS, MP_ADDRESS, NOTE + REMOTE_CELLS, ""),
        ("complex, host before -g", ["-X", "-h", MP_ADDRESS, "-g", PASSWORD], MP_ADDRESS, MP_ADDRESS,
         NOTE + REMOTE_COMPLEX_BLOCK, ""),
        # The path the provider returns (its own spelling of the host) is the
        # one asked for the namespace and deleted; "Address" holds what was typed.
        ("I/O chassis, host name", ["-I", "-g", PASSWORD, "-h", MP_HOST_TYPED], MP_HOST_TYPED, MP_HOST,
         NOTE + REMOTE_CHASSIS, ""),
        # The password reaches the MP as typed: markup characters, inner and outer blanks.
        ("password with markup and blanks", ["-X", "-g", MARKUP_PASSWORD, "-h", MARKUP_ADDRESS], MARKUP_ADDRESS,
         MARKUP_ADDRESS, NOTE + REMOTE_COMPLEX_BLOCK, ""),
    ]

    def test_scenarios(self):
        for name, args, typed, path_address, stdout, stderr in self.scenarios:
            with self.subTest(name):
                p = Provider(complex_file())
                try:
                    out, err, status = run(args, env=p.env)
                    self.assertEqual((out, err, status), (stdout, stderr, 0))
                    self.assertSessionThroughMP(p.log(), typed, path_address)
                    self.assertNoPassword(p, out, err)
                finally:
                    p.close()

    def test_failed_deletion_is_reported_and_the_status_kept(self):
        # The release at exit reports the library's message and goes on; the
        # reports were shown, so the status stays 0.
        p = self.provider([{"operation": "DeleteInstance", "action": "cimError", "code": 1,
                            "description": "MP busy"}])
        self.check(p, ["-C", "-g", PASSWORD, "-h", MP_ADDRESS], NOTE + REMOTE_CELLS, "CIM_ERR_FAILED: MP busy\n", 0)
        log = p.log()
        self.assertEqual((log[-1]["op"], log[-1]["ns"], log[-1]["result"]),
                         ("DeleteInstance", REMOTE_NS, "cim-error 1"))
        self.assertEqual(len([e for e in log if e["op"] == "DeleteInstance"]), 1)

    def test_reader_gone_still_deletes_the_instance(self):
        # Standard output is a pipe nobody reads: the run ends quietly with
        # status 1, and the release at exit still deletes the instance.
        p = self.provider()
        reader, writer = os.pipe()
        os.close(reader)
        try:
            r = subprocess.run([CMPLXVIEW, "-C", "-g", PASSWORD, "-h", MP_ADDRESS], env=p.env, stdout=writer,
                               stderr=subprocess.PIPE, timeout=60)
        finally:
            os.close(writer)
        self.assertEqual((r.stderr, r.returncode), (b"", 1))
        self.assertSessionThroughMP(p.log(), MP_ADDRESS, MP_ADDRESS)

    def test_wire_trace_never_shows_the_password(self):
        p = self.provider()
        trace = os.path.join(p.dir.name, "wire.trace")
        out, err, status = run(["-C", "-g", PASSWORD, "-h", MP_ADDRESS], env=dict(p.env, XK_CIM_TRACE=trace))
        self.assertEqual((out, err, status), (NOTE + REMOTE_CELLS, "", 0))
        with open(trace, encoding="utf-8", errors="replace") as f:
            text = f.read()
        self.assertIn("CreateInstance", text)
        self.assertIn("DeleteInstance", text)
        self.assertNotIn(PASSWORD, text)

    def test_without_g_the_local_complex_is_reported(self):
        # The two complexes really differ: the same report without -g shows
        # the local one and creates nothing.
        p = self.provider()
        self.check(p, ["-C"], LOCAL_CELLS)
        log = p.log()
        self.assertTrue(log)
        self.assertEqual({e["ns"] for e in log}, {LOCAL_NS})
        self.assertNotIn("CreateInstance", [e["op"] for e in log])
        self.assertNotIn("DeleteInstance", [e["op"] for e in log])


class FailuresThroughTheMP(MPTestCase):
    """Each failure: what stdout and stderr show, status 1, and what the
    provider saw. A library message that carries a description of the
    provider's own choosing is only known by its status name and provider
    code: such an expectation is (the program's lines before it, the start
    of the message, a text the message contains)."""

    scenarios = [
        # name, faults, address, password, stdout, stderr, requests (op, ns, result) in order
        ("wrong IPMI password", (), MP_ADDRESS, "not-" + PASSWORD, NOTE,
         (VIOLATION, "CIM_ERR_ACCESS_DENIED: ", "@11:"), [("CreateInstance", LOCAL_NS, "cim-error 2")]),
        ("unknown MP address", (), UNKNOWN_ADDRESS, PASSWORD, NOTE,
         (LOCALHOST_DIAGNOSTICS, "CIM_ERR_NOT_FOUND: ", "@12:"), [("CreateInstance", LOCAL_NS, "cim-error 6")]),
        ("provider code 11 wins over a missing-provider status",
         [{"operation": "CreateInstance", "action": "cimError", "code": 6, "description": "MP said no@11:locked out"}],
         MP_ADDRESS, PASSWORD, NOTE, VIOLATION + "CIM_ERR_NOT_FOUND: MP said no@11:locked out\n",
         [("CreateInstance", LOCAL_NS, "cim-error 6")]),
        ("creation refused: class missing",
         [{"operation": "CreateInstance", "action": "cimError", "code": 5, "description": "no such class"}],
         MP_ADDRESS, PASSWORD, NOTE, LOCALHOST_DIAGNOSTICS + "CIM_ERR_INVALID_CLASS: no such class\n",
         [("CreateInstance", LOCAL_NS, "cim-error 5")]),
        ("creation refused: namespace missing",
         [{"operation": "CreateInstance", "action": "cimError", "code": 3, "description": "no namespace"}],
         MP_ADDRESS, PASSWORD, NOTE, LOCALHOST_DIAGNOSTICS + "CIM_ERR_INVALID_NAMESPACE: no namespace\n",
         [("CreateInstance", LOCAL_NS, "cim-error 3")]),
        ("creation refused: other status, other provider code",
         [{"operation": "CreateInstance", "action": "cimError", "code": 1, "description": "MP busy@12:try later"}],
         MP_ADDRESS, PASSWORD, NOTE, FAILED_TO_CONNECT + "CIM_ERR_FAILED: MP busy@12:try later\n",
         [("CreateInstance", LOCAL_NS, "cim-error 1")]),
        # A creation whose answer is lost fails like a refused one: the
        # instance is not known to exist, and nothing is deleted at exit.
        ("creation answered with HTTP 500",
         [{"operation": "CreateInstance", "action": "httpStatus", "status": 500}],
         MP_ADDRESS, PASSWORD, NOTE, FAILED_TO_CONNECT + "The CIM server answered HTTP 500\n",
         [("CreateInstance", LOCAL_NS, "http 500")]),
        ("creation dropped without an answer",
         [{"operation": "CreateInstance", "action": "drop"}],
         MP_ADDRESS, PASSWORD, NOTE, FAILED_TO_CONNECT + "The CIM server closed the connection without answering\n",
         [("CreateInstance", LOCAL_NS, "drop")]),
        # From here on the instance exists, and is deleted at exit in the
        # namespace in force then.
        ("empty namespace answer", (), EMPTY_NS_ADDRESS, PASSWORD, NOTE, FAILED_TO_CONNECT,
         [("CreateInstance", LOCAL_NS, "ok"), ("InvokeMethod", LOCAL_NS, "ok"), ("DeleteInstance", LOCAL_NS, "ok")]),
        ("namespace query fails",
         [{"method": "NameSpaceName", "action": "cimError", "code": 1, "description": "MP lost"}],
         MP_ADDRESS, PASSWORD, NOTE, "CIM_ERR_FAILED: MP lost\n" + FAILED_TO_CONNECT,
         [("CreateInstance", LOCAL_NS, "ok"), ("InvokeMethod", LOCAL_NS, "cim-error 1"),
          ("DeleteInstance", LOCAL_NS, "ok")]),
        ("probe in the remote namespace rejects the login",
         [{"operation": "EnumerateInstanceNames", "namespace": REMOTE_NS, "action": "cimError", "code": 2,
           "description": "MP session@11:expired"}],
         MP_ADDRESS, PASSWORD, NOTE, VIOLATION + "CIM_ERR_ACCESS_DENIED: MP session@11:expired\n",
         [("CreateInstance", LOCAL_NS, "ok"), ("InvokeMethod", LOCAL_NS, "ok"),
          ("EnumerateInstanceNames", REMOTE_NS, "cim-error 2"), ("DeleteInstance", REMOTE_NS, "ok")]),
        ("probe finds no remote namespace",
         [{"operation": "EnumerateInstanceNames", "namespace": REMOTE_NS, "action": "cimError", "code": 3,
           "description": "gone"}],
         MP_ADDRESS, PASSWORD, NOTE, LOCALHOST_DIAGNOSTICS + "CIM_ERR_INVALID_NAMESPACE: gone\n",
         [("CreateInstance", LOCAL_NS, "ok"), ("InvokeMethod", LOCAL_NS, "ok"),
          ("EnumerateInstanceNames", REMOTE_NS, "cim-error 3"), ("DeleteInstance", REMOTE_NS, "ok")]),
    ]

    def assertStderr(self, err, expected):
        if isinstance(expected, str):
            self.assertEqual(err, expected)
            return
        before, start, contains = expected
        self.assertTrue(err.startswith(before), err)
        message = err[len(before):]
        self.assertEqual(message.count("\n"), 1, err)
        self.assertTrue(message.endswith("\n") and message.startswith(start) and contains in message, err)
        self.assertGreater(len(message.strip()), len(start.strip() + contains), err)

    def test_scenarios(self):
        for name, faults, address, password, stdout, stderr, requests in self.scenarios:
            with self.subTest(name):
                p = Provider(complex_file(faults))
                try:
                    out, err, status = run(["-C", "-g", password, "-h", address], env=p.env)
                    self.assertEqual((out, status), (stdout, 1))
                    self.assertStderr(err, stderr)
                    log = p.log()
                    self.assertEqual([(e["op"], e["ns"], e["result"]) for e in log], requests)
                    self.assertCreated(dict(log[0], result="ok"), address)
                    if log[0]["result"] == "ok":
                        self.assertEqual((log[-1]["class"], log[-1]["key"]), (REMOTE_CLASS, address))
                    self.assertNoPassword(p, out, err)
                finally:
                    p.close()

    def test_local_provider_absent(self):
        # Nothing to connect to: the diagnostics name the local machine (the
        # provider asked for -g is the local one); the note is not printed,
        # for the connection comes before it.
        out, err, status = run(["-C", "-g", PASSWORD, "-h", MP_ADDRESS])
        self.assertEqual((out, status), ("", 1))
        self.assertTrue(err.startswith(LOCALHOST_DIAGNOSTICS), err)
        rest = err[len(LOCALHOST_DIAGNOSTICS):]
        self.assertEqual(rest.count("\n"), 1, err)
        self.assertTrue(rest.endswith("\n") and len(rest) > 1, err)
        self.assertNotIn(PASSWORD, out + err)


class SignalDuringReport(MPTestCase):
    def test_sigint_during_a_slow_report_still_deletes_the_instance(self):
        # The cell enumeration in the remote namespace takes 30 s to answer;
        # SIGINT arrives while the program waits for it.
        p = self.provider([{"operation": "EnumerateInstances", "namespace": REMOTE_NS, "class": "XK_KestCellSlot",
                            "action": "delay", "ms": 30000}])
        started = time.monotonic()
        proc = subprocess.Popen([CMPLXVIEW, "-C", "-g", PASSWORD, "-h", MP_ADDRESS], env=p.env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            deadline = time.monotonic() + 20
            while not any(e.get("fault") == "delay" for e in p.log()):
                self.assertIsNone(proc.poll(), "cmplxview ended before the slow request")
                self.assertLess(time.monotonic(), deadline, "the slow request never arrived")
                time.sleep(0.02)
            time.sleep(0.2)
            proc.send_signal(signal.SIGINT)
            out, err = proc.communicate(timeout=20)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.communicate()
        self.assertLess(time.monotonic() - started, 25, "the program waited for the slow answer")
        self.assertEqual((out.decode(), err.decode(), proc.returncode),
                         (NOTE, "Internal Error: Received signal 2.\n", 1))
        log = p.log()
        slow = [e for e in log if e.get("fault") == "delay"]
        self.assertEqual(len(slow), 1, log)
        self.assertSessionThroughMP(log, MP_ADDRESS, MP_ADDRESS)
        # The interrupted request's connection was closed with it: the
        # deletion comes over a new one.
        self.assertNotEqual(log[-1]["conn"], slow[0]["conn"])
        self.assertNoPassword(p, out.decode(), err.decode())


class SignalsAtRandomMoments(MPTestCase):
    """SIGINT or SIGTERM, alternately, at random moments of many runs of a
    large local report and of a report through the MP. Each run must end
    within BOUND_S of the signal, with the signal's message as the last thing
    on standard error and status 1, having printed a beginning of what an
    uninterrupted run prints; a signal that comes after the run has ended
    its work leaves an uninterrupted run. Every remote-complex instance that
    a run created is deleted. SIGNAL_RUNS sets the runs per row, SIGNAL_SEED
    the random moments."""

    BOUND_S = 10
    GENERATOR = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "generate.py")

    def interrupted_run(self, provider, args, delay, signal_number):
        proc = subprocess.Popen([CMPLXVIEW] + args, env=provider.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # The moment counts from when the program catches the signal: before
        # that, the signal's default action would end it.
        armed = time.monotonic() + self.BOUND_S
        while proc.poll() is None and time.monotonic() < armed and not self.catches(proc.pid, signal.SIGINT):
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
    def catches(pid, signal_number):
        # The program, not the test's own process between fork and exec.
        try:
            with open("/proc/%d/status" % pid) as f:
                status = dict(line.split(":", 1) for line in f if ":" in line)
        except OSError:
            return False
        if status.get("Name", "").strip() != os.path.basename(CMPLXVIEW)[:15]:
            return False
        return bool(int(status.get("SigCgt", "0"), 16) >> (signal_number - 1) & 1)

    def test_moments(self):
        runs = int(os.environ.get("SIGNAL_RUNS", "50"))
        seed = int(os.environ.get("SIGNAL_SEED", str(time.time_ns() % 100000)))
        rng = random.Random(seed)
        with tempfile.TemporaryDirectory(prefix="kest-signals-") as d:
            large = os.path.join(d, "large.json")
            with open(large, "w") as f:
                subprocess.run([sys.executable, self.GENERATOR, "--cells", "64"], stdout=f, check=True)
            local = Provider(large)
            self.addCleanup(local.close)
            # The cells of the remote complex take a while to come: some signals
            # come while the answer is awaited.
            mp = self.provider([{"operation": "EnumerateInstances", "namespace": REMOTE_NS, "class": "XK_KestCell",
                                 "action": "delay", "ms": 20}])
            commands = [("large local report", local, []),
                        ("report through the MP", mp, ["-g", PASSWORD, "-h", MP_ADDRESS])]
            # Moments as fractions of an uninterrupted run's time: at the start (the
            # connection, the -g creation), anywhere, and about the end (the last
            # lines, the release of the connection).
            moments = [("at the start", 0.0, 0.15), ("anywhere", 0.0, 1.0), ("about the end", 0.8, 1.2)]
            slowest, counts = (0.0, None), []
            for command, provider, args in commands:
                # An uninterrupted run, timed from when it catches the signals.
                *whole, duration = self.interrupted_run(provider, args, 0, None)
                self.assertEqual(whole[2], 0, whole)
                for moment, low, high in moments:
                    interrupted = 0
                    for n in range(runs):
                        signal_number = (signal.SIGINT, signal.SIGTERM)[n % 2]
                        delay = rng.uniform(low, high) * duration
                        case = "%s, %s: signal %d at %.3f s (seed %d)" % (command, moment, signal_number, delay, seed)
                        out, err, status, took = self.interrupted_run(provider, args, delay, signal_number)
                        slowest = max(slowest, (took, case))
                        message = "Internal Error: Received signal %d.\n" % signal_number
                        if status == 0:  # the signal came after the work was done
                            self.assertEqual((out, err), tuple(whole[:2]), case)
                            continue
                        interrupted += 1
                        self.assertEqual(status, 1, case)
                        self.assertTrue(err.endswith(message), "%s: %r" % (case, err))
                        self.assertTrue(whole[1].startswith(err[:-len(message)]), "%s: %r" % (case, err))
                        self.assertTrue(whole[0].startswith(out), "%s: %r" % (case, out))
                    counts.append("%s, %s: %d of %d" % (command, moment, interrupted, runs))
                    if high <= 1.0:
                        self.assertGreater(interrupted, runs // 4, "%s, %s: few runs interrupted" % (command, moment))
            log = mp.log()
            created = [e for e in log if e["op"] == "CreateInstance" and e["result"] == "ok"]
            deleted = [e for e in log if e["op"] == "DeleteInstance" and e["result"] == "ok"]
            self.assertEqual(len(created), len(deleted), "remote-complex instances left on the provider")
            sys.stderr.write("runs interrupted: %s; created and deleted: %d; slowest end after the signal: "
                             "%.3f s (%s)\n" % ("; ".join(counts), len(created), *slowest))


class IPMIPrompt(MPTestCase):
    """-g without a password: the prompt on a terminal, without echo."""

    def prompted_run(self, provider, args, typed):
        """Runs cmplxview with its standard input on a pseudo-terminal; types
        `typed` and a line feed once the prompt is shown. Gives stdout,
        stderr, status, what the terminal echoed, and whether echo was on
        again afterwards."""
        master, slave = os.openpty()
        self.addCleanup(os.close, master)
        self.addCleanup(os.close, slave)
        proc = subprocess.Popen([CMPLXVIEW] + args, env=provider.env, stdin=slave, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, start_new_session=True)
        try:
            shown = b""
            deadline = time.monotonic() + 20
            while not shown.endswith(PROMPT.encode()):
                left = deadline - time.monotonic()
                self.assertGreater(left, 0, "no prompt; so far: %r" % shown)
                ready, _, _ = select.select([proc.stdout], [], [], left)
                if ready:
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
        while True:
            ready, _, _ = select.select([master], [], [], 0.2)
            if not ready:
                break
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
        cases = [
            # name, arguments, typed, address, stdout after the prompt line, stderr, status, properties sent
            ("-g directly before -h", ["-C", "-g", "-h", MP_ADDRESS], PASSWORD, MP_ADDRESS, NOTE + REMOTE_CELLS,
             "", 0),
            ("final -g", ["-C", "-h", MP_ADDRESS, "-g"], PASSWORD, MP_ADDRESS, NOTE + REMOTE_CELLS, "", 0),
            ("display all", ["-h", MP_ADDRESS, "-g"], PASSWORD, MP_ADDRESS, NOTE + REMOTE_DISPLAY_ALL,
             DEFAULT_NOTE, 0),
            ("wrong password typed", ["-C", "-g", "-h", MP_ADDRESS], "not-" + PASSWORD, MP_ADDRESS, NOTE,
             VIOLATION, 1),
            # An empty answer is sent as an empty "Password", which this MP accepts.
            ("empty answer", ["-C", "-g", "-h", EMPTY_PASSWORD_ADDRESS], "", EMPTY_PASSWORD_ADDRESS,
             NOTE + REMOTE_CELLS, "", 0),
        ]
        for name, args, typed, address, after, stderr, status in cases:
            with self.subTest(name):
                p = Provider(complex_file())
                try:
                    out, err, code, echoed, echo_on = self.prompted_run(p, args, typed)
                    self.assertEqual(out, PROMPT + "\n" + after)
                    self.assertEqual(code, status)
                    if status == 0:
                        self.assertEqual(err, stderr)
                        self.assertSessionThroughMP(p.log(), address, address)
                    else:
                        self.assertTrue(err.startswith(stderr), err)
                        self.assertEqual(err.count("\n"), 2, err)
                        self.assertEqual([(e["op"], e["result"]) for e in p.log()],
                                         [("CreateInstance", "cim-error 2")])
                        self.assertEqual(p.log()[0]["properties"], sent_properties(address))
                    if typed:
                        self.assertNotIn(typed, echoed)
                    self.assertEqual(echoed.strip("\r\n"), "", "the terminal echoed %r" % echoed)
                    self.assertTrue(echo_on, "echo was not switched back on")
                    self.assertNoPassword(p, out, err)
                finally:
                    p.close()

    def test_password_from_redirected_input_without_prompt(self):
        # Standard input is no terminal: no prompt, and its first line is the password.
        p = self.provider()
        out, err, status = run(["-C", "-g", "-h", MP_ADDRESS], env=p.env, input_text=PASSWORD + "\nignored\n")
        self.assertEqual((out, err, status), (NOTE + REMOTE_CELLS, "", 0))
        self.assertSessionThroughMP(p.log(), MP_ADDRESS, MP_ADDRESS)

    def test_empty_redirected_input_sends_an_empty_password(self):
        # The empty answer is a password of its own: not accepted by an MP
        # whose password is not empty, and sent as a value, not as null.
        p = self.provider()
        out, err, status = run(["-C", "-g", "-h", MP_ADDRESS], env=p.env, input_text="\n")
        self.assertEqual((out, status), (NOTE, 1))
        self.assertTrue(err.startswith(VIOLATION), err)
        self.assertEqual(p.log()[0]["properties"], sent_properties(MP_ADDRESS))


if __name__ == "__main__":
    unittest.main()
