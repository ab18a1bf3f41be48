"""Valgrind memcheck of whole runs against the example complex (display-all, through the MP, and with a
failing load): no memory error and no block definitely or indirectly lost. Memory still reachable at exit is
allowed: the instance tables live until the process ends by design. (Not for a sanitizer build.)"""
import shutil
import subprocess
import unittest

from harness import CMPLXVIEW, Provider, example, load_complex

VALGRIND = ["valgrind", "--leak-check=full", "--errors-for-leak-kinds=definite,indirect", "--error-exitcode=99",
            "--show-leak-kinds=definite,indirect"]


@unittest.skipUnless(shutil.which("valgrind"), "valgrind is not installed")
class Memcheck(unittest.TestCase):
    def test_display_all_runs(self):
        failing_cabinets = dict(load_complex(example("default.json")), faults=[
            {"operation": "EnumerateInstances", "class": "XK_KestPowerCoolingDomain", "action": "cimError", "code": 1,
             "description": "injected"}])
        for name, data, args, status in [
            ("display-all", example("default.json"), [], 0),
            ("-g display-all", example("default.json"), ["-g", "mp-demo-1", "-h", "10.1.1.1"], 0),
            ("display-all, cabinet load fails", failing_cabinets, [], 1),
        ]:
            with self.subTest(name), Provider(data) as p:
                r = subprocess.run(VALGRIND + [CMPLXVIEW] + args, env=p.env, capture_output=True, timeout=600)
                err = r.stderr.decode(errors="replace")
                # A memory error or a lost block gives status 99 (--error-exitcode).
                self.assertEqual(r.returncode, status, err[-3000:])
                self.assertIn("ERROR SUMMARY: 0 errors", err, err[-3000:])
                self.assertIn("[Partition]", r.stdout.decode(errors="replace"), name)
                ops = [e["op"] for e in p.log()]
                self.assertEqual((ops.count("CreateInstance"), ops.count("DeleteInstance")), (1, 1) if args else (0, 0))


if __name__ == "__main__":
    unittest.main()
