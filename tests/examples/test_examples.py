#!/usr/bin/env python3
"""The provider's class schema, the example complex and generated complexes are consistent, and
the checks that say so catch the faults they are there for."""

import copy
import json
import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, HERE)

import complexcheck as cc  # noqa: E402

SCHEMA_FILE = os.path.join(ROOT, "provider", "schema", "kest-schema.json")
DEFAULT_FILE = os.path.join(ROOT, "examples", "default.json")
GENERATOR = os.path.join(ROOT, "examples", "generate.py")
NS = "root/cimv2/kest"
REMOTE_NS = "root/cimv2/kest/mp1"
GENERATED_SIZES = (16, 64, 256)

ACTIVE, INACTIVE, POWERED_OFF = 5, 4, 3


def load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


SCHEMA = load(SCHEMA_FILE)
DEFAULT = load(DEFAULT_FILE)
_generated = {}


def run_generator(*args):
    return subprocess.run([sys.executable, GENERATOR, *map(str, args)], capture_output=True, text=True, timeout=120)


def generated(cells, seed=1):
    if (cells, seed) not in _generated:
        result = run_generator("--cells", cells, "--seed", seed)
        if result.returncode != 0:
            raise AssertionError(f"generate.py --cells {cells} failed: {result.stderr}")
        _generated[cells, seed] = (result.stdout, json.loads(result.stdout))
    return _generated[cells, seed][1]


def instances(document, cls, space=NS):
    return document["namespaces"][space].get(cls, [])


def find(document, cls, key, value, space=NS):
    return next(i for i in instances(document, cls, space) if i[key] == value)


def tags(problems):
    return {p.split(":", 1)[0] for p in problems}


# ---------------------------------------------------------------------------------------------


class ShippedFilesAreConsistent(unittest.TestCase):
    def test_schema_has_no_problem(self):
        self.assertEqual(cc.check_schema(SCHEMA), [])

    def test_default_complex_has_no_problem_and_its_labels_fit_the_columns(self):
        self.assertEqual(cc.check_all(SCHEMA, DEFAULT, label_widths=True), [])

    def test_generated_complexes_have_no_problem(self):
        for cells in GENERATED_SIZES:
            with self.subTest(cells=cells):
                self.assertEqual(cc.check_all(SCHEMA, generated(cells)), [])

    def test_generated_complexes_with_other_seeds_have_no_problem(self):
        for seed in (2, 3, 4, 5):
            with self.subTest(seed=seed):
                self.assertEqual(cc.check_all(SCHEMA, generated(64, seed)), [])


class GeneratorScales(unittest.TestCase):
    def test_object_counts_follow_the_cell_count(self):
        for cells in GENERATED_SIZES:
            document = generated(cells)
            counts = {cls: len(instances(document, cls)) for cls in document["namespaces"][NS]}
            with self.subTest(cells=cells):
                self.assertEqual(counts["XK_KestCell"], cells)
                self.assertEqual(counts["XK_KestIOChassis"], (cells + 1) // 2)
                self.assertEqual(counts["XK_KestPartition"], (cells + 3) // 4)
                self.assertEqual(counts["XK_KestCellSlot"] % 8, 0)
                self.assertGreaterEqual(counts["XK_KestCellSlot"], cells)
                self.assertEqual(counts["XK_KestLocalPartition"], 1)

    def test_no_object_takes_the_number_that_means_none(self):
        document = generated(256)
        self.assertNotIn(255, {c["SlotID"] for c in instances(document, "XK_KestCell")})
        self.assertNotIn(255, {c["SlotID"] for c in instances(document, "XK_KestIOChassis")})
        self.assertEqual(max(c["SlotID"] for c in instances(document, "XK_KestCell")), 256)

    def test_the_local_partition_is_running(self):
        for cells in GENERATED_SIZES:
            document = generated(cells)
            core = find(document, "XK_KestPartition", "PartitionID", 0)["CoreCellID"]
            with self.subTest(cells=cells):
                self.assertEqual(find(document, "XK_KestCell", "SlotID", core)["ComponentStatus"], ACTIVE)

    def test_same_seed_gives_the_same_file(self):
        first = run_generator("--cells", 64, "--seed", 9)
        second = run_generator("--cells", 64, "--seed", 9)
        self.assertEqual(first.returncode, 0)
        self.assertEqual(first.stdout, second.stdout)

    def test_another_seed_gives_another_file(self):
        self.assertNotEqual(run_generator("--cells", 64, "--seed", 9).stdout,
                            run_generator("--cells", 64, "--seed", 10).stdout)

    def test_cell_counts_out_of_range_are_refused(self):
        for args in (["--cells", 0], ["--cells", 1001], []):
            with self.subTest(args=args):
                result = run_generator(*args)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stdout, "")


def _cells(space=NS):
    return instances(DEFAULT, "XK_KestCell", space)


def _reported_domain_kinds(cab_id):
    return [(d["DomainType"], d["DomainSubtype"]) for d in instances(DEFAULT, "XK_KestPowerCoolingDomain")
            if d["CabinetID"] == cab_id and (d["DomainType"], d["DomainSubtype"]) in
            {(3, 2), (3, 3), (2, 2), (2, 4)}]


# What the example complex must show, so that every report has something to say.
DEFAULT_SHOWS = [
    ("two compute cabinets and one I/O expansion cabinet",
     lambda: sorted(c["CabinetType"] for c in instances(DEFAULT, "XK_KestCabinet")) == [2, 2, 6]),
    ("one active MP, in cabinet 0",
     lambda: [c["ID"] for c in instances(DEFAULT, "XK_KestCabinet") if 2 in c["ServiceProcessorStatus"]] == [0]),
    ("all four reported domain kinds",
     lambda: {k for c in (0, 1, 8) for k in _reported_domain_kinds(c)} == {(3, 2), (3, 3), (2, 2), (2, 4)}),
    ("a cabinet with two domains of one kind",
     lambda: any(len(set(_reported_domain_kinds(c))) < len(_reported_domain_kinds(c)) for c in (0, 1, 8))),
    ("a cabinet without backplane power",
     lambda: any((2, 4) not in _reported_domain_kinds(c) for c in (0, 1, 8))),
    ("redundancy N+, N and N-",
     lambda: {d["RedundancyState"] for d in instances(DEFAULT, "XK_KestPowerCoolingDomain")} >= {2, 3, 4}),
    ("a failed unit and a missing unit",
     lambda: any(any(d["UnitFailed"]) for d in instances(DEFAULT, "XK_KestPowerCoolingDomain"))
     and any(not all(d["UnitPresent"]) for d in instances(DEFAULT, "XK_KestPowerCoolingDomain"))),
    ("16 cell slots and 12 cells",
     lambda: (len(instances(DEFAULT, "XK_KestCellSlot")), len(_cells())) == (16, 12)),
    ("active and inactive cells and exactly one powered-off cell",
     lambda: {c["ComponentStatus"] for c in _cells()} >= {ACTIVE, INACTIVE}
     and [c["ComponentStatus"] for c in _cells()].count(POWERED_OFF) == 1),
    ("a cell with a failed CPU", lambda: any(c["CPUCountOK"] < c["CPUCount"] for c in _cells())),
    ("a cell with deconfigured memory", lambda: any(c["TotalMemoryOK"] < c["TotalMemoryInstalled"] for c in _cells())),
    ("a cell with empty CPU positions", lambda: any(c["CPUCount"] < c["MaxCPUCount"] for c in _cells())),
    ("base, base without interleave, floating and unused cells",
     lambda: {c["CellUsage"] for c in _cells()} == {2, 3, 4, 5}),
    ("both cell architectures", lambda: {c["CellArchitecture"] for c in _cells()} == {2, 3}),
    ("each kind of requested cell-local memory",
     lambda: set(instances(DEFAULT, "XK_KestComplex")[0]["GNISpecType"]) >= {2, 3, 4, 5}),
    ("a free cell", lambda: any(a == 255 and n in {c["SlotID"] for c in _cells()}
                                for n, a in enumerate(instances(DEFAULT, "XK_KestComplex")[0]["CellAssignments"]))),
    ("8 I/O chassis slots and 6 chassis",
     lambda: (len(instances(DEFAULT, "XK_KestIOChassisSlot")), len(instances(DEFAULT, "XK_KestIOChassis"))) == (8, 6)),
    ("one powered-off and one unconnected chassis",
     lambda: [c["ComponentStatus"] for c in instances(DEFAULT, "XK_KestIOChassis")].count(POWERED_OFF) == 1
     and [c["Connected"] for c in instances(DEFAULT, "XK_KestIOChassis")].count(False) == 1),
    ("4 partitions, exactly one without a core cell",
     lambda: len(instances(DEFAULT, "XK_KestPartition")) == 4
     and [p["CoreCellID"] for p in instances(DEFAULT, "XK_KestPartition")].count(255) == 1),
    ("a partition name longer than the 30-column name field",
     lambda: any(len(p["PartitionName"]) > 30 for p in instances(DEFAULT, "XK_KestPartition"))),
    ("the local partition is partition 0",
     lambda: instances(DEFAULT, "XK_KestLocalPartition") == [{"ContainedPartition": "XK_KestPartition.PartitionID=0"}]),
    ("the demo user", lambda: DEFAULT["users"] == [{"name": "admin", "password": "kest-demo"}]),
    ("one remote complex at 10.1.1.1 with its own namespace",
     lambda: [(r["address"], r["namespace"]) for r in DEFAULT["remoteComplexes"]] == [("10.1.1.1", REMOTE_NS)]),
    ("a small remote complex: 1 cabinet, 4 cells, 2 chassis, 1 partition",
     lambda: [len(instances(DEFAULT, c, REMOTE_NS)) for c in
              ("XK_KestCabinet", "XK_KestCell", "XK_KestIOChassis", "XK_KestPartition")] == [1, 4, 2, 1]),
]


class DefaultComplexShowsEveryCase(unittest.TestCase):
    def test_cases(self):
        for what, holds in DEFAULT_SHOWS:
            with self.subTest(what):
                self.assertTrue(holds())


# ---------------------------------------------------------------------------------------------
# Faults in a complex file: (name, change to a copy of default.json, rule that must report it).


def _set(cls, key, value, prop, new, space=NS):
    def change(document):
        find(document, cls, key, value, space)[prop] = new
    return change


def _complex(document, space=NS):
    return instances(document, "XK_KestComplex", space)[0]


def _two_active_mps(document):
    find(document, "XK_KestCabinet", "ID", 1)["ServiceProcessorStatus"] = [2]


def _slot_255_with_cell(document):
    slot = find(document, "XK_KestCellSlot", "ID", 15)
    slot.update(ID=255, Populated=True)
    cell = copy.deepcopy(find(document, "XK_KestCell", "SlotID", 6))
    cell["SlotID"] = 255
    instances(document, "XK_KestCell").append(cell)


def _partition_255(document):
    find(document, "XK_KestPartition", "PartitionID", 3)["PartitionID"] = 255
    _complex(document)["CellAssignments"][11:13] = [255, 255]


def _two_cells_on_one_chassis(document):
    find(document, "XK_KestCell", "SlotID", 1).update(ConnectedToIOChassis=True, ConnectedIOChassisID=1,
                                                      HasCoreIO=True)


def _move_chassis_to_empty_slot(document):
    find(document, "XK_KestIOChassis", "SlotID", 69)["SlotID"] = 71
    find(document, "XK_KestCell", "SlotID", 11)["ConnectedIOChassisID"] = 71


COMPLEX_FAULTS = [
    # Links between cells and I/O chassis.
    ("chassis linked to a cell that does not exist", _set("XK_KestIOChassis", "SlotID", 1, "ConnectedCellID", 14),
     "chassis-cell-link"),
    ("chassis linked to a cell that names another chassis",
     _set("XK_KestIOChassis", "SlotID", 65, "ConnectedCellID", 0), "chassis-cell-link"),
    ("unconnected chassis naming a cell", _set("XK_KestIOChassis", "SlotID", 11, "ConnectedCellID", 6),
     "chassis-cell-link"),
    ("cell linked to a chassis that does not exist",
     lambda d: find(d, "XK_KestCell", "SlotID", 1).update(ConnectedToIOChassis=True, ConnectedIOChassisID=67),
     "cell-chassis-link"),
    ("two cells on one chassis", _two_cells_on_one_chassis, "cell-chassis-link"),
    ("unconnected cell naming a chassis", _set("XK_KestCell", "SlotID", 1, "ConnectedIOChassisID", 11),
     "cell-chassis-link"),
    ("cell with core I/O but no chassis", _set("XK_KestCell", "SlotID", 1, "HasCoreIO", True), "core-io"),
    ("cell without core I/O on a core I/O chassis", _set("XK_KestCell", "SlotID", 0, "HasCoreIO", False), "core-io"),
    # Cells, chassis and their slots.
    ("cell whose slot does not exist", _set("XK_KestCell", "SlotID", 12, "SlotID", 16), "cell-without-slot"),
    ("cell in an empty slot", _set("XK_KestCell", "SlotID", 12, "SlotID", 13), "cell-in-empty-slot"),
    ("populated cell slot without a cell", _set("XK_KestCellSlot", "ID", 7, "Populated", True), "slot-without-cell"),
    ("chassis in an empty slot", _move_chassis_to_empty_slot, "chassis-in-empty-slot"),
    ("populated chassis slot without a chassis", _set("XK_KestIOChassisSlot", "ID", 67, "Populated", True),
     "slot-without-chassis"),
    ("slot in a cabinet that does not exist", _set("XK_KestCellSlot", "ID", 0, "CabinetID", 3), "slot-cabinet"),
    ("two cell slots at one position", _set("XK_KestCellSlot", "ID", 1, "Number", 0), "slot-position"),
    ("two chassis slots at one position", _set("XK_KestIOChassisSlot", "ID", 3, "Number", 1), "slot-position"),
    ("two slots with one label", _set("XK_KestCellSlot", "ID", 1, "LongLabel", "cab 0, cell 0"), "label-duplicate"),
    ("labels that differ only in blanks", _set("XK_KestCellSlot", "ID", 1, "LongLabel", "cab0,cell 0"),
     "label-duplicate"),
    ("slot without a label", _set("XK_KestIOChassisSlot", "ID", 1, "LongLabel", None), "label-missing"),
    ("cell label cut by its column", _set("XK_KestCellSlot", "ID", 0, "LongLabel", "cabinet 0, cell 0"),
     "label-width"),
    ("chassis label cut by its column",
     _set("XK_KestIOChassisSlot", "ID", 1, "LongLabel", "cabinet 0, bay 0, chassis 1"), "label-width"),
    ("cell numbered 255", _slot_255_with_cell, "reserved-number"),
    ("partition numbered 255", _partition_255, "reserved-number"),
    # Per-cell arrays and partitions.
    ("CellAssignments one entry short", lambda d: _complex(d)["CellAssignments"].pop(), "per-cell-length"),
    ("GNISpecType one entry short", lambda d: _complex(d)["GNISpecType"].pop(), "per-cell-length"),
    ("GNIPerCell one entry long", lambda d: _complex(d)["GNIPerCell"].append(0), "per-cell-length"),
    ("CellUseOnNextBoot one entry long",
     lambda d: find(d, "XK_KestPartition", "PartitionID", 1)["CellUseOnNextBoot"].append(False), "per-cell-length"),
    ("FailureUsage one entry short",
     lambda d: find(d, "XK_KestPartition", "PartitionID", 2)["FailureUsage"].pop(), "per-cell-length"),
    ("cell assigned to a partition that does not exist",
     lambda d: _complex(d)["CellAssignments"].__setitem__(6, 7), "assignment-partition"),
    ("empty slot assigned to a partition", lambda d: _complex(d)["CellAssignments"].__setitem__(7, 0),
     "assignment-without-cell"),
    ("core cell outside its partition", _set("XK_KestPartition", "PartitionID", 1, "CoreCellID", 0),
     "core-cell-member"),
    ("core cell without core I/O", _set("XK_KestPartition", "PartitionID", 2, "CoreCellID", 9), "core-cell-io"),
    ("core cell choice outside its partition", _set("XK_KestPartition", "PartitionID", 3, "CoreCellChoices", [11, 0]),
     "core-choice"),
    ("core cell choice without core I/O", _set("XK_KestPartition", "PartitionID", 0, "CoreCellChoices", [0, 1]),
     "core-choice"),
    ("more core cell choices than allowed", _set("XK_KestPartition", "PartitionID", 0, "MaxSizeCoreCellChoices", 0),
     "core-choice"),
    ("next boot uses a cell of another partition",
     lambda d: find(d, "XK_KestPartition", "PartitionID", 0)["CellUseOnNextBoot"].__setitem__(4, True),
     "next-boot-member"),
    ("local partition names a partition that does not exist",
     _set("XK_KestLocalPartition", "ContainedPartition", "XK_KestPartition.PartitionID=0", "ContainedPartition",
          "XK_KestPartition.PartitionID=9"), "local-partition"),
    ("two local partitions",
     lambda d: instances(d, "XK_KestLocalPartition").append({"ContainedPartition": "XK_KestPartition.PartitionID=1"}),
     "local-partition"),
    ("no complex record with profile 0", lambda d: _complex(d).update(ProfileID=1), "complex-profile"),
    ("remote namespace without a complex", lambda d: d["namespaces"][REMOTE_NS].pop("XK_KestComplex"),
     "complex-profile"),
    # Memory and processors of a cell.
    ("installed memory not the sum of the DIMMs",
     lambda d: find(d, "XK_KestCell", "SlotID", 0).update(TotalMemoryInstalled=132096), "memory-total"),
    ("deconfigured DIMM counted as good memory",
     lambda d: find(d, "XK_KestCell", "SlotID", 2).update(TotalMemoryOK=131072), "memory-ok"),
    ("DIMM arrays of different lengths", lambda d: find(d, "XK_KestCell", "SlotID", 0)["DIMMLabel"].pop(),
     "dimm-arrays"),
    ("empty DIMM slot marked populated",
     lambda d: find(d, "XK_KestCell", "SlotID", 3)["DIMMSlotPopulated"].__setitem__(15, True), "dimm-populated"),
    ("empty DIMM slot with a size", lambda d: find(d, "XK_KestCell", "SlotID", 3)["DIMMSize"].__setitem__(15, 8192),
     "dimm-populated"),
    ("failed CPU counted as good", _set("XK_KestCell", "SlotID", 9, "CPUCountOK", 4), "cpu-count"),
    ("empty CPU position counted", _set("XK_KestCell", "SlotID", 10, "CPUCount", 4), "cpu-count"),
    ("CPU arrays shorter than MaxCPUCount", _set("XK_KestCell", "SlotID", 0, "MaxCPUCount", 8), "cpu-arrays"),
    ("more cell-local memory than good memory", _set("XK_KestCell", "SlotID", 3, "ActualGNIMemory", 131072), "clm"),
    # Cabinets and domains.
    ("domain in a cabinet that does not exist", _set("XK_KestPowerCoolingDomain", "ID", 0, "CabinetID", 5),
     "domain-cabinet"),
    ("failed unit not counted", _set("XK_KestPowerCoolingDomain", "ID", 1, "FailedCount", 0), "domain-counts"),
    ("missing unit counted", _set("XK_KestPowerCoolingDomain", "ID", 4, "UnitCount", 4), "domain-counts"),
    ("missing unit marked failed",
     lambda d: find(d, "XK_KestPowerCoolingDomain", "ID", 4)["UnitFailed"].__setitem__(3, True), "domain-counts"),
    ("unit arrays of different lengths",
     lambda d: find(d, "XK_KestPowerCoolingDomain", "ID", 0)["LongUnitLabel"].pop(), "domain-arrays"),
    ("two domains of a cabinet with one number", _set("XK_KestPowerCoolingDomain", "ID", 1, "DomainNumber", 0),
     "domain-number"),
    ("fewer MP states than MPs", _set("XK_KestCabinet", "ID", 1, "ServiceProcessorCount", 2), "mp-status"),
    ("two active MPs", _two_active_mps, "active-mp"),
    ("no active MP", _set("XK_KestCabinet", "ID", 0, "ServiceProcessorStatus", [3, 3]), "active-mp"),
    # Values and keys.
    ("text where an integer belongs", _set("XK_KestCell", "SlotID", 0, "CPUSpeed", "1600"), "type"),
    ("integer beyond uint8", _set("XK_KestCell", "SlotID", 0, "CPUCount", 256), "type"),
    ("negative unsigned integer", _set("XK_KestCabinet", "ID", 0, "LEDState", -1), "type"),
    ("number where a boolean belongs", _set("XK_KestCellSlot", "ID", 0, "Populated", 1), "type"),
    ("boolean where an integer belongs", _set("XK_KestCell", "SlotID", 0, "CellUsage", True), "type"),
    ("array where a single value belongs", _set("XK_KestCell", "SlotID", 0, "CellUsage", [3]), "type"),
    ("single value where an array belongs", _set("XK_KestCell", "SlotID", 0, "DIMMSize", 8192), "type"),
    ("text in a boolean array",
     lambda d: find(d, "XK_KestPartition", "PartitionID", 0)["CellUseOnNextBoot"].__setitem__(0, "true"), "type"),
    ("reference to another class",
     _set("XK_KestLocalPartition", "ContainedPartition", "XK_KestPartition.PartitionID=0", "ContainedPartition",
          "XK_KestCell.SlotID=0"), "type"),
    ("reference without its key",
     _set("XK_KestLocalPartition", "ContainedPartition", "XK_KestPartition.PartitionID=0", "ContainedPartition",
          "XK_KestPartition.ID=0"), "type"),
    ("forced type whose value does not fit it",
     _set("XK_KestCell", "SlotID", 0, "CPUCount", {"$type": "uint8", "value": 300}), "type"),
    ("forced type that is no CIM type",
     _set("XK_KestCell", "SlotID", 0, "CPUCount", {"$type": "int", "value": 3}), "type"),
    ("errorCode that is no number", _set("XK_KestCell", "SlotID", 0, "errorCode", "22"), "type"),
    ("property not in the schema", _set("XK_KestCell", "SlotID", 0, "Voltage", 12), "unknown-property"),
    ("property in the wrong case", _set("XK_KestCell", "SlotID", 0, "cpuspeed", 1600), "unknown-property"),
    ("status code without a text", _set("XK_KestCell", "SlotID", 0, "ComponentStatus", 7), "value-map-range"),
    ("DIMM status code without a text",
     lambda d: find(d, "XK_KestCell", "SlotID", 0)["DIMMStatus"].__setitem__(0, 8), "value-map-range"),
    ("key missing", lambda d: find(d, "XK_KestCell", "SlotID", 0).pop("SlotID"), "key-missing"),
    ("key null", _set("XK_KestPartition", "PartitionID", 0, "PartitionID", None), "key-missing"),
    ("two cells with one key", _set("XK_KestCell", "SlotID", 1, "SlotID", 0), "key-duplicate"),
    ("two local partitions with one key",
     lambda d: instances(d, "XK_KestLocalPartition").append({"ContainedPartition": "XK_KestPartition.PartitionID=0"}),
     "key-duplicate"),
    ("class not in the schema", lambda d: d["namespaces"][NS].__setitem__("XK_KestFan", []), "unknown-class"),
    ("remote complex in a namespace that is not in the file",
     lambda d: d["remoteComplexes"][0].update(namespace="root/cimv2/kest/mp9"), "remote-namespace"),
    ("user without a password", lambda d: d["users"][0].pop("password"), "file-shape"),
]

# Changes that a complex file may carry without any problem.
COMPLEX_VARIATIONS = [
    ("property not in the schema with $type",
     _set("XK_KestCell", "SlotID", 0, "Voltage", {"$type": "uint16", "value": 12})),
    ("known property forced to another type",
     _set("XK_KestCell", "SlotID", 0, "CPUSpeed", {"$type": "string", "value": "1600"})),
    ("forced array", _set("XK_KestCell", "SlotID", 0, "Tags", {"$type": "string", "array": True, "value": ["a"]})),
    ("partial failure report", lambda d: find(d, "XK_KestCell", "SlotID", 0).update(errorCode=22, errorMsg="read lock")),
    ("null value", _set("XK_KestPartition", "PartitionID", 2, "AdminIPAddress", None)),
    ("null array element",
     lambda d: find(d, "XK_KestCell", "SlotID", 0)["DIMMLabel"].__setitem__(0, None)),
    ("missing non-key property", lambda d: find(d, "XK_KestCabinet", "ID", 8).pop("LEDState")),
    ("remote complex that answers an empty namespace",
     lambda d: d["remoteComplexes"].append({"address": "10.1.1.2", "password": "x", "namespace": ""})),
]


class ComplexChecksCatchFaults(unittest.TestCase):
    def test_faults_are_reported_by_their_rule(self):
        clean = tags(cc.check_all(SCHEMA, DEFAULT, label_widths=True))
        for name, change, rule in COMPLEX_FAULTS:
            with self.subTest(name):
                self.assertNotIn(rule, clean)
                document = copy.deepcopy(DEFAULT)
                change(document)
                problems = cc.check_all(SCHEMA, document, label_widths=True)
                self.assertIn(rule, tags(problems), problems)

    def test_allowed_variations_are_not_reported(self):
        for name, change in COMPLEX_VARIATIONS:
            with self.subTest(name):
                document = copy.deepcopy(DEFAULT)
                change(document)
                self.assertEqual(cc.check_all(SCHEMA, document, label_widths=True), [])

    def test_generated_complex_faults_are_reported(self):
        document = copy.deepcopy(generated(64))
        chassis = instances(document, "XK_KestIOChassis")[3]
        chassis["ConnectedCellID"] = 10_000
        chassis["Connected"] = True
        self.assertIn("chassis-cell-link", tags(cc.check_all(SCHEMA, document)))


# ---------------------------------------------------------------------------------------------
# Faults in the schema: (name, change to a copy of kest-schema.json, rule that must report it).


def _prop(schema, cls, name):
    owner = next(c for c in schema["classes"] if c["name"] == cls)
    return next(p for p in owner["properties"] if p["name"] == name)


def _set_map(cls, name, code, text):
    def change(schema):
        texts = _prop(schema, cls, name)["valueMap"]
        if code == len(texts):
            texts.append(text)
        else:
            texts[code] = text
    return change


def _set_prop(cls, name, field, value):
    def change(schema):
        if value is None:
            _prop(schema, cls, name).pop(field)
        else:
            _prop(schema, cls, name)[field] = value
    return change


def _swap_first_properties(cls):
    def change(schema):
        props = next(c for c in schema["classes"] if c["name"] == cls)["properties"]
        props[0], props[1] = props[1], props[0]
    return change


def _drop_method(cls, name):
    def change(schema):
        owner = next(c for c in schema["classes"] if c["name"] == cls)
        owner["methods"] = [m for m in owner["methods"] if m["name"] != name]
    return change


def _set_parameter(cls, method, index, field, value):
    def change(schema):
        owner = next(c for c in schema["classes"] if c["name"] == cls)
        next(m for m in owner["methods"] if m["name"] == method)["parameters"][index][field] = value
    return change


def _duplicate_property(cls, name):
    def change(schema):
        owner = next(c for c in schema["classes"] if c["name"] == cls)
        owner["properties"].append(copy.deepcopy(_prop(schema, cls, name)))
    return change


SCHEMA_FAULTS = [
    ("cell status 5 is not Active", _set_map("XK_KestCell", "ComponentStatus", 5, "Running"), "schema-value-map"),
    ("cell status 4 is not Inactive", _set_map("XK_KestCell", "ComponentStatus", 4, "Standby"), "schema-value-map"),
    ("no Powered off status", _set_map("XK_KestCell", "ComponentStatus", 3, "Off"), "schema-value-map"),
    ("status that would run into its qualifier", _set_map("XK_KestCell", "ComponentStatus", 6, "Degraded"),
     "schema-value-map"),
    ("status wider than the usage column", _set_map("XK_KestIOChassis", "ComponentStatus", 3, "Powered off (AC)"),
     "schema-value-map"),
    ("chassis status reads unlike cell status", _set_map("XK_KestIOChassis", "ComponentStatus", 6, "Broken"),
     "schema-value-map"),
    ("cell usage qualifier wider than its room", _set_map("XK_KestCell", "CellUsage", 2, "Unused"), "schema-value-map"),
    ("cell usage without a floating code", lambda s: _prop(s, "XK_KestCell", "CellUsage")["valueMap"].pop(),
     "schema-value-map"),
    ("empty CPU position does not read Other", _set_map("XK_KestCell", "CPUStatus", 1, "Absent"), "schema-value-map"),
    ("good DIMM code moved", _set_map("XK_KestCell", "DIMMStatus", 7, "Good"), "schema-value-map"),
    ("no VX_ARCH architecture", _set_map("XK_KestCell", "CellArchitecture", 3, "VX"), "schema-value-map"),
    ("cabinet type cut by its column", _set_map("XK_KestCabinet", "CabinetType", 6, "I/O Expansion"),
     "schema-value-map"),
    ("cabinet type code 7 named", _set_map("XK_KestCabinet", "CabinetType", 7, "Compute 16"), "schema-value-map"),
    ("cabinet type names the wrong capacity", _set_map("XK_KestCabinet", "CabinetType", 5, "Compute 4"),
     "schema-value-map"),
    ("MP status codes moved", _set_prop("XK_KestCabinet", "ServiceProcessorStatus", "valueMap",
                                        ["Unknown", "Active", "Backup", "Other"]), "schema-value-map"),
    ("value map missing where the reports look it up", _set_prop("XK_KestPartition", "FailureUsage", "valueMap", None),
     "schema-value-map"),
    ("value map on a text", _set_prop("XK_KestCabinet", "Label", "valueMap", ["a"]), "schema-value-map"),
    ("two codes with one text", _set_map("XK_KestPartition", "FailureUsage", 1, "Unknown"), "schema-value-map"),
    ("read type changed", _set_prop("XK_KestCell", "CPUCount", "type", "uint16"), "schema-contract"),
    ("array flag lost", _set_prop("XK_KestComplex", "CellAssignments", "array", False), "schema-contract"),
    ("property renamed", _set_prop("XK_KestCell", "CellArchitecture", "name", "CellArch"), "schema-contract"),
    ("key flag lost", _set_prop("XK_KestCell", "SlotID", "key", False), "schema-contract"),
    ("extra key", _set_prop("XK_KestCabinet", "Label", "key", True), "schema-contract"),
    ("properties out of order", _swap_first_properties("XK_KestCabinet"), "schema-contract"),
    ("chassis link typed unlike the chassis number", _set_prop("XK_KestCell", "ConnectedIOChassisID", "type", "uint16"),
     "schema-contract"),
    ("local partition refers to another class",
     _set_prop("XK_KestLocalPartition", "ContainedPartition", "referenceClass", "XK_KestCell"), "schema-contract"),
    ("MakeID parameter widened", _set_parameter("XK_KestIOChassisSlot", "MakeID", 1, "type", "uint16"),
     "schema-contract"),
    ("MakeID parameter renamed", _set_parameter("XK_KestCellSlot", "MakeID", 1, "name", "Slot"), "schema-contract"),
    ("NameSpaceName missing", _drop_method("XK_KestRemoteComplex", "NameSpaceName"), "schema-contract"),
    ("unknown CIM type", _set_prop("XK_KestCabinet", "LEDState", "type", "int"), "schema-type"),
    ("reference to an unknown class",
     _set_prop("XK_KestLocalPartition", "ContainedPartition", "referenceClass", "XK_KestPart"), "schema-type"),
    ("referenceClass on a number", _set_prop("XK_KestCabinet", "LEDState", "referenceClass", "XK_KestCell"),
     "schema-type"),
    ("array key", _set_prop("XK_KestRemoteComplex", "Address", "array", True), "schema-key"),
    ("class without a key", _set_prop("XK_KestRemoteComplex", "Address", "key", None), "schema-key"),
    ("property declared twice", _duplicate_property("XK_KestCell", "CPUSpeed"), "schema-shape"),
]


class SchemaChecksCatchFaults(unittest.TestCase):
    def test_faults_are_reported_by_their_rule(self):
        clean = tags(cc.check_schema(SCHEMA))
        for name, change, rule in SCHEMA_FAULTS:
            with self.subTest(name):
                self.assertNotIn(rule, clean)
                schema = copy.deepcopy(SCHEMA)
                change(schema)
                problems = cc.check_schema(schema)
                self.assertIn(rule, tags(problems), problems)

    def test_instances_are_typed_by_the_schema_they_are_checked_against(self):
        schema = copy.deepcopy(SCHEMA)
        _prop(schema, "XK_KestCell", "CPUSpeed")["type"] = "string"
        self.assertIn("type", tags(cc.check_all(schema, DEFAULT)))


if __name__ == "__main__":
    unittest.main(verbosity=1)
