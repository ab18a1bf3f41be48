"""Partition report scenarios: -P, -P -M, -p, -p -M, -p -V, and display-all.

Each scenario is a small complex, a command line and the whole expected
standard output, standard error and exit status. Rows and lines are written
field by field at the columns the partition row, the "partition:" line, the
cell row and the I/O chassis row put them (see the helpers below).
"""
import copy
import unittest

from frames import CABINET_HEADER, CELL_HEADER, CHASSIS_HEADER, PARTITION_HEADER, CABINET_NOTES, CELL_NOTES, DEFAULT_NOTE
from harness import Provider, ScenarioTest, example

NS = "root/cimv2/kest"


def kest(**classes):
    """A complex file with one namespace holding the given classes."""
    return {"namespaces": {NS: classes}}


def line(width, *fields):
    """A line of `width` blanks with each (column, width, text) written in, in
    order, cut to its width (None: not cut); it may run on past `width`."""
    chars = [" "] * width
    for column, size, text in fields:
        if size is not None:
            text = text[:size]
        end = column + len(text)
        if end > len(chars):
            chars.extend(" " * (end - len(chars)))
        chars[column:end] = list(text)
    return "".join(chars) + "\n"


def partition_row(number, status, cells, chassis, core, name):
    return line(79, (0, 3, number), (4, 12, status), (17, 5, cells), (23, 8, chassis), (32, 10, core),
                (43, 30, name))


def partition_line(number, status, cells, chassis, core, name):
    return line(79, (0, None, "partition:"), (10, 3, number), (13, None, ":"), (14, 12, status), (26, None, ":"),
                (27, 5, cells), (32, None, ":"), (33, 8, chassis), (41, None, ":"), (42, 10, core),
                (52, None, ":"), (53, 30, name))


def cell_row(location, usage, qualifier, cpu, memory, connected, core, next_boot, partition):
    fields = [(0, 10, location), (11, None, usage)]
    if len(qualifier) > 1:
        fields.append((18, None, qualifier))
    fields += [(24, 7, cpu), (32, 9, memory), (42, 19, connected), (62, 7, core), (70, 4, next_boot),
               (75, 3, partition)]
    return line(79, *fields)


def chassis_row(location, usage, core_io, connected, partition):
    return line(79, (0, 19, location), (20, 12, usage), (33, 4, core_io), (38, 10, connected), (49, 3, partition))




def not_found(number):
    return "Error: Partition %s does not exist in this complex or is unavailable.\n" % number


def cell_slots(count, populated=lambda n: True):
    return [{"ID": n, "LongLabel": "Cab 0 Cell %d" % n, "Populated": populated(n)} for n in range(count)]


# Two partitions with core cells: partition 0 (cells 0 and 1, core cell 0
# running), partition 1 (cell 2, its core cell, inactive). Cell slot 3 is
# free and has no cell.
TWO_PARTITIONS = kest(
    XK_KestComplex=[{"ProfileID": 0, "CellAssignments": [0, 0, 1, 255]}],
    XK_KestCellSlot=cell_slots(4),
    XK_KestCell=[
        {"SlotID": 0, "ComponentStatus": 5, "ConnectedToIOChassis": True},
        {"SlotID": 1, "ComponentStatus": 4, "ConnectedToIOChassis": False},
        {"SlotID": 2, "ComponentStatus": 4, "ConnectedToIOChassis": True},
    ],
    XK_KestPartition=[
        {"PartitionID": 0, "PartitionName": "web", "CoreCellID": 0},
        {"PartitionID": 1, "PartitionName": "db", "CoreCellID": 2},
    ],
)
WEB_ROW = partition_row("0", "Active ", "2", "1", "Cab0Cell0", "web")
DB_ROW = partition_row("1", "Inactive    ", "1", "1", "Cab0Cell2", "db")

# Partitions without a core cell: the status comes from the first member
# with ComponentStatus 5, else the last with 4, else the last member.
REPRESENTATIVES = kest(
    XK_KestComplex=[{"ProfileID": 0, "CellAssignments": [3, 3, 3, 4, 4, 5, 5, 6]}],
    XK_KestCellSlot=cell_slots(8),
    XK_KestCell=[
        {"SlotID": 0, "ComponentStatus": 4, "ConnectedToIOChassis": True},
        {"SlotID": 1, "ComponentStatus": 5, "ConnectedToIOChassis": True},
        {"SlotID": 2, "ComponentStatus": 6, "ConnectedToIOChassis": None},
        {"SlotID": 3, "ComponentStatus": 4, "ConnectedToIOChassis": False},
        {"SlotID": 4, "ComponentStatus": None},
        {"SlotID": 5, "ComponentStatus": 6},
        {"SlotID": 6, "ComponentStatus": None},
        # cell 7 has a slot but no cell instance
    ],
    XK_KestPartition=[
        {"PartitionID": 3, "PartitionName": "three"},                      # no CoreCellID
        {"PartitionID": 4, "PartitionName": "four", "CoreCellID": None},   # null CoreCellID
        {"PartitionID": 5, "PartitionName": "five", "CoreCellID": 255},    # "no core cell" number
        {"PartitionID": 6, "PartitionName": "six"},
    ],
)

# No CellAssignments at all in the complex.
NO_ASSIGNMENTS = kest(
    XK_KestComplex=[{"ProfileID": 0}],
    XK_KestCellSlot=cell_slots(2),
    XK_KestCell=[{"SlotID": 0, "ComponentStatus": 5}],
    XK_KestPartition=[
        {"PartitionID": 0, "PartitionName": "cored", "CoreCellID": 0},
        {"PartitionID": 1, "PartitionName": "bare"},
        {"PartitionID": 2, "PartitionName": "ghost core", "CoreCellID": 1},  # slot 1 has no cell
    ],
)

# Partitions without member cells, a nameless one, and core cells that do
# not resolve.
EMPTY_PARTITIONS = kest(
    XK_KestComplex=[{"ProfileID": 0, "CellAssignments": [0, 255, 7]}],
    XK_KestCellSlot=cell_slots(3),
    XK_KestCell=[
        {"SlotID": 0, "ComponentStatus": 5},
        {"SlotID": 1, "ComponentStatus": 5},
    ],
    XK_KestPartition=[
        {"PartitionID": 0, "CoreCellID": 0},                               # no name
        {"PartitionID": 2, "PartitionName": "spare"},                      # no members, no core cell
        {"PartitionID": 3, "PartitionName": "empty", "CoreCellID": 255},   # no members, core 255
        {"PartitionID": 7, "PartitionName": "lost", "CoreCellID": 1},      # core cell slot 1 not a member,
        {"PartitionID": 8, "PartitionName": "nowhere", "CoreCellID": 9},   # core cell without a slot
    ],
)

LONG_NAMES = kest(
    XK_KestComplex=[{"ProfileID": 0, "CellAssignments": [0, 1]}],
    XK_KestCellSlot=cell_slots(2),
    XK_KestCell=[{"SlotID": 0, "ComponentStatus": 5}, {"SlotID": 1, "ComponentStatus": 5}],
    XK_KestPartition=[
        {"PartitionID": 0, "PartitionName": "abcdefghijklmnopqrstuvwxyz0123456789", "CoreCellID": 0},
        {"PartitionID": 1, "PartitionName": "twenty-eight characters long", "CoreCellID": 1},
    ],
)

NO_PARTITIONS = kest(
    XK_KestComplex=[{"ProfileID": 0, "CellAssignments": [255]}],
    XK_KestCellSlot=cell_slots(1),
    XK_KestCell=[{"SlotID": 0, "ComponentStatus": 5}],
)


class PartitionTable(ScenarioTest):
    """-P and -P -M: one row or line per partition, in provider order."""

    SCENARIOS = [
        # one row spelled out, the other through the column helper
        ("two partitions with core cells", TWO_PARTITIONS, ["-P"],
         PARTITION_HEADER + "0   Active       2     1        Cab0Cell0  web" + " " * 33 + "\n" + DB_ROW),
        ("machine-readable lines", TWO_PARTITIONS, ["-P", "-M"],
         "partition:0  :Active      :2    :1       :Cab0Cell0 :web" + " " * 23 + "\n"
         + partition_line("1", "Inactive    ", "1", "1", "Cab0Cell2", "db")),
        ("representative member without a core cell", REPRESENTATIVES, ["-P"],
         PARTITION_HEADER
         # first member with 5 (cell 1), not the last member (6 = failed)
         + partition_row("3", "Active ", "3", "2", "?", "three")
         # last member with 4 (cell 3), not the last member (null status)
         + partition_row("4", "Inactive    ", "2", "0", "?", "four")
         # neither 5 nor 4: the last member, whose status is null
         + partition_row("5", "unknown", "2", "0", "?", "five")
         # the only member has no cell instance
         + partition_row("6", "Inactive    ", "1", "0", "?", "six")),
        ("null CellAssignments", NO_ASSIGNMENTS, ["-P"],
         PARTITION_HEADER
         + partition_row("0", "Active ", "?", "?", "Cab0Cell0", "cored")
         + partition_row("1", "?", "?", "?", "-", "bare")
         + partition_row("2", "Inactive    ", "?", "?", "?", "ghost core")),
        ("partitions without members are listed", EMPTY_PARTITIONS, ["-P"],
         PARTITION_HEADER
         + partition_row("0", "Active ", "1", "0", "Cab0Cell0", "?")
         + partition_row("2", "", "0", "0", "-", "spare")
         + partition_row("3", "", "0", "0", "", "empty")
         + partition_row("7", "Active ", "1", "0", "Cab0Cell1", "lost")
         + partition_row("8", "Inactive    ", "0", "0", "?", "nowhere")),
        ("partitions without members, machine-readable", EMPTY_PARTITIONS, ["-P", "-M"],
         partition_line("0", "Active ", "1", "0", "Cab0Cell0", "?")
         + partition_line("2", "", "0", "0", "-", "spare")
         + partition_line("3", "", "0", "0", "", "empty")
         + partition_line("7", "Active ", "1", "0", "Cab0Cell1", "lost")
         + partition_line("8", "Inactive    ", "0", "0", "?", "nowhere")),
        ("long names are cut to 30 in the row", LONG_NAMES, ["-P"],
         PARTITION_HEADER
         + partition_row("0", "Active ", "1", "0", "Cab0Cell0", "abcdefghijklmnopqrstuvwxyz0123")
         + partition_row("1", "Active ", "1", "0", "Cab0Cell1", "twenty-eight characters long")),
        # 53 + 30 = 83 and 53 + 28 = 81 characters
        ("long names run the line on to 83 characters", LONG_NAMES, ["-P", "-M"],
         "partition:0  :Active      :1    :0       :Cab0Cell0 :abcdefghijklmnopqrstuvwxyz0123\n"
         "partition:1  :Active      :1    :0       :Cab0Cell1 :twenty-eight characters long\n"),
        ("no partitions", NO_PARTITIONS, ["-P"], PARTITION_HEADER + "No partitions found."),
        ("no partitions, machine-readable", NO_PARTITIONS, ["-P", "-M"], "No partitions found."),
    ]

    def test_scenarios(self):
        for name, complex_data, args, stdout in self.SCENARIOS:
            with self.subTest(name), Provider(complex_data) as provider:
                self.check(provider, args, stdout)

    def test_complex_without_cells_fails_the_load(self):
        no_cells = kest(XK_KestComplex=[{"ProfileID": 0, "CellAssignments": [0]}], XK_KestCellSlot=cell_slots(1),
                        XK_KestPartition=[{"PartitionID": 0, "CoreCellID": 0}])
        with Provider(no_cells) as provider:
            self.check(provider, ["-P"], "", "\nError: Unable to get any partition information.\n", 1)


class SelectedPartitions(ScenarioTest):
    """-p and -p -M: the named partitions in argument order, then an empty line."""

    SCENARIOS = [
        ("argument order", TWO_PARTITIONS, ["-p", "1", "-p", "0"],
         PARTITION_HEADER + DB_ROW + WEB_ROW + "\n", "", 0),
        ("unknown partition", TWO_PARTITIONS, ["-p", "1", "-p", "7", "-M"],
         partition_line("1", "Inactive    ", "1", "1", "Cab0Cell2", "db") + "\n", not_found(7), 1),
        ("partition without cells counts as absent", EMPTY_PARTITIONS, ["-p", "2"],
         PARTITION_HEADER + "\n", not_found(2), 1),
        ("absent ones are reported after the others", EMPTY_PARTITIONS, ["-p", "3", "-p", "0", "-p", "2", "-M"],
         partition_line("0", "Active ", "1", "0", "Cab0Cell0", "?") + "\n", not_found(3) + not_found(2), 1),
        ("representative member", REPRESENTATIVES, ["-p", "4"],
         PARTITION_HEADER + partition_row("4", "Inactive    ", "2", "0", "?", "four") + "\n", "", 0),
        ("complex without partitions", NO_PARTITIONS, ["-p", "0"], PARTITION_HEADER + "\n", not_found(0), 1),
    ]

    def test_scenarios(self):
        for name, complex_data, args, stdout, stderr, status in self.SCENARIOS:
            with self.subTest(name), Provider(complex_data) as provider:
                self.check(provider, args, stdout, stderr, status)


# A complex for the detail blocks: partition 0 with core cell 0 and member
# cell 1, each connected to an I/O chassis; partition 1 with core cell 2 and
# its chassis; partition 2 without a core cell, members 4 (running) and 5
# (inactive). Cell-local memory is requested whole for cell 0 (type 2), in
# half gigabytes for cell 1 (type 4, 3), in eighths for cell 2 (type 5, 2).
def detail_cell(slot, status, usage, cpus, cpus_ok, installed, good, chassis, core_io, speed, iodc, firmware,
                architecture, allocated, label):
    cell = {"SlotID": slot, "ComponentStatus": status, "CellUsage": usage, "MaxCPUCount": 4 if cpus > 2 else 2,
            "CPUCount": cpus, "CPUCountOK": cpus_ok, "TotalMemoryInstalled": installed, "TotalMemoryOK": good,
            "ConnectedToIOChassis": chassis is not None, "HasCoreIO": core_io, "CPUSpeed": speed,
            "IODCVersion": iodc, "FirmwareRevision": firmware, "CellArchitecture": architecture,
            "ActualGNIMemory": allocated, "CompatibilityLabel": label}
    if chassis is not None:
        cell["ConnectedIOChassisID"] = chassis
    return cell


DETAILS = kest(
    XK_KestComplex=[{"ProfileID": 0, "CellAssignments": [0, 0, 1, 255, 2, 2],
                     "GNISpecType": [2, 4, 5, 0, 3, 3], "GNIPerCell": [0, 3, 2, 0, 0, 0]}],
    XK_KestCellSlot=cell_slots(6, populated=lambda n: n != 3),
    XK_KestCell=[
        detail_cell(0, 5, 3, 4, 4, 16384, 16384, 10, True, 1600, 0x1a2b, "44.12", 3, 2048, "CPU-Gen2"),
        detail_cell(1, 5, 4, 4, 3, 16384, 8192, 11, False, 1500, 255, "44.10", 2, 1024, "CPU-Gen1"),
        detail_cell(2, 4, 3, 2, 2, 16384, 16384, 12, True, 1400, 0x1000, "43.01", 2, 4096, "CPU-Gen1"),
        detail_cell(4, 5, 5, 4, 4, 8192, 8192, None, False, 1000, 16, "40.1", 2, 1024, "CPU-Gen0"),
        detail_cell(5, 4, 3, 4, 4, 8192, 8192, None, False, 2000, 32, "45.0", 3, 0, "CPU-Gen3"),
    ],
    XK_KestIOChassisSlot=[
        {"ID": 10, "LongLabel": "Cab 0 Bay 0 Chassis 1", "Populated": True},
        {"ID": 11, "LongLabel": "Cab 0 Bay 1 Chassis 3", "Populated": True},
        {"ID": 12, "LongLabel": "Cab 1 Bay 0 Chassis 1", "Populated": True},
    ],
    XK_KestIOChassis=[
        {"SlotID": 10, "ComponentStatus": 5, "Connected": True, "ConnectedCellID": 0, "HasCoreIO": True},
        {"SlotID": 11, "ComponentStatus": 5, "Connected": True, "ConnectedCellID": 1, "HasCoreIO": False},
        {"SlotID": 12, "ComponentStatus": 5, "Connected": True, "ConnectedCellID": 2, "HasCoreIO": True},
    ],
    XK_KestPartition=[
        {"PartitionID": 0, "PartitionName": "web", "CoreCellID": 0,
         "CoreCellChoices": [0, 1, 3, 9, 2],  # 9 names no slot; the fifth is never shown
         "CellUseOnNextBoot": [True, False, False, False, False, False],
         "PrimaryBootPath": "0/0/1/0.0", "AlternateBootPath": None, "AdminIPAddress": "10.0.0.5"},
        {"PartitionID": 1, "PartitionName": "db", "CoreCellID": 2, "CoreCellChoices": [2],
         "CellUseOnNextBoot": [False, False, True, False, False, False],
         "PrimaryBootPath": "1/0/0/1.0", "AlternateBootPath": "1/0/0/2.0", "HAAlternateBootPath": "1/0/0/3.0",
         "AdminIPAddress": "10.0.0.6"},
        {"PartitionID": 2, "PartitionName": "batch",
         "CellUseOnNextBoot": [False, False, False, False, True, False]},
    ],
)

WEB_BLOCK = (
    "[Partition]\n"
    "Partition Number       : 0\n"
    "Partition Name         : web\n"
    "Status                 : Active \n"
    "IP Address             : 10.0.0.5\n"
    "Primary Boot Path      : 0/0/1/0.0\n"
    "Alternate Boot Path    : -\n"
    "HA Alternate Boot Path : -\n"
    "System F/W Revision    : 44.12\n"
    "IODCH Version          : 1a2b\n"
    "Cell Architecture      : VX_ARCH\n"
    "CPU Compatibility      : CPU-Gen2\n"
    "CPU Speed              : 1600 MHz\n"
    "Core Cell              : Cab0Cell0\n"
    "Core Cell Choice [0]   : Cab0Cell0\n"
    "Core Cell Choice [1]   : Cab0Cell1\n"
    "Core Cell Choice [2]   : Cab0Cell3\n"
    "Total Good Memory Size : 24.0 GB \n"   # 16384 + 8192 MB
    "Total Interleave Memory: 21.0 GB \n"   # 24 - 3
    "Total Requested CLM    : 17.5 GB \n"   # all of cell 0 (16) + 3 half gigabytes of cell 1
    "Total Allocated CLM    : 3.0 GB \n")   # 2048 + 1024 MB
WEB_DEVICES = (
    CELL_HEADER
    + cell_row("Cab0Cell0", "Active", "Core", "4/0/4", "16.0/0.0", "Cab0Bay0Chassis1", "yes", "yes", "0")
    + cell_row("Cab0Cell1", "Active", "Base*", "3/1/4", "8.0/8.0", "Cab0Bay1Chassis3", "no ", "no ", "0")
    + CELL_NOTES
    + CHASSIS_HEADER + chassis_row("Cab0Bay0Chassis1", "Active", "yes", "Cab0Cell0", "0")
    + CHASSIS_HEADER + chassis_row("Cab0Bay1Chassis3", "Active", "-", "Cab0Cell1", "0")
    + "\n\n")

DB_BLOCK = (
    "[Partition]\n"
    "Partition Number       : 1\n"
    "Partition Name         : db\n"
    "Status                 : Inactive    \n"
    "IP Address             : 10.0.0.6\n"
    "Primary Boot Path      : 1/0/0/1.0\n"
    "Alternate Boot Path    : 1/0/0/2.0\n"
    "HA Alternate Boot Path : 1/0/0/3.0\n"
    "System F/W Revision    : 43.01\n"
    "IODCH Version          : 1000\n"
    "Cell Architecture      : KX_ARCH\n"
    "CPU Compatibility      : CPU-Gen1\n"
    "CPU Speed              : 1400 MHz\n"
    "Core Cell              : Cab0Cell2\n"
    "Core Cell Choice [0]   : Cab0Cell2\n"
    "Total Good Memory Size : 16.0 GB \n"
    "Total Interleave Memory: 12.0 GB \n"
    "Total Requested CLM    : 4.0 GB \n"    # 2 eighths of 16 GB
    "Total Allocated CLM    : 4.0 GB \n")
DB_DEVICES = (
    CELL_HEADER
    + cell_row("Cab0Cell2", "Inactive", "", "2/0/2", "16.0/0.0", "Cab1Bay0Chassis1", "yes", "yes", "1")
    + CELL_NOTES
    + CHASSIS_HEADER + chassis_row("Cab1Bay0Chassis1", "Active", "yes", "Cab0Cell2", "1")
    + "\n\n")

# Without a core cell the details come from the representative member (cell
# 4, the first running one); the IODC version shows "?" whatever it gives.
BATCH_BLOCK = (
    "[Partition]\n"
    "Partition Number       : 2\n"
    "Partition Name         : batch\n"
    "Status                 : Active \n"
    "IP Address             : -\n"
    "Primary Boot Path      : -\n"
    "Alternate Boot Path    : -\n"
    "HA Alternate Boot Path : -\n"
    "System F/W Revision    : 40.1\n"
    "IODCH Version          : ?\n"
    "Cell Architecture      : KX_ARCH\n"
    "CPU Compatibility      : CPU-Gen0\n"
    "CPU Speed              : 1000 MHz\n"
    "Core Cell              : ?\n"
    "Total Good Memory Size : 16.0 GB \n"
    "Total Interleave Memory: 15.0 GB \n"
    "Total Requested CLM    : 0.0 GB \n"    # type 3 requests nothing
    "Total Allocated CLM    : 1.0 GB \n")
BATCH_DEVICES = (
    CELL_HEADER
    + cell_row("Cab0Cell4", "Active", "Float", "4/0/4", "8.0/0.0", "-", "no ", "yes", "2")
    + cell_row("Cab0Cell5", "Inactive", "", "4/0/4", "8.0/0.0", "-", "no ", "no ", "2")
    + CELL_NOTES
    + "\n\n")

# Cell-local memory settings that stop short of the member cells, and no I/O
# chassis at all (so the device listing fails after the block).
SHORT_SETTINGS = kest(
    XK_KestComplex=[{"ProfileID": 0, "CellAssignments": [0, 0, 0],
                     "GNISpecType": [4, 4], "GNIPerCell": [3]}],
    XK_KestCellSlot=cell_slots(3),
    XK_KestCell=[
        {"SlotID": 0, "ComponentStatus": 5, "TotalMemoryOK": 4096},
        {"SlotID": 1, "ComponentStatus": 5, "TotalMemoryOK": 4096},
        {"SlotID": 2, "ComponentStatus": 5, "TotalMemoryOK": 4096},
    ],
    XK_KestPartition=[{"PartitionID": 0, "CoreCellID": 0}],
)
SHORT_BLOCK = (
    "[Partition]\n"
    "Partition Number       : 0\n"
    "Partition Name         : ?\n"
    "Status                 : Active \n"
    "IP Address             : -\n"
    "Primary Boot Path      : -\n"
    "Alternate Boot Path    : -\n"
    "HA Alternate Boot Path : -\n"
    "System F/W Revision    : ?\n"
    "IODCH Version          : ?\n"
    "Cell Architecture      : ?\n"
    "CPU Compatibility      : ?\n"
    "CPU Speed              : 0 MHz\n"
    "Core Cell              : Cab0Cell0\n"
    "Total Good Memory Size : 12.0 GB \n"
    "Total Interleave Memory: 12.0 GB \n"
    "Total Requested CLM    : 1.5 GB \n"    # only cell 0 has both settings
    "Total Allocated CLM    : 0.0 GB \n")


# DETAILS with a partition that no cell is assigned to: it counts as absent,
# yet -V still lists its (no) devices: the cell notes and the empty lines.
DETAILS_WITH_EMPTY = copy.deepcopy(DETAILS)
DETAILS_WITH_EMPTY["namespaces"][NS]["XK_KestPartition"].append({"PartitionID": 6, "PartitionName": "spare"})
EMPTY_DEVICES = CELL_NOTES + "\n\n"


class PartitionDetails(ScenarioTest):
    """-p -V: the detail block, then the partition's cells and I/O chassis."""

    SCENARIOS = [
        ("two cells and two I/O chassis", DETAILS, ["-p", "0", "-V"],
         WEB_BLOCK + WEB_DEVICES + "\n", "", 0),
        ("eighths of a cell requested", DETAILS, ["-p", "1", "-V"],
         DB_BLOCK + DB_DEVICES + "\n", "", 0),
        ("second request after the device listing", DETAILS, ["-p", "2", "-p", "0", "-V"],
         BATCH_BLOCK + BATCH_DEVICES + WEB_BLOCK + WEB_DEVICES + "\n", "", 0),
        ("unknown partition among detailed ones", DETAILS, ["-p", "5", "-p", "1", "-V"],
         DB_BLOCK + DB_DEVICES + "\n", not_found(5), 1),
        ("machine-readable line", DETAILS, ["-p", "2", "-M"],
         partition_line("2", "Active ", "2", "0", "?", "batch") + "\n", "", 0),
        ("settings shorter than the cell numbers", SHORT_SETTINGS, ["-p", "0", "-V"],
         SHORT_BLOCK + "\n", "Error: Unable to display cell and I/O chassis information.", 1),
        ("partition without cells", DETAILS_WITH_EMPTY, ["-p", "6", "-V"],
         EMPTY_DEVICES + "\n", not_found(6), 1),
        ("partition without cells before one with cells", DETAILS_WITH_EMPTY, ["-p", "6", "-p", "1", "-V"],
         EMPTY_DEVICES + DB_BLOCK + DB_DEVICES + "\n", not_found(6), 1),
    ]

    def test_scenarios(self):
        for name, complex_data, args, stdout, stderr, status in self.SCENARIOS:
            with self.subTest(name), Provider(complex_data) as provider:
                self.check(provider, args, stdout, stderr, status)

    def test_table_of_the_same_complex(self):
        with Provider(DETAILS) as provider:
            self.check(provider, ["-P"],
                       PARTITION_HEADER
                       + partition_row("0", "Active ", "2", "2", "Cab0Cell0", "web")
                       + partition_row("1", "Inactive    ", "1", "1", "Cab0Cell2", "db")
                       + partition_row("2", "Active ", "2", "0", "?", "batch"))


# The smallest complete complex: one cabinet with one blower domain, one
# empty cell slot, one empty I/O bay, no partition.
TINY = kest(
    XK_KestComplex=[{"ProfileID": 0, "ComplexName": "tiny", "ModelString": "KX1", "CellAssignments": [255]}],
    XK_KestCabinet=[{"ID": 0, "CabinetType": 5, "ServiceProcessorCount": 1, "ServiceProcessorStatus": [2]}],
    XK_KestPowerCoolingDomain=[
        {"ID": 0, "CabinetID": 0, "DomainType": 3, "DomainSubtype": 2, "RedundancyState": 3,
         "UnitPresent": [True, True], "UnitFailed": [False, False], "LongUnitLabel": ["B0", "B1"]}],
    XK_KestCellSlot=[{"ID": 0, "LongLabel": "Cab 0 Cell 0", "Populated": False}],
    XK_KestCell=[{"SlotID": 0, "ComponentStatus": 2}],
    XK_KestIOChassisSlot=[{"ID": 1, "LongLabel": "Cab 0 Bay 0 Chassis 1", "Populated": False}],
    XK_KestIOChassis=[{"SlotID": 1, "ComponentStatus": 5, "Connected": False, "HasCoreIO": True}],
)
TINY_COMPLEX = (
    "[Complex]\n"
    "   Complex Name : tiny\n"
    "   Complex Capacity\n"
    "     Compute Cabinet (2 cell capable) : 1\n"
    "   Active MP Location : cabinet 0\n"
    "   Model : KX1\n"
    "   Original Serial Number : ?\n"
    "   Original Product Order Number : ?\n"
    "   Original Manufacturer : ?\n"
    "   Complex Profile Revision : ?\n"
    "   The total number of partitions present : 0\n\n")
TINY_CABINETS = (
    CABINET_HEADER
    + line(79, (0, 3, "0"), (4, 12, "Compute 2"), (18, 9, "2/0/N"), (28, 9, "-"), (38, 10, "-"), (50, 12, "-"),
           (65, 6, "Active"))
    + CABINET_NOTES)
TINY_AFTER_CABINETS = (
    CELL_HEADER
    + cell_row("Cab0Cell0", "Absent      ", " ", "-", "-", "-", "-", "-", "-")
    + CELL_NOTES
    + CHASSIS_HEADER
    + chassis_row("Cab0Bay0Chassis1", "Absent      ", "-", "-", "-")
    + PARTITION_HEADER
    + "No partitions found.")
TINY_OUTPUT = TINY_COMPLEX + TINY_CABINETS + TINY_AFTER_CABINETS


def default_cabinets():
    row = lambda *f: line(79, *f)  # noqa: E731
    return (
        CABINET_HEADER
        + row((0, 3, "0"), (4, 12, "Compute 8"), (18, 9, "4/0/N+"), (28, 9, "5/1/N"), (38, 10, "6/0/N+"),
              (50, 12, "2/0/N+"), (65, 6, "Active"))
        + row((0, 3, "1"), (4, 12, "Compute 8"), (18, 9, "3/0/N"), (28, 9, "6/0/N+"), (38, 10, "3/0/N+"),
              (50, 12, "2/0/N+"), (65, 6, "Backup"))
        + row((38, 10, "2/1/N"))
        + row((0, 3, "8"), (4, 12, "IO Expansion"), (18, 9, "2/0/N+"), (28, 9, "6/2/N-"), (38, 10, "1/1/N"),
              (50, 12, "-"), (65, 6, "-"))
        + CABINET_NOTES)


DEFAULT_OUTPUT = (
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
    "   The total number of partitions present : 4\n\n"
    + default_cabinets()
    + CELL_HEADER
    + cell_row("cab0,cell0", "Active", "Core", "4/0/4", "128.0/0.0", "cab0,bay0,chassis1", "yes", "yes", "0")
    + cell_row("cab0,cell1", "Active", "Base", "4/0/4", "128.0/0.0", "-", "no ", "yes", "0")
    + cell_row("cab0,cell2", "Active", "Base", "4/0/4", "120.0/8.0", "cab8,bay0,chassis1", "no ", "yes", "0")
    + cell_row("cab0,cell3", "Active", "Base*", "4/0/4", "64.0/0.0", "-", "no ", "yes", "0")
    + cell_row("cab0,cell4", "Active", "Core", "4/0/4", "128.0/0.0", "cab0,bay0,chassis3", "yes", "yes", "1")
    + cell_row("cab0,cell5", "Active", "Float", "2/0/4", "128.0/0.0", "-", "no ", "yes", "1")
    + cell_row("cab0,cell6", "Inactive", "", "4/0/4", "64.0/0.0", "-", "no ", "-", "-")
    + cell_row("cab0,cell7", "Absent      ", " ", "-", "-", "-", "-", "-", "-")
    + cell_row("cab1,cell0", "Active", "Core", "4/0/4", "48.0/0.0", "cab1,bay0,chassis1", "yes", "yes", "2")
    + cell_row("cab1,cell1", "Active", "Base", "3/1/4", "48.0/0.0", "-", "no ", "yes", "2")
    + cell_row("cab1,cell2", "Active", "Base", "2/0/4", "48.0/0.0", "-", "no ", "yes", "2")
    + cell_row("cab1,cell3", "Inactive", "", "4/0/4", "128.0/0.0", "cab8,bay1,chassis1", "yes", "yes", "3")
    + cell_row("cab1,cell4", "Powered off", "", "4/0/4", "128.0/0.0", "-", "no ", "no ", "3")
    + cell_row("cab1,cell5", "Absent      ", " ", "-", "-", "-", "-", "-", "-")
    + cell_row("cab1,cell6", "Absent      ", " ", "-", "-", "-", "-", "-", "-")
    + cell_row("cab1,cell7", "Absent      ", " ", "-", "-", "-", "-", "-", "-")
    + CELL_NOTES
    + CHASSIS_HEADER
    + chassis_row("cab0,bay0,chassis1", "Active", "yes", "cab0,cell0", "0")
    + chassis_row("cab0,bay0,chassis3", "Active", "yes", "cab0,cell4", "1")
    + chassis_row("cab1,bay0,chassis1", "Active", "yes", "cab1,cell0", "2")
    + chassis_row("cab1,bay0,chassis3", "Inactive", "yes", "?", "-")
    + chassis_row("cab8,bay0,chassis1", "Active", "-", "cab0,cell2", "0")
    + chassis_row("cab8,bay0,chassis3", "Absent      ", "-", "-", "-")
    + chassis_row("cab8,bay1,chassis1", "Powered off", "?", "?", "?")
    + chassis_row("cab8,bay1,chassis3", "Absent      ", "-", "-", "-")
    + PARTITION_HEADER
    + partition_row("0", "Active ", "4", "2", "cab0,cell0", "db01")
    + partition_row("1", "Active ", "2", "1", "cab0,cell4", "web frontend and reverse proxi")
    + partition_row("2", "Active ", "3", "1", "cab1,cell0", "app01")
    + partition_row("3", "Inactive    ", "2", "1", "?", "test (staging)"))


class DisplayAll(ScenarioTest):
    """The partition section closes the full report."""

    def test_no_partitions_found_ends_the_output(self):
        with Provider(TINY) as provider:
            self.check(provider, [], TINY_OUTPUT, DEFAULT_NOTE, 0)

    def test_default_example_line_by_line(self):
        from harness import run
        with Provider(example("default.json")) as provider:
            out, err, status = run([], env=provider.env)
        expected = DEFAULT_OUTPUT.split("\n")
        actual = out.split("\n")
        for number, (want, got) in enumerate(zip(expected, actual), 1):
            self.assertEqual(got, want, "line %d of the display-all output" % number)
        self.assertEqual(len(actual), len(expected), "number of lines of the display-all output")
        self.assertEqual(err, DEFAULT_NOTE)
        self.assertEqual(status, 0)


if __name__ == "__main__":
    unittest.main()
