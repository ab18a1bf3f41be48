"""Interoperability: Debian's sblim-wbemcli, an independent CIM client, talks
to kest-provider over HTTPS with Basic authentication.

usage: wbemcli_test.py KEST_PROVIDER SCHEMA DATA_DIR LOOPBACK_ADDRESS [unittest args]
"""

import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402

SCHEMA = DATA = ADDRESS = None
WBEMCLI = shutil.which("wbemcli")


def run(*args):
    r = subprocess.run([WBEMCLI] + list(args), capture_output=True, text=True, timeout=60)
    return r.returncode, r.stdout, r.stderr


@unittest.skipUnless(WBEMCLI, "wbemcli (Debian package sblim-wbemcli) is not installed")
class Wbemcli(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        c = harness.load_complex(os.path.join(DATA, "complex.json"))
        # wbemcli's parser does not know VALUE.NULL inside arrays (a later DSP0201
        # addition), so the interoperability complex has no null array elements.
        c["namespaces"]["root/cimv2/kest"]["XK_KestCell"][0]["CPUStatus"] = [1, 1, 2]
        cls.p = harness.Provider(c, https=ADDRESS + ":0", schema=SCHEMA)
        with open(os.path.join(cls.p.dir.name, "ready")) as f:
            port = next(int(l.rsplit(":", 1)[1]) for l in f.read().splitlines() if l.startswith("https "))
        cls.base = "https://admin:secret@%s:%d/root/cimv2/kest" % (ADDRESS, port)
        cls.prefix = "%s:%d/root/cimv2/kest:" % (ADDRESS, port)

    @classmethod
    def tearDownClass(cls):
        cls.p.close()

    def test_enumerate_instances(self):
        code, out, err = run("ei", "-noverify", self.base + ":XK_KestCell")
        self.assertEqual(code, 0, err)
        lines = out.splitlines()
        self.assertEqual(len(lines), 3)
        expected = [
            ("XK_KestCell.SlotID=0", "SlotID=0,ComponentStatus=1,CellArchitecture=1,CPUStatus=1,1,2,DIMMSize=2048,2048,"
                                     "TotalMemoryInstalled=4096,CPUSpeed=1600,FirmwareRevision=\"9.22\""),
            ("XK_KestCell.SlotID=1", "SlotID=1,ComponentStatus=2,CellArchitecture=1,CPUStatus=,CPUSpeed="),
            ("XK_KestCell.SlotID=2", "SlotID=2,ComponentStatus=1,errorCode=22,errorMsg=\"could not take the read lock\""),
        ]
        for line, (path, props) in zip(lines, expected):
            self.assertEqual(line, self.prefix + path + " " + props)
        self.assertEqual(self.p.log()[-1]["user"], "admin")

    def test_enumerate_instance_names(self):
        code, out, err = run("ein", "-noverify", self.base + ":XK_KestCellSlot")
        self.assertEqual(code, 0, err)
        self.assertEqual(out.splitlines(), [self.prefix + "XK_KestCellSlot.ID=%d" % i for i in (0, 1, 2, 17)])

    def test_get_class(self):
        # The ValueMap qualifiers themselves are checked at the handler; here wbemcli only reads the class.
        code, out, err = run("gc", "-noverify", self.base + ":XK_KestCell")
        self.assertEqual(code, 0, err)
        self.assertIn(self.prefix + "XK_KestCell SlotID=,ComponentStatus=,", out)

    def test_make_id(self):
        cases = [
            ("XK_KestCellSlot.ID=0", "MakeID.CabinetID=1,SlotNumber=1", "17"),
            ("XK_KestCellSlot", "MakeID.CabinetID=0,SlotNumber=2", "2"),
            ("XK_KestIOChassisSlot", "MakeID.CabinetID=8,BayNumber=1,SlotNumber=3", "35"),
        ]
        for target, call, expected in cases:
            with self.subTest(call=call):
                code, out, err = run("cm", "-noverify", self.base + ":" + target, call)
                self.assertEqual(code, 0, err)
                self.assertEqual(out.strip(), "%s%s MakeID: %s" % (self.prefix, target, expected))

    def test_errors_reach_wbemcli(self):
        cases = [
            (["cm", "-noverify", self.base + ":XK_KestCellSlot", "MakeID.CabinetID=5,SlotNumber=1"],
             "CIM_ERR_NOT_FOUND", "@17:"),
            (["gi", "-noverify", self.base + ":XK_KestCellSlot.ID=99"], "CIM_ERR_NOT_FOUND", "@16:"),
            (["ei", "-noverify", self.base + ":XK_Nope"], "CIM_ERR_INVALID_CLASS", "XK_Nope"),
            (["ei", "-noverify", self.base.replace("admin:secret", "admin:wrong") + ":XK_KestCell"],
             "Invalid username/password", ""),
        ]
        for args, what, detail in cases:
            with self.subTest(args=args[-2:]):
                code, out, err = run(*args)
                self.assertNotEqual(code, 0)
                self.assertIn(what, err)
                self.assertIn(detail, err)


if __name__ == "__main__":
    harness.KEST_PROVIDER, SCHEMA, DATA, ADDRESS = sys.argv[1:5]
    unittest.main(argv=[sys.argv[0]] + sys.argv[5:], verbosity=2)
