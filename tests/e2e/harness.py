"""Runs the real cmplxview (CMPLXVIEW) against a real kest-provider (KEST_PROVIDER, KEST_SCHEMA), each provider
on a socket in a temporary directory of its own, so that tests can run in parallel; the small complex
(cases/small.json), fault rules and the diagnostics of a failed connection."""
import json
import os
import pathlib
import signal
import subprocess
import tempfile
import time

CMPLXVIEW = os.environ.get("CMPLXVIEW", "cmplxview")
KEST_PROVIDER = os.environ.get("KEST_PROVIDER", "kest-provider")
KEST_SCHEMA = os.environ.get("KEST_SCHEMA")
NS = "root/cimv2/kest"
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def example(name):
    return os.path.join(REPO, "examples", name)


def load_complex(path):
    return json.loads(pathlib.Path(path).read_text("utf-8"))


def small_complex():
    """Four cell slots (slot 2 empty), three cells, one I/O chassis, a partition 0 with cells 0 and 2 and a
    partition 5 without cells; the program runs in partition 0."""
    return load_complex(os.path.join(os.path.dirname(os.path.abspath(__file__)), "cases", "small.json"))


def fault(action, **match):
    return dict(match, action=action)


def cim_error(code, description, **match):
    return fault("cimError", code=code, description=description, **match)


def connect_block(target):
    """The diagnostics printed when no provider can be reached on target."""
    text = ("Error: Unable to connect to the Kest Provider on %s.\n" % target
            + "1. Verify that the XK Kest Provider (WMIKestProvider on Windows) is installed and running on %s.\n"
            % target
            + "2. Verify that you are logged-in to the correct account (or have provided the correct username & "
              "password) to access the provider on %s.\n" % target)
    if target != "<localhost>":
        text += ("3. Verify that you have copied the server's SSL certificate from %s to the trusted certificate "
                 "store on the local machine (see man/help/readme).\n" % target)
    return text


FAILED_TO_CONNECT = "Error: Failed to connect to target partition or complex.\n"
DEFAULT_NOTE = "Note: No action specified. Default behaviour is display all.\n"
CREDENTIAL_VIOLATION = "Error: Remote user or IPMI password violation.\n"


class Provider:
    """A kest-provider serving a complex (a dict, or a file's path) on a private socket; `env` points cmplxview at
    it. Over HTTPS it makes its own certificate unless `cert` gives (certificate, key) files; `schema` None: the
    complex file carries its own."""

    def __init__(self, complex_data, https=None, extra_args=(), ready_timeout=20, cert=None, preexec_fn=None,
                 schema=KEST_SCHEMA):
        self.dir = tempfile.TemporaryDirectory(prefix="kest-e2e-")
        self.socket = os.path.join(self.dir.name, "cimxml.socket")
        self.log_path = os.path.join(self.dir.name, "requests.log")
        self.cert_path = os.path.join(self.dir.name, "server.pem")
        ready = os.path.join(self.dir.name, "ready")
        if isinstance(complex_data, (str, os.PathLike)):
            complex_path = str(complex_data)
        else:
            complex_path = os.path.join(self.dir.name, "complex.json")
            pathlib.Path(complex_path).write_text(json.dumps(complex_data), "utf-8")
        args = [KEST_PROVIDER, "--socket", self.socket, "--log", self.log_path, "--ready-file", ready]
        if schema:
            args += ["--schema", schema]
        if https and cert:
            args += ["--https", https, "--cert", cert[0], "--key", cert[1]]
        elif https:
            args += ["--https", https, "--write-cert", self.cert_path]
        args += list(extra_args) + [complex_path]
        self.process = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, preexec_fn=preexec_fn)
        deadline = time.monotonic() + ready_timeout
        while not os.path.exists(ready):
            if self.process.poll() is not None:
                raise RuntimeError("kest-provider exited: " + self.process.stderr.read().decode(errors="replace"))
            if time.monotonic() > deadline:
                self.close()
                raise RuntimeError("kest-provider did not become ready")
            time.sleep(0.01)
        self.env = dict(os.environ, XK_CIM_SOCKET=self.socket)
        self.env.pop("XK_CIM_TRACE", None)

    def log(self):
        text = pathlib.Path(self.log_path).read_text("utf-8") if os.path.exists(self.log_path) else ""
        return [json.loads(line) for line in text.split("\n") if line.strip()]

    def close(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stderr.close()
        self.dir.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def run(args, env=None, input_text=None, timeout=60, cwd=None):
    if env is None:
        env = dict(os.environ, XK_CIM_SOCKET="/nonexistent/cmplxview-test.socket")
    p = subprocess.run([CMPLXVIEW] + list(args), env=env, input=(input_text or "").encode(), cwd=cwd,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    return p.stdout.decode("utf-8", errors="replace"), p.stderr.decode("utf-8", errors="replace"), p.returncode


_https_addresses = iter("127.0.0.%d" % n for n in range(140, 250))


def https_provider(data, **provider_args):
    """A Provider also serving HTTPS on port 5989 of a loopback address of its own (one another test holds is
    passed over); and that address."""
    for address in _https_addresses:
        try:
            return Provider(data, https=address + ":5989", **provider_args), address
        except RuntimeError as e:
            if "Address already in use" not in str(e):
                raise
    raise RuntimeError("no free loopback address for an HTTPS provider")


def spawn(args, env, program=None, **popen_args):
    popen_args.setdefault("stdin", subprocess.DEVNULL)
    return subprocess.Popen([program or CMPLXVIEW] + list(args), env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, **popen_args)


def await_request(provider, proc, found, limit=20):
    """Waits while `proc` runs until the provider has logged a request that `found` accepts."""
    deadline = time.monotonic() + limit
    while not any(found(e) for e in provider.log()):
        assert proc.poll() is None, "the run ended before the awaited request"
        assert time.monotonic() < deadline, "the awaited request never came"
        time.sleep(0.02)


def certificate(directory, name, subject_alt_name, days=1):
    """A self-signed certificate for subject_alt_name valid for `days` (-1: expired); (cert, key) files."""
    cert, key, request = (os.path.join(directory, name + s) for s in (".pem", ".key", ".csr"))
    subprocess.run(["openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-subj",
                    "/CN=kest-test-" + name, "-out", request], check=True, capture_output=True)
    subprocess.run(["openssl", "x509", "-req", "-in", request, "-signkey", key, "-days", str(days), "-extfile",
                    "/dev/stdin", "-out", cert], input="subjectAltName=%s\n" % subject_alt_name, check=True,
                   capture_output=True, text=True)
    return cert, key


if __name__ == "__main__":
    # harness.py COMPLEX SCHEMA COMMAND...: runs COMMAND against a provider serving COMPLEX, for tests of
    # other languages; its status is the command's.
    import sys
    with Provider(sys.argv[1], schema=sys.argv[2]) as served:
        sys.exit(subprocess.run(sys.argv[3:], env=served.env).returncode)
