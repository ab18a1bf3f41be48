"""The cell report: rows (-C, -c), "cell:" lines (-M), the -A filter and the
detail blocks (-c ... -V)."""
import json
import os
import tempfile
import unittest

import hardware as hw
from harness import KEST_SCHEMA
from frames import CELL_HEADER as HEAD, CELL_NOTES as NOTES
from hardware import (ACTIVE, FAILED, INACTIVE, OTHER, POWERED_OFF, UNKNOWN, USE_BASE, USE_BASE_NO_INTERLEAVE,
                      USE_FLOATING, USE_NONE, as_string, cell, cell_line,
                      cell_row, cell_slot, complex_file, io_slot, partition)

KX, VX = 2, 3  # CellArchitecture codes
LONG_LABEL = "Cabinet 0 " + "X" * 100

# Slot 2 is empty, slot 3 holds no cell instance; the others show one fact each (see ROWS).
CELLS = complex_file(
    {"ProfileID": 0, "CellAssignments": [0, 0, 255, 1, 1, 255, 255, 2, 2, 255, 255, 255, 0],
     "GNISpecType": [5, 4, 3, 3, 3, 2], "GNIPerCell": [2, 3, 0, 0, 0, 0]},
    CellSlot=[cell_slot(i, LONG_LABEL if i == 5 else "Cab 0 Cell %d" % i, populated=i != 2) for i in range(13)],
    Cell=[
        cell(0, ACTIVE, USE_BASE, (3, 2, 4), (10240, 8192), chassis=1, IODCVersion=0x1A2B, CPUSpeed=1600,
             CPUStatus=[2, 1, 3, 2], CellArchitecture=KX, FirmwareRevision="5.2.1", ActualGNIMemory=1536,
             CompatibilityLabel="KX-2", DIMMLabel=["0A", "0B", "1A", "1B"], DIMMSize=[0, 4096, 4096, 2048],
             DIMMStatus=[1, 7, 7, 4]),
        cell(1, ACTIVE, USE_BASE_NO_INTERLEAVE, (2, 1, 2), (16384, None), core_io=False, CPUStatus=[2, 4],
             CellArchitecture=VX, ActualGNIMemory=0, DIMMLabel=["0A"], DIMMSize=[4096], DIMMStatus=[7]),
        cell(4, INACTIVE, USE_BASE_NO_INTERLEAVE, (None, 2, 8), (147456, 131072), chassis=7),
        cell(5, ACTIVE, USE_FLOATING, (None, None, 4), (16384, 16384), ConnectedToIOChassis=None, HasCoreIO=None,
             CPUStatus=[2, 2, 2, 2], CPUSpeed=1000, CellArchitecture=KX, FirmwareRevision="5.0",
             ActualGNIMemory=2048, DIMMLabel=["A"], DIMMSize=[8192, 8192], DIMMStatus=[7, 7, 1, 1]),
        cell(6, None, USE_BASE, (4, 4, None), (None, 8192), core_io=False),
        cell(7, POWERED_OFF, USE_BASE, (4, 2, 4), (4096, 4096)),
        cell(8, ACTIVE, USE_BASE_NO_INTERLEAVE, (2, 2, 2), (2048, 2048)),
        cell(9, FAILED, USE_BASE, (1, 1, 1), (1024, 1024), chassis=3, core_io=False),
        cell(10, UNKNOWN), cell(11, OTHER), cell(12, ACTIVE, USE_NONE)],
    IOChassisSlot=[io_slot(1, "Cab 0 Bay 0 Chassis 1"), io_slot(3, "Cabinet 0 Bay 1 Chassis 3")],
    Partition=[partition(0, "alpha", [True, False], core_cell=0, failure_usage=[2, 3]),
               partition(1, "beta", [False, False, False, True, False], core_cell=3),
               partition(2, "gamma", core_cell=7, CellUseOnNextBoot=None)])

ABSENT = ("Absent      ", "-", "-", "-", "-")
ROWS = [
    ("Cab0Cell0", "Active Core", "2/1/4", "8.0/2.0", "Cab0Bay0Chassis1", "yes", "yes", "0"),  # core cell, usage 3
    ("Cab0Cell1", "Active Base*", "1/1/2", "0.0/16.0", "-", "no ", "no ", "0"),  # usage 4, no TotalMemoryOK
    ("Cab0Cell2",) + ABSENT + ("-", "-"),  # empty slot
    ("Cab0Cell3",) + ABSENT + ("yes", "1"),  # populated slot without cell
    ("Cab0Cell4", "Inactive", "0/0/8", "128.0/16.", "", "yes", "no ", "1"),  # chassis 7 is in no slot
    ("Cabinet0XX", "Active Float", "0/0/4", "16.0/0.0", "?", "?", "-", "-"),
    ("Cab0Cell6", "?", "?", "?", "-", "no ", "-", "-"),
    ("Cab0Cell7", "Powered off", "2/2/4", "4.0/0.0", "-", "yes", "?", "2"),  # core cell of partition 2
    ("Cab0Cell8", "Active Base*", "2/0/2", "2.0/0.0", "-", "yes", "?", "2"),
    ("Cab0Cell9", "Failed Base", "1/0/1", "1.0/0.0", "Cabinet0Bay1Chassis", "no ", "-", "-"),
    ("Cab0Cell10", "Unknown", "4/0/4", "8.0/0.0", "-", "yes", "-", "-"),
    ("Cab0Cell11", "Other", "4/0/4", "8.0/0.0", "-", "yes", "-", "-"),
    ("Cab0Cell12", "Active", "4/0/4", "8.0/0.0", "-", "yes", "?", "0"),  # past the end of CellUseOnNextBoot
]
AVAILABLE = [2, 5, 6, 9, 10, 11]


def rows(*indexes):
    return "".join(cell_row(*ROWS[i]) for i in indexes)


def lines(*indexes):
    return "".join(cell_line(*ROWS[i]) for i in indexes)


def short_block(location, number, usage):
    return ("[Cell]\nHardware Location      : %s\nGlobal Cell Number     : %s\nActual Usage           : %s\n"
            "Connected To           : -\nCore Cell Capable      : -\nFirmware Revision      : -\n\n\n"
            % (location, number, usage))


def full_block(location, number, usage, normal, connected, core, firmware, failure, next_boot, partition_, name,
               requested, allocated, architecture, compatibility, cpu_type, speed, cpu_lines, cpus, dimm_lines,
               dimms, memory):
    """cpus and dimms: (OK, Deconf, Max); memory: (OK, Deconf) as printed."""
    labelled = [("Hardware Location", location), ("Global Cell Number", number), ("Actual Usage", usage),
                ("Normal Usage", normal), ("Connected To", connected), ("Core Cell Capable", core),
                ("Firmware Revision", firmware), ("Failure Usage", failure), ("Use On Next Boot", next_boot),
                ("Partition Number", partition_), ("Partition Name", name), ("Requested CLM value", requested),
                ("Allocated CLM value", allocated), ("Cell Architecture Type", architecture),
                ("CPU Compatibility", compatibility)]
    return ("[Cell]\n" + "".join("%-23s: %s\n" % pair for pair in labelled)
            + "\n[CPU Details]\n\nType  : %s\nSpeed : %s\nCPU  Status\n===  ======\n" % (cpu_type, speed)
            + "".join(line + "\n" for line in cpu_lines)
            + "\nCPUs\n===========\nOK     : %s\nDeconf : %s\nMax    : %s\n" % cpus
            + "\n[Memory Details]\n\nDIMM Size (MB) Status\n==== ========= =========\n"
            + "".join(line + "\n" for line in dimm_lines)
            + "\nMemory\n=========================\nDIMM OK       : %s\nDIMM Deconf   : %s\nMax DIMMs     : %s\n" % dimms
            + "Memory OK     : %s GB\nMemory Deconf : %s GB\n\n" % memory)


BLOCK_0 = full_block(
    "Cab0Cell0", "0", "Active Core", "Base", "Cab0Bay0Chassis1", "yes", "5.2.1", "Deconfigure", "yes", "0", "alpha",
    "25.0 % (2.0 GB)", "1.5 GB", "KX_ARCH", "KX-2", "1A2B", "1600 MHz",
    ["0    OK", "1    Absent      ", "2    Deconfigured", "3    OK"], ("2", "1", "4"),
    ["0B   4096      OK", "1A   4096      OK", "1B   2048      Deconfigured"], ("2", "1", "4"), ("8.00", "2.00"))
# Base* is not shown here; a VX cell without IODC version is of type "unknown".
BLOCK_1 = full_block(
    "Cab0Cell1", "1", "Active", "Base, no interleave", "-", "no ", "?", "Reactivate", "no ", "0", "alpha",
    "1.5 GB", "0.0 GB", "VX_ARCH", "?", "unknown", "255 MHz", ["0    OK", "1    Failed"], ("1", "1", "2"),
    [], ("0", "0", "0"), ("0.00", "16.00"))
# Without CPUCount no CPU detail is gathered; the DIMM past the end of the
# label array is listed with "?"; the location is cut to 79 characters.
BLOCK_5 = full_block(
    ("Cabinet0" + "X" * 100)[:79], "5", "Active", "Floating", "?", "?", "5.0", "-", "-", "-", "-",
    "100 % (16.0 GB)", "2.0 GB", "KX_ARCH", "", "0", "0 MHz", [], ("0", "0", "4"),
    ["A    8192      OK", "?    8192      OK"], ("2", "0", "4"), ("16.00", "0.00"))


def clm_cell(i, architecture=KX, iodc=0xFF):
    return cell(i, ACTIVE, USE_BASE, (1, 1, 1), (2048, 2048), IODCVersion=iodc, CPUSpeed=800, CPUStatus=[2],
                CellArchitecture=architecture, FirmwareRevision="4.0", CompatibilityLabel="K",
                DIMMLabel=["DIMM 0 SLOT A LONG"], DIMMSize=[2048], DIMMStatus=[7])


# CLM requests of spec types 3, 0, 1, 6 and 4, and a cell past the end of
# the arrays; cells 4 to 6 have no IODC version. No CellAssignments.
CLM = complex_file(
    {"ProfileID": 1}, CellSlot=[cell_slot(i, "c%d" % i) for i in range(7)],
    Cell=[clm_cell(0), clm_cell(1), clm_cell(2), clm_cell(3), clm_cell(4, VX, None), clm_cell(5, KX, None),
          clm_cell(6, None, None)],
    IOChassisSlot=[io_slot(1, "io1")])
CLM["namespaces"]["root/cimv2/kest"]["XK_KestComplex"].append(
    {"ProfileID": 0, "GNISpecType": [3, 0, 1, 6, 4, 4], "GNIPerCell": [9, 9, 9, 9, 0, 1]})


def clm_block(i, requested, architecture="KX_ARCH", cpu_type="FF"):
    # The DIMM label runs on: the size overwrites it from column 5, the
    # status from column 15, where the line ends.
    return full_block("c%d" % i, str(i), "Active", "Base", "-", "yes", "4.0", "?", "?", "?", "?", requested,
                      "0.0 GB", architecture, "K", cpu_type, "800 MHz", ["0    OK"], ("1", "0", "1"),
                      ["DIMM 2048OT A LOK"], ("1", "0", "1"), ("2.00", "0.00"))


def single(assignments, cells, partitions=(), slots=None):
    return complex_file({"ProfileID": 0, "CellAssignments": assignments} if assignments is not None else None,
                        CellSlot=slots or [cell_slot(c["SlotID"], "c%d" % c["SlotID"]) for c in cells], Cell=cells,
                        IOChassisSlot=[io_slot(1, "io1")], Partition=partitions)


UNASSIGNED = single(None, [cell(0)], [partition(0, "p0", [True], core_cell=0)],
                    [cell_slot(0, "c0"), cell_slot(1, "c1", populated=False)])
SHORT_ASSIGNMENTS = single([1], [cell(0), cell(1)], [partition(1, "p1", [False, True])])
NO_PARTITIONS = single([1], [cell(0)])
UNKNOWN_PARTITION = single([7], [cell(0)], [partition(0, "p0", [True])])
WRONG_TYPES = single([255], [cell(0, as_string(ACTIVE), cpus=(4, 4, as_string(4)), memory=(as_string(8192), 8192),
                                   HasCoreIO=as_string("true")),
                             cell(1, chassis=as_string(1)), cell(2, ACTIVE, USE_FLOATING, chassis=None)],
                     slots=[cell_slot(0, "c0"), cell_slot(1, "c1"), cell_slot(2, None)])
NO_CELLS = single([255], [], slots=[cell_slot(0, "c0")])


def long_status_schema(directory):
    """The schema with a "Failed" text far longer than a row."""
    with open(KEST_SCHEMA, encoding="utf-8") as f:
        schema = json.load(f)
    cell_class = next(c for c in schema["classes"] if c["name"] == "XK_KestCell")
    next(p for p in cell_class["properties"] if p["name"] == "ComponentStatus")["valueMap"][FAILED] = \
        "Failed " + "x" * 80
    path = os.path.join(directory, "schema.json")
    with open(path, "w", encoding="utf-8") as f:
        json.dump(schema, f)
    return path


SCHEMA_DIR = tempfile.TemporaryDirectory()
LONG_STATUS = (single([255], [cell(0, FAILED, USE_BASE, core_io=False)]), ["--schema", long_status_schema(SCHEMA_DIR.name)])


def x(n):
    return "x" * n


# Usage and qualifier are written uncut, every later field over them, and the line ends at its width.
LONG_ROW = ("c0" + " " * 9 + "Failed Base" + x(2) + "4/0/4" + x(3) + "8.0/0.0" + x(3) + "-" + x(19) + "no " + x(5)
            + "-" + x(4) + "-" + x(3) + "\n")
LONG_LINE = ("cell:c0" + " " * 8 + ":Failed Base" + x(1) + ":4/0/4" + x(2) + ":8.0/0.0" + x(2) + ":-" + x(18)
             + ":no " + x(4) + ":-" + x(3) + ":-" + x(2) + "\n")
BASE = ("Active Base", "4/0/4", "8.0/0.0", "-", "yes")


class CellReport(hw.ScenarioTable):
    scenarios = [
        ("all rows", CELLS, ["-C"], HEAD + rows(*range(13)) + NOTES),
        ("all lines", CELLS, ["-C", "-M"], lines(*range(13))),
        ("available rows", CELLS, ["-C", "-A"], HEAD + rows(*AVAILABLE) + NOTES),
        ("available lines", CELLS, ["-C", "-A", "-M"], lines(*AVAILABLE)),
        ("selected in argument order", CELLS, ["-c", "9", "-c", "0", "-c", "3"], HEAD + rows(9, 0, 3) + "\n" + NOTES),
        ("selected by cabinet/slot", CELLS, ["-c", "0/5"], HEAD + rows(5) + "\n" + NOTES),
        ("selected line", CELLS, ["-c", "1", "-M"], lines(1) + "\n"),
        ("selected cell missing", CELLS, ["-c", "0", "-c", "44"], HEAD + rows(0) + "\n" + NOTES,
         "Error: Cell 44 does not exist in this complex or is unavailable.\n", 1),
        ("full blocks", CELLS, ["-c", "0", "-c", "1", "-V"], BLOCK_0 + BLOCK_1 + "\n"),
        ("block without CPU count", CELLS, ["-c", "5", "-V"], BLOCK_5 + "\n"),
        ("short blocks", CELLS, ["-c", "2", "-c", "7", "-c", "6", "-V"],
         short_block("Cab0Cell2", "2", "Absent      ") + short_block("Cab0Cell7", "7", "Powered off")
         + short_block("Cab0Cell6", "6", "?") + "\n"),
        ("block of a missing cell", CELLS, ["-c", "7", "-c", "44", "-V"],
         short_block("Cab0Cell7", "7", "Powered off") + "\n",
         "Error: Cell 44 does not exist in this complex or is unavailable.\n", 1),
        ("CLM requests and CPU types", CLM, ["-c", "0", "-c", "1", "-c", "2", "-c", "3", "-c", "4", "-c", "5",
                                             "-c", "6", "-V"],
         clm_block(0, "0.0 GB") + clm_block(1, "?") + clm_block(2, "?") + clm_block(3, "?")
         + clm_block(4, "0.0 GB", "VX_ARCH", "unknown") + clm_block(5, "0.5 GB", cpu_type="?")
         + clm_block(6, "?", "?", "?") + "\n"),
        ("no CellAssignments", UNASSIGNED, ["-C", "-M"],
         cell_line("c0", *BASE, "?", "?") + cell_line("c1", "Absent      ", "-", "-", "-", "-", "?", "?")),
        ("no CellAssignments, -A", UNASSIGNED, ["-C", "-A"], HEAD + NOTES),
        ("cell past the end of CellAssignments", SHORT_ASSIGNMENTS, ["-C", "-A", "-M"],
         cell_line("c1", *BASE, "-", "-")),
        ("no partitions", NO_PARTITIONS, ["-C", "-M"], cell_line("c0", *BASE, "-", "1")),
        ("partition not loaded", UNKNOWN_PARTITION, ["-C", "-M"], cell_line("c0", *BASE, "", "7")),
        ("values of the wrong type", WRONG_TYPES, ["-C", "-M"],
         cell_line("c0", "?", "?", "?", "-", "?", "-", "-") + cell_line("c1", "Active Base", "4/0/4", "8.0/0.0", "",
                                                                         "yes", "-", "-")
         + cell_line("?", "Active Float", "4/0/4", "8.0/0.0", "?", "yes", "-", "-")),
        ("usage running past the end", LONG_STATUS, ["-C"], HEAD + LONG_ROW + NOTES),
        ("usage running past the end, line", LONG_STATUS, ["-C", "-M"], LONG_LINE),
        ("no cells", NO_CELLS, ["-C"], "", "\nError: Unable to get any cell information.\n", 1),
    ]


if __name__ == "__main__":
    unittest.main()
