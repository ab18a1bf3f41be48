#!/usr/bin/env python3
"""The Debian package built by cpack, unpacked into a scratch root where its programs run together; and
`cmake --install --prefix`."""

import argparse
import glob
import gzip
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402  (the one launcher of kest-provider)

UNIT = "/usr/lib/systemd/system/kest-provider.service"
EXAMPLE = "/usr/share/kest-provider/examples/default.json"


def run(*command, **kwargs):
    result = subprocess.run(list(command), capture_output=True, text=True, timeout=300, **kwargs)
    if result.returncode != 0:
        raise AssertionError(f"{' '.join(command)} failed ({result.returncode}):\n{result.stdout}\n{result.stderr}")
    return result


def checked_unit(test, path, prefix):
    """The unit's settings; it starts the provider under `prefix` with the example complex there."""
    settings = {}
    for line in pathlib.Path(path).read_text(encoding="utf-8").split("\n"):
        if "=" in line and not line.startswith("#"):
            settings.setdefault(line.split("=", 1)[0], []).append(line.split("=", 1)[1])
    test.assertEqual(settings["ExecStart"][0].split()[:3],
                     [prefix + "/sbin/kest-provider", "--socket", "/run/xk-kest/cimxml.socket"])
    test.assertEqual([v for v in settings["Environment"] if v.startswith("KEST_COMPLEX=")],
                     ["KEST_COMPLEX=%s/share/kest-provider/examples/default.json" % prefix])
    return settings


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="cmplxview-package-")
        run("cpack", "-G", "DEB", "--config", os.path.join(ARGS.build, "CPackConfig.cmake"),
            "-B", os.path.join(cls.scratch, "cpack"))
        debs = glob.glob(os.path.join(cls.scratch, "cpack", "*.deb"))
        assert len(debs) == 1, debs
        cls.deb, cls.root = debs[0], os.path.join(cls.scratch, "root")
        run("dpkg-deb", "-x", cls.deb, cls.root)
        # The packaged programs, not those of the build tree.
        harness.KEST_PROVIDER = cls.path("/usr/sbin/kest-provider")
        harness.CMPLXVIEW = cls.path("/usr/bin/cmplxview")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    @classmethod
    def path(cls, relative):
        return os.path.join(cls.root, relative.lstrip("/"))

    def test_control(self):
        field = lambda name: run("dpkg-deb", "-f", self.deb, name).stdout.strip()
        self.assertEqual((field("Package"), field("Section")), ("cmplxview", "admin"))
        self.assertTrue(field("Maintainer"))
        for library in ("libpugixml", "libssl", "libc6", "libstdc++"):
            self.assertIn(library, field("Depends"))
        self.assertNotIn("libcurl", field("Depends"))
        # The maintainer scripts are valid shell and succeed without systemd running (as here, or in a chroot).
        control = os.path.join(self.scratch, "control")
        run("dpkg-deb", "-e", self.deb, control)
        for script, argument in (("postinst", "configure"), ("prerm", "remove"), ("postrm", "remove"),
                                 ("postrm", "purge")):
            run("sh", "-n", os.path.join(control, script))
            if not os.path.isdir("/run/systemd/system"):
                run("sh", os.path.join(control, script), argument)

    def test_file_list(self):
        listing = [line for line in run("dpkg-deb", "-c", self.deb).stdout.split("\n") if line.strip()]
        paths = {line.split()[-1].lstrip(".") for line in listing}
        self.assertLessEqual({
            "/usr/bin/cmplxview", "/usr/sbin/kest-provider", "/usr/bin/kest-snapshot",
            "/usr/share/man/man1/cmplxview.1.gz", "/usr/share/man/man1/kest-snapshot.1.gz",
            "/usr/share/man/man8/kest-provider.8.gz", "/usr/share/kest-provider/kest-schema.json",
            "/usr/share/kest-provider/kest-schema.mof", EXAMPLE, "/usr/share/kest-provider/examples/generate.py",
            UNIT, "/usr/share/bash-completion/completions/cmplxview",
            "/usr/share/bash-completion/completions/kest-snapshot", "/usr/share/doc/cmplxview/README.md"}, paths)
        for path in paths:
            self.assertTrue(path == "/" or path.startswith("/usr/"), f"{path} lies outside /usr")
        for line in listing:
            self.assertIn("root/root", line.split()[1], line)
        # Programs are executable, data are not.
        for path, executable in (("/usr/bin/cmplxview", True), ("/usr/sbin/kest-provider", True),
                                 ("/usr/share/kest-provider/kest-schema.json", False)):
            self.assertEqual(os.access(self.path(path), os.X_OK), executable, path)

    def test_packaged_programs_run_together(self):
        for program in ("/usr/bin/cmplxview", "/usr/sbin/kest-provider", "/usr/bin/kest-snapshot"):
            libraries = run("ldd", self.path(program)).stdout
            self.assertNotIn("not found", libraries)
            self.assertNotIn("libcurl", libraries)
        # OpenSSL comes with the TLS module, which cmplxview loads for -u only.
        self.assertNotIn("libssl", run("ldd", self.path("/usr/bin/cmplxview")).stdout)
        modules = glob.glob(self.path("/usr/lib/**/cmplxview/libcmplxview-tls.so"), recursive=True)
        self.assertEqual(len(modules), 1, modules)
        self.assertIn("libssl", run("ldd", modules[0]).stdout)
        # The module is loaded with dlopen: a TLS block in it would be allocated on first use,
        # which the leak checker's tracer misreads; it has none.
        self.assertNotIn(" TLS ", run("readelf", "-lW", modules[0]).stdout)
        p, address = harness.https_provider(self.path(EXAMPLE), schema=None, ready_timeout=60)
        with p:
            self.assertEqual(harness.run(["-w", "-u", "admin:kest-demo", "-h", address], env=p.env),
                             ("The local partition number is 0.\n", "", 0))
            # Without its module, -u fails as a connection failure that names the module; nothing crashes.
            alone = os.path.join(self.scratch, "alone", "bin")
            os.makedirs(alone)
            shutil.copy(self.path("/usr/bin/cmplxview"), alone)
            requests = len(p.log())
            moved = subprocess.run([os.path.join(alone, "cmplxview"), "-w", "-u", "admin:kest-demo", "-h", address],
                                   env=p.env, capture_output=True, text=True, timeout=60)
            self.assertEqual(moved.returncode, 1)
            self.assertIn("Connection failed: TLS support cannot be loaded: libcmplxview-tls.so: cannot open shared "
                          "object file", moved.stdout + moved.stderr)
            self.assertEqual(len(p.log()), requests, "nothing reached the provider")
        with harness.Provider(self.path(EXAMPLE), schema=None, ready_timeout=60) as p:
            self.assertEqual(harness.run(["-s"], env=p.env), ("", "", 0))
            self.assertEqual(harness.run(["-w"], env=p.env)[::2], ("The local partition number is 0.\n", 0))
            captured = subprocess.run([self.path("/usr/bin/kest-snapshot"), "-"], env=p.env, capture_output=True,
                                      text=True, timeout=120)
            self.assertEqual((captured.returncode, captured.stderr), (0, ""))
            self.assertEqual(json.loads(captured.stdout)["namespaces"]["root/cimv2/kest"]["XK_KestComplex"][0]
                             ["ComplexName"], "harrier")
            log = p.log()
            self.assertEqual({r["result"] for r in log}, {"ok"}, log)
            self.assertEqual(len({r["conn"] for r in log}), 3, "one connection for each of the three runs")

    def test_provider_finds_the_installed_schema_and_mof(self):
        # Changed in the scratch root only: the packaged provider must read this copy, not the source tree's.
        printed = run(self.path("/usr/sbin/kest-provider"), "--print-mof").stdout
        mof = pathlib.Path(self.path("/usr/share/kest-provider/kest-schema.mof"))
        self.assertEqual(mof.read_text("utf-8"), printed)
        self.assertIn("class XK_KestCellSlot", printed)
        schema_path = self.path("/usr/share/kest-provider/kest-schema.json")
        schema = harness.load_complex(schema_path)
        schema["classes"].append({"name": "XK_KestPackageProbe", "superclass": None,
                                  "properties": [{"name": "ID", "type": "uint32", "key": True}], "methods": []})
        pathlib.Path(schema_path).write_text(json.dumps(schema))  # the other tests serve no class of it
        self.assertIn("class XK_KestPackageProbe", run(self.path("/usr/sbin/kest-provider"), "--print-mof").stdout)

    def test_systemd_unit(self):
        settings = checked_unit(self, self.path(UNIT), "/usr")
        self.assertEqual((settings["RuntimeDirectory"], settings["WantedBy"]), (["xk-kest"], ["multi-user.target"]))
        if shutil.which("systemd-analyze"):
            # The scratch root lacks the targets the unit is ordered against; every other complaint counts.
            result = subprocess.run(["systemd-analyze", "verify", "--man=no", "--root", self.root, UNIT],
                                    capture_output=True, text=True, timeout=120)
            self.assertEqual([line for line in result.stderr.split("\n")
                              if "kest-provider" in line and not line.endswith(".target not found.")],
                             [], result.stderr)

    def test_manual_pages_and_completion(self):
        for page, source in (("man1/cmplxview.1.gz", "cmplxview.1"), ("man8/kest-provider.8.gz", "kest-provider.8"),
                             ("man1/kest-snapshot.1.gz", "kest-snapshot.1")):
            with gzip.open(self.path("/usr/share/man/" + page), "rt", encoding="utf-8") as f, \
                    open(os.path.join(ARGS.source, "man", source), encoding="utf-8") as g:
                self.assertEqual(f.read(), g.read(), page)
        for program, function in (("cmplxview", "_cmplxview"), ("kest-snapshot", "_kest_snapshot")):
            completion = self.path("/usr/share/bash-completion/completions/" + program)
            result = run("bash", "--norc", "-c", f"source '{completion}'; complete -p {program}")
            self.assertEqual(result.stdout.strip(), f"complete -F {function} {program}")


class InstallTree(unittest.TestCase):
    def test_install_with_another_prefix(self):
        with tempfile.TemporaryDirectory(prefix="cmplxview-install-") as destdir:
            run("cmake", "--install", ARGS.build, "--prefix", "/opt/kest", env=dict(os.environ, DESTDIR=destdir))
            root = os.path.join(destdir, "opt", "kest")
            for relative in ("bin/cmplxview", "sbin/kest-provider", "share/kest-provider/kest-schema.mof",
                             "share/man/man1/cmplxview.1.gz"):
                self.assertTrue(os.path.exists(os.path.join(root, relative)), relative)
            checked_unit(self, os.path.join(root, "lib/systemd/system/kest-provider.service"), "/opt/kest")
            self.assertEqual(os.listdir(destdir), ["opt"], "something was written outside the prefix")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
