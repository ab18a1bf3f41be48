"""The cell report: table rows (-C, -c), "cell:" lines (-M) and the -A filter."""
import json
import os
import tempfile
import unittest

from harness import KEST_SCHEMA, Provider, ScenarioTest
from hardware import (ACTIVE, FAILED, INACTIVE, OTHER, POWERED_OFF, UNKNOWN, USE_BASE, USE_BASE_NO_INTERLEAVE,
                      USE_FLOATING, USE_NONE, USE_UNKNOWN, CELL_HEADER, CELL_NOTES, cell, cell_line, cell_row,
                      cell_slot, complex_file, io_slot, partition)

# Ten slots of one cabinet showing the columns of a row:
#   0 core cell of partition 0 (usage Base), connected to I/O chassis 1
#   1 Base without interleave, one CPU deconfigured, half the memory bad, not connected
#   2 empty slot, no partition
#   3 populated slot without a cell instance, in partition 1
#   4 Inactive (no qualifier), CPUCount and TotalMemoryOK missing, connected to a chassis no slot has
#   5 long label, floating cell, 128 GB good and 16 GB bad, connection and core I/O not given
#   6 no status, no CPU or memory figures
#   7 Powered off (no qualifier although it is its partition's core cell)
#   8 core cell of partition 2 with usage "Base, no interleave"
#   9 Failed, usage Base but not a core cell, connected to a chassis with a long label
MIXED = complex_file(
    complex_={"ProfileID": 0, "CellAssignments": [0, 0, 255, 1, 1, 255, 255, 2, 2, 255]},
    cell_slots=[
        cell_slot(0, "Cab 0 Cell 0"),
        cell_slot(1, "Cab 0 Cell 1"),
        cell_slot(2, "Cab 0 Cell 2", populated=False),
        cell_slot(3, "Cab 0 Cell 3"),
        cell_slot(4, "Cab 0 Cell 4"),
        cell_slot(5, "Cabinet 0 Cell Slot 5"),
        cell_slot(6, "Cab 0 Cell 6"),
        cell_slot(7, "Cab 0 Cell 7"),
        cell_slot(8, "Cab 0 Cell 8"),
        cell_slot(9, "Cab 0 Cell 9"),
    ],
    cells=[
        cell(0, ACTIVE, USE_BASE, cpus=(4, 4, 4), memory=(8192, 8192), chassis=1, core_io=True),
        cell(1, ACTIVE, USE_BASE_NO_INTERLEAVE, cpus=(4, 3, 4), memory=(16384, 8192), core_io=False),
        cell(4, INACTIVE, USE_BASE_NO_INTERLEAVE, cpus=(None, 2, 8), memory=(8192, None), chassis=7),
        cell(5, ACTIVE, USE_FLOATING, cpus=(8, 8, 8), memory=(147456, 131072), ConnectedToIOChassis=None,
             HasCoreIO=None),
        cell(6, None, USE_BASE, cpus=(4, 4, None), memory=(None, 8192), core_io=False),
        cell(7, POWERED_OFF, USE_BASE, cpus=(4, 2, 4), memory=(4096, 4096)),
        cell(8, ACTIVE, USE_BASE_NO_INTERLEAVE, cpus=(2, 2, 2), memory=(2048, 2048)),
        cell(9, FAILED, USE_BASE, cpus=(1, 1, 1), memory=(1024, 1024), chassis=3, core_io=False),
    ],
    io_slots=[io_slot(1, "Cab 0 Bay 0 Chassis 1"), io_slot(3, "Cabinet 0 Bay 1 Chassis 3")],
    partitions=[
        partition(0, "alpha", next_boot=[True, False], core_cell=0),
        partition(1, "beta", next_boot=[False, False, False, True, False], core_cell=3),
        partition(2, "gamma", next_boot=[True], core_cell=7, CellUseOnNextBoot=None),
    ],
)

# The rows of MIXED, column by column.
MIXED_FIELDS = [
    ("Cab0Cell0", "Active Core", "4/0/4", "8.0/0.0", "Cab0Bay0Chassis1", "yes", "yes", "0"),
    ("Cab0Cell1", "Active Base*", "3/1/4", "8.0/8.0", "-", "no ", "no ", "0"),
    ("Cab0Cell2", "Absent      ", "-", "-", "-", "-", "-", "-"),
    ("Cab0Cell3", "Absent      ", "-", "-", "-", "-", "yes", "1"),
    ("Cab0Cell4", "Inactive", "0/0/8", "0.0/8.0", "", "yes", "no ", "1"),
    ("Cabinet0Ce", "Active Float", "8/0/8", "128.0/16.", "?", "?", "-", "-"),
    ("Cab0Cell6", "?", "?", "?", "-", "no ", "-", "-"),
    ("Cab0Cell7", "Powered off", "2/2/4", "4.0/0.0", "-", "yes", "?", "2"),
    ("Cab0Cell8", "Active Base*", "2/0/2", "2.0/0.0", "-", "yes", "?", "2"),
    ("Cab0Cell9", "Failed Base", "1/0/1", "1.0/0.0", "Cabinet0Bay1Chassis", "no ", "-", "-"),
]
# Partition 2's core cell is 7, so cell 8 is a plain "Base*" cell; with
# partition 2's core cell moved to 8 it shows "Core" (usage 4 counts too).
MIXED_CORE_8 = json.loads(json.dumps(MIXED))
MIXED_CORE_8["namespaces"]["root/cimv2/kest"]["XK_KestPartition"][2]["CoreCellID"] = 8


def rows(fields, indexes=None):
    return "".join(cell_row(*fields[i]) for i in (indexes if indexes is not None else range(len(fields))))


def lines(fields, indexes=None):
    return "".join(cell_line(*fields[i]) for i in (indexes if indexes is not None else range(len(fields))))


class MixedCells(ScenarioTest):
    @classmethod
    def setUpClass(cls):
        cls.provider = Provider(MIXED)

    @classmethod
    def tearDownClass(cls):
        cls.provider.close()

    def test_all_cells_as_rows(self):
        self.check(self.provider, ["-C"], CELL_HEADER + rows(MIXED_FIELDS) + CELL_NOTES)

    def test_rows_are_79_columns_with_trailing_blanks(self):
        # "no " keeps its blank; the partition column ends at 77, the row at 78.
        row = cell_row(*MIXED_FIELDS[1])
        self.assertEqual(len(row), 80)
        self.assertEqual(row[62:65], "no ")
        self.check(self.provider, ["-C", "-M"], lines(MIXED_FIELDS))

    def test_available_only_keeps_the_unassigned_cells(self):
        self.check(self.provider, ["-C", "-A"], CELL_HEADER + rows(MIXED_FIELDS, [2, 5, 6, 9]) + CELL_NOTES)

    def test_available_only_machine_readable(self):
        self.check(self.provider, ["-C", "-A", "-M"], lines(MIXED_FIELDS, [2, 5, 6, 9]))

    def test_selected_cells_in_argument_order(self):
        self.check(self.provider, ["-c", "9", "-c", "0", "-c", "3"],
                   CELL_HEADER + rows(MIXED_FIELDS, [9, 0, 3]) + "\n" + CELL_NOTES)

    def test_selected_cell_by_cabinet_and_slot(self):
        self.check(self.provider, ["-c", "0/5"], CELL_HEADER + rows(MIXED_FIELDS, [5]) + "\n" + CELL_NOTES)

    def test_selected_cell_machine_readable(self):
        self.check(self.provider, ["-c", "1", "-M"], lines(MIXED_FIELDS, [1]) + "\n")

    def test_selected_cell_that_does_not_exist(self):
        self.check(self.provider, ["-c", "0", "-c", "12"],
                   CELL_HEADER + rows(MIXED_FIELDS, [0]) + "\n" + CELL_NOTES,
                   "Error: Cell 12 does not exist in this complex or is unavailable.\n", 1)


class CoreCellWithUsage4(ScenarioTest):
    def test_core_cell_without_interleave_shows_core(self):
        fields = list(MIXED_FIELDS)
        fields[8] = ("Cab0Cell8", "Active Core", "2/0/2", "2.0/0.0", "-", "yes", "?", "2")
        with Provider(MIXED_CORE_8) as p:
            self.check(p, ["-c", "7", "-c", "8"], CELL_HEADER + rows(fields, [7, 8]) + "\n" + CELL_NOTES)


# Cells whose status text suppresses the qualifier, and usage texts of one
# character (or none) that are not shown.
QUALIFIERS = complex_file(
    complex_={"ProfileID": 0, "CellAssignments": [0, 0, 0, 0, 0, 0, 0, 0]},
    cell_slots=[cell_slot(i, "c%d" % i) for i in range(8)],
    cells=[
        cell(0, UNKNOWN, USE_BASE),
        cell(1, OTHER, USE_BASE),
        cell(2, POWERED_OFF, USE_BASE_NO_INTERLEAVE),
        cell(3, INACTIVE, USE_FLOATING),
        cell(4, ACTIVE, USE_NONE),
        cell(5, ACTIVE, USE_UNKNOWN),
        cell(6, ACTIVE, 9),  # a code past the end of the ValueMap: no text
        cell(7, ACTIVE, None),
    ],
    io_slots=[io_slot(1, "io1")],
    partitions=[partition(0, "p0", next_boot=[True] * 8, core_cell=0)],
)
QUALIFIER_FIELDS = [
    ("c0", "Unknown", "4/0/4", "8.0/0.0", "-", "yes", "yes", "0"),
    ("c1", "Other", "4/0/4", "8.0/0.0", "-", "yes", "yes", "0"),
    ("c2", "Powered off", "4/0/4", "8.0/0.0", "-", "yes", "yes", "0"),
    ("c3", "Inactive", "4/0/4", "8.0/0.0", "-", "yes", "yes", "0"),
    ("c4", "Active", "4/0/4", "8.0/0.0", "-", "yes", "yes", "0"),
    ("c5", "Active", "4/0/4", "8.0/0.0", "-", "yes", "yes", "0"),
    ("c6", "Active", "4/0/4", "8.0/0.0", "-", "yes", "yes", "0"),
    ("c7", "Active", "4/0/4", "8.0/0.0", "-", "yes", "yes", "0"),
]


class Qualifiers(ScenarioTest):
    def test_status_texts_that_suppress_the_qualifier(self):
        with Provider(QUALIFIERS) as p:
            self.check(p, ["-C"], CELL_HEADER + rows(QUALIFIER_FIELDS) + CELL_NOTES)
            self.check(p, ["-C", "-M"], lines(QUALIFIER_FIELDS))


class PartitionColumns(ScenarioTest):
    """Where the partition, next-boot and -A answers come from."""

    def test_without_cell_assignments_everything_is_unknown_and_nothing_is_available(self):
        data = complex_file(
            complex_={"ProfileID": 0},
            cell_slots=[cell_slot(0, "c0"), cell_slot(1, "c1", populated=False)],
            cells=[cell(0)],
            io_slots=[io_slot(1, "io1")],
            partitions=[partition(0, "p0", next_boot=[True, True], core_cell=0)])
        with Provider(data) as p:
            self.check(p, ["-C"], CELL_HEADER
                       + cell_row("c0", "Active Base", "4/0/4", "8.0/0.0", "-", "yes", "?", "?")
                       + cell_row("c1", "Absent      ", "-", "-", "-", "-", "?", "?") + CELL_NOTES)
            self.check(p, ["-C", "-A"], CELL_HEADER + CELL_NOTES)

    def test_empty_cell_assignments_and_cell_past_their_end_belong_to_no_partition(self):
        data = complex_file(
            complex_={"ProfileID": 0, "CellAssignments": [1]},
            cell_slots=[cell_slot(0, "c0"), cell_slot(1, "c1")],
            cells=[cell(0), cell(1)],
            io_slots=[io_slot(1, "io1")],
            partitions=[partition(1, "p1", next_boot=[False, True], core_cell=0)])
        with Provider(data) as p:
            self.check(p, ["-C", "-A", "-M"], cell_line("c1", "Active Base", "4/0/4", "8.0/0.0", "-", "yes", "-", "-"))
        data["namespaces"]["root/cimv2/kest"]["XK_KestComplex"][0]["CellAssignments"] = []
        with Provider(data) as p:
            self.check(p, ["-C", "-M"], cell_line("c0", "Active Base", "4/0/4", "8.0/0.0", "-", "yes", "-", "-")
                       + cell_line("c1", "Active Base", "4/0/4", "8.0/0.0", "-", "yes", "-", "-"))

    def test_no_partitions_at_all(self):
        # The cell is assigned to partition 1, but the provider has no
        # partition: its number shows, its next-boot use does not apply.
        data = complex_file(
            complex_={"ProfileID": 0, "CellAssignments": [1]},
            cell_slots=[cell_slot(0, "c0")], cells=[cell(0)], io_slots=[io_slot(1, "io1")])
        with Provider(data) as p:
            self.check(p, ["-C"], CELL_HEADER + cell_row("c0", "Active Base", "4/0/4", "8.0/0.0", "-", "yes", "-", "1")
                       + CELL_NOTES)
            self.check(p, ["-C", "-A"], CELL_HEADER + CELL_NOTES)

    def test_next_boot_element_missing_and_unknown_partition(self):
        # Cell 1 is past the end of its partition's CellUseOnNextBoot: "?".
        # Cell 2's partition 7 is not among the partitions: nothing to show.
        data = complex_file(
            complex_={"ProfileID": 0, "CellAssignments": [0, 0, 7]},
            cell_slots=[cell_slot(0, "c0"), cell_slot(1, "c1"), cell_slot(2, "c2")],
            cells=[cell(0), cell(1), cell(2)],
            io_slots=[io_slot(1, "io1")],
            partitions=[partition(0, "p0", next_boot=[False], core_cell=1)])
        with Provider(data) as p:
            self.check(p, ["-C", "-M"],
                       cell_line("c0", "Active Base", "4/0/4", "8.0/0.0", "-", "yes", "no ", "0")
                       + cell_line("c1", "Active Core", "4/0/4", "8.0/0.0", "-", "yes", "?", "0")
                       + cell_line("c2", "Active Base", "4/0/4", "8.0/0.0", "-", "yes", "", "7"))


class OddProviderValues(ScenarioTest):
    def test_values_of_the_wrong_type_read_as_not_given(self):
        as_text = lambda v: {"$type": "string", "value": str(v)}
        data = complex_file(
            complex_={"ProfileID": 0, "CellAssignments": [255]},
            cell_slots=[cell_slot(0, "c0")],
            cells=[cell(0, as_text(ACTIVE), cpus=(4, 4, as_text(4)), memory=(as_text(8192), 8192),
                        HasCoreIO=as_text("true"))],
            io_slots=[io_slot(1, "io1")])
        with Provider(data) as p:
            self.check(p, ["-C", "-M"], cell_line("c0", "?", "?", "?", "-", "?", "-", "-"))

    def test_connected_chassis_id_of_another_type_matches_no_slot(self):
        # The ID is compared as a whole value: the string "1" is not the
        # uint32 1 of the slot, so the column stays blank.
        data = complex_file(
            complex_={"ProfileID": 0, "CellAssignments": [255]},
            cell_slots=[cell_slot(0, "c0")],
            cells=[cell(0, chassis={"$type": "string", "value": "1"})],
            io_slots=[io_slot(1, "io1")])
        with Provider(data) as p:
            self.check(p, ["-C", "-M"], cell_line("c0", "Active Base", "4/0/4", "8.0/0.0", "", "yes", "-", "-"))

    def test_slot_without_label_or_id_and_cell_connected_to_null_id(self):
        # No LongLabel: the location is "?"; the slot's ID still finds its
        # cell, its assignment and its next-boot use. A connected cell
        # without chassis ID: "?".
        data = complex_file(
            complex_={"ProfileID": 0, "CellAssignments": [255, 255, 255, 0]},
            cell_slots=[cell_slot(3, None)],
            cells=[cell(3, chassis=None)],
            io_slots=[io_slot(1, "io1")],
            partitions=[partition(0, "p0", next_boot=[False, False, False, True], core_cell=1)])
        with Provider(data) as p:
            self.check(p, ["-C", "-M"], cell_line("?", "Active Base", "4/0/4", "8.0/0.0", "?", "yes", "yes", "0"))

    def test_usage_and_qualifier_running_past_the_end_of_the_line(self):
        # A status text longer than the whole row: written from column 11
        # (16 in the line), overwritten by the qualifier and every later
        # field, and cut at the end of the line.
        with open(KEST_SCHEMA, encoding="utf-8") as f:
            schema = json.load(f)
        long_text = "Failed " + "x" * 80
        for c in schema["classes"]:
            if c["name"] == "XK_KestCell":
                for prop in c["properties"]:
                    if prop["name"] == "ComponentStatus":
                        prop["valueMap"][FAILED] = long_text
        data = complex_file(
            complex_={"ProfileID": 0, "CellAssignments": [255]},
            cell_slots=[cell_slot(0, "c0")], cells=[cell(0, FAILED, USE_BASE, core_io=False)],
            io_slots=[io_slot(1, "io1")])
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "schema.json")
            with open(path, "w", encoding="utf-8") as f:
                json.dump(schema, f)
            with Provider(data, extra_args=["--schema", path]) as p:
                x = lambda n: "x" * n
                row = ("c0" + " " * 9 + "Failed Base" + x(2) + "4/0/4" + x(3) + "8.0/0.0" + x(3) + "-" + x(19)
                       + "no " + x(5) + "-" + x(4) + "-" + x(3) + "\n")
                line = ("cell:c0" + " " * 8 + ":Failed Base" + x(1) + ":4/0/4" + x(2) + ":8.0/0.0" + x(2) + ":-"
                        + x(18) + ":no " + x(4) + ":-" + x(3) + ":-" + x(2) + "\n")
                self.assertEqual((len(row), len(line)), (80, 84))
                self.check(p, ["-C"], CELL_HEADER + row + CELL_NOTES)
                self.check(p, ["-C", "-M"], line)


class FailedLoads(ScenarioTest):
    def test_complex_without_cells(self):
        data = complex_file(cell_slots=[cell_slot(0, "c0")], io_slots=[io_slot(1, "io1")])
        with Provider(data) as p:
            self.check(p, ["-C"], "", "\nError: Unable to get any cell information.\n", 1)


if __name__ == "__main__":
    unittest.main()
