"""Small builders for complex files, and the fixed texts and column helpers
of the complex, cell and I/O chassis reports.

A scenario builds its complex from these so that each case shows the data
that matters to it; the expected report lines are written with `columns`,
which puts each text at the column the report gives it (the texts are
written as the report shows them, already cut to their width).
"""

NAMESPACE = "root/cimv2/kest"

# ComponentStatus codes of cells and I/O chassis (their ValueMap texts:
# Unknown, Other, Absent, Powered off, Inactive, Active, Failed).
UNKNOWN, OTHER, ABSENT, POWERED_OFF, INACTIVE, ACTIVE, FAILED = range(7)
# CellUsage codes (ValueMap: ?, Other, -, Base, "Base, no interleave", Floating).
USE_UNKNOWN, USE_OTHER, USE_NONE, USE_BASE, USE_BASE_NO_INTERLEAVE, USE_FLOATING = range(6)


def complex_file(complex_=None, cabinets=(), cell_slots=(), cells=(), io_slots=(), chassis=(), partitions=(),
                 faults=()):
    """A complex file with the given instances; the complex record defaults
    to profile 0 with no other property."""
    classes = {
        "XK_KestComplex": [complex_ if complex_ is not None else {"ProfileID": 0}],
        "XK_KestCabinet": list(cabinets),
        "XK_KestCellSlot": list(cell_slots),
        "XK_KestCell": list(cells),
        "XK_KestIOChassisSlot": list(io_slots),
        "XK_KestIOChassis": list(chassis),
        "XK_KestPartition": list(partitions),
    }
    data = {"namespaces": {NAMESPACE: {k: v for k, v in classes.items() if v}}}
    if faults:
        data["faults"] = list(faults)
    return data


def cell_slot(id_, label, populated=True, cabinet=0, number=None, **extra):
    slot = {"ID": id_, "CabinetID": cabinet, "Number": id_ if number is None else number, "LongLabel": label,
            "Populated": populated}
    slot.update(extra)
    return slot


def cell(slot_id, status=ACTIVE, usage=USE_BASE, cpus=(4, 4, 4), memory=(8192, 8192), chassis=False,
         core_io=True, **extra):
    """A cell: cpus is (CPUCount, CPUCountOK, MaxCPUCount), memory is
    (TotalMemoryInstalled, TotalMemoryOK) in MB, chassis is False for no
    connection or the ID of the connected I/O chassis. Any property may be
    overridden (None sends it as null)."""
    c = {"SlotID": slot_id, "ComponentStatus": status, "CellUsage": usage,
         "CPUCount": cpus[0], "CPUCountOK": cpus[1], "MaxCPUCount": cpus[2],
         "TotalMemoryInstalled": memory[0], "TotalMemoryOK": memory[1],
         "ConnectedToIOChassis": chassis is not False, "HasCoreIO": core_io}
    if chassis is not False:
        c["ConnectedIOChassisID"] = chassis
    c.update(extra)
    return c


def io_slot(id_, label, populated=True, cabinet=0, bay=0, number=None, **extra):
    slot = {"ID": id_, "CabinetID": cabinet, "IOBayNumber": bay, "Number": id_ if number is None else number,
            "LongLabel": label, "Populated": populated}
    slot.update(extra)
    return slot


def io_chassis(slot_id, status=ACTIVE, cell_id=None, core_io=True, **extra):
    """An I/O chassis; cell_id None means not connected."""
    c = {"SlotID": slot_id, "ComponentStatus": status, "Connected": cell_id is not None, "HasCoreIO": core_io}
    if cell_id is not None:
        c["ConnectedCellID"] = cell_id
    c.update(extra)
    return c


def partition(id_, name="", next_boot=(), core_cell=255, failure_usage=(), **extra):
    p = {"PartitionID": id_, "PartitionName": name, "CellUseOnNextBoot": list(next_boot), "CoreCellID": core_cell,
         "FailureUsage": list(failure_usage)}
    p.update(extra)
    return p


def cabinet(id_, type_=2, mp_status=(), mp_count=None, **extra):
    c = {"ID": id_, "CabinetType": type_, "ServiceProcessorCount": len(mp_status) if mp_count is None else mp_count,
         "ServiceProcessorStatus": list(mp_status)}
    c.update(extra)
    return c


def columns(width, *fields):
    """A line of `width` blanks with each (column, text) written from its
    column. The fields must be in column order and must not overlap, nor run
    past the width: a case where texts overwrite each other is written out
    by hand."""
    line = [" "] * width
    end = 0
    for column, text in fields:
        if column < end or column + len(text) > width:
            raise ValueError("field %r at column %d overlaps or runs past the line" % (text, column))
        line[column:column + len(text)] = text
        end = column + len(text)
    return "".join(line)


# The cell report.
CELL_HEADING = (
    "                        CPU     Memory                                Use\n"
    "                        OK/     (GB)                          Core    On\n"
    "Hardware   Actual       Deconf/ OK/                           Cell    Next Par\n"
    "Location   Usage        Max     Deconf    Connected To        Capable Boot Num\n"
    "========== ============ ======= ========= =================== ======= ==== ===\n")
CELL_HEADER = "\n\n[Cell]\n" + CELL_HEADING
CELL_NOTES = "\nNotes: * = Cell has no interleaved memory.\n"


def cell_row(location, usage, cpu, memory, connected, core, next_boot, partition_):
    """A cell row: usage is the 12-column usage field as shown (status, and
    the qualifier from its seventh column)."""
    return columns(79, (0, location), (11, usage), (24, cpu), (32, memory), (42, connected), (62, core),
                   (70, next_boot), (75, partition_)) + "\n"


def cell_line(location, usage, cpu, memory, connected, core, next_boot, partition_):
    """A "cell:" line, with the same fields as cell_row."""
    return columns(83, (0, "cell:"), (5, location), (15, ":"), (16, usage), (28, ":"), (29, cpu), (36, ":"),
                   (37, memory), (46, ":"), (47, connected), (66, ":"), (67, core), (74, ":"), (75, next_boot),
                   (79, ":"), (80, partition_)) + "\n"


# The I/O chassis report.
CHASSIS_HEADING = (
    "                                 Core Connected  Par\n"
    "Hardware Location   Usage        IO   To         Num\n"
    "=================== ============ ==== ========== ===\n")
CHASSIS_HEADER = "\n\n[Chassis]\n" + CHASSIS_HEADING


def chassis_row(location, usage, core, connected, partition_):
    return columns(79, (0, location), (20, usage), (33, core), (38, connected), (49, partition_)) + "\n"


def chassis_line(location, usage, core, connected, partition_):
    return columns(79, (0, "chassis:"), (8, location), (27, ":"), (28, usage), (40, ":"), (41, core), (45, ":"),
                   (46, connected), (56, ":"), (57, partition_)) + "\n"
