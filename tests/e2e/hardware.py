"""Builders for small complex files, the fixed texts and line helpers of the
complex, cell and I/O chassis reports, and a runner for scenario tables.

Expected lines are written with `columns`, which puts each text at the
column the report gives it; the texts are written as the report shows them,
already cut to their width.
"""
from harness import Provider, ScenarioTest

# ComponentStatus codes (Unknown, Other, Absent, Powered off, Inactive, Active, Failed).
UNKNOWN, OTHER, ABSENT, POWERED_OFF, INACTIVE, ACTIVE, FAILED = range(7)
# CellUsage codes (?, Other, -, Base, "Base, no interleave", Floating).
USE_UNKNOWN, USE_OTHER, USE_NONE, USE_BASE, USE_BASE_NO_INTERLEAVE, USE_FLOATING = range(6)


def complex_file(complex_=None, **classes):
    """A complex file: complex_ is the XK_KestComplex record (profile 0 by
    default); each other keyword names a class without its XK_Kest prefix."""
    instances = {"XK_KestComplex": [complex_ or {"ProfileID": 0}]}
    instances.update({"XK_Kest" + name: list(items) for name, items in classes.items() if items})
    return {"namespaces": {"root/cimv2/kest": instances}}


def cell_slot(id_, label, populated=True, cabinet=0, **extra):
    return dict({"ID": id_, "CabinetID": cabinet, "Number": id_, "LongLabel": label, "Populated": populated}, **extra)


def cell(slot_id, status=ACTIVE, usage=USE_BASE, cpus=(4, 4, 4), memory=(8192, 8192), chassis=False, core_io=True,
         **extra):
    """cpus: (CPUCount, CPUCountOK, MaxCPUCount); memory: (installed, good)
    in MB; chassis: False (not connected) or the connected chassis ID. None
    anywhere sends a null value."""
    c = {"SlotID": slot_id, "ComponentStatus": status, "CellUsage": usage, "CPUCount": cpus[0],
         "CPUCountOK": cpus[1], "MaxCPUCount": cpus[2], "TotalMemoryInstalled": memory[0],
         "TotalMemoryOK": memory[1], "ConnectedToIOChassis": chassis is not False, "HasCoreIO": core_io}
    if chassis is not False:
        c["ConnectedIOChassisID"] = chassis
    return dict(c, **extra)


def io_slot(id_, label, populated=True, cabinet=0, bay=0, number=0, **extra):
    return dict({"ID": id_, "CabinetID": cabinet, "IOBayNumber": bay, "Number": number, "LongLabel": label,
                 "Populated": populated}, **extra)


def io_chassis(slot_id, status=ACTIVE, cell_id=None, core_io=True, **extra):
    """cell_id None: not connected."""
    c = {"SlotID": slot_id, "ComponentStatus": status, "Connected": cell_id is not None, "HasCoreIO": core_io}
    if cell_id is not None:
        c["ConnectedCellID"] = cell_id
    return dict(c, **extra)


def partition(id_, name="", next_boot=(), core_cell=255, failure_usage=(), **extra):
    return dict({"PartitionID": id_, "PartitionName": name, "CellUseOnNextBoot": list(next_boot),
                 "CoreCellID": core_cell, "FailureUsage": list(failure_usage)}, **extra)


def as_string(value):
    """A value sent with the wrong CIM type."""
    return {"$type": "string", "value": str(value)}


def columns(width, *fields):
    """A line of `width` blanks with each (column, text) written from its
    column; fields in column order, never overlapping nor running past the
    width (a case of texts overwriting each other is written out by hand)."""
    line, end = [" "] * width, 0
    for column, text in fields:
        if column < end or column + len(text) > width:
            raise ValueError("field %r at column %d overlaps or runs past the line" % (text, column))
        line[column:column + len(text)] = text
        end = column + len(text)
    return "".join(line)




def cell_row(location, usage, cpu, memory, connected, core, next_boot, partition_):
    """usage is the usage column as shown: the status, and a qualifier from its eighth character."""
    return columns(79, (0, location), (11, usage), (24, cpu), (32, memory), (42, connected), (62, core),
                   (70, next_boot), (75, partition_)) + "\n"


def cell_line(location, usage, cpu, memory, connected, core, next_boot, partition_):
    return columns(83, (0, "cell:"), (5, location), (15, ":"), (16, usage), (28, ":"), (29, cpu), (36, ":"),
                   (37, memory), (46, ":"), (47, connected), (66, ":"), (67, core), (74, ":"), (75, next_boot),
                   (79, ":"), (80, partition_)) + "\n"


def chassis_row(location, usage, core, connected, partition_):
    return columns(79, (0, location), (20, usage), (33, core), (38, connected), (49, partition_)) + "\n"


def chassis_line(location, usage, core, connected, partition_):
    return columns(79, (0, "chassis:"), (8, location), (27, ":"), (28, usage), (40, ":"), (41, core), (45, ":"),
                   (46, connected), (56, ":"), (57, partition_)) + "\n"


class ScenarioTable(ScenarioTest):
    """Runs every row of `scenarios`: (name, complex, args, stdout[, stderr,
    status]). The complex is a complex-file dict, or a (dict, extra provider
    arguments) pair; rows that share a complex share one provider."""

    scenarios = ()

    def test_scenarios(self):
        providers = {}
        try:
            for name, data, args, *expected in self.scenarios:
                with self.subTest(name):
                    if id(data) not in providers:
                        complex_, extra = data if isinstance(data, tuple) else (data, ())
                        providers[id(data)] = Provider(complex_, extra_args=extra)
                    self.check(providers[id(data)], args, *expected)
        finally:
            for p in providers.values():
                p.close()
