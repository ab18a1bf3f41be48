"""cmplxview keeps getting its answers while slow clients besiege the provider: connections that send
nothing, requests cut off half-way and stalled TLS handshakes, more at once than the provider may hold or has
descriptors for; each one closed is opened again at once. Bounded: SLOW_PER_KIND of each kind, RUNS runs."""
import contextlib
import pathlib
import resource
import select
import socket
import sys
import threading
import unittest

from harness import Provider, example, run

SLOW_PER_KIND = 40
RUNS = 3
HALF_REQUEST = b"POST /cimom HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n<CIM"
HALF_CLIENT_HELLO = b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03"


class Besieger(threading.Thread):
    def __init__(self, socket_path, tls_address):
        super().__init__(daemon=True)
        self.kinds = [(socket.AF_UNIX, socket_path, b""), (socket.AF_UNIX, socket_path, HALF_REQUEST),
                      (socket.AF_INET, tls_address, HALF_CLIENT_HELLO)]
        self.stop, self.ready, self.opened = threading.Event(), threading.Event(), 0

    def open(self, kind):
        family, address, sent = self.kinds[kind]
        s = socket.socket(family)
        s.connect(address)
        s.sendall(sent)
        self.opened += 1
        return s

    def run(self):
        held = {self.open(kind): kind for kind in range(len(self.kinds)) for _ in range(SLOW_PER_KIND)}
        self.ready.set()
        while not self.stop.is_set():
            for s in select.select(list(held), [], [], 0.1)[0]:
                with contextlib.suppress(OSError):
                    if s.recv(4096):
                        continue  # an answer; the connection stays open
                kind = held.pop(s)  # closed by the provider: opened again
                s.close()
                held[self.open(kind)] = kind
        for s in held:
            s.close()


class SlowClientLoad(unittest.TestCase):
    def test_reports_keep_coming(self):
        limit = lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (96, 96))
        args = ["--max-connections", "48", "--idle-timeout", "1", "--request-timeout", "2"]
        with Provider(example("default.json"), https="127.0.0.1:0", extra_args=args, preexec_fn=limit) as p:
            alone = run(["-C"], env=p.env)
            self.assertEqual(alone[1:], ("", 0))
            self.assertIn("[Cell]", alone[0])
            ready = pathlib.Path(p.dir.name, "ready").read_text().split("\n")
            port = int([line for line in ready if line.startswith("https ")][0].rsplit(":", 1)[1])
            besieger = Besieger(p.socket, ("127.0.0.1", port))
            besieger.start()
            try:
                self.assertTrue(besieger.ready.wait(30))
                for _ in range(RUNS):
                    self.assertEqual(run(["-C"], env=p.env, timeout=120), alone)
            finally:
                besieger.stop.set()
                besieger.join(30)
            sys.stderr.write("\n%d slow clients at a time, %d opened in all\n" % (3 * SLOW_PER_KIND, besieger.opened))
            self.assertIsNone(p.process.poll())


if __name__ == "__main__":
    unittest.main()
