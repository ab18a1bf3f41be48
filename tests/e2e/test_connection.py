"""Connecting to the provider: locally and over HTTPS with -u, the probe of a
remote provider, every diagnostic of a failed connection, the SSL directory
variables, fatal signals during a request, and the requests a run sends."""
import os
import signal
import socket
import subprocess
import tempfile
import time
import unittest

from harness import CMPLXVIEW, Provider, run
from runtime_fixtures import (CREDENTIAL_VIOLATION, FAILED_TO_CONNECT, NS, CoreScenarioTest, cim_error,
                              connect_block, fault, library_message, requests, run_in, small_complex, with_changes)

# Loopback addresses of these scenarios' HTTPS providers (the program always
# uses port 5989); each provider gets one of its own. Other test suites use
# loopback addresses too, so an address that is taken is passed over.
_addresses = iter("127.0.0.%d" % n for n in range(140, 200))
# Loopback too, but outside the 127.0.0.N addresses that test providers take.
NOTHING_LISTENS = "127.1.99.199"
USER = ["-u", "admin:kest-pw"]


def https_provider(data, **provider_args):
    for address in _addresses:
        try:
            return Provider(data, https=address + ":5989", **provider_args), address
        except RuntimeError as e:
            if "Address already in use" not in str(e):
                raise
    raise RuntimeError("no free loopback address for an HTTPS provider")


def no_socket_env():
    return dict(os.environ, XK_CIM_SOCKET=os.path.join(tempfile.gettempdir(), "no-kest-here", "cimxml.socket"))


class LocalConnection(CoreScenarioTest):
    def test_nothing_listening_locally(self):
        # Every action connects first; none gets further.
        for args in (["-s"], ["-w"], ["-X"], ["-C"], ["-p", "0"], ["-c", "0/1"], ["-B", "-M"]):
            out, err, status = run(args, env=no_socket_env())
            lines = err.splitlines(keepends=True)
            self.assertEqual("".join(lines[:3]), connect_block("<localhost>"), args)
            self.assertEqual(len(lines), 4, "the block and the library's message: %r" % err)
            self.assertTrue(lines[3].strip(), "the library's message is printed: %r" % err)
            self.assertEqual(out, "", args)
            self.assertEqual(status, 1, args)

    def test_server_that_never_accepts(self):
        # A socket whose queue of connections is full (its server hangs and
        # accepts nothing): the connect gives up after the time-out.
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "cimxml.socket")
            server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            server.bind(path)
            server.listen(0)
            waiting = []
            try:
                while True:
                    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                    s.setblocking(False)
                    waiting.append(s)
                    s.connect(path)
            except BlockingIOError:
                pass
            try:
                env = dict(os.environ, XK_CIM_SOCKET=path, XK_CIM_TIMEOUT_MS="1000")
                started = time.monotonic()
                out, err, status = run(["-X"], env=env, timeout=30)
                self.assertLess(time.monotonic() - started, 20)
                self.assertEqual(err, connect_block("<localhost>") + "Cannot connect to local CIM server at %s: "
                                 "nothing accepts connections there\n" % path)
                self.assertEqual((out, status), ("", 1))
            finally:
                for s in waiting:
                    s.close()
                server.close()

    def test_default_action_notes_before_the_connection_fails(self):
        out, err, status = run([], env=no_socket_env())
        note = "Note: No action specified. Default behaviour is display all.\n"
        self.assertTrue(err.startswith(note + connect_block("<localhost>")), err)
        self.assertEqual(len(err.splitlines()), 5, err)
        self.assertEqual((out, status), ("", 1))

    def test_local_connection_is_one_connection_for_the_whole_run(self):
        with Provider(small_complex()) as p:
            for args in (["-s"], ["-w"], ["-C"], ["-p", "0", "-V"], ["-c", "0/1", "-c", "3"], ["-i", "0/0/1"], []):
                before = len(p.log())
                run(args, env=p.env)
                log = p.log()[before:]
                self.assertTrue(log, args)
                self.assertEqual(len({r["conn"] for r in log}), 1, "connections of %s: %r" % (args, log))


class RemoteConnection(CoreScenarioTest):
    def test_nothing_listening_on_the_remote_port(self):
        out, err, status = run(["-s"] + USER + ["-h", NOTHING_LISTENS], env=no_socket_env())
        lines = err.splitlines(keepends=True)
        self.assertEqual("".join(lines[:4]), connect_block(NOTHING_LISTENS))
        self.assertEqual(len(lines), 5, err)
        self.assertTrue(lines[4].strip(), err)
        self.assertEqual((out, status), ("", 1))

    def test_host_names_are_named_cut_to_63_characters(self):
        # Names under the reserved .invalid domain never resolve.
        for length in (20, 63, 64, 70):
            name = "k" * (length - len(".invalid")) + ".invalid"
            self.assertEqual(len(name), length)
            out, err, status = run(["-w"] + USER + ["-h", name], env=no_socket_env())
            lines = err.splitlines(keepends=True)
            self.assertEqual("".join(lines[:4]), connect_block(name[:63]), length)
            self.assertEqual(len(lines), 5, err)
            self.assertEqual((out, status), ("", 1), length)

    def test_right_credentials_probe_then_run(self):
        p, address = https_provider(small_complex())
        with p:
            self.check(p, ["-s"] + USER + ["-h", address], "", "", 0)
            self.check(p, ["-w"] + USER + ["-h", address], "The local partition number is 0.\n", "", 0)
            log = p.log()
            # Each run: the probe first, then the run's own requests, on one connection.
            runs = [r for r in log if r["op"] == "EnumerateInstanceNames" and r["class"] == "XK_KestCellSlot"]
            self.assertEqual(len(runs), 2, log)
            self.assertEqual([(r["op"], r["class"]) for r in log[:2]],
                             [("EnumerateInstanceNames", "XK_KestCellSlot"),
                              ("EnumerateInstanceNames", "XK_KestComplex")])
            self.assertEqual([(r["op"], r["class"], r["key"]) for r in log[2:]],
                             [("EnumerateInstanceNames", "XK_KestCellSlot", None),
                              ("EnumerateInstanceNames", "XK_KestComplex", None),
                              ("EnumerateInstanceNames", "XK_KestLocalPartition", None),
                              ("EnumerateInstances", "XK_KestLocalPartition", None),
                              ("GetInstance", "XK_KestPartition", "0")])
            self.assertTrue(all(r["user"] == "admin" for r in log), log)
            self.assertEqual(len({r["conn"] for r in log[2:]}), 1, log)

    def test_rejected_credentials(self):
        p, address = https_provider(small_complex())
        with p:
            for user in ("admin:wrong", "nobody:kest-pw"):
                before = len(p.log())
                out, err, status = run(["-s", "-u", user, "-h", address], env=p.env)
                lines = err.splitlines(keepends=True)
                self.assertEqual(lines[0], CREDENTIAL_VIOLATION, user)
                self.assertEqual(len(lines), 2, err)
                self.assertIn("Unauthorized", lines[1], user)
                self.assertEqual((out, status), ("", 1), user)
                # Nothing is asked after the rejected probe.
                self.assertEqual(len(p.log()) - before, 1, p.log())

    def test_probe_failures(self):
        probe = dict(operation="EnumerateInstanceNames", **{"class": "XK_KestCellSlot"})
        cases = [
            # (fault rule on the probe, first lines of standard error, library message or None when the
            # library words it itself)
            (cim_error(3, "no kest namespace here", **probe), "block", library_message(3, "no kest namespace here")),
            (cim_error(5, "class not registered", **probe), "block", library_message(5, "class not registered")),
            (cim_error(6, "provider not loaded", **probe), "block", library_message(6, "provider not loaded")),
            (cim_error(1, "login refused@11:bad password", **probe), CREDENTIAL_VIOLATION,
             library_message(1, "login refused@11:bad password")),
            # The provider's code 11 outranks a status that would give the block.
            (cim_error(6, "gone@3:x@11:", **probe), CREDENTIAL_VIOLATION, library_message(6, "gone@3:x@11:")),
            (cim_error(1, "Unauthorized by site policy", **probe), CREDENTIAL_VIOLATION,
             library_message(1, "Unauthorized by site policy")),
            (cim_error(2, "denied@12:no such MP", **probe), FAILED_TO_CONNECT,
             library_message(2, "denied@12:no such MP")),
            (cim_error(1, "locked@111:busy", **probe), FAILED_TO_CONNECT, library_message(1, "locked@111:busy")),
            (cim_error(7, "not today", **probe), FAILED_TO_CONNECT, library_message(7, "not today")),
            (fault("httpStatus", status=401, **probe), CREDENTIAL_VIOLATION, None),
            (fault("drop", **probe), FAILED_TO_CONNECT, None),
            (fault("malformed", **probe), FAILED_TO_CONNECT, None),
        ]
        for rule, first, message in cases:
            with self.subTest(rule=rule):
                p, address = https_provider(with_changes(faults=[rule]))
                with p:
                    out, err, status = run(["-w"] + USER + ["-h", address], env=p.env)
                    head = connect_block(address) if first == "block" else first
                    self.assertTrue(err.startswith(head), err)
                    rest = err[len(head):]
                    if message is not None:
                        self.assertEqual(rest, message + "\n")
                    else:
                        self.assertEqual(len(rest.splitlines()), 1, err)
                        self.assertTrue(rest.endswith("\n") and rest.strip(), err)
                        if rule["action"] == "httpStatus":
                            self.assertIn("Unauthorized", rest)
                    self.assertEqual((out, status), ("", 1))
                    self.assertEqual(len(p.log()), 1, "nothing after the probe: %r" % p.log())

    def test_provider_without_the_namespace(self):
        data = small_complex()
        data["namespaces"] = {"root/cimv2/other": data["namespaces"][NS]}
        p, address = https_provider(data)
        with p:
            out, err, status = run(["-C"] + USER + ["-h", address], env=p.env)
            head = connect_block(address)
            self.assertTrue(err.startswith(head), err)
            self.assertTrue(err[len(head):].startswith("CIM_ERR_INVALID_NAMESPACE: "), err)
            self.assertEqual(len(err[len(head):].splitlines()), 1, err)
            self.assertEqual((out, status), ("", 1))

    def test_local_runs_send_no_probe(self):
        with Provider(small_complex()) as p:
            self.check(p, ["-s"], "")
            self.assertEqual([(r["op"], r["class"]) for r in p.log()],
                             [("EnumerateInstanceNames", "XK_KestComplex")])


class SslDirectory(CoreScenarioTest):
    """The trust store is "client.pem" in XK_SSL_SHARE, else PEGASUS_HOME,
    else the working directory. A file there that is no certificate makes
    the connection fail, so the scenarios see which directory was used."""

    def test_directory_of_the_trust_store(self):
        with tempfile.TemporaryDirectory(prefix="kest-ssl-") as root:
            bad, empty = os.path.join(root, "bad"), os.path.join(root, "empty")
            for d in (bad, empty):
                os.mkdir(d)
            with open(os.path.join(bad, "client.pem"), "w") as f:
                f.write("this is not a certificate\n")
            cases = [
                # (XK_SSL_SHARE, PEGASUS_HOME, working directory, connects)
                (None, None, empty, True),
                (None, None, bad, False),
                (bad, None, empty, False),
                (bad + "/", None, empty, False),
                (bad + "\\", None, empty, False),
                (empty, None, bad, True),
                (None, bad, empty, False),
                (None, empty, bad, True),
                (empty, bad, empty, True),
                (bad, empty, empty, False),
                ("", bad, bad, False),
                ("", bad, empty, True),
            ]
            p, address = https_provider(small_complex())
            with p:
                for share, home, cwd, connects in cases:
                    with self.subTest(XK_SSL_SHARE=share, PEGASUS_HOME=home, cwd=cwd):
                        env = dict(p.env)
                        for name, value in (("XK_SSL_SHARE", share), ("PEGASUS_HOME", home)):
                            env.pop(name, None)
                            if value is not None:
                                env[name] = value
                        out, err, status = run_in(["-s"] + USER + ["-h", address], env, cwd=cwd)
                        if connects:
                            self.assertEqual((out, err, status), ("", "", 0))
                        else:
                            self.assertTrue(err.startswith(connect_block(address)), err)
                            self.assertEqual(len(err.splitlines()), 5, err)
                            self.assertEqual((out, status), ("", 1))

    def test_the_servers_own_certificate_in_the_trust_store(self):
        p, address = https_provider(small_complex())
        with p, tempfile.TemporaryDirectory(prefix="kest-ssl-") as share:
            with open(p.cert_path) as src, open(os.path.join(share, "client.pem"), "w") as dst:
                dst.write(src.read())
            env = dict(p.env, XK_SSL_SHARE=share)
            self.assertEqual(run_in(["-w"] + USER + ["-h", address], env),
                             ("The local partition number is 0.\n", "", 0))


def certificate(directory, name, subject_alt_name, days=1):
    """A self-signed certificate for subject_alt_name, valid for `days` from
    now (-1: expired yesterday); returns its certificate and key files."""
    cert, key, request = (os.path.join(directory, name + suffix) for suffix in (".pem", ".key", ".csr"))
    extensions = os.path.join(directory, name + ".ext")
    with open(extensions, "w") as f:
        f.write("subjectAltName=%s\n" % subject_alt_name)
    for command in (["openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-subj",
                     "/CN=kest-test-" + name, "-out", request],
                    ["openssl", "x509", "-req", "-in", request, "-signkey", key, "-days", str(days),
                     "-extfile", extensions, "-out", cert]):
        subprocess.run(command, check=True, capture_output=True)
    return cert, key


class StrictCertificateCheck(CoreScenarioTest):
    """By default every server certificate is accepted. XK_SSL_VERIFY=strict
    accepts only one that verifies against client.pem and names the -h host,
    and refuses the others before any request (and so any password) is sent."""

    def test_certificates(self):
        with tempfile.TemporaryDirectory(prefix="kest-ssl-") as d:
            address = next(_addresses)
            other = certificate(d, "other", "IP:" + address)
            cases = [
                # (case, server certificate, the certificate in client.pem, accepted when strict)
                ("trusted", certificate(d, "trusted", "IP:" + address), None, True),
                ("untrusted", certificate(d, "untrusted", "IP:" + address), other, False),
                ("expired", certificate(d, "expired", "IP:" + address, days=-1), None, False),
                ("for another name", certificate(d, "elsewhere", "DNS:kest.invalid, IP:127.1.2.3"), None, False),
            ]
            for name, served, trusted, strict_accepts in cases:
                share = os.path.join(d, name.replace(" ", "-"))
                os.mkdir(share)
                with open((trusted or served)[0]) as src, open(os.path.join(share, "client.pem"), "w") as dst:
                    dst.write(src.read())
                p = Provider(small_complex(), https=address + ":5989", cert=served)
                with p:
                    for verify, accepted in ((None, True), ("strict", strict_accepts)):
                        with self.subTest(name, XK_SSL_VERIFY=verify):
                            env = dict(p.env, XK_SSL_SHARE=share)
                            if verify:
                                env["XK_SSL_VERIFY"] = verify
                            before = len(p.log())
                            out, err, status = run(["-s"] + USER + ["-h", address], env=env)
                            if accepted:
                                self.assertEqual((out, err, status), ("", "", 0))
                                continue
                            self.assertTrue(err.startswith(connect_block(address)), err)
                            rest = err[len(connect_block(address)):]
                            self.assertTrue(rest.startswith("Cannot connect to %s:5989. Connection failed: "
                                                            % address), err)
                            self.assertEqual(len(rest.splitlines()), 1, err)
                            self.assertEqual((out, status), ("", 1))
                            self.assertEqual(p.log()[before:], [], "a request went to a refused server")


class FatalSignals(CoreScenarioTest):
    def interrupt(self, provider, args, signal_number, env=None, delay_ms=20000):
        started = time.monotonic()
        p = subprocess.Popen([CMPLXVIEW] + args, env=env or provider.env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # Wait until the slow request is under way: the provider logs it before it starts to wait.
        deadline = time.monotonic() + 20
        while not any(r["result"] == "delay" for r in provider.log()):
            self.assertLess(time.monotonic(), deadline, "the slow request never arrived")
            self.assertIsNone(p.poll(), "cmplxview ended before its slow request")
            time.sleep(0.05)
        time.sleep(0.2)
        p.send_signal(signal_number)
        out, err = p.communicate(timeout=30)
        self.assertLess(time.monotonic() - started, delay_ms / 1000, "the signal ends the run at once")
        return out.decode(), err.decode(), p.returncode

    def test_signal_during_a_slow_local_request(self):
        slow = fault("delay", ms=20000, operation="EnumerateInstanceNames", **{"class": "XK_KestComplex"})
        for signal_number in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=signal_number), Provider(with_changes(faults=[slow])) as p:
                self.assertEqual(self.interrupt(p, ["-C"], signal_number),
                                 ("", "Internal Error: Received signal %d.\n" % signal_number, 1))

    def test_sigint_during_a_slow_remote_request(self):
        slow = fault("delay", ms=20000, operation="EnumerateInstances", **{"class": "XK_KestLocalPartition"})
        p, address = https_provider(with_changes(faults=[slow]))
        with p:
            self.assertEqual(self.interrupt(p, ["-w"] + USER + ["-h", address], signal.SIGINT),
                             ("", "Internal Error: Received signal 2.\n", 1))


class TimeOuts(CoreScenarioTest):
    """XK_CIM_TIMEOUT_MS lowers the client's time-outs so that a slow
    provider times out within the test."""

    def test_requests_that_take_too_long(self):
        slow_count = fault("delay", ms=4000, operation="EnumerateInstanceNames", **{"class": "XK_KestComplex"})
        with Provider(with_changes(faults=[slow_count])) as p:
            out, err, status = run_in(["-C"], dict(p.env, XK_CIM_TIMEOUT_MS="1500"))
            self.assertEqual(err, "Note: Unable to get any XK_KestComplex information.\n"
                                  "Error: Cannot determine if platform is partitionable.\n")
            self.assertEqual(len(out.splitlines()), 1, out)
            self.assertTrue(out.endswith("\n") and out.strip(), out)
            self.assertEqual(status, 1)
            # Within the limit the same provider answers.
            self.assertEqual(run_in(["-s"], dict(p.env, XK_CIM_TIMEOUT_MS="6000")), ("", "", 0))

    def test_probe_that_takes_too_long(self):
        slow_probe = fault("delay", ms=4000, operation="EnumerateInstanceNames", **{"class": "XK_KestCellSlot"})
        p, address = https_provider(with_changes(faults=[slow_probe]))
        with p:
            out, err, status = run_in(["-s"] + USER + ["-h", address], dict(p.env, XK_CIM_TIMEOUT_MS="1500"))
            self.assertTrue(err.startswith(FAILED_TO_CONNECT), err)
            self.assertEqual(len(err.splitlines()), 2, err)
            self.assertEqual((out, status), ("", 1))


class RequestCounts(CoreScenarioTest):
    def test_invalid_command_lines_send_nothing(self):
        with Provider(small_complex()) as p:
            for args in (["-Z"], ["-s", "-w"], ["-c"], ["-C", "-h", "127.0.0.1"], ["-c", "x/y"], ["-w", "-g", "pw",
                                                                                                    "-h", "10.1.1.1"],
                         ["-i", "0/0"], ["-p", "1", "-b", "0"]):
                out, err, status = run(args, env=p.env)
                self.assertEqual(status, 1, args)
                self.assertTrue(err.startswith("Error: "), (args, err))
            self.assertEqual(p.log(), [])

    def test_one_get_class_per_value_map_lookup(self):
        # The cell rows of the small complex look up, in slot order: slot 0 the partition's failure usage,
        # the cell's status and its usage; slot 1 the status only (powered off); slot 2 (empty, in
        # partition 0) the failure usage; slot 3 nothing (no status, no partition).
        with Provider(small_complex()) as p:
            run(["-C"], env=p.env)
            classes = [r["class"] for r in requests(p, "GetClass")]
            self.assertEqual(classes, ["XK_KestPartition", "XK_KestCell", "XK_KestCell", "XK_KestCell",
                                       "XK_KestPartition"])
            # Asked again on every run: nothing is kept between runs either.
            run(["-C", "-M"], env=p.env)
            self.assertEqual(len(requests(p, "GetClass")), 10)

    def test_requests_of_the_platform_check_and_local_partition(self):
        with Provider(small_complex()) as p:
            run(["-s"], env=p.env)
            run(["-w"], env=p.env)
            self.assertEqual([(r["op"], r["class"], r["key"]) for r in p.log()],
                             [("EnumerateInstanceNames", "XK_KestComplex", None),
                              ("EnumerateInstanceNames", "XK_KestComplex", None),
                              ("EnumerateInstanceNames", "XK_KestLocalPartition", None),
                              ("EnumerateInstances", "XK_KestLocalPartition", None),
                              ("GetInstance", "XK_KestPartition", "0")])
            self.assertEqual({r["ns"] for r in p.log()}, {NS})


if __name__ == "__main__":
    unittest.main()
