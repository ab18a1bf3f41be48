"""kest-provider as a running process: start-up and stop, sockets, HTTPS, raw bytes, slow or too many peers,
and an independent CIM client (wbemcli). usage: process_test.py KEST_PROVIDER SCHEMA DATA_DIR ADDRESS [args]"""
import base64
import http.client
import os
import resource
import select
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402

SCHEMA = DATA = ADDRESS = None
NS = "root/cimv2/kest"
WBEMCLI = shutil.which("wbemcli")


def start(https=False, extra_args=(), complex_data=None, **kw):
    p = harness.Provider(complex_data or os.path.join(DATA, "complex.json"), https=ADDRESS + ":0" if https else None,
                         extra_args=extra_args, schema=SCHEMA, **kw)
    with open(os.path.join(p.dir.name, "ready")) as f:
        p.ready_lines = f.read().splitlines()
    p.port = next((int(l.rsplit(":", 1)[1]) for l in p.ready_lines if l.startswith("https ")), None)
    return p


def provider_run(*args):
    return subprocess.run([harness.KEST_PROVIDER, "--schema", SCHEMA, *args], capture_output=True, text=True, timeout=20)


GET_CLASS = ('<?xml version="1.0" encoding="utf-8"?><CIM CIMVERSION="2.0" DTDVERSION="2.0"><MESSAGE ID="1" '
             'PROTOCOLVERSION="1.0"><SIMPLEREQ><IMETHODCALL NAME="GetClass"><LOCALNAMESPACEPATH>'
             + "".join('<NAMESPACE NAME="%s"/>' % n for n in NS.split("/")) + '</LOCALNAMESPACEPATH><IPARAMVALUE '
             'NAME="ClassName"><CLASSNAME NAME="XK_KestCell"/></IPARAMVALUE></IMETHODCALL></SIMPLEREQ></MESSAGE></CIM>')


def post(conn, auth=None):
    """The status of a GetClass request on conn."""
    headers = {"Content-Type": 'application/xml; charset="utf-8"', "CIMOperation": "MethodCall", "CIMMethod": "GetClass"}
    if auth:
        headers["Authorization"] = "Basic " + base64.b64encode(auth.encode()).decode()
    conn.request("POST", "/cimom", body=GET_CLASS.encode(), headers=headers)
    r = conn.getresponse()
    r.read()
    return r.status


def unix_connection(path, timeout=10):
    conn = http.client.HTTPConnection("localhost", timeout=timeout)
    conn.sock = raw(path)
    conn.sock.settimeout(timeout)
    return conn


def raw(path, sent=b""):
    s = socket.socket(socket.AF_UNIX)
    s.settimeout(10)
    s.connect(path)
    s.sendall(sent)
    return s


def closed_after(sock, limit):
    """Seconds until the peer closes sock (answers are dropped), or None after limit seconds."""
    started = time.monotonic()
    while True:
        left = limit - (time.monotonic() - started)
        if left <= 0 or not select.select([sock], [], [], left)[0]:
            return None
        try:
            if not sock.recv(65536):
                return time.monotonic() - started
        except (ConnectionResetError, BrokenPipeError):
            return time.monotonic() - started


class Lifecycle(unittest.TestCase):
    def test_startup_errors_and_print_mof(self):
        for args, code, message in [
            ([], 2, "no complex file"),
            (["--bogus", "x.json"], 2, "unknown option --bogus"),
            (["--https", "127.0.0.1", "x.json"], 2, "ADDR:PORT"),
            (["--https", "127.0.0.1:70000", "--write-cert", "c.pem", "x.json"], 2, "ADDR:PORT"),
            (["--https", "127.0.0.1:0", "x.json"], 2, "--write-cert"),
            (["--cert", "a.pem", "x.json"], 2, "need --https"),
            (["--idle-timeout", "0", "x.json"], 2, "--idle-timeout needs a number of seconds"),
            (["--request-timeout=2s", "x.json"], 2, "--request-timeout needs a number of seconds"),
            (["--request-timeout", "86401", "x.json"], 2, "--request-timeout needs a number of seconds"),
            (["--max-connections", "0", "x.json"], 2, "--max-connections needs a whole number"),
            (["--max-connections", "-3", "x.json"], 2, "--max-connections needs a whole number"),
            (["--socket", "/tmp/none.sock", "/nonexistent/complex.json"], 1, "cannot be read"),
            (["--socket", "/tmp/none.sock", SCHEMA], 1, "unknown field \"classes\""),
            (["--print-mof"], 0, open(os.path.join(DATA, "schema.mof")).read()),
        ]:
            with self.subTest(args=args):
                r = provider_run(*args)
                self.assertEqual(r.returncode, code, r.stderr)
                self.assertIn(message, r.stdout if code == 0 else r.stderr)

    def test_ready_file_and_a_clean_stop_on_sigterm_and_sigint(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig), start(https=True) as p:
                self.assertEqual(p.ready_lines[0], str(p.process.pid))
                self.assertEqual(set(p.ready_lines[1:]), {"socket " + p.socket, "https %s:%d" % (ADDRESS, p.port)})
                conn = unix_connection(p.socket)  # an open idle connection must not hold the stop up
                self.assertEqual(post(conn), 200)
                p.process.send_signal(sig)
                self.assertEqual(p.process.wait(timeout=10), 0)
                self.assertFalse(os.path.exists(p.socket))
                conn.close()

    def test_live_socket_refused_and_stale_one_taken_over(self):
        with start() as p:
            second = provider_run("--socket", p.socket, os.path.join(DATA, "complex.json"))
            self.assertEqual((second.returncode, "another server is listening" in second.stderr), (1, True))
            p.process.kill()  # a hard kill leaves the socket file behind
            p.process.wait()
            with start(extra_args=["--socket", p.socket]):  # the last --socket counts
                self.assertEqual(post(unix_connection(p.socket)), 200)


class Connections(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.p = start(https=True)

    @classmethod
    def tearDownClass(cls):
        cls.p.close()

    def test_https_asks_for_credentials_and_keeps_the_connection(self):
        conn = http.client.HTTPSConnection(ADDRESS, self.p.port, timeout=10,
                                           context=ssl.create_default_context(cafile=self.p.cert_path))
        for auth, status in [(None, 401), ("viewer:p@ss:word", 200), ("admin:wrong", 401), ("admin:secret", 200)]:
            self.assertEqual(post(conn, auth=auth), status, auth)
        self.assertEqual(post(unix_connection(self.p.socket)), 200)
        lines = self.p.log()[-5:]
        self.assertEqual([(l["user"], l["result"]) for l in lines],
                         [(None, "http 401"), ("viewer", "ok"), (None, "http 401"), ("admin", "ok"), (None, "ok")])
        self.assertEqual([l["seq"] - lines[0]["seq"] for l in lines], [0, 1, 2, 3, 4])
        self.assertEqual([l["conn"] == lines[0]["conn"] for l in lines], [True] * 4 + [False])
        with self.assertRaises((http.client.HTTPException, OSError)):  # plain HTTP on the HTTPS port
            post(http.client.HTTPConnection(ADDRESS, self.p.port, timeout=5))

    def test_a_key_that_does_not_belong_to_the_certificate_is_refused(self):
        with tempfile.TemporaryDirectory() as d:
            sock = os.path.join(d, "s")
            bad = provider_run("--socket", sock, "--https", ADDRESS + ":0", "--cert", self.p.cert_path,
                               "--key", self.p.cert_path, os.path.join(DATA, "complex.json"))
            self.assertEqual((bad.returncode, "private_key" in bad.stderr, os.path.exists(sock)), (1, True, False))

    def test_raw_bytes(self):
        head = b"POST /cimom HTTP/1.1\r\nHost: x\r\nCIMOperation: MethodCall\r\n"
        for name, exchanges in [  # what is sent and how the answer starts, in turn
            ("no HTTP at all", [(b"HELLO THERE\r\n\r\n", b"HTTP/1.1 400")]),
            ("body too large", [(head + b"Content-Length: 17000000\r\n\r\n<CIM>", b"HTTP/1.1 413")]),
            ("client closes mid-request", [(head + b"Content-Length: 100\r\n\r\n<CIM", None)]),
            ("expect 100-continue", [(head + b"Expect: 100-continue\r\nContent-Length: %d\r\n\r\n" % len(GET_CLASS),
                                      b"HTTP/1.1 100 Continue"), (GET_CLASS.encode(), b"HTTP/1.1 200 OK")]),
        ]:
            with self.subTest(name), raw(self.p.socket) as s:
                for sent, reply in exchanges:
                    s.sendall(sent)
                    self.assertTrue(reply is None or s.recv(4096).startswith(reply))
        self.assertIn("http 413", [l["result"] for l in self.p.log()])
        self.assertEqual(post(unix_connection(self.p.socket)), 200)


class SlowAndManyPeers(unittest.TestCase):
    def test_slow_peers_are_closed_by_the_idle_or_the_request_timeout(self):
        # The lower bound says which time-out closed it (a deadline never passes early).
        request = ("POST /cimom HTTP/1.1\r\nHost: x\r\nCIMOperation: MethodCall\r\nCIMMethod: GetClass\r\n"
                   "CIMObject: %s\r\nContent-Length: %d\r\n\r\n%s" % (NS, len(GET_CLASS), GET_CLASS)).encode()
        with start(https=True, extra_args=["--idle-timeout", "0.5", "--request-timeout", "2"]) as p:
            for name, tcp, sent, earliest in [
                ("silent connection", False, b"", 0.4),
                ("kept alive after an answer", False, request, 0.4),
                ("half a header", False, b"POST /cimom HTTP/1.1\r\nHo", 1.8),
                ("half a body", False, b"POST /cimom HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n<CIM", 1.8),
                ("silent TLS handshake", True, b"", 1.8),
                ("half a TLS client hello", True, b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 1.8),
            ]:
                with self.subTest(name):
                    s = socket.create_connection((ADDRESS, p.port)) if tcp else raw(p.socket)
                    s.sendall(sent)
                    took = closed_after(s, 20)
                    s.close()
                    self.assertIsNotNone(took, "still open")
                    self.assertGreaterEqual(took, earliest)
            self.assertIsNone(p.process.poll())

    def test_tls_below_1_2_is_refused(self):
        # OpenSSL is configured to allow TLS 1.0 and weak ciphers, so that only the provider's own minimum refuses.
        with tempfile.TemporaryDirectory() as d:
            conf = os.path.join(d, "openssl.cnf")
            with open(conf, "w") as f:
                f.write("openssl_conf = init\n[init]\nssl_conf = ssl\n[ssl]\nsystem_default = defaults\n"
                        "[defaults]\nMinProtocol = TLSv1\nCipherString = DEFAULT:@SECLEVEL=0\n")
            with start(https=True, preexec_fn=lambda: os.environ.update(OPENSSL_CONF=conf)) as p:
                for version, accepted in [(ssl.TLSVersion.TLSv1, False), (ssl.TLSVersion.TLSv1_1, False),
                                          (ssl.TLSVersion.TLSv1_2, True), (ssl.TLSVersion.TLSv1_3, True)]:
                    with self.subTest(version=version.name):
                        context = ssl._create_unverified_context()
                        context.set_ciphers("DEFAULT:@SECLEVEL=0")
                        context.minimum_version = context.maximum_version = version
                        try:
                            with context.wrap_socket(socket.create_connection((ADDRESS, p.port), timeout=10)):
                                got = True
                        except (ssl.SSLError, ConnectionError):
                            got = False
                        self.assertEqual(got, accepted)

    def test_connections_at_the_cap(self):
        # Four held at most: a fifth is served at once when one of the four only waits for a request (the
        # longest waiting is closed for it), and waits in the listen queue while all four are in mid-request.
        with start(extra_args=["--max-connections", "4", "--request-timeout", "60"]) as p:
            for sent, served in [(b"", True), (b"POST /cimom HTTP/1.1\r\nHo", False)]:
                with self.subTest(served=served):
                    held = []
                    for _ in range(4):
                        held.append(raw(p.socket, sent))
                        time.sleep(0.05)
                    fifth = unix_connection(p.socket, timeout=10 if served else 2)
                    if served:
                        self.assertEqual(post(fifth), 200)
                        self.assertIsNotNone(closed_after(held[0], 10), "the longest waiting one is closed")
                        self.assertIsNone(closed_after(held[3], 0.3), "the others stay")
                    else:
                        with self.assertRaises(socket.timeout):
                            post(fifth)
                    for s in held + [fifth]:
                        s.close()

    # The sanitizer runtime's vptr check writes the vtable into a pipe, so with no descriptor left it
    # reports valid objects (here Beast's parser) as having an invalid vptr.
    @unittest.skipIf("ASAN_OPTIONS" in os.environ, "the sanitizer's vptr check needs a free descriptor")
    def test_out_of_descriptors_it_backs_off_and_recovers(self):
        # 24 descriptors, no cap below them: accept fails while the listener stays readable, without a busy loop.
        limit = lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (24, 24))  # noqa: E731

        def cpu():
            with open("/proc/%d/stat" % p.process.pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

        with start(extra_args=["--max-connections", "1000"], preexec_fn=limit) as p:
            silent = [raw(p.socket) for _ in range(40)]
            time.sleep(0.5)
            before = cpu()
            time.sleep(2)
            self.assertLess(cpu() - before, 1.0, "processor time while out of descriptors")
            for s in silent:
                s.close()
            self.assertEqual(post(unix_connection(p.socket, timeout=20)), 200)



@unittest.skipUnless(WBEMCLI, "wbemcli (Debian package sblim-wbemcli) is not installed")
class Wbemcli(unittest.TestCase):
    def test_wbemcli_reads_instances_classes_and_errors(self):
        c = harness.load_complex(os.path.join(DATA, "complex.json"))
        # wbemcli's parser does not know VALUE.NULL inside arrays, so no null array elements here.
        c["namespaces"][NS]["XK_KestCell"][0]["CPUStatus"] = [1, 1, 2]
        with start(https=True, complex_data=c) as p:
            base = "https://admin:secret@%s:%d/root/cimv2/kest:" % (ADDRESS, p.port)
            pre = "%s:%d/root/cimv2/kest:" % (ADDRESS, p.port)
            # wbemcli arguments; the lines of its standard output, a text it holds, or texts its standard error holds
            for args, out_or_err in [
                (["ei", base + "XK_KestCell"], [
                    pre + "XK_KestCell.SlotID=0 SlotID=0,ComponentStatus=1,CellArchitecture=1,CPUStatus=1,1,2,"
                    "DIMMSize=2048,2048,TotalMemoryInstalled=4096,CPUSpeed=1600,FirmwareRevision=\"9.22\"",
                    pre + "XK_KestCell.SlotID=1 SlotID=1,ComponentStatus=2,CellArchitecture=1,CPUStatus=,CPUSpeed=",
                    pre + "XK_KestCell.SlotID=2 SlotID=2,ComponentStatus=1,errorCode=22,"
                    "errorMsg=\"could not take the read lock\""]),
                (["ein", base + "XK_KestCellSlot"], [pre + "XK_KestCellSlot.ID=%d" % i for i in (0, 1, 2, 17)]),
                (["cm", base + "XK_KestCellSlot.ID=0", "MakeID.CabinetID=1,SlotNumber=1"],
                 [pre + "XK_KestCellSlot.ID=0 MakeID: 17"]),
                (["cm", base + "XK_KestIOChassisSlot", "MakeID.CabinetID=8,BayNumber=1,SlotNumber=3"],
                 [pre + "XK_KestIOChassisSlot MakeID: 35"]),
                (["cm", base + "XK_KestCellSlot", "MakeID.CabinetID=5,SlotNumber=1"], ("CIM_ERR_NOT_FOUND", "@17:")),
                (["gi", base + "XK_KestCellSlot.ID=99"], ("CIM_ERR_NOT_FOUND", "@16:")),
                (["ei", base + "XK_Nope"], ("CIM_ERR_INVALID_CLASS", "XK_Nope")),
                (["ei", base.replace("admin:secret", "admin:wrong") + "XK_KestCell"], ("Invalid username/password",)),
                (["gc", base + "XK_KestCell"], pre + "XK_KestCell SlotID=,ComponentStatus=,"),
            ]:
                with self.subTest(args=args):
                    r = subprocess.run([WBEMCLI, args[0], "-noverify", *args[1:]], capture_output=True, text=True,
                                       timeout=60)
                    if isinstance(out_or_err, str):
                        self.assertIn(out_or_err, r.stdout, r.stderr)
                    elif isinstance(out_or_err, list):
                        self.assertEqual((r.returncode, r.stdout.splitlines()), (0, out_or_err), r.stderr)
                    else:
                        self.assertNotEqual(r.returncode, 0)
                        for part in out_or_err:
                            self.assertIn(part, r.stderr)
            self.assertEqual(p.log()[0]["user"], "admin")

if __name__ == "__main__":
    harness.KEST_PROVIDER, SCHEMA, DATA, ADDRESS = sys.argv[1:5]
    unittest.main(argv=[sys.argv[0]] + sys.argv[5:], verbosity=2)
