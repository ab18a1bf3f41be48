"""Connecting to the provider locally and over HTTPS (-u): the probe, the diagnostics of a failed connection,
the trust store, strict certificate checks, time-outs, the requests a run sends."""
import contextlib
import os
import pathlib
import re
import socket
import tempfile
import unittest

from harness import (CREDENTIAL_VIOLATION as VIOLATION, DEFAULT_NOTE, FAILED_TO_CONNECT as FAILED, NS, Provider,
                     certificate, cim_error, connect_block, fault, https_provider, run, small_complex)

NOTHING_LISTENS = "127.1.99.199"  # loopback, outside the addresses test providers take
USER = ["-u", "admin:kest-pw"]
LINE = r"[^\n]+\n"  # the library's one-line message, worded by itself
UNAUTHORIZED = r"[^\n]*Unauthorized[^\n]*\n"


def with_faults(*rules):
    return dict(small_complex(), faults=list(rules))


class ConnectionTest(unittest.TestCase):
    def assertFails(self, result, head, rest=LINE):
        """No output, status 1, standard error `head` then what the regular expression `rest` matches."""
        out, err, status = result
        self.assertEqual((out, status), ("", 1), err)
        self.assertTrue(err.startswith(head), err)
        self.assertRegex(err[len(head):], "^(%s)$" % rest)


class Unreachable(ConnectionTest):
    def test_nothing_listening(self):
        # Every action connects first and gets no further (-g: before its note); a remote target adds a line.
        env = dict(os.environ, XK_CIM_SOCKET=os.path.join(tempfile.gettempdir(), "no-kest-here", "cimxml.socket"))
        note, local = DEFAULT_NOTE, connect_block("<localhost>")
        for args, head in [(["-X"], local), (["-B", "-M"], local), ([], note + local),
                           (["-C", "-g", "ipmi-pw", "-h", "10.1.1.1"], local),
                           (["-s"] + USER + ["-h", NOTHING_LISTENS], connect_block(NOTHING_LISTENS))]:
            with self.subTest(args=args):
                result = run(args, env=env)
                self.assertFails(result, head)
                self.assertNotIn("-pw", result[1], "a password shows")

    def test_server_that_never_accepts(self):
        # A socket whose queue of connections is full: the connect gives up after the time-out.
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "cimxml.socket")
            waiting = [socket.socket(socket.AF_UNIX)]
            self.addCleanup(lambda: [s.close() for s in waiting])
            waiting[0].bind(path)
            waiting[0].listen(0)
            with contextlib.suppress(BlockingIOError):
                while True:
                    waiting.append(socket.socket(socket.AF_UNIX))
                    waiting[-1].setblocking(False)
                    waiting[-1].connect(path)
            self.assertFails(run(["-X"], env=dict(os.environ, XK_CIM_SOCKET=path, XK_CIM_TIMEOUT_MS="1000"),
                                 timeout=20), connect_block("<localhost>"), re.escape(
                "Cannot connect to local CIM server at %s: nothing accepts connections there\n" % path))


class RemoteConnection(ConnectionTest):
    def test_right_credentials_probe_then_run(self):
        p, address = https_provider(small_complex())
        with p:
            self.assertEqual(run(["-s"] + USER + ["-h", address], env=p.env), ("", "", 0))
            self.assertEqual(run(["-w"] + USER + ["-h", address], env=p.env),
                             ("The local partition number is 0.\n", "", 0))
            log = p.log()
            # Each run: the probe first, then the run's own requests, on one connection.
            self.assertEqual([(r["op"], r["class"], r["key"], r["ns"]) for r in log],
                             [("EnumerateInstanceNames", "XK_KestCellSlot", None, NS),
                              ("EnumerateInstanceNames", "XK_KestComplex", None, NS)] * 2
                             + [("EnumerateInstanceNames", "XK_KestLocalPartition", None, NS),
                                ("EnumerateInstances", "XK_KestLocalPartition", None, NS),
                                ("GetInstance", "XK_KestPartition", "0", NS)])
            self.assertEqual({r["user"] for r in log}, {"admin"})
            self.assertEqual(len({r["conn"] for r in log[2:]}), 1, log)

    def test_probe_failures(self):
        probe = dict(operation="EnumerateInstanceNames", **{"class": "XK_KestCellSlot"})
        other_ns = small_complex()
        other_ns["namespaces"] = {"root/cimv2/other": other_ns["namespaces"][NS]}
        refused = lambda code, text: with_faults(cim_error(code, text, **probe))
        for name, data, head, rest in [
            # data a text: the small complex, with that user; head None: the diagnostics for the -h address
            ("wrong password", "admin:wrong", VIOLATION, UNAUTHORIZED),
            ("unknown user", "nobody:kest-pw", VIOLATION, UNAUTHORIZED),
            ("namespace missing", other_ns, None, r"CIM_ERR_INVALID_NAMESPACE: [^\n]*\n"),
            ("status 3", refused(3, "no ns"), None, "CIM_ERR_INVALID_NAMESPACE: no ns\n"),
            ("status 5", refused(5, "no class"), None, "CIM_ERR_INVALID_CLASS: no class\n"),
            ("status 6", refused(6, "not loaded"), None, "CIM_ERR_NOT_FOUND: not loaded\n"),
            # The provider's code 11 outranks a status that would give the block.
            ("provider code 11", refused(6, "x@11:bad"), VIOLATION, "CIM_ERR_NOT_FOUND: x@11:bad\n"),
            ("Unauthorized in the text", refused(1, "Unauthorized"), VIOLATION, "CIM_ERR_FAILED: Unauthorized\n"),
            ("provider code 12", refused(2, "x@12:no MP"), FAILED, "CIM_ERR_ACCESS_DENIED: x@12:no MP\n"),
            ("status 7", refused(7, "not today"), FAILED, "CIM_ERR_NOT_SUPPORTED: not today\n"),
            ("HTTP 401", with_faults(fault("httpStatus", status=401, **probe)), VIOLATION, UNAUTHORIZED),
            ("dropped", with_faults(fault("drop", **probe)), FAILED, LINE),
            ("malformed", with_faults(fault("malformed", **probe)), FAILED, LINE),
        ]:
            with self.subTest(name):
                user = data if isinstance(data, str) else "admin:kest-pw"
                p, address = https_provider(small_complex() if isinstance(data, str) else data)
                with p:
                    self.assertFails(run(["-w", "-u", user, "-h", address], env=p.env),
                                     head or connect_block(address), rest)
                    self.assertEqual(len(p.log()), 1, "nothing after the probe: %r" % p.log())


class TrustStore(ConnectionTest):
    def test_directory_of_the_trust_store(self):
        # "client.pem" in XK_SSL_SHARE, else PEGASUS_HOME, else the working directory; a file there that is
        # no certificate makes the connection fail.
        with tempfile.TemporaryDirectory(prefix="kest-ssl-") as root:
            bad, empty = os.path.join(root, "bad"), os.path.join(root, "empty")
            for d in (bad, empty):
                os.mkdir(d)
            pathlib.Path(bad, "client.pem").write_text("this is not a certificate\n")
            p, address = https_provider(small_complex())
            with p:
                for share, home, cwd, connects in [
                    # XK_SSL_SHARE, PEGASUS_HOME, working directory, connects
                    (None, None, empty, True), (None, None, bad, False), (bad, None, empty, False),
                    (bad + "/", None, empty, False), (bad + "\\", None, empty, False), (empty, None, bad, True),
                    (None, bad, empty, False), (None, empty, bad, True), (empty, bad, empty, True),
                    (bad, empty, empty, False), ("", bad, bad, False), ("", bad, empty, True),
                ]:
                    with self.subTest(XK_SSL_SHARE=share, PEGASUS_HOME=home, cwd=cwd):
                        env = {k: v for k, v in p.env.items() if k not in ("XK_SSL_SHARE", "PEGASUS_HOME")}
                        env.update({k: v for k, v in (("XK_SSL_SHARE", share), ("PEGASUS_HOME", home))
                                    if v is not None})
                        result = run(["-s"] + USER + ["-h", address], env, cwd=cwd)
                        if connects:
                            self.assertEqual(result, ("", "", 0))
                        else:
                            self.assertFails(result, connect_block(address))

    def test_strict_certificate_check(self):
        # By default every server certificate is accepted; XK_SSL_VERIFY=strict accepts only one that verifies
        # against client.pem and names the -h host, and refuses the others before any request.
        with tempfile.TemporaryDirectory(prefix="kest-ssl-") as d:
            probe, address = https_provider(small_complex())
            probe.close()  # a free loopback address for the providers with these certificates
            other = certificate(d, "other", "IP:" + address)
            for name, served, trusted, strict_accepts in [
                # case, server certificate, the certificate in client.pem, accepted when strict
                ("trusted", certificate(d, "trusted", "IP:" + address), None, True),
                ("untrusted", certificate(d, "untrusted", "IP:" + address), other, False),
                ("expired", certificate(d, "expired", "IP:" + address, days=-1), None, False),
                ("for another name", certificate(d, "elsewhere", "DNS:kest.invalid, IP:127.1.2.3"), None, False),
            ]:
                share = os.path.join(d, name.replace(" ", "-"))
                os.mkdir(share)
                pathlib.Path(share, "client.pem").write_bytes(pathlib.Path((trusted or served)[0]).read_bytes())
                with Provider(small_complex(), https=address + ":5989", cert=served) as p:
                    for verify, accepted in ((None, True), ("strict", strict_accepts)):
                        with self.subTest(name, XK_SSL_VERIFY=verify):
                            env = dict(p.env, XK_SSL_SHARE=share, **({"XK_SSL_VERIFY": verify} if verify else {}))
                            before = len(p.log())
                            result = run(["-s"] + USER + ["-h", address], env=env)
                            if accepted:
                                self.assertEqual(result, ("", "", 0))
                                continue
                            self.assertFails(result, connect_block(address), re.escape(
                                "Cannot connect to %s:5989. Connection failed: " % address) + "[^\n]*\n")
                            self.assertEqual(p.log()[before:], [], "a request went to a refused server")


class SlowProvider(ConnectionTest):
    def test_probe_that_takes_too_long(self):
        # XK_CIM_TIMEOUT_MS lowers the client's time-outs (each local request timing out: the fault sweep).
        slow_probe = fault("delay", ms=4000, operation="EnumerateInstanceNames", **{"class": "XK_KestCellSlot"})
        p, address = https_provider(with_faults(slow_probe))
        with p:
            self.assertFails(run(["-s"] + USER + ["-h", address], env=dict(p.env, XK_CIM_TIMEOUT_MS="1500")),
                             FAILED)
            # Within the limit the same provider answers.
            self.assertEqual(run(["-s"] + USER + ["-h", address], env=dict(p.env, XK_CIM_TIMEOUT_MS="6000")),
                             ("", "", 0))


class RequestCounts(ConnectionTest):
    def test_requests_of_a_run(self):
        # An invalid command line sends nothing; a valid one sends its requests over one connection.
        invalid = (["-Z"], ["-s", "-w"], ["-c"], ["-C", "-h", "127.0.0.1"], ["-c", "x/y"],
                   ["-w", "-g", "pw", "-h", "10.1.1.1"], ["-i", "0/0"], ["-p", "1", "-b", "0"])
        with Provider(small_complex()) as p:
            for args in invalid + (["-s"], ["-C"], ["-p", "0", "-V"], ["-c", "0/1", "-c", "3"], ["-i", "0/0/1"], []):
                before = len(p.log())
                out, err, status = run(args, env=p.env)
                log = p.log()[before:]
                if args in invalid:
                    self.assertEqual((status, err[:7], log), (1, "Error: ", []), args)
                else:
                    self.assertEqual((len({r["conn"] for r in log}), status), (1, 0), "%s: %r" % (args, log))

    def test_one_get_class_per_value_map_lookup(self):
        # The cell rows look up: slot 0 the partition's failure usage, the cell's status and usage; slot 1 the
        # status (powered off); slot 2 (empty, in partition 0) the failure usage. Nothing is kept between them.
        with Provider(small_complex()) as p:
            run(["-C"], env=p.env)
            self.assertEqual([r["class"] for r in p.log() if r["op"] == "GetClass"],
                             ["XK_KestPartition", "XK_KestCell", "XK_KestCell", "XK_KestCell", "XK_KestPartition"])


if __name__ == "__main__":
    unittest.main()
