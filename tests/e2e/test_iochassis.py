"""The I/O chassis report: rows (-I, -i), "chassis:" lines (-M) and the -A filter."""
import unittest

import hardware as hw
from frames import CHASSIS_HEADER as HEAD
from hardware import (ACTIVE, INACTIVE, POWERED_OFF, as_string, cell_slot, chassis_line,
                      chassis_row, complex_file, io_chassis, io_slot)

# The chassis table lists the chassis in another order than their bays.
BAYS = complex_file(
    {"ProfileID": 0, "CellAssignments": [0, 255, 255, 3]},
    CellSlot=[cell_slot(0, "Cab 0 Cell 0"), cell_slot(2, "Cab 0 Cell 2"), cell_slot(3, "Cabinet 0 Cell 3")],
    IOChassisSlot=[io_slot(id_, label, populated=id_ != 3, cabinet=c, bay=b, number=n) for id_, label, c, b, n in [
        (1, "Cab 0 Bay 0 Chassis 1", 0, 0, 1), (3, "Cab 0 Bay 0 Chassis 3", 0, 0, 3),
        (5, "Cab 0 Bay 1 Chassis 1", 0, 1, 1), (7, "Cab 0 Bay 1 Chassis 3", 0, 1, 3),
        (9, "Cab 1 Bay 0 Chassis 1", 1, 0, 1), (11, "Cab 1 Bay 0 Chassis 3", 1, 0, 3),
        (13, "Cab 1 Bay 1 Chassis 1", 1, 1, 1), (15, "Cabinet 1 IO Bay 1 Chassis 3", 1, 1, 3),
        (17, "Cab 1 Bay 1 Chassis 5", 1, 1, 5)]],
    IOChassis=[
        io_chassis(17, None, HasCoreIO=None, Connected=True, ConnectedCellID=None),
        io_chassis(15, ACTIVE, cell_id=3, core_io=False),
        io_chassis(13, ACTIVE, cell_id=2),
        io_chassis(11, ACTIVE, cell_id=42),
        io_chassis(9, INACTIVE, core_io=False),
        io_chassis(7, POWERED_OFF, cell_id=0),
        io_chassis(1, ACTIVE, cell_id=0)])

ROWS = [
    ("Cab0Bay0Chassis1", "Active", "yes", "Cab0Cell0", "0"),
    ("Cab0Bay0Chassis3", "Absent      ", "-", "-", "-"),  # empty bay
    ("Cab0Bay1Chassis1", "", "?", "?", "?"),  # no chassis in the bay
    ("Cab0Bay1Chassis3", "Powered off", "?", "?", "?"),
    ("Cab1Bay0Chassis1", "Inactive", "-", "?", "-"),  # not connected
    ("Cab1Bay0Chassis3", "Active", "yes", "-", "-"),  # connected to a cell no slot has
    ("Cab1Bay1Chassis1", "Active", "yes", "Cab0Cell2", "-"),  # its cell belongs to no partition
    ("Cabinet1IOBay1Chass", "Active", "-", "Cabinet0Ce", "3"),
    ("Cab1Bay1Chassis5", "?", "?", "?", "-"),  # connected to a cell it does not name
]
AVAILABLE = [1, 4, 5, 6, 8]


def rows(*indexes):
    return "".join(chassis_row(*ROWS[i]) for i in indexes)


def lines(*indexes):
    return "".join(chassis_line(*ROWS[i]) for i in indexes)


def small(assignments, chassis, cell_slots=None, io_slots=None):
    return complex_file({"ProfileID": 0, "CellAssignments": assignments} if assignments is not None else None,
                        CellSlot=cell_slots or [cell_slot(0, "c0"), cell_slot(6, "c6")],
                        IOChassisSlot=io_slots or [io_slot(c["SlotID"], "io%d" % c["SlotID"]) for c in chassis],
                        IOChassis=chassis)


UNASSIGNED = small(None, [io_chassis(1, cell_id=0), io_chassis(2)],
                   io_slots=[io_slot(1, "io1"), io_slot(2, "io2"), io_slot(3, "io3", populated=False)])
SHORT_ASSIGNMENTS = small([1], [io_chassis(1, cell_id=0), io_chassis(2, cell_id=6)])
ODD_VALUES = small([0], [io_chassis(1, as_string(ACTIVE), cell_id=0), io_chassis(2, Connected=as_string("true")),
                         io_chassis(3, cell_id=1)],
                   cell_slots=[cell_slot(0, "c0"), cell_slot(1, None)],
                   io_slots=[io_slot(1, "io1"), io_slot(2, "io2"), io_slot(3, None, populated=None)])
NO_CHASSIS = small([0], [], io_slots=[io_slot(1, "io1")])


class ChassisReport(hw.ScenarioTable):
    scenarios = [
        ("all rows", BAYS, ["-I"], HEAD + rows(*range(9))),
        ("all lines", BAYS, ["-I", "-M"], lines(*range(9))),
        ("available rows", BAYS, ["-I", "-A"], HEAD + rows(*AVAILABLE)),
        ("available lines", BAYS, ["-I", "-A", "-M"], lines(*AVAILABLE)),
        ("selected in argument order", BAYS, ["-i", "1/1/3", "-i", "0/0/1"], HEAD + rows(7, 0) + "\n"),
        ("selected line", BAYS, ["-i", "0/1/1", "-M"], lines(2) + "\n"),
        ("no CellAssignments", UNASSIGNED, ["-I"], HEAD + chassis_row("io1", "Active", "yes", "c0", "?")
         + chassis_row("io2", "Active", "yes", "?", "-") + chassis_row("io3", "Absent      ", "-", "-", "-")),
        ("no CellAssignments, -A", UNASSIGNED, ["-I", "-A", "-M"],
         chassis_line("io2", "Active", "yes", "?", "-") + chassis_line("io3", "Absent      ", "-", "-", "-")),
        ("cell past the end of CellAssignments", SHORT_ASSIGNMENTS, ["-I", "-M"],
         chassis_line("io1", "Active", "yes", "c0", "1") + chassis_line("io2", "Active", "yes", "c6", "-")),
        # Wrong types read as not given; a slot without label or Populated
        # flag is "?" and populated; a cell slot without label connects as "".
        ("odd provider values", ODD_VALUES, ["-I", "-M"],
         chassis_line("io1", "?", "yes", "c0", "0") + chassis_line("io2", "Active", "yes", "?", "-")
         + chassis_line("?", "Active", "yes", "", "-")),
        ("no chassis", NO_CHASSIS, ["-I"], "", "\nError: Unable to get any I/O chassis information.\n", 1),
    ]


if __name__ == "__main__":
    unittest.main()
