"""A provider that answers with too much: more instances than a table holds, an answer larger than the
client reads, texts longer than any field of a report."""
import os
import subprocess
import unittest

from harness import CMPLXVIEW, NS, Provider, example, load_complex, run

MAX_TABLE_RECORDS = 100000           # the most instances an instance table takes
MAX_ANSWER_BYTES = 64 * 1024 * 1024  # the largest answer the client reads
LOAD_TIME = 180  # the sanitizer build's provider may take a minute to load these complexes on a busy machine


def default_with(**classes):
    data = load_complex(example("default.json"))
    for name, instances in classes.items():
        data["namespaces"][NS]["XK_Kest" + name] = instances
    return data


class Limits(unittest.TestCase):
    def test_too_much(self):
        cabinets = [{"ID": n} for n in range(MAX_TABLE_RECORDS + 1)]
        for name, data, stdout, stderr, fetched, mib in [
            # One cabinet more than the limit, with nothing but its key: the count is refused before a
            # single instance is fetched.
            ("more instances than a table holds", default_with(Cabinet=cabinets), "",
             "Error: The provider reported %d instances of XK_KestCabinet; at most %d are accepted.\n\n"
             "Error: Unable to get any cabinet information.\n" % (MAX_TABLE_RECORDS + 1, MAX_TABLE_RECORDS),
             False, 256),
            # 14 MiB of '&' are 70 MiB of "&amp;" in the answer; the count before it goes through. Memory
            # stays bounded however much the server sends (twice the limit: room for the sanitizers' allocator).
            ("an answer over the size limit", default_with(Cabinet=[{"ID": 0, "Label": "&" * (14 << 20)}]),
             "The CIM server's answer exceeds 64 MiB\n",
             "Note: Unable to get any cabinet information.\n\nError: Unable to get any cabinet information.\n",
             True, 2 * MAX_ANSWER_BYTES >> 20),
        ]:
            with self.subTest(name), Provider(data, ready_timeout=LOAD_TIME) as p:
                self.assertEqual(run(["-B"], env=p.env, timeout=300), (stdout, stderr, 1))
                self.assertEqual(("EnumerateInstances", "XK_KestCabinet") in [(e["op"], e["class"]) for e in p.log()],
                                 fetched, "the cabinets fetched, or not after a refused count")
                if os.path.exists("/usr/bin/time"):  # the peak resident memory, by GNU time
                    r = subprocess.run(["/usr/bin/time", "-f", "%M", CMPLXVIEW, "-B"], env=p.env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=300)
                    self.assertLess(int(r.stderr.decode().split()[-1]) / 1024, mib, "peak memory in MiB")

    def test_texts_longer_than_every_field(self):
        # 64 KiB of text in every label and name shown: rows keep their widths and show the start of each.
        huge = "x" * (1 << 16)
        data = load_complex(example("default.json"))
        ns = data["namespaces"][NS]
        for slot in ns["XK_KestCellSlot"] + ns["XK_KestIOChassisSlot"]:
            slot["LongLabel"] += huge
        for partition in ns["XK_KestPartition"]:
            partition["PartitionName"] = "name " + huge
        with Provider(data, ready_timeout=LOAD_TIME) as p:
            for args, width, cut in [
                # arguments, longest line allowed, a cut text the output must hold
                (["-C"], 79, "\ncab0,cell0 Active"),
                (["-C", "-M"], 83, "cab0,cell0:"),
                (["-I"], 79, "\ncab0,bay0,chassis1x Active"),
                (["-P"], 79, "cab0,cell0 name " + "x" * 25 + " "),
                (["-P", "-M"], 83, ":name " + "x" * 25 + "\n"),
                # Detail blocks: a 25-column label, then the text cut to the field's capacity.
                (["-c", "0", "-V"], 25 + 81, "\nHardware Location      : cab0,cell0" + "x" * 69 + "\n"),
                (["-p", "0", "-V"], 25 + 81, "\nCore Cell              : cab0,cell0" + "x" * 68 + "\n"),
            ]:
                with self.subTest(" ".join(args)):
                    out, err, status = run(args, env=p.env, timeout=120)
                    self.assertEqual(status, 0, err)
                    self.assertLessEqual(max(len(line) for line in out.splitlines()), width)
                    self.assertIn(cut, out)


if __name__ == "__main__":
    unittest.main()
