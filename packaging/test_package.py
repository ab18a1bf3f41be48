#!/usr/bin/env python3
"""The Debian package and the install tree, built from a build directory and run.

- `cpack -G DEB` builds the package; its control data (name, dependencies found by
  dpkg-shlibdeps, maintainer scripts) and its file list are checked;
- the package is unpacked with `dpkg-deb -x` into a scratch root (nothing is installed on the
  machine); there the packaged kest-provider, with no --schema (it must find its own installed
  schema), serves the packaged example complex on a private socket, and the packaged
  `cmplxview -s` and `-w` run against it;
- the systemd unit names the packaged program and complex and the /run/xk-kest socket;
- the manual pages and the MOF are the ones made at build time;
- `cmake --install --prefix` into a scratch DESTDIR writes the unit for that prefix.
Python 3 standard library only.
"""

import argparse
import glob
import gzip
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None


def run(*command, **kwargs):
    kwargs.setdefault("capture_output", True)
    kwargs.setdefault("text", True)
    kwargs.setdefault("timeout", 300)
    result = subprocess.run(list(command), **kwargs)
    if result.returncode != 0:
        raise AssertionError(f"{' '.join(command)} failed ({result.returncode}):\n{result.stdout}\n{result.stderr}")
    return result


class Provider:
    """A kest-provider of the scratch root on a private socket."""

    def __init__(self, binary, complex_file, directory, *extra):
        self.socket = os.path.join(directory, "cimxml.socket")
        self.log = os.path.join(directory, "requests.jsonl")
        ready = os.path.join(directory, "ready")
        for path in (self.socket, self.log, ready):
            if os.path.exists(path):
                os.unlink(path)
        self.process = subprocess.Popen([binary, "--socket", self.socket, "--ready-file", ready, "--log", self.log,
                                         *extra, complex_file], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 60
        while not os.path.exists(ready):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise AssertionError("the packaged kest-provider did not start: "
                                     + self.process.stderr.read().decode(errors="replace"))
            time.sleep(0.02)

    def requests(self):
        with open(self.log, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stderr.close()


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="cmplxview-package-")
        config = os.path.join(ARGS.build, "CPackConfig.cmake")
        run("cpack", "-G", "DEB", "--config", config, "-B", os.path.join(cls.scratch, "cpack"))
        debs = glob.glob(os.path.join(cls.scratch, "cpack", "*.deb"))
        assert len(debs) == 1, debs
        cls.deb = debs[0]
        cls.root = os.path.join(cls.scratch, "root")
        run("dpkg-deb", "-x", cls.deb, cls.root)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def path(self, relative):
        return os.path.join(self.root, relative.lstrip("/"))

    def field(self, name):
        return run("dpkg-deb", "-f", self.deb, name).stdout.strip()

    def test_control(self):
        self.assertEqual(self.field("Package"), "cmplxview")
        self.assertEqual(self.field("Section"), "admin")
        self.assertTrue(self.field("Maintainer"))
        depends = self.field("Depends")
        for library in ("libpugixml", "libssl", "libc6", "libstdc++"):
            self.assertIn(library, depends)
        self.assertNotIn("libcurl", depends)
        info = run("dpkg-deb", "-I", self.deb).stdout
        for script in ("postinst", "prerm", "postrm"):
            self.assertIn(script, info)
        # The maintainer scripts are valid shell and do nothing on a machine without systemd
        # running (as here, or in a chroot), so that installation and removal succeed there.
        control = os.path.join(self.scratch, "control")
        run("dpkg-deb", "-e", self.deb, control)
        for script, argument in (("postinst", "configure"), ("prerm", "remove"), ("postrm", "remove"),
                                 ("postrm", "purge")):
            run("sh", "-n", os.path.join(control, script))
            if not os.path.isdir("/run/systemd/system"):
                run("sh", os.path.join(control, script), argument)

    def test_file_list(self):
        listing = run("dpkg-deb", "-c", self.deb).stdout.split("\n")
        paths = {line.split()[-1].lstrip(".") for line in listing if line.strip()}
        expected = {
            "/usr/bin/cmplxview",
            "/usr/sbin/kest-provider",
            "/usr/bin/kest-snapshot",
            "/usr/share/man/man1/cmplxview.1.gz",
            "/usr/share/man/man1/kest-snapshot.1.gz",
            "/usr/share/man/man8/kest-provider.8.gz",
            "/usr/share/kest-provider/kest-schema.json",
            "/usr/share/kest-provider/kest-schema.mof",
            "/usr/share/kest-provider/examples/default.json",
            "/usr/share/kest-provider/examples/generate.py",
            "/usr/lib/systemd/system/kest-provider.service",
            "/usr/share/bash-completion/completions/cmplxview",
            "/usr/share/bash-completion/completions/kest-snapshot",
            "/usr/share/doc/cmplxview/README.md",
        }
        self.assertLessEqual(expected, paths)
        for path in paths:
            self.assertTrue(path == "/" or path.startswith("/usr/"), f"{path} lies outside /usr")
        for line in listing:
            if line.strip():
                self.assertIn("root/root", line.split()[1], line)
        # Programs are executable, data are not.
        self.assertTrue(os.access(self.path("/usr/bin/cmplxview"), os.X_OK))
        self.assertTrue(os.access(self.path("/usr/sbin/kest-provider"), os.X_OK))
        self.assertFalse(os.access(self.path("/usr/share/kest-provider/kest-schema.json"), os.X_OK))

    def test_packaged_programs_run_together(self):
        for program in ("/usr/bin/cmplxview", "/usr/sbin/kest-provider", "/usr/bin/kest-snapshot"):
            libraries = run("ldd", self.path(program)).stdout
            self.assertNotIn("not found", libraries)
            self.assertNotIn("libcurl", libraries)
        directory = os.path.join(self.scratch, "run")
        os.makedirs(directory, exist_ok=True)
        provider = Provider(self.path("/usr/sbin/kest-provider"),
                            self.path("/usr/share/kest-provider/examples/default.json"), directory)
        try:
            env = dict(os.environ, XK_CIM_SOCKET=provider.socket)
            env.pop("XK_CIM_TRACE", None)
            check = subprocess.run([self.path("/usr/bin/cmplxview"), "-s"], env=env, capture_output=True,
                                   text=True, timeout=120)
            self.assertEqual((check.returncode, check.stdout, check.stderr), (0, "", ""))
            local = subprocess.run([self.path("/usr/bin/cmplxview"), "-w"], env=env, capture_output=True,
                                   text=True, timeout=120)
            self.assertEqual((local.returncode, local.stdout), (0, "The local partition number is 0.\n"))
            captured = subprocess.run([self.path("/usr/bin/kest-snapshot"), "-"], env=env, capture_output=True,
                                      text=True, timeout=120)
            self.assertEqual((captured.returncode, captured.stderr), (0, ""))
            self.assertEqual(json.loads(captured.stdout)["namespaces"]["root/cimv2/kest"]["XK_KestComplex"][0]
                             ["ComplexName"], "harrier")
            requests = provider.requests()
            self.assertGreaterEqual(len(requests), 2)
            self.assertTrue(all(r["result"] == "ok" for r in requests), requests)
            self.assertEqual(len({r["conn"] for r in requests}), 3, "one connection for each of the three runs")
        finally:
            provider.stop()

        # -s answers by its status: a complex that publishes no XK_KestComplex is not partitionable.
        empty = os.path.join(self.scratch, "not-partitionable.json")
        with open(empty, "w", encoding="utf-8") as f:
            json.dump({"namespaces": {"root/cimv2/kest": {}}}, f)
        provider = Provider(self.path("/usr/sbin/kest-provider"), empty, directory)
        try:
            env = dict(os.environ, XK_CIM_SOCKET=provider.socket)
            check = subprocess.run([self.path("/usr/bin/cmplxview"), "-s"], env=env, capture_output=True,
                                   text=True, timeout=120)
            self.assertEqual((check.returncode, check.stdout), (1, ""))
        finally:
            provider.stop()

    def test_provider_finds_the_installed_schema(self):
        # Changed in the scratch root only: the packaged provider must read this copy, not the
        # schema of the source tree it was built from.
        schema_path = self.path("/usr/share/kest-provider/kest-schema.json")
        with open(schema_path, encoding="utf-8") as f:
            schema = json.load(f)
        original = json.dumps(schema)
        schema["classes"].append({"name": "XK_KestPackageProbe", "superclass": None,
                                  "properties": [{"name": "ID", "type": "uint32", "key": True}], "methods": []})
        try:
            with open(schema_path, "w", encoding="utf-8") as f:
                json.dump(schema, f)
            mof = run(self.path("/usr/sbin/kest-provider"), "--print-mof").stdout
            self.assertIn("class XK_KestPackageProbe", mof)
        finally:
            with open(schema_path, "w", encoding="utf-8") as f:
                f.write(original)

    def test_mof_is_the_schema(self):
        installed = open(self.path("/usr/share/kest-provider/kest-schema.mof"), encoding="utf-8").read()
        printed = run(self.path("/usr/sbin/kest-provider"), "--print-mof").stdout
        self.assertEqual(installed, printed)
        self.assertIn("class XK_KestCellSlot", installed)

    def test_systemd_unit(self):
        unit = open(self.path("/usr/lib/systemd/system/kest-provider.service"), encoding="utf-8").read()
        settings = {}
        for line in unit.split("\n"):
            if "=" in line and not line.startswith("#"):
                key, value = line.split("=", 1)
                settings.setdefault(key, []).append(value)
        exec_start = settings["ExecStart"][0].split()
        self.assertEqual(exec_start[0], "/usr/sbin/kest-provider")
        self.assertEqual(exec_start[1:3], ["--socket", "/run/xk-kest/cimxml.socket"])
        self.assertEqual(settings["RuntimeDirectory"], ["xk-kest"])
        complex_default = [v for v in settings["Environment"] if v.startswith("KEST_COMPLEX=")]
        self.assertEqual(complex_default, ["KEST_COMPLEX=/usr/share/kest-provider/examples/default.json"])
        self.assertTrue(os.path.isfile(self.path("/usr/share/kest-provider/examples/default.json")))
        self.assertEqual(settings["WantedBy"], ["multi-user.target"])
        if shutil.which("systemd-analyze"):
            # The scratch root has no systemd of its own, so the targets the unit is ordered
            # against are missing there; every other complaint about the unit counts.
            result = subprocess.run(["systemd-analyze", "verify", "--man=no", "--root", self.root,
                                     "/usr/lib/systemd/system/kest-provider.service"],
                                    capture_output=True, text=True, timeout=120)
            problems = [line for line in result.stderr.split("\n")
                        if "kest-provider" in line and not line.endswith(".target not found.")]
            self.assertEqual(problems, [], result.stderr)

    def test_manual_pages(self):
        for page, source in (("/usr/share/man/man1/cmplxview.1.gz", "man/cmplxview.1"),
                             ("/usr/share/man/man8/kest-provider.8.gz", "man/kest-provider.8"),
                             ("/usr/share/man/man1/kest-snapshot.1.gz", "man/kest-snapshot.1")):
            with gzip.open(self.path(page), "rt", encoding="utf-8") as f:
                text = f.read()
            with open(os.path.join(ARGS.source, source), encoding="utf-8") as f:
                self.assertEqual(text, f.read(), page)

    def test_bash_completion(self):
        for program, function in (("cmplxview", "_cmplxview"), ("kest-snapshot", "_kest_snapshot")):
            completion = self.path("/usr/share/bash-completion/completions/" + program)
            result = run("bash", "--norc", "-c", f"source '{completion}'; complete -p {program}")
            self.assertEqual(result.stdout.strip(), f"complete -F {function} {program}")


class InstallTree(unittest.TestCase):
    def test_install_with_another_prefix(self):
        with tempfile.TemporaryDirectory(prefix="cmplxview-install-") as destdir:
            env = dict(os.environ, DESTDIR=destdir)
            run("cmake", "--install", ARGS.build, "--prefix", "/opt/kest", env=env)
            root = os.path.join(destdir, "opt", "kest")
            for relative in ("bin/cmplxview", "sbin/kest-provider", "share/kest-provider/kest-schema.mof",
                             "share/man/man1/cmplxview.1.gz", "lib/systemd/system/kest-provider.service"):
                self.assertTrue(os.path.exists(os.path.join(root, relative)), relative)
            unit = open(os.path.join(root, "lib/systemd/system/kest-provider.service"), encoding="utf-8").read()
            self.assertIn("ExecStart=/opt/kest/sbin/kest-provider --socket /run/xk-kest/cimxml.socket", unit)
            self.assertIn("KEST_COMPLEX=/opt/kest/share/kest-provider/examples/default.json", unit)
            # Nothing was written outside DESTDIR's prefix.
            self.assertEqual(os.listdir(destdir), ["opt"])


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
