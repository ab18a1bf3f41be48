#!/usr/bin/env python3
"""Complexes of examples/generate.py load in the real kest-provider, are reproducible and keep the
numbers the program reads as "none" free (examples/default.json is loaded by every end-to-end run)."""
import json
import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
from harness import Provider, example  # noqa: E402

NS = "root/cimv2/kest"
ACTIVE = 5


def generate(*args):
    return subprocess.run([sys.executable, example("generate.py"), *map(str, args)], capture_output=True, text=True,
                          timeout=120)


class Examples(unittest.TestCase):
    def test_generated_complexes_load_and_keep_their_invariants(self):
        for cells, seed in [(16, 1), (64, 1), (256, 1), (64, 2), (64, 3)]:
            with self.subTest(cells=cells, seed=seed):
                result = generate("--cells", cells, "--seed", seed)
                self.assertEqual(result.returncode, 0, result.stderr)
                data = json.loads(result.stdout)
                space = data["namespaces"][NS]
                self.assertEqual(len(space["XK_KestCell"]), cells)
                # 255 means "no cell / chassis / partition" to the reports.
                for cls, key in [("XK_KestCell", "SlotID"), ("XK_KestIOChassis", "SlotID"),
                                 ("XK_KestPartition", "PartitionID")]:
                    self.assertNotIn(255, [i[key] for i in space[cls]], cls)
                local = next(p for p in space["XK_KestPartition"] if p["PartitionID"] == 0)
                core = next(c for c in space["XK_KestCell"] if c["SlotID"] == local["CoreCellID"])
                self.assertEqual(core["ComponentStatus"], ACTIVE, "the local partition runs")
                with Provider(data, ready_timeout=120) as p:
                    self.assertIsNone(p.process.poll())

    def test_generator_is_reproducible_and_refuses_bad_counts(self):
        self.assertEqual(generate("--cells", 8, "--seed", 9).stdout, generate("--cells", 8, "--seed", 9).stdout)
        self.assertNotEqual(generate("--cells", 8, "--seed", 9).stdout, generate("--cells", 8, "--seed", 10).stdout)
        for args in (["--cells", 0], ["--cells", 1001], []):
            with self.subTest(args=args):
                result = generate(*args)
                self.assertEqual((result.returncode, result.stdout), (2, ""))


if __name__ == "__main__":
    unittest.main(verbosity=2)
