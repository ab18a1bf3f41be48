"""Cabinet report scenarios: -B, -B -M, -b, -b -M, -b -V.

Each scenario is a small complex, a command line and the whole expected
standard output, standard error and exit status. Table and "cabinet:" lines
are written field by field at the columns the cabinet report puts them.
"""
import unittest

from frames import CABINET_HEADER, CABINET_NOTES, DEFAULT_NOTE
from harness import Provider, ScenarioTest
from test_partitions import TINY, TINY_AFTER_CABINETS, TINY_COMPLEX, kest, line


def cabinet_row(first, blowers, fans, bps, backplane):
    """A table line; `first` is (number, type, MP) on a cabinet's first line, else None."""
    fields = []
    if first:
        number, cabinet_type, mp = first
        fields += [(0, 3, number), (4, 12, cabinet_type), (65, 6, mp)]
    fields += [(18, 9, blowers), (28, 9, fans), (38, 10, bps), (50, 12, backplane)]
    return line(79, *fields)


def cabinet_line(first, blowers, fans, bps, backplane):
    """A "cabinet:" line; `first` as for cabinet_row."""
    fields = []
    if first:
        number, cabinet_type, mp = first
        fields += [(0, None, "cabinet:"), (8, 3, number), (11, None, ":"), (12, 12, cabinet_type),
                   (25, None, ":"), (35, None, ":"), (45, None, ":"), (55, None, ":"), (72, None, ":"),
                   (73, 6, mp)]
    fields += [(26, 9, blowers), (36, 9, fans), (46, 10, bps), (56, 12, backplane)]
    return line(79, *fields)


def domain(cabinet, kind, state, present, failed, labels=None):
    domain_type, subtype = kind
    d = {"CabinetID": cabinet, "DomainType": domain_type, "DomainSubtype": subtype, "RedundancyState": state,
         "UnitPresent": present, "UnitFailed": failed}
    if labels is not None:
        d["LongUnitLabel"] = labels
    return d


BLOWERS, IO_FANS, BPS, BACKPLANE = (3, 2), (3, 3), (2, 2), (2, 4)
T, F = True, False

BLOWER_HEADING = "\nCabinet Blowers\n===============\n"
FAN_HEADING = "\nI/O Fans\n==============\n"
BPS_HEADING = "\nBulk Power Supplies(BPS)\n========================\n"
BACKPLANE_HEADING = "\nBackplane Power Boards\n======================\n"


def type_block(text):
    return "\nCabinet Type\n============\n" + text + "\n"


def not_found(number):
    return "Error: Cabinet %s does not exist in this complex or is unavailable.\n" % number


def labels(prefix, count):
    return ["%s%d" % (prefix, u) for u in range(count)]


CABINETS = kest(
    XK_KestComplex=[{"ProfileID": 0}],
    XK_KestCabinet=[
        {"ID": 0, "CabinetType": 2, "ServiceProcessorCount": 2, "ServiceProcessorStatus": [3, 2]},
        {"ID": 1, "CabinetType": 6, "ServiceProcessorCount": 1, "ServiceProcessorStatus": [1]},
        {"ID": 2, "CabinetType": 3, "ServiceProcessorCount": 0, "ServiceProcessorStatus": []},
        {"ID": 3, "CabinetType": 0, "ServiceProcessorCount": 2, "ServiceProcessorStatus": [0, 0]},
        {"ID": 4, "CabinetType": 4, "ServiceProcessorCount": 2, "ServiceProcessorStatus": [0, 9]},
        {"ID": 5, "CabinetType": 5, "ServiceProcessorCount": 2, "ServiceProcessorStatus": [3, 1]},
        {"ID": 9, "CabinetType": 9, "ServiceProcessorCount": 1, "ServiceProcessorStatus": [2]},
    ],
    XK_KestPowerCoolingDomain=[
        domain(0, BLOWERS, 2, [T, T, T, T], [F, F, F, F], labels("cab0,Blower", 4)),
        domain(0, BPS, 3, [T, T, T], [F, T, F], labels("cab0,BPS", 3)),
        domain(1, IO_FANS, 6, [T, T], [F, F], labels("cab1,IOFan", 2)),
        domain(0, IO_FANS, 4, [T, T, F, T, T, T], [F, F, F, F, T, F], labels("cab0,IOFan", 6)),
        domain(0, BACKPLANE, 5, [T, T], [F, F], labels("cab0,BPB", 2)),
        domain(2, (1, 1), 2, [T], [F], ["cab2,Other0"]),
        domain(0, BPS, 7, [T, T], [T, T], labels("cab0,BPSB", 2)),
        domain(4, BLOWERS, 0, [T], [F], ["cab4,Blower0"]),
        domain(5, BACKPLANE, 3, [], [], []),
        domain(5, IO_FANS, 7, [T, T], [F, F], labels("cab5,IOFan", 2)),
        domain(9, BPS, 2, [T] * 200, [F] * 100 + [T] * 100, labels("cab9,BPS", 200)),
        domain(9, BLOWERS, 2, [T] * 200, [F] * 100 + [T] * 100, labels("cab9,Blower", 200)),
        domain(9, BACKPLANE, 6, [T], [F], ["cab9,BPB0"]),
        domain(0, (2, 3), 2, [T, T], [F, F], labels("cab0,PDC", 2)),
    ],
)

CAB0_ROWS = (cabinet_row(("0", "Compute 8", "Active"), "4/0/N+", "4/1/N-", "2/1/N", "2/0/HO")
             + cabinet_row(None, "", "", "0/2/?", ""))
CAB1_ROWS = cabinet_row(("1", "IO Expansion", "Other"), "-", "2/0/NA", "-", "-")
CAB4_ROWS = cabinet_row(("4", "Compute 4 v2", "Unknown"), "1/0/?", "-", "-", "-")
CAB5_ROWS = cabinet_row(("5", "Compute 2", "Backup"), "-", "2/0/?", "-", "0/0/N")
CAB9_ROWS = cabinet_row(("9", "", "Active"), "100/100/N+", "-", "100/100/N+", "1/0/NA")

CAB0_LINES = (cabinet_line(("0", "Compute 8", "Active"), "4/0/N+", "4/1/N-", "2/1/N", "2/0/HO")
              + cabinet_line(None, "", "", "0/2/?", ""))
CAB1_LINES = cabinet_line(("1", "IO Expansion", "Other"), "-", "2/0/NA", "-", "-")
CAB4_LINES = cabinet_line(("4", "Compute 4 v2", "Unknown"), "1/0/?", "-", "-", "-")
CAB5_LINES = cabinet_line(("5", "Compute 2", "Backup"), "-", "2/0/?", "-", "0/0/N")
CAB9_LINES = cabinet_line(("9", "", "Active"), "100/100/N+", "-", "100/100/N+", "1/0/NA")

CAB0_DETAILS = (
    type_block("Compute 8")
    + BLOWER_HEADING
    + "cab0,Blower0   ok    \ncab0,Blower1   ok    \ncab0,Blower2   ok    \ncab0,Blower3   ok    \n"
    + FAN_HEADING  # unit 2 is not present
    + "cab0,IOFan0   ok    \ncab0,IOFan1   ok    \ncab0,IOFan3   ok    \ncab0,IOFan4   failed\n"
      "cab0,IOFan5   ok    \n"
    + BPS_HEADING + "cab0,BPS0   ok    \ncab0,BPS1   failed\ncab0,BPS2   ok    \n"
    + BPS_HEADING + "cab0,BPSB0   failed\ncab0,BPSB1   failed\n"
    + BACKPLANE_HEADING + "cab0,BPB0   ok    \ncab0,BPB1   ok    \n")
CAB1_DETAILS = type_block("IO Expansion") + FAN_HEADING + "cab1,IOFan0   ok    \ncab1,IOFan1   ok    \n"

# Arrays shorter than their counts, null entries and a wrongly typed value.
SHORT_ARRAYS = kest(
    XK_KestComplex=[{"ProfileID": 0}],
    XK_KestCabinet=[
        # three MPs, one status given: the others are not known
        {"ID": 0, "CabinetType": 2, "ServiceProcessorCount": 3, "ServiceProcessorStatus": [3]},
        # MPs without any status
        {"ID": 1, "CabinetType": 3, "ServiceProcessorCount": 2, "ServiceProcessorStatus": None},
        # an active status past the MP count does not count
        {"ID": 2, "CabinetType": 5, "ServiceProcessorCount": 1, "ServiceProcessorStatus": [0, 2]},
    ],
    XK_KestPowerCoolingDomain=[
        # UnitFailed and LongUnitLabel stop after the first unit
        domain(0, BLOWERS, 3, [T, T, T], [T], ["A0"]),
        # a null presence, no failure list, a null label
        domain(1, IO_FANS, 2, [T, None, T], None, ["F0", None, "F2"]),
        # RedundancyState sent as a string: not given
        domain(2, BPS, {"$type": "string", "value": "3"}, [T], [F], ["P0"]),
        # a domain whose CabinetID is a string belongs to no cabinet
        domain({"$type": "string", "value": "2"}, BACKPLANE, 3, [T], [F], ["X0"]),
    ],
)

NO_DOMAINS = kest(
    XK_KestComplex=[{"ProfileID": 0}],
    XK_KestCabinet=[{"ID": 0, "CabinetType": 2, "ServiceProcessorCount": 1, "ServiceProcessorStatus": [2]}],
)
NO_CABINETS = kest(
    XK_KestComplex=[{"ProfileID": 0}],
    XK_KestPowerCoolingDomain=[domain(0, BLOWERS, 2, [T], [F], ["B0"])],
)
LOAD_ERROR = "\nError: Unable to get any cabinet information.\n"


class CabinetTable(ScenarioTest):
    """-B and -B -M."""

    SCENARIOS = [
        # cabinet 0 spelled out, the others through the column helper
        ("all cabinets", CABINETS, ["-B"],
         CABINET_HEADER
         + "0   Compute 8     4/0/N+    4/1/N-    2/1/N       2/0/HO         Active" + " " * 8 + "\n"
         + " " * 38 + "0/2/?" + " " * 36 + "\n"
         + CAB1_ROWS + CAB4_ROWS + CAB5_ROWS + CAB9_ROWS + CABINET_NOTES, "", 0),
        ("machine-readable lines, no notes", CABINETS, ["-B", "-M"],
         CAB0_LINES
         + "cabinet:1  :IO Expansion :-        :2/0/NA   :-        :-               :Other \n"
         + CAB4_LINES + CAB5_LINES
         # the 10-character bulk power status covers the ":" at column 55
         + "cabinet:9  :             :100/100/N:-        :100/100/N+1/0/NA          :Active\n", "", 0),
        ("no power/cooling domain", NO_DOMAINS, ["-B"], "", LOAD_ERROR, 1),
        ("no cabinet", NO_CABINETS, ["-B", "-M"], "", LOAD_ERROR, 1),
    ]

    def test_scenarios(self):
        for name, complex_data, args, stdout, stderr, status in self.SCENARIOS:
            with self.subTest(name), Provider(complex_data) as provider:
                self.check(provider, args, stdout, stderr, status)


class SelectedCabinets(ScenarioTest):
    """-b, -b -M and -b -V: the named cabinets in argument order, an empty line, the notes."""

    SCENARIOS = [
        ("argument order", CABINETS, ["-b", "5", "-b", "0"],
         CABINET_HEADER + CAB5_ROWS + CAB0_ROWS + "\n" + CABINET_NOTES, "", 0),
        ("machine-readable lines keep the notes", CABINETS, ["-b", "0", "-M"],
         CAB0_LINES + "\n" + CABINET_NOTES, "", 0),
        ("unknown cabinet", CABINETS, ["-b", "1", "-b", "8"],
         CABINET_HEADER + CAB1_ROWS + "\n" + CABINET_NOTES, not_found(8), 1),
        ("cabinets without a shown domain print no line", CABINETS, ["-b", "2", "-b", "3", "-b", "4", "-M"],
         CAB4_LINES + "\n" + CABINET_NOTES, "", 0),
        ("detail block", CABINETS, ["-b", "0", "-V"],
         CABINET_HEADER + CAB0_ROWS + CAB0_DETAILS + "\n" + CABINET_NOTES, "", 0),
        ("heading repeated between detailed cabinets", CABINETS, ["-b", "0", "-b", "1", "-V"],
         CABINET_HEADER + CAB0_ROWS + CAB0_DETAILS
         + CABINET_HEADER + CAB1_ROWS + CAB1_DETAILS + "\n" + CABINET_NOTES, "", 0),
        ("detail block of a cabinet without a shown domain", CABINETS, ["-b", "2", "-V"],
         CABINET_HEADER + type_block("Compute 4") + "\n" + CABINET_NOTES, "", 0),
        ("missing entries of the parallel arrays", SHORT_ARRAYS, ["-b", "0", "-b", "1", "-b", "2", "-V"],
         CABINET_HEADER
         + cabinet_row(("0", "Compute 8", "Backup"), "2/1/N", "-", "-", "-")
         + type_block("Compute 8") + BLOWER_HEADING + "A0   failed\n?   ok    \n?   ok    \n"
         + CABINET_HEADER
         + cabinet_row(("1", "Compute 4", "Unknown"), "-", "2/0/N+", "-", "-")
         + type_block("Compute 4") + FAN_HEADING + "F0   ok    \nF2   ok    \n"
         + CABINET_HEADER
         + cabinet_row(("2", "Compute 2", "Unknown"), "-", "-", "1/0/?", "-")
         + type_block("Compute 2") + BPS_HEADING + "P0   ok    \n"
         + "\n" + CABINET_NOTES, "", 0),
        ("load failure", NO_DOMAINS, ["-b", "0"], "", LOAD_ERROR, 1),
    ]

    def test_scenarios(self):
        for name, complex_data, args, stdout, stderr, status in self.SCENARIOS:
            with self.subTest(name), Provider(complex_data) as provider:
                self.check(provider, args, stdout, stderr, status)


class DisplayAllWithoutCabinets(ScenarioTest):
    """A failed cabinet section is reported and the other sections still run."""

    def test_cabinet_section_fails(self):
        complex_data = kest(**{cls: instances for cls, instances in TINY["namespaces"]["root/cimv2/kest"].items()
                               if cls != "XK_KestPowerCoolingDomain"})
        with Provider(complex_data) as provider:
            self.check(provider, [], TINY_COMPLEX + TINY_AFTER_CABINETS, DEFAULT_NOTE + LOAD_ERROR, 1)


if __name__ == "__main__":
    unittest.main()
