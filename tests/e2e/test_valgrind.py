"""Valgrind memcheck of whole runs against the example complex: display-all,
display-all through the MP (-g, which creates and deletes the remote-complex
instance), and a display-all whose cabinet load fails. Each must report no
memory error and no leak: "definitely lost" and "indirectly lost" both 0
bytes (--errors-for-leak-kinds=definite,indirect with --error-exitcode=99
makes either one fail the run). Memory still reachable at exit is allowed:
the instance tables and records live until the process ends by design.

Registered for the build without sanitizers only (Valgrind cannot run a
program built with AddressSanitizer).
"""
import re
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
                self.assertEqual(r.returncode, status, err[-3000:])
                self.assertIn("ERROR SUMMARY: 0 errors", err, err[-3000:])
                # Without the lines, every block was freed.
                lost = re.findall(r"(?:definitely|indirectly) lost: ([\d,]+) bytes", err)
                self.assertEqual(set(lost) | {"0"}, {"0"}, err[-3000:])
                self.assertTrue(lost or "All heap blocks were freed" in err, err[-3000:])
                self.assertIn("[Partition]", r.stdout.decode(errors="replace"), name)
                ops = [e["op"] for e in p.log()]
                self.assertEqual((ops.count("CreateInstance"), ops.count("DeleteInstance")), (1, 1) if args else (0, 0))


if __name__ == "__main__":
    unittest.main()
