"""The complex, cell and I/O chassis reports of the example complex
examples/default.json, their sections of the display-all output, and runs
whose standard output cannot be written."""
import os
import subprocess
import unittest

import hardware as hw
from harness import CMPLXVIEW, Provider, ScenarioTest, example, run
from frames import CELL_HEADER, CELL_NOTES, CHASSIS_HEADER
from hardware import cell_row, chassis_row
from test_cells import full_block

COMPLEX_BLOCK = """[Complex]
   Complex Name : harrier
   Complex Capacity
     Compute Cabinet (8 cell capable) : 2
     IO Expansion Cabinet : 1
   Active MP Location : cabinet 0
   Original Product Name : Kestrel KX9000 Server Complex
   Original Serial Number : KSX0419A2201
   Current Product Order Number : KX9000-A03
   Original Manufacturer : Kestrel Systems
   Complex Profile Revision : 7.4
   The total number of partitions present : 4

"""

ABSENT = ("Absent      ", "-", "-", "-", "-", "-", "-")
CELL_ROWS = [
    ("cab0,cell0", "Active Core", "4/0/4", "128.0/0.0", "cab0,bay0,chassis1", "yes", "yes", "0"),
    ("cab0,cell1", "Active Base", "4/0/4", "128.0/0.0", "-", "no ", "yes", "0"),
    ("cab0,cell2", "Active Base", "4/0/4", "120.0/8.0", "cab8,bay0,chassis1", "no ", "yes", "0"),
    ("cab0,cell3", "Active Base*", "4/0/4", "64.0/0.0", "-", "no ", "yes", "0"),
    ("cab0,cell4", "Active Core", "4/0/4", "128.0/0.0", "cab0,bay0,chassis3", "yes", "yes", "1"),
    ("cab0,cell5", "Active Float", "2/0/4", "128.0/0.0", "-", "no ", "yes", "1"),
    ("cab0,cell6", "Inactive", "4/0/4", "64.0/0.0", "-", "no ", "-", "-"),
    ("cab0,cell7",) + ABSENT,
    ("cab1,cell0", "Active Core", "4/0/4", "48.0/0.0", "cab1,bay0,chassis1", "yes", "yes", "2"),
    ("cab1,cell1", "Active Base", "3/1/4", "48.0/0.0", "-", "no ", "yes", "2"),
    ("cab1,cell2", "Active Base", "2/0/4", "48.0/0.0", "-", "no ", "yes", "2"),
    ("cab1,cell3", "Inactive", "4/0/4", "128.0/0.0", "cab8,bay1,chassis1", "yes", "yes", "3"),
    ("cab1,cell4", "Powered off", "4/0/4", "128.0/0.0", "-", "no ", "no ", "3"),
] + [("cab1,cell%d" % i,) + ABSENT for i in (5, 6, 7)]
CHASSIS_ROWS = [
    ("cab0,bay0,chassis1", "Active", "yes", "cab0,cell0", "0"),
    ("cab0,bay0,chassis3", "Active", "yes", "cab0,cell4", "1"),
    ("cab1,bay0,chassis1", "Active", "yes", "cab1,cell0", "2"),
    ("cab1,bay0,chassis3", "Inactive", "yes", "?", "-"),
    ("cab8,bay0,chassis1", "Active", "-", "cab0,cell2", "0"),
    ("cab8,bay0,chassis3", "Absent      ", "-", "-", "-"),
    ("cab8,bay1,chassis1", "Powered off", "?", "?", "?"),
    ("cab8,bay1,chassis3", "Absent      ", "-", "-", "-"),
]
CELL_SECTION = CELL_HEADER + "".join(cell_row(*r) for r in CELL_ROWS) + CELL_NOTES
CHASSIS_SECTION = CHASSIS_HEADER + "".join(chassis_row(*r) for r in CHASSIS_ROWS)
DIMMS = ["0A", "0B", "1A", "1B", "2A", "2B", "3A", "3B"]
CELL_3 = full_block(
    "cab0,cell3", "3", "Active", "Base, no interleave", "-", "no ", "9.48", "Reactivate", "yes", "0", "db01",
    "100 % (64.0 GB)", "64.0 GB", "VX_ARCH", "VX9-1600", "510", "1600 MHz", ["%d    OK" % i for i in range(4)],
    ("4", "0", "4"), ["%-5s8192      OK" % d for d in DIMMS], ("8", "0", "16"), ("64.00", "0.00"))
CELL_5 = full_block(
    "cab0,cell5", "5", "Active", "Floating", "-", "no ", "9.48", "Reactivate", "yes", "1",
    "web frontend and reverse proxies", "50.0 % (64.0 GB)", "64.0 GB", "VX_ARCH", "VX9-1600", "510", "1600 MHz",
    ["0    OK", "1    OK", "2    Absent      ", "3    Absent      "], ("2", "0", "4"),
    ["%-5s16384     OK" % d for d in DIMMS], ("8", "0", "16"), ("128.00", "0.00"))
EXAMPLE = example("default.json")


class ExampleReports(hw.ScenarioTable):
    scenarios = [
        ("complex", EXAMPLE, ["-X"], COMPLEX_BLOCK),
        ("cells", EXAMPLE, ["-C"], CELL_SECTION),
        ("available cells", EXAMPLE, ["-C", "-A"],
         CELL_HEADER + "".join(cell_row(*CELL_ROWS[i]) for i in (6, 7, 13, 14, 15)) + CELL_NOTES),
        ("chassis", EXAMPLE, ["-I"], CHASSIS_SECTION),
        ("available chassis", EXAMPLE, ["-I", "-A"],
         CHASSIS_HEADER + "".join(chassis_row(*CHASSIS_ROWS[i]) for i in (3, 5, 7))),
        ("cell details", EXAMPLE, ["-c", "0/3", "-c", "5", "-V"], CELL_3 + CELL_5 + "\n"),
    ]


class DisplayAll(ScenarioTest):
    def test_complex_cell_and_chassis_sections(self):
        # The cabinet and partition sections have scenarios of their own:
        # here the complex block opens the output, the cabinet section
        # follows it, and the cell and chassis sections stand between the
        # cabinet notes and the partition header.
        with Provider(EXAMPLE) as p:
            out, err, status = run([], env=p.env)
        self.assertEqual((err, status), ("Note: No action specified. Default behaviour is display all.\n", 0))
        self.assertEqual(out[:len(COMPLEX_BLOCK) + 12], COMPLEX_BLOCK + "\n\n[Cabinet]\n")
        cells, chassis, partitions = (out.index(h) for h in ("\n\n[Cell]\n", "\n\n[Chassis]\n", "\n\n[Partition]\n"))
        self.assertEqual(out[cells:chassis], CELL_SECTION)
        self.assertEqual(out[chassis:partitions], CHASSIS_SECTION)


DISPLAY_ALL_NOTE = "Note: No action specified. Default behaviour is display all.\n"
NO_SPACE = "Error: Could not write standard output: No space left on device.\n"
BAD_DESCRIPTOR = "Error: Could not write standard output: Bad file descriptor.\n"


class FailedOutput(unittest.TestCase):
    """Standard output that cannot take the report: the run fails with one
    line naming the failure, or quietly when the reader went away."""

    scenarios = [
        # name, arguments, standard output, standard error, status
        ("full device", ["-X"], "full", NO_SPACE, 1),
        # Several buffers' worth: the first failed write is long past at the end.
        ("full device, long report", [], "full", DISPLAY_ALL_NOTE + NO_SPACE, 1),
        ("closed descriptor", ["-C"], "closed", BAD_DESCRIPTOR, 1),
        ("closed descriptor, long report", [], "closed", DISPLAY_ALL_NOTE + BAD_DESCRIPTOR, 1),
        ("closed descriptor, nothing to write", ["-s"], "closed", "", 0),
        ("reader gone", ["-C"], "gone", "", 1),
        ("reader gone, long report", [], "gone", DISPLAY_ALL_NOTE, 1),
    ]

    def run_with_output(self, args, env, output):
        kwargs = {}
        if output == "full":
            kwargs["stdout"] = open("/dev/full", "wb")
        elif output == "closed":
            kwargs["preexec_fn"] = lambda: os.close(1)
        else:
            reader, writer = os.pipe()
            os.close(reader)
            kwargs["stdout"] = writer
        try:
            p = subprocess.run([CMPLXVIEW] + args, env=env, stdin=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               timeout=60, **kwargs)
        finally:
            if output == "full":
                kwargs["stdout"].close()
            elif output == "gone":
                os.close(kwargs["stdout"])
        return p.stderr.decode(errors="replace"), p.returncode

    def test_scenarios(self):
        with Provider(EXAMPLE) as p:
            for name, args, output, stderr, status in self.scenarios:
                with self.subTest(name):
                    self.assertEqual(self.run_with_output(args, p.env, output), (stderr, status))


if __name__ == "__main__":
    unittest.main()
