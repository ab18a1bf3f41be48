"""kest-provider as a running process: sockets, keep-alive, HTTPS with Basic
authentication, faults on the wire, concurrency, start-up errors, a clean
stop, and peers that are slow or many.

usage: process_test.py KEST_PROVIDER SCHEMA DATA_DIR LOOPBACK_ADDRESS [unittest args]
"""

import shutil
import tempfile
import http.client
import os
import resource
import select
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time
import unittest
import xml.etree.ElementTree as ET

import kest_harness as kh

BINARY = SCHEMA = DATA = ADDRESS = None


def start(complex_json=None, https=False, extra_args=(), **popen):
    c = complex_json if complex_json is not None else kh.load_complex(DATA)
    return kh.ProviderProcess(BINARY, SCHEMA, c, https_host=ADDRESS if https else None, extra_args=extra_args,
                              **popen)


class Lifecycle(unittest.TestCase):
    def test_ready_file_names_the_process_and_listeners(self):
        p = start(https=True)
        try:
            self.assertEqual(p.ready_lines[0], str(p.process.pid))
            self.assertIn("https %s:%d" % (ADDRESS, p.https_port), p.ready_lines)
            self.assertIn("socket " + p.socket_path, p.ready_lines)
            self.assertNotEqual(p.https_port, 0)
            self.assertTrue(os.path.exists(p.socket_path))
        finally:
            p.close()

    def test_sigterm_and_sigint_stop_cleanly_and_remove_the_socket(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig):
                p = start()
                try:
                    conn = p.unix_connection()  # an open idle connection must not hold the stop up
                    status, _, _ = kh.post(conn, kh.get_class("XK_KestCell"))
                    self.assertEqual(status, 200)
                    self.assertEqual(p.stop(sig), 0)
                    self.assertFalse(os.path.exists(p.socket_path))
                    conn.close()
                finally:
                    p.close()

    def test_stale_socket_file_is_replaced_and_live_one_refused(self):
        p = start()
        try:
            # A second provider on the same live socket must refuse to start.
            second = subprocess.run([BINARY, "--schema", SCHEMA, "--socket", p.socket_path,
                                     os.path.join(DATA, "complex.json")], capture_output=True, text=True, timeout=20)
            self.assertEqual(second.returncode, 1)
            self.assertIn("another server is listening", second.stderr)
            # After a hard kill the socket file stays behind; the next start takes it over.
            p.process.kill()
            p.process.wait()
            self.assertTrue(os.path.exists(p.socket_path))
            third = subprocess.Popen([BINARY, "--schema", SCHEMA, "--socket", p.socket_path, "--ready-file",
                                      p.ready_path + "2", os.path.join(DATA, "complex.json")],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            try:
                deadline = time.monotonic() + 20
                while not os.path.exists(p.ready_path + "2") and time.monotonic() < deadline and third.poll() is None:
                    time.sleep(0.01)
                self.assertIsNone(third.poll())
                conn = p.unix_connection()
                status, _, body = kh.post(conn, kh.get_class("XK_KestCell"))
                self.assertEqual(status, 200)
                conn.close()
            finally:
                third.terminate()
                third.wait(timeout=10)
        finally:
            p.close()

    def test_startup_errors(self):
        bad = os.path.join(DATA, "schema.json")  # a schema is no complex file
        cases = [
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
            (["--socket", "/tmp/none.sock", bad], 1, "unknown field \"classes\""),
        ]
        for args, code, message in cases:
            with self.subTest(args=args):
                r = subprocess.run([BINARY, "--schema", SCHEMA] + args, capture_output=True, text=True, timeout=20)
                self.assertEqual(r.returncode, code, r.stderr)
                self.assertIn(message, r.stderr)

    @unittest.skipUnless(shutil.which("openssl"), "openssl command not installed")
    def test_certificate_and_key_files(self):
        with tempfile.TemporaryDirectory() as d:
            cert, key = os.path.join(d, "cert.pem"), os.path.join(d, "key.pem")
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                            "-days", "1", "-subj", "/CN=kest-test", "-addext", "subjectAltName=IP:" + ADDRESS],
                           check=True, capture_output=True, timeout=60)
            p = start(https=False, extra_args=["--https", ADDRESS + ":0", "--cert", cert, "--key", key])
            try:
                p.https_host = ADDRESS
                p.https_port = int([l for l in p.ready_lines if l.startswith("https ")][0].rsplit(":", 1)[1])
                p.cert_path = cert
                status, _, body = kh.post(p.https_connection(verify=True), kh.get_class("XK_KestCell"), auth="admin:secret")
                self.assertEqual(status, 200)
            finally:
                p.close()
            # A key that does not belong to the certificate is refused at start.
            bad = subprocess.run([BINARY, "--schema", SCHEMA, "--socket", os.path.join(d, "s"), "--https",
                                  ADDRESS + ":0", "--cert", cert, "--key", cert, os.path.join(DATA, "complex.json")],
                                 capture_output=True, text=True, timeout=20)
            self.assertEqual(bad.returncode, 1)
            self.assertIn("private_key", bad.stderr)
            self.assertFalse(os.path.exists(os.path.join(d, "s")))

    def test_print_mof(self):
        r = subprocess.run([BINARY, "--schema", SCHEMA, "--print-mof"], capture_output=True, text=True, timeout=20)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("class XK_KestCell\n{\n    [Key] uint32 SlotID;\n", r.stdout)
        self.assertIn('[ValueMap {"Unknown", "VX_ARCH", "WX_ARCH"}] uint8 CellArchitecture;', r.stdout)


class Connections(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.p = start(https=True)

    @classmethod
    def tearDownClass(cls):
        cls.p.close()

    def new_log_lines(self, before):
        return self.p.log()[before:]

    def test_keep_alive_serves_many_requests_on_one_connection(self):
        before = len(self.p.log())
        conn = self.p.unix_connection()
        for request in (kh.get_class("XK_KestCell"), kh.enumerate_instances("XK_KestCellSlot"),
                        kh.get_instance("XK_KestCellSlot", "ID", 17)):
            status, headers, body = kh.post(conn, request)
            self.assertEqual(status, 200)
            self.assertEqual(headers["content-type"], 'application/xml; charset="utf-8"')
            self.assertEqual(headers["cimoperation"], "MethodResponse")
        conn.close()
        lines = self.new_log_lines(before)
        self.assertEqual([l["op"] for l in lines], ["GetClass", "EnumerateInstances", "GetInstance"])
        self.assertEqual(len({l["conn"] for l in lines}), 1)
        self.assertEqual([l["seq"] for l in lines], list(range(lines[0]["seq"], lines[0]["seq"] + 3)))
        # A new connection gets a new number.
        kh.post(self.p.unix_connection(), kh.get_class("XK_KestCell"))
        self.assertNotEqual(self.p.log()[-1]["conn"], lines[0]["conn"])

    def test_https_basic_authentication(self):
        cases = [
            (None, 401),
            ("admin:wrong", 401),
            ("nobody:secret", 401),
            ("admin:secret", 200),
            ("viewer:p@ss:word", 200),
        ]
        for auth, status in cases:
            with self.subTest(auth=auth):
                conn = self.p.https_connection()
                got, headers, body = kh.post(conn, kh.enumerate_instances("XK_KestCell"), auth=auth)
                self.assertEqual(got, status)
                if status == 401:
                    self.assertEqual(headers["www-authenticate"], 'Basic realm="kest"')
                else:
                    self.assertEqual(len(kh.instances_of(body)), 3)
                    self.assertEqual(self.p.log()[-1]["user"], auth.split(":")[0])
                conn.close()

    def test_certificate_verifies_for_the_address(self):
        # The written certificate is a trust anchor whose name covers the listening address.
        conn = self.p.https_connection(verify=True)
        conn.connect()
        self.assertIsNotNone(conn.sock.getpeercert())
        conn.close()

    def test_https_keep_alive_after_a_401(self):
        conn = self.p.https_connection()
        self.assertEqual(kh.post(conn, kh.get_class("XK_KestCell"))[0], 401)
        self.assertEqual(kh.post(conn, kh.get_class("XK_KestCell"), auth="admin:secret")[0], 200)
        lines = self.p.log()[-2:]
        self.assertEqual(lines[0]["conn"], lines[1]["conn"])
        self.assertEqual([l["result"] for l in lines], ["http 401", "ok"])

    def test_plain_http_on_the_https_port_is_refused(self):
        conn = http.client.HTTPConnection(ADDRESS, self.p.https_port, timeout=5)
        with self.assertRaises((http.client.HTTPException, ConnectionError, OSError)):
            kh.post(conn, kh.get_class("XK_KestCell"))

    def test_bytes_that_are_no_http_get_400(self):
        s = socket.socket(socket.AF_UNIX)
        s.settimeout(5)
        s.connect(self.p.socket_path)
        s.sendall(b"HELLO THERE\r\n\r\n")
        reply = s.recv(4096)
        self.assertTrue(reply.startswith(b"HTTP/1.1 400"), reply)
        s.close()

    def test_oversized_body_gets_413(self):
        s = socket.socket(socket.AF_UNIX)
        s.settimeout(5)
        s.connect(self.p.socket_path)
        s.sendall(b"POST /cimom HTTP/1.1\r\nHost: x\r\nCIMOperation: MethodCall\r\nContent-Length: 17000000\r\n\r\n<CIM>")
        reply = s.recv(4096)
        self.assertTrue(reply.startswith(b"HTTP/1.1 413"), reply)
        s.close()
        self.assertEqual(self.p.log()[-1]["result"], "http 413")

    def test_expect_100_continue(self):
        body, headers = kh.enumerate_instances("XK_KestCell")
        s = socket.socket(socket.AF_UNIX)
        s.settimeout(5)
        s.connect(self.p.socket_path)
        s.sendall(("POST /cimom HTTP/1.1\r\nHost: x\r\nCIMOperation: MethodCall\r\nCIMMethod: EnumerateInstances\r\n"
                   "Expect: 100-continue\r\nContent-Length: %d\r\n\r\n" % len(body)).encode())
        self.assertTrue(s.recv(4096).startswith(b"HTTP/1.1 100 Continue"))
        s.sendall(body.encode())
        reply = b""
        while b"</CIM>" not in reply:
            chunk = s.recv(65536)
            if not chunk:
                break
            reply += chunk
        s.close()
        self.assertTrue(reply.startswith(b"HTTP/1.1 200 OK"), reply[:100])
        self.assertEqual(len(kh.instances_of(reply[reply.index(b"\r\n\r\n") + 4:])), 3)

    def test_client_closing_mid_request_does_not_hurt(self):
        s = socket.socket(socket.AF_UNIX)
        s.connect(self.p.socket_path)
        s.sendall(b"POST /cimom HTTP/1.1\r\nContent-Length: 100\r\n\r\n<CIM")
        s.close()
        status, _, _ = kh.post(self.p.unix_connection(), kh.get_class("XK_KestCell"))
        self.assertEqual(status, 200)

    def test_mutated_requests_never_bring_it_down(self):
        import random
        rng = random.Random(7)
        seeds = [kh.enumerate_instances("XK_KestCell"), kh.get_instance("XK_KestCellSlot", "ID", 1),
                 kh.make_id("XK_KestIOChassisSlot", [("CabinetID", 8), ("BayNumber", 1), ("SlotNumber", 3)]),
                 kh.get_class("XK_KestCell")]
        conn = self.p.unix_connection()
        for n in range(300):
            body, headers = seeds[n % len(seeds)]
            data = bytearray(body.encode())
            for _ in range(rng.randint(1, 6)):
                at = rng.randrange(len(data))
                what = rng.randrange(3)
                if what == 0:
                    data[at] = rng.randrange(256)
                elif what == 1:
                    del data[at:at + rng.randint(1, 40)]
                else:
                    data[at:at] = rng.choice([b"<", b">", b"&", b'"', b"<VALUE>", b"</IPARAMVALUE>", b"\x00"])
            try:
                status, _, _ = kh.post(conn, (data.decode("latin-1"), headers))
            except (http.client.HTTPException, OSError):
                conn.close()
                conn = self.p.unix_connection()
                continue
            self.assertIn(status, (200, 400))
        conn.close()
        self.assertIsNone(self.p.process.poll())
        self.assertEqual(kh.post(self.p.unix_connection(), kh.get_class("XK_KestCell"))[0], 200)

    def test_many_clients_at_once(self):
        before = len(self.p.log())
        errors = []

        def client(n):
            try:
                conn = self.p.unix_connection()
                for i in range(25):
                    status, _, body = kh.post(conn, kh.make_id("XK_KestCellSlot", [("CabinetID", 0), ("SlotNumber", i % 3)]))
                    if status != 200 or kh.return_value(body) != ("uint32", str(i % 3)):
                        errors.append((n, i, status, body[:200]))
                conn.close()
            except Exception as e:  # noqa: BLE001 - reported below
                errors.append((n, repr(e)))

        threads = [threading.Thread(target=client, args=(n,)) for n in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(60)
        self.assertEqual(errors, [])
        lines = self.new_log_lines(before)
        self.assertEqual(len(lines), 200)
        self.assertEqual(len({l["conn"] for l in lines}), 8)


def closed_after(sock, limit):
    """Seconds until the peer closes sock (answers are read and dropped), or None after limit seconds."""
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


def connections(path, count, sent=b"", pause=0.0):
    """count connections to the Unix socket, each sending sent, pause seconds apart."""
    opened = []
    for _ in range(count):
        s = socket.socket(socket.AF_UNIX)
        s.connect(path)
        s.sendall(sent)
        opened.append(s)
        time.sleep(pause)
    return opened


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class SlowPeers(unittest.TestCase):
    """Deadlines: a peer that sends nothing, or stops half-way through a
    request or a TLS handshake, is closed after the idle or the request
    time-out. The lower bounds say which time-out closed it (a deadline
    never passes early); the upper ones only that it was closed at all."""

    @classmethod
    def setUpClass(cls):
        cls.p = start(https=True, extra_args=["--idle-timeout", "0.5", "--request-timeout", "2"])

    @classmethod
    def tearDownClass(cls):
        cls.p.close()

    def test_slow_peers_are_closed(self):
        body, _ = kh.get_class("XK_KestCell")
        request = ("POST /cimom HTTP/1.1\r\nHost: x\r\nCIMOperation: MethodCall\r\nCIMMethod: GetClass\r\n"
                   "CIMObject: %s\r\nContent-Length: %d\r\n\r\n%s" % (kh.NAMESPACE, len(body), body)).encode()
        cases = [
            # name, listener, bytes sent, closed not before, closed by (seconds)
            ("silent connection", "unix", b"", 0.4, 20),
            ("kept alive after an answer", "unix", request, 0.4, 20),
            ("half a header", "unix", b"POST /cimom HTTP/1.1\r\nHo", 1.8, 20),
            ("half a body", "unix", b"POST /cimom HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n<CIM", 1.8, 20),
            ("silent TLS handshake", "tcp", b"", 1.8, 20),
            ("half a TLS client hello", "tcp", b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 1.8, 20),
        ]
        for name, listener, sent, earliest, latest in cases:
            with self.subTest(name):
                if listener == "unix":
                    s = socket.socket(socket.AF_UNIX)
                    s.connect(self.p.socket_path)
                else:
                    s = socket.create_connection((ADDRESS, self.p.https_port))
                s.sendall(sent)
                took = closed_after(s, latest)
                s.close()
                self.assertIsNotNone(took, "still open after %d s" % latest)
                self.assertGreaterEqual(took, earliest)
        self.assertIsNone(self.p.process.poll())

    def test_tls_below_1_2_is_refused(self):
        # The provider runs with an OpenSSL configuration that allows TLS 1.0
        # and weak ciphers, so that only its own minimum can refuse.
        with tempfile.TemporaryDirectory() as d:
            conf = os.path.join(d, "openssl.cnf")
            with open(conf, "w") as f:
                f.write("openssl_conf = init\n[init]\nssl_conf = ssl\n[ssl]\nsystem_default = defaults\n"
                        "[defaults]\nMinProtocol = TLSv1\nCipherString = DEFAULT:@SECLEVEL=0\n")
            p = start(https=True, env=dict(os.environ, OPENSSL_CONF=conf))
            try:
                for version, accepted in [(ssl.TLSVersion.TLSv1, False), (ssl.TLSVersion.TLSv1_1, False),
                                          (ssl.TLSVersion.TLSv1_2, True), (ssl.TLSVersion.TLSv1_3, True)]:
                    with self.subTest(version=version.name):
                        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
                        context.check_hostname = False
                        context.verify_mode = ssl.CERT_NONE
                        context.set_ciphers("DEFAULT:@SECLEVEL=0")
                        context.minimum_version = context.maximum_version = version
                        try:
                            with context.wrap_socket(socket.create_connection((ADDRESS, p.https_port), timeout=10)):
                                got = True
                        except (ssl.SSLError, ConnectionError):
                            got = False
                        self.assertEqual(got, accepted)
            finally:
                p.close()

    def test_connections_at_the_cap(self):
        # Four held at most: a fifth is served at once when one of the four
        # only waits for a request (the longest waiting is closed for it),
        # and waits in the listen queue while all four are in mid-request.
        p = start(extra_args=["--max-connections", "4", "--request-timeout", "60"])
        try:
            for name, sent, served in [("held ones wait for a request", b"", True),
                                       ("held ones are in mid-request", b"POST /cimom HTTP/1.1\r\nHo", False)]:
                with self.subTest(name):
                    held = connections(p.socket_path, 4, sent, pause=0.05)
                    fifth = p.unix_connection(timeout=10 if served else 2)
                    if served:
                        self.assertEqual(kh.post(fifth, kh.get_class("XK_KestCell"))[0], 200)
                        self.assertIsNotNone(closed_after(held[0], 10), "the longest waiting one is closed")
                        self.assertIsNone(closed_after(held[3], 0.3), "the others stay")
                    else:
                        with self.assertRaises(socket.timeout):
                            kh.post(fifth, kh.get_class("XK_KestCell"))
                    for s in held + [fifth]:
                        s.close()
        finally:
            p.close()

    # Known defect, open: in the sanitizer build the provider stops with a
    # vptr error inside Beast's request parser once the 40 waiting clients
    # close while it is out of descriptors. Until that is found, this case
    # runs in the normal build only.
    @unittest.skipIf("ASAN_OPTIONS" in os.environ, "sanitizer build: open parser defect when out of descriptors")
    def test_out_of_descriptors_it_backs_off_and_recovers(self):
        # 24 descriptors and no cap below them: the listener stays readable
        # while accept fails, which must not keep a processor busy.
        limit = lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (24, 24))
        p = start(extra_args=["--max-connections", "1000"], preexec_fn=limit)
        try:
            silent = connections(p.socket_path, 40)
            time.sleep(0.5)
            before = cpu_seconds(p.process.pid)
            time.sleep(2)
            self.assertLess(cpu_seconds(p.process.pid) - before, 0.5, "processor time while out of descriptors")
            for s in silent:
                s.close()
            status, _, _ = kh.post(p.unix_connection(timeout=20), kh.get_class("XK_KestCell"))
            self.assertEqual(status, 200)
        finally:
            p.close()


def with_faults(faults):
    c = kh.load_complex(DATA)
    c["faults"] = faults
    return c


class FaultsOnTheWire(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.p = start(with_faults([
            {"operation": "GetClass", "class": "XK_KestCabinet", "action": "drop"},
            {"operation": "GetClass", "class": "XK_KestCell", "action": "delay", "ms": 3000},
            {"operation": "EnumerateInstances", "class": "XK_KestCell", "action": "truncated"},
            {"operation": "EnumerateInstances", "class": "XK_KestCabinet", "action": "malformed"},
            {"operation": "EnumerateInstances", "class": "XK_KestPartition", "action": "httpStatus", "status": 503},
            {"operation": "GetInstance", "class": "XK_KestCellSlot", "key": 1, "action": "cimError", "code": 1,
             "description": "provider failure@22:read lock"},
            {"method": "MakeID", "nth": 2, "action": "nullReturn"},
        ]))

    @classmethod
    def tearDownClass(cls):
        cls.p.close()

    def test_drop_closes_without_answer(self):
        conn = self.p.unix_connection()
        with self.assertRaises((http.client.RemoteDisconnected, ConnectionResetError)):
            kh.post(conn, kh.get_class("XK_KestCabinet"))
        self.assertEqual(self.p.log()[-1]["result"], "drop")

    def test_delay_holds_only_its_own_connection(self):
        result = {}

        def slow():
            t0 = time.monotonic()
            status, _, _ = kh.post(self.p.unix_connection(), kh.get_class("XK_KestCell"))
            result["slow"] = (status, time.monotonic() - t0)

        t = threading.Thread(target=slow)
        t.start()
        time.sleep(0.1)
        t0 = time.monotonic()
        status, _, _ = kh.post(self.p.unix_connection(), kh.get_class("XK_KestCellSlot"))
        fast = time.monotonic() - t0
        t.join(10)
        self.assertEqual(status, 200)
        # The other request is answered while the delayed one still waits
        # (a bound wide enough for a busy machine and a sanitizer build).
        self.assertLess(fast, 2.5)
        self.assertEqual(result["slow"][0], 200)
        self.assertGreaterEqual(result["slow"][1], 3.0)

    def test_truncated_body_has_the_announced_length_and_is_cut(self):
        conn = self.p.unix_connection()
        status, headers, body = kh.post(conn, kh.enumerate_instances("XK_KestCell"))
        self.assertEqual(status, 200)
        self.assertEqual(int(headers["content-length"]), len(body))
        self.assertTrue(body.startswith(b"<?xml"))
        with self.assertRaises(ET.ParseError):
            kh.parse(body)
        # The connection stays usable.
        self.assertEqual(kh.post(conn, kh.get_class("XK_KestCellSlot"))[0], 200)

    def test_malformed_body(self):
        status, _, body = kh.post(self.p.unix_connection(), kh.enumerate_instances("XK_KestCabinet"))
        self.assertEqual(status, 200)
        with self.assertRaises(ET.ParseError):
            kh.parse(body)

    def test_http_status(self):
        status, _, body = kh.post(self.p.unix_connection(), kh.enumerate_instances("XK_KestPartition"))
        self.assertEqual((status, body), (503, b""))

    def test_cim_error_on_one_key_only(self):
        conn = self.p.unix_connection()
        _, _, body = kh.post(conn, kh.get_instance("XK_KestCellSlot", "ID", 1))
        self.assertEqual(kh.error_of(body), (1, "provider failure@22:read lock"))
        _, _, body = kh.post(conn, kh.get_instance("XK_KestCellSlot", "ID", 2))
        self.assertIsNone(kh.error_of(body))

    def test_null_return_on_the_second_call_only(self):
        conn = self.p.unix_connection()
        results = [kh.return_value(kh.post(conn, kh.make_id("XK_KestCellSlot", [("CabinetID", 1), ("SlotNumber", 1)]))[2])
                   for _ in range(3)]
        self.assertEqual(results, [("uint32", "17"), ("uint32", None), ("uint32", "17")])


if __name__ == "__main__":
    BINARY, SCHEMA, DATA, ADDRESS = sys.argv[1:5]
    unittest.main(argv=[sys.argv[0]] + sys.argv[5:], verbosity=2)
