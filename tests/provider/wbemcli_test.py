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
CELL0 = ("XK_KestCell.SlotID=0 SlotID=0,ComponentStatus=1,CellArchitecture=1,CPUStatus=1,1,2,DIMMSize=2048,2048,"
         "TotalMemoryInstalled=4096,CPUSpeed=1600,FirmwareRevision=\"9.22\"")


@unittest.skipUnless(WBEMCLI, "wbemcli (Debian package sblim-wbemcli) is not installed")
class Wbemcli(unittest.TestCase):
    def test_wbemcli_reads_instances_classes_and_errors(self):
        c = harness.load_complex(os.path.join(DATA, "complex.json"))
        # wbemcli's parser does not know VALUE.NULL inside arrays (a later DSP0201
        # addition), so the interoperability complex has no null array elements.
        c["namespaces"]["root/cimv2/kest"]["XK_KestCell"][0]["CPUStatus"] = [1, 1, 2]
        with harness.Provider(c, https=ADDRESS + ":0", schema=SCHEMA) as p:
            with open(os.path.join(p.dir.name, "ready")) as f:
                port = next(int(l.rsplit(":", 1)[1]) for l in f.read().splitlines() if l.startswith("https "))
            base = "https://admin:secret@%s:%d/root/cimv2/kest:" % (ADDRESS, port)
            pre = "%s:%d/root/cimv2/kest:" % (ADDRESS, port)
            # wbemcli arguments; the lines of its standard output, or a tuple of texts its standard error must hold
            for args, out_or_err in [
                (["ei", base + "XK_KestCell"], [pre + CELL0,
                  pre + "XK_KestCell.SlotID=1 SlotID=1,ComponentStatus=2,CellArchitecture=1,CPUStatus=,CPUSpeed=",
                  pre + "XK_KestCell.SlotID=2 SlotID=2,ComponentStatus=1,errorCode=22,"
                  "errorMsg=\"could not take the read lock\""]),
                (["ein", base + "XK_KestCellSlot"], [pre + "XK_KestCellSlot.ID=%d" % i for i in (0, 1, 2, 17)]),
                (["cm", base + "XK_KestCellSlot.ID=0", "MakeID.CabinetID=1,SlotNumber=1"],
                 [pre + "XK_KestCellSlot.ID=0 MakeID: 17"]),
                (["cm", base + "XK_KestIOChassisSlot", "MakeID.CabinetID=8,BayNumber=1,SlotNumber=3"],
                 [pre + "XK_KestIOChassisSlot MakeID: 35"]),
                (["cm", base + "XK_KestCellSlot", "MakeID.CabinetID=5,SlotNumber=1"], ("CIM_ERR_NOT_FOUND", "@17:")),
                (["gi", base + "XK_KestCellSlot.ID=99"], ("CIM_ERR_NOT_FOUND", "@16:")),
                (["ei", base + "XK_Nope"], ("CIM_ERR_INVALID_CLASS", "XK_Nope")),
                (["ei", base.replace("admin:secret", "admin:wrong") + "XK_KestCell"], ("Invalid username/password",)),
            ]:
                with self.subTest(args=args):
                    r = subprocess.run([WBEMCLI, args[0], "-noverify"] + args[1:], capture_output=True, text=True,
                                       timeout=60)
                    if isinstance(out_or_err, list):
                        self.assertEqual((r.returncode, r.stdout.splitlines()), (0, out_or_err), r.stderr)
                    else:
                        self.assertNotEqual(r.returncode, 0)
                        for part in out_or_err:
                            self.assertIn(part, r.stderr)
            self.assertEqual(p.log()[0]["user"], "admin")
            # The class itself, read through wbemcli (its qualifiers are checked at the handler).
            gc = subprocess.run([WBEMCLI, "gc", "-noverify", base + "XK_KestCell"], capture_output=True, text=True,
                                timeout=60)
            self.assertIn(pre + "XK_KestCell SlotID=,ComponentStatus=,", gc.stdout, gc.stderr)


if __name__ == "__main__":
    harness.KEST_PROVIDER, SCHEMA, DATA, ADDRESS = sys.argv[1:5]
    unittest.main(argv=[sys.argv[0]] + sys.argv[5:], verbosity=2)
