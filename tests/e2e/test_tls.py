"""TLS of -u against a server of the test's own that allows one protocol version or cipher at a time: TLS 1.1,
or no encryption, is refused, TLS 1.2 and 1.3 are accepted; a host name is sent for SNI, an IP address not."""
import contextlib
import os
import socket
import ssl
import tempfile
import threading
import unittest
import warnings

from harness import certificate, run

_addresses = iter("127.0.10.%d" % n for n in range(10, 250))
ARGS = ["-u", "admin:tls-test-pw", "-C"]


def context(side, versions, ciphers):
    ctx = ssl.SSLContext(side)
    ctx.set_ciphers((ciphers or "DEFAULT") + ":@SECLEVEL=0")
    if versions:
        ctx.minimum_version, ctx.maximum_version = versions
    return ctx


class TlsServer(threading.Thread):
    """Accepts connections on ADDRESS:5989 until closed and records, for each, the negotiated version and
    cipher or the refusal, and the SNI names; reads the request and closes unanswered."""

    def __init__(self, cert, versions=None, ciphers=None, address=None):
        super().__init__(daemon=True)
        self.ctx = context(ssl.PROTOCOL_TLS_SERVER, versions, ciphers)
        self.ctx.load_cert_chain(*cert)
        self.names, self.handshakes, self.stop = [], [], threading.Event()
        self.ctx.sni_callback = lambda sock, name, ctx: self.names.append(name)
        for self.address in [address] if address else _addresses:  # an address still held: the next
            with contextlib.suppress(OSError):
                self.sock = socket.create_server((self.address, 5989))
                break
        self.sock.settimeout(0.2)
        self.start()

    def run(self):
        while not self.stop.is_set():
            with contextlib.suppress(socket.timeout):
                conn = self.sock.accept()[0]
                conn.settimeout(10)
                try:
                    tls = self.ctx.wrap_socket(conn, server_side=True)
                except (ssl.SSLError, OSError) as e:
                    self.handshakes.append(("refused", str(e)))
                    conn.close()
                    continue
                self.handshakes.append((tls.version(), tls.cipher()[0]))
                with tls, contextlib.suppress(OSError):
                    tls.recv(65536)

    def close(self):
        self.stop.set()
        self.join(timeout=15)
        self.sock.close()


def python_client(server, versions=None, ciphers=None):
    ctx = context(ssl.PROTOCOL_TLS_CLIENT, versions, ciphers)
    ctx.check_hostname, ctx.verify_mode = False, ssl.CERT_NONE
    try:
        with ctx.wrap_socket(socket.create_connection((server.address, 5989), timeout=10)):
            return True
    except (ssl.SSLError, OSError):
        return False


V = ssl.TLSVersion
REAL_CIPHER = "ECDHE-RSA-AES128-GCM-SHA256"
# name, versions, ciphers, -h host (None: the server's address), what the first handshake of cmplxview
# gives (None: every one refused), SNI name sent
CASES = [
    ("TLS 1.1 only", (V.TLSv1_1, V.TLSv1_1), None, None, None, None),
    ("TLS 1.2 only", (V.TLSv1_2, V.TLSv1_2), None, None, "TLSv1.2", None),
    ("TLS 1.3 only", (V.TLSv1_3, V.TLSv1_3), None, None, "TLSv1.3", None),
    ("only a cipher without encryption", (V.TLSv1_2, V.TLSv1_2), "NULL-SHA256", None, None, None),
    ("a real cipher besides", (V.TLSv1_2, V.TLSv1_2), "NULL-SHA256:" + REAL_CIPHER, None, ("TLSv1.2", REAL_CIPHER),
     None),
    # An IP address is not sent for SNI (RFC 6066 forbids it), a host name is.
    ("SNI of a host name", None, None, "localhost", "TLSv1.", "localhost"),
]


class Tls(unittest.TestCase):
    def test_cases(self):
        warnings.simplefilter("ignore", DeprecationWarning)  # ssl.TLSVersion.TLSv1_1 is deprecated, rightly
        with tempfile.TemporaryDirectory() as d:
            cert = certificate(d, "server", "DNS:localhost")
            for name, versions, ciphers, host, accepted, sni in CASES:
                with self.subTest(name):
                    if host == "localhost":  # "localhost" must name a loopback address only
                        found = {a[4][0] for a in socket.getaddrinfo("localhost", 5989, proto=socket.IPPROTO_TCP)}
                        if not found <= {"127.0.0.1", "::1"}:
                            self.skipTest("localhost is %s here" % found)
                    server = TlsServer(cert, versions, ciphers, "127.0.0.1" if host else None)
                    with contextlib.closing(server):
                        # A refusal must not come from a server that accepts nobody.
                        control = accepted is None and python_client(server, versions, ciphers)
                        if accepted is None and not control:
                            self.skipTest("this OpenSSL cannot make such a handshake at all")
                        out, err, status = run(ARGS + ["-h", host or server.address],
                                               env=dict(os.environ, XK_CIM_TIMEOUT_MS="20000"))
                        server.close()
                        self.assertEqual(status, 1, err)  # the server never answers a request
                        mine = server.handshakes[1:] if control else server.handshakes
                        self.assertTrue(mine, "cmplxview never connected: %s" % err)
                        if accepted is None:
                            self.assertEqual({h[0] for h in mine}, {"refused"}, mine)
                            self.assertTrue(err.startswith("Error: Unable to connect to the Kest Provider on %s.\n"
                                                           % server.address), err)
                        elif isinstance(accepted, tuple):
                            self.assertEqual(mine[0], accepted)
                        else:
                            self.assertTrue(mine[0][0].startswith(accepted), mine)
                            self.assertEqual(server.names[:1], [sni])


if __name__ == "__main__":
    unittest.main()
