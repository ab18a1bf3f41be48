"""Limits against a provider that answers with too much: more instances than
an instance table may hold, an answer larger than the client accepts, and
texts far longer than any field of a report. The figures are in
docs/limits.md.
"""
import os
import subprocess
import unittest

from harness import CMPLXVIEW, Provider, example, load_complex, run

NS = "root/cimv2/kest"
MAX_TABLE_RECORDS = 100000          # maxTableRecords, src/access/Instances.h
MAX_ANSWER_BYTES = 64 * 1024 * 1024  # kMaxResponseBytes, src/cim/Client.cpp
# The provider of the sanitizer build (not optimised) takes up to a minute
# on a busy machine to load the large complex files below.
LOAD_TIME = 180


def default_with(**classes):
    data = load_complex(example("default.json"))
    for name, instances in classes.items():
        data["namespaces"][NS]["XK_Kest" + name] = instances
    return data


def peak_mib(args, env):
    """Peak resident memory of one run of cmplxview, by GNU time."""
    p = subprocess.run(["/usr/bin/time", "-f", "%M", CMPLXVIEW] + list(args), env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, timeout=300)
    return int(p.stderr.decode().strip().splitlines()[-1]) / 1024


class Limits(unittest.TestCase):
    maxDiff = None

    def test_more_instances_than_a_table_holds(self):
        # One cabinet more than the limit, with nothing but its key: the
        # count is refused before a single instance is fetched.
        cabinets = [{"ID": n} for n in range(MAX_TABLE_RECORDS + 1)]
        with Provider(default_with(Cabinet=cabinets), ready_timeout=LOAD_TIME) as p:
            out, err, status = run(["-B"], env=p.env, timeout=300)
            self.assertEqual(out, "")
            self.assertEqual(err, "Error: The provider reported %d instances of XK_KestCabinet; at most %d are "
                                  "accepted.\n\nError: Unable to get any cabinet information.\n"
                             % (MAX_TABLE_RECORDS + 1, MAX_TABLE_RECORDS))
            self.assertEqual(status, 1)
            fetched = [e for e in p.log() if e["op"] == "EnumerateInstances" and e["class"] == "XK_KestCabinet"]
            self.assertEqual(fetched, [], "the instances were fetched although the count was refused")
            if os.path.exists("/usr/bin/time"):
                self.assertLess(peak_mib(["-B"], p.env), 256, "peak memory of a refused count")

    def test_answer_over_the_size_limit(self):
        # One cabinet whose label makes the enumeration's answer larger than
        # the client takes: 14 MiB of '&', written "&amp;" in the answer
        # (70 MiB), keep the complex file small enough to load quickly. The
        # count before it is small and goes through.
        label = "&" * (14 << 20)
        with Provider(default_with(Cabinet=[{"ID": 0, "Label": label}]), ready_timeout=LOAD_TIME) as p:
            out, err, status = run(["-B"], env=p.env, timeout=300)
            self.assertEqual(out, "The CIM server's answer exceeds 64 MiB\n")
            self.assertEqual(err, "Note: Unable to get any cabinet information.\n"
                                  "\nError: Unable to get any cabinet information.\n")
            self.assertEqual(status, 1)
            if os.path.exists("/usr/bin/time"):
                # Memory stays bounded however much the server sends. The margin
                # (twice the limit) is wide enough for any allocator, the
                # sanitizers' included; the figure itself is the benchmark's.
                self.assertLess(peak_mib(["-B"], p.env), 2 * MAX_ANSWER_BYTES / 2**20, "peak memory")

    def test_texts_longer_than_every_field(self):
        # 64 KiB of text in every label and name the tables show (a thousand
        # times the widest field): rows keep their widths and show the start
        # of each text.
        huge = "x" * (1 << 16)
        data = load_complex(example("default.json"))
        ns = data["namespaces"][NS]
        for slot in ns["XK_KestCellSlot"] + ns["XK_KestIOChassisSlot"]:
            slot["LongLabel"] = slot["LongLabel"] + huge
        for partition in ns["XK_KestPartition"]:
            partition["PartitionName"] = "name " + huge
        with Provider(data, ready_timeout=LOAD_TIME) as p:
            cases = [
                # arguments, longest line allowed, a cut text the output must hold
                (["-C"], 79, "\ncab0,cell0 Active"),
                (["-C", "-M"], 83, "cab0,cell0:"),
                (["-I"], 79, "\ncab0,bay0,chassis1x Active"),
                (["-P"], 79, "cab0,cell0 name " + "x" * 25 + " "),
                (["-P", "-M"], 83, ":name " + "x" * 25 + "\n"),
                # Detail blocks: a 25-column label, then the record's text cut
                # to the field's capacity (79 and 78 characters here).
                (["-c", "0", "-V"], 25 + 81, "\nHardware Location      : cab0,cell0" + "x" * 69 + "\n"),
                (["-p", "0", "-V"], 25 + 81, "\nCore Cell              : cab0,cell0" + "x" * 68 + "\n"),
            ]
            for args, width, cut in cases:
                with self.subTest(" ".join(args)):
                    out, err, status = run(args, env=p.env, timeout=120)
                    self.assertEqual(status, 0, err)
                    longest = max(len(line) for line in out.splitlines())
                    self.assertLessEqual(longest, width, "a line of %d characters" % longest)
                    self.assertIn(cut, out)


if __name__ == "__main__":
    unittest.main()
