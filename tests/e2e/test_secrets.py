"""Passwords of -u and -g (given, typed, wrong; runs that fail part way; kest-snapshot's) never show, nor their
Basic encodings, in standard output and error, the wire trace, the provider's log and standard error, or
/proc/PID/cmdline; a run's memory holds at most the client's copy of a -u password, none of a -g one."""
import base64
import os
import pathlib
import re
import subprocess
import tempfile
import unittest

from harness import CMPLXVIEW, Provider, await_request, example, https_provider, load_complex, spawn

USER = "admin"
KEST_SNAPSHOT = os.environ.get("KEST_SNAPSHOT", "kest-snapshot")
PASSWORD = "Kq7-wlx!secret-pw"
IPMI_PASSWORD = "Zt4-ipmi!secret-mp"


def complex_data(faults=()):
    data = load_complex(example("default.json"))
    data["users"] = [{"name": USER, "password": PASSWORD}]
    data["remoteComplexes"][0]["password"] = IPMI_PASSWORD
    data["faults"] = list(faults)
    return data


def forms(secret):
    """The password, and every form the Authorization header could carry it in."""
    basic = base64.b64encode(("%s:%s" % (USER, secret)).encode()).decode()
    return [secret, basic, base64.b64encode(secret.encode()).decode()]


U = ["-u", USER + ":" + PASSWORD, "-h", "ADDRESS"]
G = ["-g", IPMI_PASSWORD, "-h", "10.1.1.1"]
FAIL_LOAD = [{"operation": "EnumerateInstances", "action": "cimError", "code": 1, "description": "injected"}]
# The provider closes the kept-alive connection instead of answering request 3: it is sent again.
RECONNECT = [{"request": 3, "action": "drop"}]
# name, arguments, secret, standard input, faults, status, and for a watched run the most copies of
# the secret its memory may hold while it waits for a slow answer to request 5 (None: not watched)
SCENARIOS = [
    ("-u with password, display-all", U, PASSWORD, "", (), 0, None),
    ("-u password typed at the prompt", ["-u", USER + ":", "-h", "ADDRESS", "-C"], PASSWORD, PASSWORD + "\n", (), 0,
     None),
    ("kest-snapshot, password typed at the prompt", ["-u", USER + ":", "-h", "ADDRESS", "-"], PASSWORD,
     PASSWORD + "\n", (), 0, None),
    ("-u wrong password", ["-u", USER + ":not-" + PASSWORD, "-h", "ADDRESS", "-P"], "not-" + PASSWORD, "", (), 1, None),
    ("-u, a load fails", U + ["-B"], PASSWORD, "", FAIL_LOAD, 1, None),
    # Once connected, -u keeps the client's one copy (each request carries the header), -g none.
    ("-u, watched", U + ["-P"], PASSWORD, "", (), 0, 1),
    ("-u, watched after a reconnect", U + ["-P"], PASSWORD, "", RECONNECT, 0, 1),
    ("-g with password, display-all", G, IPMI_PASSWORD, "", (), 0, None),
    ("-g password typed at the prompt", ["-g", "-h", "10.1.1.1", "-C"], IPMI_PASSWORD, IPMI_PASSWORD + "\n", (), 0,
     None),
    ("-g wrong password", ["-g", "not-" + IPMI_PASSWORD, "-h", "10.1.1.1"], "not-" + IPMI_PASSWORD, "", (), 1, None),
    ("-g, the connection is dropped", G + ["-P"], IPMI_PASSWORD, "", [{"operation": "EnumerateInstances",
                                                                        "action": "drop"}], 1, None),
    ("-g, watched", G + ["-P"], IPMI_PASSWORD, "", (), 0, 0),
]


class Secrets(unittest.TestCase):
    def test_secrets_in_every_channel(self):
        for row in SCENARIOS:
            with self.subTest(row[0]):
                self.scenario(*row)

    def scenario(self, name, args, secret, stdin, faults, status, most):
        https = args[0] == "-u"
        watched = most is not None
        data = complex_data(list(faults) + ([{"request": 5, "action": "delay", "ms": 1500}] if watched else []))
        provider, address = https_provider(data) if https else (Provider(data), None)
        with provider, tempfile.TemporaryDirectory() as tmp:
            trace = os.path.join(tmp, "trace")
            p = spawn([a.replace("ADDRESS", address or "") for a in args], dict(provider.env, XK_CIM_TRACE=trace),
                      KEST_SNAPSHOT if name.startswith("kest-snapshot") else None, stdin=subprocess.PIPE)
            cmdline, copies = None, None
            if watched:
                # Waiting for the slow answer, long past reading its options: its memory holds only what it needs.
                await_request(provider, p, lambda e: e["seq"] == 5)
                cmdline = pathlib.Path("/proc/%d/cmdline" % p.pid).read_bytes().replace(b"\0", b" ").decode()
                # AddressSanitizer keeps freed blocks unreused (its quarantine): released copies stay readable.
                try:
                    copies = None if sanitized(CMPLXVIEW) else memory_copies(p.pid, secret.encode())
                except PermissionError:  # memory of another process not readable here
                    pass
            out, err = (b.decode(errors="replace") for b in p.communicate(stdin.encode(), timeout=60))
            trace_text, log_text = (pathlib.Path(f).read_text(errors="replace") for f in (trace, provider.log_path))
            provider.process.terminate()
            provider.process.wait(timeout=10)
            provider_err = provider.process.stderr.read().decode(errors="replace")
        channels = {"standard output": out, "standard error": err, "wire trace": trace_text,
                    "provider log": log_text, "provider standard error": provider_err, "argument vector": cmdline or ""}
        for channel, text in channels.items():
            for form in forms(secret):
                self.assertNotIn(form, text, "%s: %s shows the password (as %r)" % (name, channel, form))
        # The channels were live: the trace holds the requests with the masked header or property.
        self.assertIn("==== request 1\n", trace_text, name)
        self.assertIn("Authorization: Basic ****" if https else "<VALUE>****</VALUE>", trace_text, name)
        self.assertNotRegex(trace_text, r"Authorization: Basic (?!\*\*\*\*\r?\n)", name)
        self.assertEqual(p.returncode, status, "%s: %s" % (name, err))
        if watched:
            self.assertIn(" -h ", cmdline, name)
            if copies is not None:
                self.assertLessEqual(len(copies), most, "%s: the password is in memory at %s" % (name, copies))


def sanitized(program):
    return b"__asan_init" in pathlib.Path(program).read_bytes()


def memory_copies(pid, secret):
    """Where the secret lies in the readable memory of a process."""
    found = []
    with open("/proc/%d/maps" % pid) as maps, open("/proc/%d/mem" % pid, "rb", 0) as mem:
        for region in (line.split() for line in maps):
            start, end = (int(x, 16) for x in region[0].split("-"))
            try:
                mem.seek(start)
                data = mem.read(end - start) if "r" in region[1] else b""
            except (OSError, ValueError, OverflowError):
                continue  # e.g. [vvar]
            found += ["%s+%#x" % (region[5] if len(region) > 5 else "anonymous", m.start())
                      for m in re.finditer(re.escape(secret), data)]
    return found


if __name__ == "__main__":
    unittest.main()
