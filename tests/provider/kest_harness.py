"""Starting kest-provider as a process for tests, and speaking CIM-XML to it.

Standard library only. Each test gets its own temporary directory (socket,
log, ready file, certificate) and its own loopback address, so tests can run
in parallel.
"""

import http.client
import json
import os
import signal
import socket
import ssl
import subprocess
import tempfile
import time
import xml.etree.ElementTree as ET

NAMESPACE = "root/cimv2/kest"


class ProviderProcess:
    """kest-provider started on a socket in a temporary directory (and HTTPS when https_host is given)."""

    def __init__(self, binary, schema, complex_json, https_host=None, extra_args=(), env=None, preexec_fn=None):
        self.dir = tempfile.TemporaryDirectory(prefix="kest-provider-test-")
        d = self.dir.name
        self.socket_path = os.path.join(d, "cimxml.socket")
        self.log_path = os.path.join(d, "requests.log")
        self.ready_path = os.path.join(d, "ready")
        self.cert_path = os.path.join(d, "cert.pem")
        complex_path = os.path.join(d, "complex.json")
        with open(complex_path, "w") as f:
            json.dump(complex_json, f)
        args = [binary, "--schema", schema, "--socket", self.socket_path, "--log", self.log_path,
                "--ready-file", self.ready_path]
        if https_host:
            args += ["--https", https_host + ":0", "--write-cert", self.cert_path]
        args += list(extra_args) + [complex_path]
        self.https_host = https_host
        self.https_port = None
        self.stderr_path = os.path.join(d, "stderr")
        self.stderr = open(self.stderr_path, "w")
        self.process = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=self.stderr, env=env,
                                        preexec_fn=preexec_fn)
        self._wait_ready()

    def _wait_ready(self, timeout=20.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(self.ready_path):
                with open(self.ready_path) as f:
                    self.ready_lines = f.read().splitlines()
                for line in self.ready_lines:
                    if line.startswith("https "):
                        self.https_port = int(line.rsplit(":", 1)[1])
                return
            if self.process.poll() is not None:
                raise RuntimeError("kest-provider exited with %d: %s" % (self.process.returncode, self.stderr_text()))
            time.sleep(0.01)
        raise RuntimeError("kest-provider not ready after %.0f s" % timeout)

    def stderr_text(self):
        self.stderr.flush()
        with open(self.stderr_path) as f:
            return f.read()

    def log(self):
        with open(self.log_path) as f:
            return [json.loads(line) for line in f if line.strip()]

    def stop(self, sig=signal.SIGTERM, timeout=10):
        if self.process.poll() is None:
            self.process.send_signal(sig)
            self.process.wait(timeout=timeout)
        return self.process.returncode

    def close(self):
        try:
            if self.process.poll() is None:
                self.process.kill()
                self.process.wait(timeout=10)
        finally:
            self.stderr.close()
            self.dir.cleanup()

    # -- connections

    def unix_connection(self, timeout=10):
        return UnixHTTPConnection(self.socket_path, timeout=timeout)

    def https_connection(self, verify=True, timeout=10):
        context = ssl.create_default_context(cafile=self.cert_path) if verify else ssl._create_unverified_context()
        return http.client.HTTPSConnection(self.https_host, self.https_port, context=context, timeout=timeout)


class UnixHTTPConnection(http.client.HTTPConnection):
    def __init__(self, path, timeout=10):
        super().__init__("localhost", timeout=timeout)
        self.path = path

    def connect(self):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(self.timeout)
        self.sock.connect(self.path)


# -- CIM-XML requests

def _namespace_xml(ns):
    return "<LOCALNAMESPACEPATH>%s</LOCALNAMESPACEPATH>" % "".join(
        '<NAMESPACE NAME="%s"/>' % part for part in ns.split("/"))


def _envelope(inner):
    return ('<?xml version="1.0" encoding="utf-8"?>\n<CIM CIMVERSION="2.0" DTDVERSION="2.0">'
            '<MESSAGE ID="1001" PROTOCOLVERSION="1.0"><SIMPLEREQ>%s</SIMPLEREQ></MESSAGE></CIM>' % inner)


def intrinsic(name, params, ns=NAMESPACE):
    """An intrinsic call; params is the IPARAMVALUE markup."""
    body = _envelope('<IMETHODCALL NAME="%s">%s%s</IMETHODCALL>' % (name, _namespace_xml(ns), params))
    return body, {"CIMMethod": name, "CIMObject": ns}


def enumerate_instances(cls, ns=NAMESPACE):
    return intrinsic("EnumerateInstances", '<IPARAMVALUE NAME="ClassName"><CLASSNAME NAME="%s"/></IPARAMVALUE>' % cls, ns)


def enumerate_instance_names(cls, ns=NAMESPACE):
    return intrinsic("EnumerateInstanceNames", '<IPARAMVALUE NAME="ClassName"><CLASSNAME NAME="%s"/></IPARAMVALUE>' % cls, ns)


def get_class(cls, ns=NAMESPACE):
    return intrinsic("GetClass", '<IPARAMVALUE NAME="ClassName"><CLASSNAME NAME="%s"/></IPARAMVALUE>'
                     '<IPARAMVALUE NAME="LocalOnly"><VALUE>FALSE</VALUE></IPARAMVALUE>' % cls, ns)


def get_instance(cls, key, value, ns=NAMESPACE):
    return intrinsic("GetInstance", '<IPARAMVALUE NAME="InstanceName"><INSTANCENAME CLASSNAME="%s"><KEYBINDING NAME="%s">'
                     '<KEYVALUE VALUETYPE="numeric">%s</KEYVALUE></KEYBINDING></INSTANCENAME></IPARAMVALUE>'
                     % (cls, key, value), ns)


def make_id(cls, params, ns=NAMESPACE):
    """MakeID on the class; params: list of (name, value) sent as uint8."""
    path = '<LOCALCLASSPATH>%s<CLASSNAME NAME="%s"/></LOCALCLASSPATH>' % (_namespace_xml(ns), cls)
    values = "".join('<PARAMVALUE NAME="%s" PARAMTYPE="uint8"><VALUE>%d</VALUE></PARAMVALUE>' % p for p in params)
    body = _envelope('<METHODCALL NAME="MakeID">%s%s</METHODCALL>' % (path, values))
    return body, {"CIMMethod": "MakeID", "CIMObject": "%s:%s" % (ns, cls)}


def post(conn, request, auth=None, extra_headers=None):
    """Sends one request on conn; returns (status, headers dict, body bytes)."""
    body, headers = request
    h = {"Content-Type": 'application/xml; charset="utf-8"', "CIMOperation": "MethodCall"}
    h.update(headers)
    if auth:
        import base64
        h["Authorization"] = "Basic " + base64.b64encode(auth.encode()).decode()
    if extra_headers:
        h.update(extra_headers)
    conn.request("POST", "/cimom", body=body.encode(), headers=h)
    response = conn.getresponse()
    data = response.read()
    return response.status, {k.lower(): v for k, v in response.getheaders()}, data


def parse(body):
    """The SIMPLERSP element of a response body (raises ET.ParseError when not XML)."""
    root = ET.fromstring(body)
    return root.find("MESSAGE/SIMPLERSP")


def error_of(body):
    rsp = parse(body)
    err = rsp.find(".//ERROR")
    return None if err is None else (int(err.get("CODE")), err.get("DESCRIPTION", ""))


def instances_of(body):
    rsp = parse(body)
    out = []
    for inst in rsp.iter("INSTANCE"):
        props = {}
        for p in inst:
            if p.tag == "PROPERTY":
                v = p.find("VALUE")
                props[p.get("NAME")] = None if v is None else v.text or ""
            elif p.tag == "PROPERTY.ARRAY":
                arr = p.find("VALUE.ARRAY")
                props[p.get("NAME")] = None if arr is None else [
                    None if e.tag == "VALUE.NULL" else (e.text or "") for e in arr]
        out.append(props)
    return out


def return_value(body):
    rv = parse(body).find("METHODRESPONSE/RETURNVALUE")
    if rv is None:
        return None
    v = rv.find("VALUE")
    return (rv.get("PARAMTYPE"), None if v is None else v.text)


def load_complex(data_dir):
    with open(os.path.join(data_dir, "complex.json")) as f:
        return json.load(f)
