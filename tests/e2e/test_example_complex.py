"""The complex, cell and I/O chassis reports of the example complex
examples/default.json, and their sections of the display-all output."""
import unittest

from harness import Provider, ScenarioTest, example, run
from hardware import CELL_HEADER, CELL_NOTES, CHASSIS_HEADER, cell_row, chassis_row
from test_cell_details import full_block

COMPLEX_BLOCK = (
    "[Complex]\n"
    "   Complex Name : harrier\n"
    "   Complex Capacity\n"
    "     Compute Cabinet (8 cell capable) : 2\n"
    "     IO Expansion Cabinet : 1\n"
    "   Active MP Location : cabinet 0\n"
    "   Original Product Name : Kestrel KX9000 Server Complex\n"
    "   Original Serial Number : KSX0419A2201\n"
    "   Current Product Order Number : KX9000-A03\n"
    "   Original Manufacturer : Kestrel Systems\n"
    "   Complex Profile Revision : 7.4\n"
    "   The total number of partitions present : 4\n"
    "\n")

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
    ("cab1,cell5",) + ABSENT,
    ("cab1,cell6",) + ABSENT,
    ("cab1,cell7",) + ABSENT,
]
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


def dimm_lines(labels, size):
    return ["%-5s%-10dOK" % (label, size) for label in labels]


class ExampleComplex(ScenarioTest):
    @classmethod
    def setUpClass(cls):
        cls.provider = Provider(example("default.json"))

    @classmethod
    def tearDownClass(cls):
        cls.provider.close()

    def test_complex(self):
        self.check(self.provider, ["-X"], COMPLEX_BLOCK)

    def test_cells(self):
        self.check(self.provider, ["-C"], CELL_SECTION)

    def test_available_cells(self):
        self.check(self.provider, ["-C", "-A"],
                   CELL_HEADER + "".join(cell_row(*CELL_ROWS[i]) for i in (6, 7, 13, 14, 15)) + CELL_NOTES)

    def test_chassis(self):
        self.check(self.provider, ["-I"], CHASSIS_SECTION)

    def test_available_chassis(self):
        self.check(self.provider, ["-I", "-A"],
                   CHASSIS_HEADER + "".join(chassis_row(*CHASSIS_ROWS[i]) for i in (3, 5, 7)))

    def test_cell_details(self):
        labels = ["0A", "0B", "1A", "1B", "2A", "2B", "3A", "3B"]
        cell3 = full_block(
            location="cab0,cell3", number="3", usage="Active", normal="Base, no interleave", connected="-",
            core="no ", firmware="9.48", failure="Reactivate", next_boot="yes", partition_="0", name="db01",
            requested="100 % (64.0 GB)", allocated="64.0 GB", architecture="VX_ARCH", compatibility="VX9-1600",
            cpu_type="510", speed="1600 MHz", cpu_lines=["0    OK", "1    OK", "2    OK", "3    OK"],
            cpus=("4", "0", "4"), dimm_lines=dimm_lines(labels, 8192), dimms=("8", "0", "16"),
            memory=("64.00", "0.00"))
        cell5 = full_block(
            location="cab0,cell5", number="5", usage="Active", normal="Floating", connected="-",
            core="no ", firmware="9.48", failure="Reactivate", next_boot="yes", partition_="1",
            name="web frontend and reverse proxies", requested="50.0 % (64.0 GB)", allocated="64.0 GB",
            architecture="VX_ARCH", compatibility="VX9-1600", cpu_type="510", speed="1600 MHz",
            cpu_lines=["0    OK", "1    OK", "2    Absent      ", "3    Absent      "], cpus=("2", "0", "4"),
            dimm_lines=dimm_lines(labels, 16384), dimms=("8", "0", "16"), memory=("128.00", "0.00"))
        self.check(self.provider, ["-c", "0/3", "-c", "5", "-V"], cell3 + cell5 + "\n")

    def test_display_all_sections_of_complex_cells_and_chassis(self):
        # The cabinet and partition sections are the business of their own
        # scenarios; here the complex block opens the output, and the cell
        # and chassis sections stand between the cabinet notes and the
        # partition header.
        out, err, status = run([], env=self.provider.env)
        self.assertEqual((err, status), ("Note: No action specified. Default behaviour is display all.\n", 0))
        self.assertTrue(out.startswith(COMPLEX_BLOCK + "\n\n[Cabinet]\n"), out[:len(COMPLEX_BLOCK) + 20])
        cell_start = out.index("\n\n[Cell]\n")
        chassis_start = out.index("\n\n[Chassis]\n")
        partition_start = out.index("\n\n[Partition]\n")
        self.assertEqual(out[cell_start:chassis_start], CELL_SECTION)
        self.assertEqual(out[chassis_start:partition_start], CHASSIS_SECTION)


if __name__ == "__main__":
    unittest.main()
