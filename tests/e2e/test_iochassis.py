"""The I/O chassis report: rows (-I, -i), "chassis:" lines (-M) and the -A filter."""
import unittest

from harness import Provider, ScenarioTest
from hardware import (ACTIVE, INACTIVE, POWERED_OFF, CHASSIS_HEADER, cell_slot, chassis_line, chassis_row,
                      complex_file, io_chassis, io_slot)

# Nine I/O bays:
#   0 chassis connected to cell 0 of partition 0
#   1 empty bay
#   2 populated bay without a chassis instance
#   3 chassis without power (connected to cell 0)
#   4 inactive chassis not connected to a cell, without core I/O
#   5 chassis connected to a cell that no cell slot has
#   6 chassis connected to cell 2, which belongs to no partition
#   7 long labels: chassis connected to cell 3 of partition 3, without core I/O
#   8 chassis without status, connected to a cell it does not name, core I/O not given
# The chassis table lists them in another order than the bays.
BAYS = complex_file(
    complex_={"ProfileID": 0, "CellAssignments": [0, 255, 255, 3]},
    cell_slots=[cell_slot(0, "Cab 0 Cell 0"), cell_slot(2, "Cab 0 Cell 2"), cell_slot(3, "Cabinet 0 Cell 3")],
    io_slots=[
        io_slot(1, "Cab 0 Bay 0 Chassis 1", cabinet=0, bay=0, number=1),
        io_slot(3, "Cab 0 Bay 0 Chassis 3", populated=False, cabinet=0, bay=0, number=3),
        io_slot(5, "Cab 0 Bay 1 Chassis 1", cabinet=0, bay=1, number=1),
        io_slot(7, "Cab 0 Bay 1 Chassis 3", cabinet=0, bay=1, number=3),
        io_slot(9, "Cab 1 Bay 0 Chassis 1", cabinet=1, bay=0, number=1),
        io_slot(11, "Cab 1 Bay 0 Chassis 3", cabinet=1, bay=0, number=3),
        io_slot(13, "Cab 1 Bay 1 Chassis 1", cabinet=1, bay=1, number=1),
        io_slot(15, "Cabinet 1 IO Bay 1 Chassis 3", cabinet=1, bay=1, number=3),
        io_slot(17, "Cab 1 Bay 1 Chassis 5", cabinet=1, bay=1, number=5),
    ],
    chassis=[
        io_chassis(17, None, HasCoreIO=None, Connected=True, ConnectedCellID=None),
        io_chassis(15, ACTIVE, cell_id=3, core_io=False),
        io_chassis(13, ACTIVE, cell_id=2),
        io_chassis(11, ACTIVE, cell_id=42),
        io_chassis(9, INACTIVE, core_io=False),
        io_chassis(7, POWERED_OFF, cell_id=0),
        io_chassis(1, ACTIVE, cell_id=0),
    ],
)

BAY_FIELDS = [
    ("Cab0Bay0Chassis1", "Active", "yes", "Cab0Cell0", "0"),
    ("Cab0Bay0Chassis3", "Absent      ", "-", "-", "-"),
    ("Cab0Bay1Chassis1", "", "?", "?", "?"),
    ("Cab0Bay1Chassis3", "Powered off", "?", "?", "?"),
    ("Cab1Bay0Chassis1", "Inactive", "-", "?", "-"),
    ("Cab1Bay0Chassis3", "Active", "yes", "-", "-"),
    ("Cab1Bay1Chassis1", "Active", "yes", "Cab0Cell2", "-"),
    ("Cabinet1IOBay1Chass", "Active", "-", "Cabinet0Ce", "3"),
    ("Cab1Bay1Chassis5", "?", "?", "?", "-"),
]


def rows(indexes):
    return "".join(chassis_row(*BAY_FIELDS[i]) for i in indexes)


def lines(indexes):
    return "".join(chassis_line(*BAY_FIELDS[i]) for i in indexes)


class Bays(ScenarioTest):
    @classmethod
    def setUpClass(cls):
        cls.provider = Provider(BAYS)

    @classmethod
    def tearDownClass(cls):
        cls.provider.close()

    def test_all_bays_as_rows(self):
        self.check(self.provider, ["-I"], CHASSIS_HEADER + rows(range(9)))

    def test_all_bays_as_lines(self):
        self.check(self.provider, ["-I", "-M"], lines(range(9)))

    def test_available_only(self):
        # Empty bays and chassis whose partition is "-"; never "?" nor a partition.
        self.check(self.provider, ["-I", "-A"], CHASSIS_HEADER + rows([1, 4, 5, 6, 8]))
        self.check(self.provider, ["-I", "-A", "-M"], lines([1, 4, 5, 6, 8]))

    def test_selected_chassis_in_argument_order(self):
        self.check(self.provider, ["-i", "1/1/3", "-i", "0/0/1"], CHASSIS_HEADER + rows([7, 0]) + "\n")
        self.check(self.provider, ["-i", "0/1/1", "-M"], lines([2]) + "\n")


class WithoutAssignments(ScenarioTest):
    def test_connected_chassis_of_a_complex_without_cell_assignments(self):
        data = complex_file(
            complex_={"ProfileID": 0},
            cell_slots=[cell_slot(0, "c0")],
            io_slots=[io_slot(1, "io1"), io_slot(2, "io2"), io_slot(3, "io3", populated=False)],
            chassis=[io_chassis(1, ACTIVE, cell_id=0), io_chassis(2, ACTIVE)])
        with Provider(data) as p:
            self.check(p, ["-I"], CHASSIS_HEADER + chassis_row("io1", "Active", "yes", "c0", "?")
                       + chassis_row("io2", "Active", "yes", "?", "-")
                       + chassis_row("io3", "Absent      ", "-", "-", "-"))
            self.check(p, ["-I", "-A", "-M"], chassis_line("io2", "Active", "yes", "?", "-")
                       + chassis_line("io3", "Absent      ", "-", "-", "-"))

    def test_cell_past_the_end_of_cell_assignments_belongs_to_no_partition(self):
        data = complex_file(
            complex_={"ProfileID": 0, "CellAssignments": [1]},
            cell_slots=[cell_slot(0, "c0"), cell_slot(6, "c6")],
            io_slots=[io_slot(1, "io1"), io_slot(2, "io2")],
            chassis=[io_chassis(1, ACTIVE, cell_id=0), io_chassis(2, ACTIVE, cell_id=6)])
        with Provider(data) as p:
            self.check(p, ["-I", "-M"], chassis_line("io1", "Active", "yes", "c0", "1")
                       + chassis_line("io2", "Active", "yes", "c6", "-"))


class OddProviderValues(ScenarioTest):
    def test_slot_without_label_or_populated_flag_and_long_usage_text(self):
        # No LongLabel: "?"; no Populated: taken as populated. A cell slot
        # without label gives an empty connected-to text.
        data = complex_file(
            complex_={"ProfileID": 0, "CellAssignments": [255, 255]},
            cell_slots=[cell_slot(1, None)],
            io_slots=[io_slot(1, None, populated=None)],
            chassis=[io_chassis(1, ACTIVE, cell_id=1)])
        with Provider(data) as p:
            self.check(p, ["-I", "-M"], chassis_line("?", "Active", "yes", "", "-"))

    def test_chassis_fields_of_the_wrong_type_read_as_not_given(self):
        data = complex_file(
            complex_={"ProfileID": 0, "CellAssignments": [0]},
            cell_slots=[cell_slot(0, "c0")],
            io_slots=[io_slot(1, "io1"), io_slot(2, "io2")],
            chassis=[io_chassis(1, {"$type": "string", "value": "5"}, cell_id=0),
                     io_chassis(2, ACTIVE, Connected={"$type": "string", "value": "true"}, ConnectedCellID=0)])
        with Provider(data) as p:
            self.check(p, ["-I", "-M"], chassis_line("io1", "?", "yes", "c0", "0")
                       + chassis_line("io2", "Active", "yes", "?", "-"))


class FailedLoads(ScenarioTest):
    def test_complex_without_chassis(self):
        data = complex_file(cell_slots=[cell_slot(0, "c0")], io_slots=[io_slot(1, "io1")])
        with Provider(data) as p:
            self.check(p, ["-I"], "", "\nError: Unable to get any I/O chassis information.\n", 1)


if __name__ == "__main__":
    unittest.main()
