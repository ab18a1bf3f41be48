"""Data access against the provider: the platform check and -s, the local
partition query (-w), the errorCode/errorMsg reports of enumerated and keyed
instances, keyed fetch failures, and the unique numbers that MakeID gives
for cells and I/O chassis named by position."""
import os
import tempfile
import unittest
import xml.etree.ElementTree as ET

from frames import CELL_HEADING, CHASSIS_HEADING, CABINET_NOTES, CELL_NOTES, DEFAULT_NOTE
from harness import Provider, run
from runtime_fixtures import (LOW_LEVEL, MAY_NOT, NO_LOCAL_PARTITION, CoreScenarioTest, cim_error, fault,
                              library_message, requests, small_complex, with_changes)



def missing(kind, text):
    return "Error: %s %s does not exist in this complex or is unavailable.\n" % (kind, text)


def local_partition(number):
    return "The local partition number is %d.\n" % number


def on(op, cls=None, **more):
    match = dict(operation=op, **more)
    if cls:
        match["class"] = cls
    return match


class PlatformCheck(CoreScenarioTest):
    def test_scenarios(self):
        count_fails = cim_error(1, "repository offline", **on("EnumerateInstanceNames", "XK_KestComplex"))
        cases = [
            # (complex changes, arguments, stdout, stderr, status)
            ({}, ["-s"], "", "", 0),
            ({"Complex": []}, ["-s"], "", "", 1),
            ({"Complex": [{"ProfileID": 0}, {"ProfileID": 1}]}, ["-s"], "", "", 0),
            ({"Complex": []}, ["-w"], "", "Error: Unsupported platform.\n", 1),
            ({"Complex": []}, ["-C"], "", "Error: Unsupported platform.\n", 1),
            ({"Complex": []}, ["-c", "0/1"], "", "Error: Unsupported platform.\n", 1),
            ({"faults": [count_fails]}, ["-X"], library_message(1, "repository offline") + "\n",
             "Note: Unable to get any XK_KestComplex information.\n"
             "Error: Cannot determine if platform is partitionable.\n", 1),
            ({"faults": [count_fails]}, ["-w"], library_message(1, "repository offline") + "\n",
             "Note: Unable to get any XK_KestComplex information.\n"
             "Error: Cannot determine if platform is partitionable.\n", 1),
            ({"faults": [count_fails]}, ["-s"], library_message(1, "repository offline") + "\n",
             "Note: Unable to get any XK_KestComplex information.\n", 1),
        ]
        for changes, args, stdout, stderr, status in cases:
            with self.subTest(args=args, changes=changes):
                changes = dict(changes)
                faults = changes.pop("faults", ())
                with Provider(with_changes(faults=faults, **changes)) as p:
                    self.check(p, args, stdout, stderr, status)
                    # Only the count of complexes is asked when it settles the run.
                    if status == 1:
                        self.assertEqual([(r["op"], r["class"]) for r in p.log()],
                                         [("EnumerateInstanceNames", "XK_KestComplex")])

    def test_platform_check_asks_one_question(self):
        with Provider(small_complex()) as p:
            self.check(p, ["-s"], "", "", 0)
            self.assertEqual(len(p.log()), 1)


class LocalPartition(CoreScenarioTest):
    def test_scenarios(self):
        ref = "XK_KestPartition.PartitionID=%d"
        cases = [
            # (LocalPartition instances, extra Partition or Cabinet instances, faults, stdout, stderr, status,
            #  GetInstance requests: the referenced instance is asked for once the reference was read)
            ([{"ContainedPartition": ref % 0}], [], [], local_partition(0), "", 0, 1),
            ([{"ContainedPartition": ref % 7}], [{"PartitionID": 7}], [], local_partition(7), "", 0, 1),
            ([], [], [], "", NO_LOCAL_PARTITION, 1, 0),
            ([{"ContainedPartition": ref % 0}, {"ContainedPartition": ref % 5}], [], [], "", NO_LOCAL_PARTITION, 1,
             0),
            ([{"ContainedPartition": None}], [], [], "", NO_LOCAL_PARTITION, 1, 0),
            ([{}], [], [], "", NO_LOCAL_PARTITION, 1, 0),
            # A reference sent as a plain string is no reference.
            ([{"ContainedPartition": {"$type": "string", "value": ref % 0}}], [], [], "", NO_LOCAL_PARTITION, 1,
             0),
            # The named instance has no PartitionID, or a null one.
            ([{"ContainedPartition": "XK_KestCabinet.ID=0"}], [], [], "", NO_LOCAL_PARTITION, 1, 1),
            ([{"ContainedPartition": "XK_KestCabinet.ID=9"}],
             [{"ID": 9, "PartitionID": {"$type": "uint32", "value": None}}], [], "", NO_LOCAL_PARTITION, 1, 1),
            # A PartitionID of another type than uint32.
            ([{"ContainedPartition": ref % 0}], [],
             [fault("wrongType", **on("GetInstance", "XK_KestPartition"))], "", NO_LOCAL_PARTITION, 1, 1),
            # The partition cannot be fetched: the library's message on standard output.
            ([{"ContainedPartition": ref % 0}], [],
             [cim_error(6, "partition 0 vanished", **on("GetInstance", "XK_KestPartition"))],
             library_message(6, "partition 0 vanished") + "\n", NO_LOCAL_PARTITION, 1, 1),
            ([{"ContainedPartition": ref % 0}], [],
             [cim_error(1, "cannot count", **on("EnumerateInstanceNames", "XK_KestLocalPartition"))],
             library_message(1, "cannot count") + "\n",
             "Note: Unable to get any XK_KestLocalPartition information.\n" + NO_LOCAL_PARTITION, 1, 0),
            ([{"ContainedPartition": ref % 0}], [],
             [cim_error(1, "cannot enumerate", **on("EnumerateInstances", "XK_KestLocalPartition"))],
             library_message(1, "cannot enumerate") + "\n",
             "Note: Unable to get any local partition information.\n" + NO_LOCAL_PARTITION, 1, 0),
        ]
        for local, extra, faults, stdout, stderr, status, gets in cases:
            with self.subTest(local=local, extra=extra, faults=faults):
                data = small_complex()
                classes = data["namespaces"]["root/cimv2/kest"]
                for instance in extra:
                    classes["XK_KestCabinet" if "ID" in instance else "XK_KestPartition"].append(instance)
                with Provider(with_changes(data, faults=faults, LocalPartition=local)) as p:
                    self.check(p, ["-w"], stdout, stderr, status)
                    self.assertEqual(len(requests(p, "GetInstance")), gets, p.log())


class EnumeratedInstanceStatus(CoreScenarioTest):
    """errorCode and errorMsg on instances of an enumeration, seen through -w,
    whose one enumerated kind is the local partition."""

    def test_scenarios(self):
        ok = local_partition(0)
        cases = [
            ({"errorCode": 22}, ok, "Unable to get read lock for local partition.\n" + MAY_NOT),
            ({"errorCode": 22, "errorMsg": "lock held by the MP"}, ok,
             "Unable to get read lock for local partition.\n" + MAY_NOT),
            ({"errorCode": 0}, ok, MAY_NOT),
            ({"errorCode": 0, "errorMsg": "all well"}, ok, MAY_NOT),
            ({"errorCode": 7, "errorMsg": "PDH read timed out"}, ok, LOW_LEVEL + "PDH read timed out\n" + MAY_NOT),
            ({"errorCode": 7}, ok, "Internal error code 7\n" + MAY_NOT),
            ({"errorCode": 7, "errorMsg": None}, ok, "Internal error code 7\n" + MAY_NOT),
            ({"errorCode": 4000000}, ok, "Internal error code 4000000\n" + MAY_NOT),
            ({"errorCode": None, "errorMsg": "ignored"}, ok, ""),
            ({"errorMsg": "ignored"}, ok, ""),
            # The instance still counts: a reported instance without its reference fails only for that.
            ({"errorCode": 22, "ContainedPartition": None}, "",
             "Unable to get read lock for local partition.\n" + MAY_NOT + NO_LOCAL_PARTITION),
        ]
        for extra, stdout, stderr in cases:
            with self.subTest(extra=extra):
                instance = dict({"ContainedPartition": "XK_KestPartition.PartitionID=0"}, **extra)
                with Provider(with_changes(LocalPartition=[instance])) as p:
                    self.check(p, ["-w"], stdout, stderr, 0 if stdout else 1)

    def test_object_words_of_the_enumerated_kinds(self):
        # The read lock reported for one instance of each class a report enumerates; its rows still follow.
        cases = [
            ("CellSlot", ["-C"], "cell slot"),
            ("Cell", ["-C"], "cell"),
            ("IOChassisSlot", ["-C"], "I/O chassis slot"),
            ("Complex", ["-C"], "complex"),
            ("Partition", ["-C"], "partition"),
            ("IOChassis", ["-I"], "I/O chassis"),
            ("Cabinet", ["-B"], "cabinet"),
            ("PowerCoolingDomain", ["-B"], "power/cooling domain"),
        ]
        for cls, args, word in cases:
            with self.subTest(cls=cls):
                data = small_complex()
                data["namespaces"]["root/cimv2/kest"]["XK_Kest" + cls][0]["errorCode"] = 22
                with Provider(data) as p:
                    self.check_errors(p, args, "Unable to get read lock for %s.\n" % word + MAY_NOT, 0,
                                      stdout_check=lambda out: out.strip() != "")


class KeyedFetchFailures(CoreScenarioTest):
    """A keyed fetch that fails prints the library's message on standard
    output unless the provider's code is 16 or 17, and the object is then
    reported as not existing."""

    def test_scenarios(self):
        def printed(code, description):
            return library_message(code, description) + "\n"

        descriptions = [
            # (fault description, printed)
            ("no such object@16:gone", False),
            ("no such position@17:gone", False),
            ("busy@ 17:lock table full", False),
            ("first@16:then@3:other", True),
            ("first@3:then@16:", False),
            ("lock table full@22:try later", True),
            ("object missing", True),
            ("code without message@16", False),
            ("code@18:eighteen", True),
        ]
        keyed = [
            # (arguments, class of the keyed fetch, key, kind word of the error, closing text on stdout)
            (["-b", "4", "-M"], "XK_KestCabinet", "4", "Cabinet", "\n" + CABINET_NOTES),
            (["-p", "4", "-M"], "XK_KestPartition", "4", "Partition", "\n"),
            (["-c", "2", "-M"], "XK_KestCellSlot", "2", "Cell", "\n"),
            (["-i", "0/0/1", "-M"], "XK_KestIOChassisSlot", "0", "I/O chassis", "\n"),
        ]
        for args, cls, key, kind, closing in keyed:
            for description, shown in descriptions:
                with self.subTest(args=args, description=description):
                    rule = cim_error(6, description, **on("GetInstance", cls))
                    with Provider(with_changes(faults=[rule])) as p:
                        stdout = (printed(6, description) if shown else "") + closing
                        self.check(p, args, stdout, missing(kind, args[1]), 1)
                        self.assertEqual([r["key"] for r in requests(p, "GetInstance", cls)], [key])

    def test_objects_the_provider_does_not_have(self):
        # The provider's own answer for a missing object carries code 16: nothing is printed for it.
        with Provider(small_complex()) as p:
            self.check(p, ["-b", "4", "-M"], "\n" + CABINET_NOTES, missing("Cabinet", "4"), 1)
            self.check(p, ["-p", "9", "-M"], "\n", missing("Partition", "9"), 1)
            self.check(p, ["-c", "12", "-M"], "\n", missing("Cell", "12"), 1)
            self.check(p, ["-b", "4", "-b", "7", "-M"], "\n" + CABINET_NOTES,
                       missing("Cabinet", "4") + missing("Cabinet", "7"), 1)

    def test_every_request_is_fetched_in_order(self):
        rule = cim_error(1, "first one fails", nth=1, **on("GetInstance", "XK_KestPartition"))
        with Provider(with_changes(faults=[rule])) as p:
            self.check(p, ["-p", "8", "-p", "9", "-p", "6", "-M"], library_message(1, "first one fails") + "\n\n",
                       missing("Partition", "8") + missing("Partition", "9") + missing("Partition", "6"), 1)
            self.assertEqual([r["key"] for r in requests(p, "GetInstance", "XK_KestPartition")], ["8", "9", "6"])


class KeyedInstanceStatus(CoreScenarioTest):
    """errorCode and errorMsg on instances fetched by key. Partition 5 of the
    small complex has no cells, so it is reported as not existing and
    nothing else is printed for it."""

    def test_scenarios(self):
        gone = missing("Partition", "5")
        cases = [
            ({"errorCode": 22}, "Unable to get read lock for partition.\n" + MAY_NOT),
            ({"errorCode": 0}, "Internal error code 0\n" + MAY_NOT),
            ({"errorCode": 0, "errorMsg": "fine"}, "Internal error code 0\n" + MAY_NOT),
            ({"errorCode": 9, "errorMsg": "cell board unreachable"},
             LOW_LEVEL + "cell board unreachable\n" + MAY_NOT),
            ({"errorCode": 9}, MAY_NOT),
            ({"errorCode": 9, "errorMsg": None}, MAY_NOT),
            ({"errorCode": None}, ""),
            ({}, ""),
        ]
        for extra, report in cases:
            with self.subTest(extra=extra):
                data = small_complex()
                data["namespaces"]["root/cimv2/kest"]["XK_KestPartition"][1].update(extra)
                with Provider(data) as p:
                    self.check(p, ["-p", "5", "-M"], "\n", report + gone, 1)

    def test_object_words_of_the_keyed_kinds(self):
        cases = [
            ("Cabinet", 0, ["-b", "0", "-M"], "cabinet"),
            ("CellSlot", 1, ["-c", "1", "-M"], "cell slot"),
            ("IOChassisSlot", 0, ["-i", "0/0/1", "-M"], "iochassis slot"),
            ("Partition", 0, ["-p", "0", "-M"], "partition"),
        ]
        for cls, index, args, word in cases:
            with self.subTest(cls=cls):
                data = small_complex()
                data["namespaces"]["root/cimv2/kest"]["XK_Kest" + cls][index]["errorCode"] = 22
                with Provider(data) as p:
                    self.check_errors(p, args, "Unable to get read lock for %s.\n" % word + MAY_NOT, 0,
                                      stdout_check=lambda out: out.strip() != "")


def positions_complex():
    """Cell slots and I/O chassis slots whose unique numbers differ from their positions."""
    data = small_complex()
    classes = data["namespaces"]["root/cimv2/kest"]
    classes["XK_KestCellSlot"] += [
        {"ID": 7, "CabinetID": 1, "Number": 1, "LongLabel": "Cab 1 Cell 1", "Populated": True},
        {"ID": 9, "CabinetID": 1, "Number": 2, "LongLabel": "Cab 1 Cell 2", "Populated": True},
        {"ID": 13, "CabinetID": 44, "Number": 1, "LongLabel": "Cab 44 Cell 1", "Populated": True}]
    classes["XK_KestIOChassisSlot"] += [
        {"ID": 20, "CabinetID": 1, "IOBayNumber": 0, "Number": 1, "LongLabel": "Cab 1 Bay 0 Chassis 1"},
        {"ID": 21, "CabinetID": 1, "IOBayNumber": 1, "Number": 2, "LongLabel": "Cab 1 Bay 1 Chassis 2"},
        {"ID": 22, "CabinetID": 1, "IOBayNumber": 2, "Number": 1, "LongLabel": "Cab 1 Bay 2 Chassis 1"}]
    return data


class UniqueNumbers(CoreScenarioTest):
    def keys(self, p, cls):
        return [r["key"] for r in requests(p, "GetInstance", cls)]

    def test_positions_resolved_through_make_id(self):
        cases = [
            # (arguments, slot class, MakeID calls, keys fetched)
            (["-c", "1/1"], "XK_KestCellSlot", 1, ["7"]),
            (["-c", "1/2", "-c", "1/1"], "XK_KestCellSlot", 2, ["9", "7"]),
            # Cell numbers need no call.
            (["-c", "3"], "XK_KestCellSlot", 0, ["3"]),
            (["-c", "3", "-c", "1/2", "-c", "0"], "XK_KestCellSlot", 1, ["3", "9", "0"]),
            # Only the low 8 bits of each position are sent.
            (["-c", "300/257"], "XK_KestCellSlot", 1, ["13"]),
            (["-i", "1/2/1"], "XK_KestIOChassisSlot", 1, ["22"]),
            (["-i", "1/1/2", "-i", "1/0/1"], "XK_KestIOChassisSlot", 2, ["21", "20"]),
        ]
        for args, cls, calls, keys in cases:
            with self.subTest(args=args), Provider(positions_complex()) as p:
                self.check_errors(p, args + ["-M"], "", 0, stdout_check=lambda out: out.endswith("\n"))
                invokes = requests(p, "InvokeMethod", cls)
                self.assertEqual(len(invokes), calls, p.log())
                self.assertTrue(all(r["method"] == "MakeID" for r in invokes), invokes)
                self.assertEqual(len(requests(p, "InvokeMethod")), calls)
                self.assertEqual(self.keys(p, cls), keys)

    def test_failed_and_null_make_id(self):
        unique = "Error: Unable to get unique ID for cell or I/O chassis.\n"
        make_id = dict(operation="InvokeMethod", method="MakeID")
        cases = [
            # (arguments, faults, stdout, stderr, MakeID calls, keys fetched)
            (["-c", "1/1"], [cim_error(1, "MP not answering", **make_id)],
             library_message(1, "MP not answering") + "\n\n", unique + missing("Cell", "1/1"), 1, ["255"]),
            (["-c", "1/8"], [cim_error(6, "no cell slot at 1/8@17:no slot", **make_id)],
             library_message(6, "no cell slot at 1/8@17:no slot") + "\n\n", unique + missing("Cell", "1/8"), 1,
             ["255"]),
            # The first failure ends the resolution: later requests keep 255 and are fetched so.
            (["-c", "1/1", "-c", "1/2"], [cim_error(1, "MP not answering", **make_id)],
             library_message(1, "MP not answering") + "\n\n",
             unique + missing("Cell", "1/1") + missing("Cell", "1/2"), 1, ["255", "255"]),
            (["-c", "1/1", "-c", "1/2"], [cim_error(1, "second fails", nth=2, **make_id)],
             None, unique + missing("Cell", "1/2"), 2, ["7", "255"]),
            # A null answer: that request is not found, the others go on.
            (["-c", "1/1"], [fault("nullReturn", **make_id)], "\n", missing("Cell", "1/1"), 1, ["255"]),
            (["-c", "1/1", "-c", "1/2"], [fault("nullReturn", nth=1, **make_id)], None, missing("Cell", "1/1"), 2,
             ["255", "9"]),
            # An answer that is no uint32 counts as a failed call.
            (["-c", "1/1"], [fault("returnValue", value={"$type": "string", "value": "7"}, **make_id)], None,
             unique + missing("Cell", "1/1"), 1, ["255"]),
            (["-c", "1/1"], [fault("returnValue", value={"$type": "uint8", "value": 7}, **make_id)], None,
             unique + missing("Cell", "1/1"), 1, ["255"]),
            (["-c", "1/1"], [fault("returnValue", value={"$type": "uint32", "value": 9}, **make_id)], None, "", 1,
             ["9"]),
            (["-i", "1/2/1"], [cim_error(1, "chassis map unavailable", **make_id)],
             library_message(1, "chassis map unavailable") + "\n\n", unique + missing("I/O chassis", "1/2/1"), 1,
             ["255"]),
            (["-i", "1/2/1"], [fault("nullReturn", **make_id)], "\n", missing("I/O chassis", "1/2/1"), 1, ["255"]),
            (["-i", "1/0/1", "-i", "1/2/1"], [fault("nullReturn", nth=2, **make_id)], None,
             missing("I/O chassis", "1/2/1"), 2, ["20", "255"]),
            # The slot names cannot be had: nothing is resolved.
            (["-c", "1/1", "-c", "3"], [cim_error(1, "slots unavailable",
                                                   **on("EnumerateInstanceNames", "XK_KestCellSlot"))],
             None, "Error: Unable to get any cell or I/O chassis information.\n" + missing("Cell", "1/1"), 0,
             ["255", "3"]),
        ]
        for args, faults, stdout, stderr, calls, keys in cases:
            with self.subTest(args=args, faults=faults), Provider(with_changes(positions_complex(),
                                                                               faults=faults)) as p:
                cls = "XK_KestCellSlot" if args[0] == "-c" else "XK_KestIOChassisSlot"
                status = 1 if stderr else 0
                if stdout is None:
                    out = self.check_errors(p, args + ["-M"], stderr, status,
                                            stdout_check=lambda out: out.endswith("\n"))
                    if "slots unavailable" in str(faults):
                        self.assertTrue(out.startswith(library_message(1, "slots unavailable") + "\n"), out)
                else:
                    self.check(p, args + ["-M"], stdout, stderr, status)
                self.assertEqual(len(requests(p, "InvokeMethod")), calls, p.log())
                self.assertEqual(self.keys(p, cls), keys)

    def test_no_slot_to_call_make_id_on(self):
        with Provider(with_changes(CellSlot=[])) as p:
            out = self.check_errors(p, ["-c", "1/1", "-M"], "Error: Unable to get unique ID for cell or I/O chassis.\n"
                                    + missing("Cell", "1/1"), 1, stdout_check=lambda out: out.endswith("\n\n"))
            self.assertEqual(len(out.splitlines()), 2, "the reason on one line, then the closing line: %r" % out)
            self.assertEqual(requests(p, "InvokeMethod"), [])
            self.assertEqual(self.keys(p, "XK_KestCellSlot"), ["255"])




def two_chassis_complex():
    """The small complex with a second I/O chassis; both chassis hang off cells of partition 0."""
    data = small_complex()
    classes = data["namespaces"]["root/cimv2/kest"]
    classes["XK_KestIOChassisSlot"].append({"ID": 1, "CabinetID": 0, "IOBayNumber": 1, "Number": 1,
                                            "LongLabel": "Cab 0 Bay 1 Chassis 1", "Populated": True})
    classes["XK_KestIOChassis"] = [
        {"SlotID": 0, "ComponentStatus": 5, "Connected": True, "ConnectedCellID": 0, "HasCoreIO": True},
        {"SlotID": 1, "ComponentStatus": 5, "Connected": True, "ConnectedCellID": 2, "HasCoreIO": False}]
    return data


class PartitionDetails(CoreScenarioTest):
    """-p with -V: each partition's cells under one heading, each of its I/O
    chassis under a heading of its own, and the table of the selected
    partitions put back after every partition."""

    def test_cells_and_chassis_of_the_partition(self):
        with Provider(two_chassis_complex()) as p:
            out = self.check_errors(p, ["-p", "0", "-V"], "", 0, stdout_check=lambda out: True)
            self.assertEqual(out.count("[Cell]\n"), 1, out)
            self.assertEqual(out.count("\n\n[Cell]\n" + CELL_HEADING), 1, out)
            self.assertEqual(out.count("[Chassis]\n"), 2, out)
            self.assertEqual(out.count("\n\n[Chassis]\n" + CHASSIS_HEADING), 2, out)
            cells = out.index("[Cell]\n")
            notes = out.index(CELL_NOTES)
            self.assertLess(cells, notes)
            self.assertLess(notes, out.index("[Chassis]\n"))
            # The last chassis row, two line breaks after the partition's devices, one more after all requests.
            self.assertEqual(out, out.rstrip("\n") + "\n\n\n\n", out[-200:])

    def test_the_selected_partitions_are_built_in_their_own_order(self):
        # After partition 5 the device listing loads every partition (0 first); the second request must
        # still be built from the selected partitions, i.e. be partition 0 with its cells.
        with Provider(two_chassis_complex()) as p:
            out = self.check_errors(p, ["-p", "5", "-p", "0", "-V"], missing("Partition", "5"), 1,
                                    stdout_check=lambda out: True)
            self.assertEqual(out.count("[Cell]\n"), 1, out)
            self.assertEqual(out.count("[Chassis]\n"), 2, out)
            self.assertEqual([r["key"] for r in requests(p, "GetInstance", "XK_KestPartition")], ["5", "0"])

    def test_device_load_failure(self):
        rule = cim_error(1, "chassis table locked", **on("EnumerateInstances", "XK_KestIOChassis"))
        with Provider(with_changes(two_chassis_complex(), faults=[rule])) as p:
            out = self.check_errors(p, ["-p", "0", "-V"],
                                    "Note: Unable to get any I/O chassis information.\n"
                                    "Error: Unable to display cell and I/O chassis information.", 1,
                                    stdout_check=lambda out: True)
            self.assertIn("\n" + library_message(1, "chassis table locked") + "\n", out)
            self.assertNotIn("[Cell]", out)
            self.assertNotIn("[Chassis]", out)
            self.assertTrue(out.endswith(library_message(1, "chassis table locked") + "\n\n"), out[-200:])


SECTIONS = ["[Complex]\n", "\n\n[Cabinet]\n", "\n\n[Cell]\n", "\n\n[Chassis]\n", "\n\n[Partition]\n"]


class DisplayAll(CoreScenarioTest):
    """Display-all runs five sections; a failed section other than the complex
    is reported and the next one still runs."""

    def sections(self, out):
        return [name for name in SECTIONS if name in out]

    def test_failed_sections(self):
        enumerate_ = lambda cls, **more: on("EnumerateInstances", cls, **more)  # noqa: E731
        cases = [
            # (fault, note of the failed fetch, dispatcher's error, sections shown)
            (cim_error(1, "domains locked", **enumerate_("XK_KestPowerCoolingDomain")),
             "Note: Unable to get any power/cooling domain information.\n",
             "\nError: Unable to get any cabinet information.\n", [0, 2, 3, 4]),
            (cim_error(1, "cells locked", nth=1, **enumerate_("XK_KestCell")),
             "Note: Unable to get any cell information.\n", "\nError: Unable to get any cell information.\n",
             [0, 1, 3, 4]),
            (cim_error(1, "chassis locked", **enumerate_("XK_KestIOChassis")),
             "Note: Unable to get any I/O chassis information.\n",
             "\nError: Unable to get any I/O chassis information.\n", [0, 1, 2, 4]),
            (cim_error(1, "complex locked", **enumerate_("XK_KestComplex")),
             "Note: Unable to get any complex information.\n", "\nError: Unable to get complex information.\n",
             []),
        ]
        for rule, note, error, shown in cases:
            with self.subTest(fault=rule["description"]), Provider(with_changes(faults=[rule])) as p:
                out = self.check_errors(p, [], DEFAULT_NOTE + note + error, 1, stdout_check=lambda out: True)
                self.assertEqual(self.sections(out), [SECTIONS[i] for i in shown], out)
                # The library's message where the failed fetch was, before the sections that follow it.
                message = library_message(1, rule["description"]) + "\n"
                self.assertEqual(out.count(message), 1, out)
                failed = min(i for i in range(5) if i not in shown)
                for i in shown:
                    self.assertEqual(out.index(SECTIONS[i]) > out.index(message), i > failed, (i, out))

    def test_no_partitions_ends_the_output(self):
        with Provider(with_changes(Partition=[], LocalPartition=[])) as p:
            out = self.check_errors(p, [], DEFAULT_NOTE, 0, stdout_check=lambda out: True)
            self.assertEqual(self.sections(out), SECTIONS)
            self.assertTrue(out.endswith(
                "\n\n[Partition]\n"
                "Par              # of  # of I/O\n"
                "Num Status       Cells Chassis  Core cell  Partition Name (first 30 chars)\n"
                "=== ============ ===== ======== ========== ===============================\n"
                "No partitions found."), out[-300:])

# Values an intrinsic method takes when the request leaves a flag out.
FLAG_DEFAULTS = {
    "EnumerateInstances": {"DeepInheritance": True, "LocalOnly": True, "IncludeQualifiers": False,
                           "IncludeClassOrigin": False},
    "GetInstance": {"LocalOnly": True, "IncludeQualifiers": False, "IncludeClassOrigin": False},
    "GetClass": {"LocalOnly": True, "IncludeQualifiers": True, "IncludeClassOrigin": False},
}


def traced_requests(args, provider):
    """Runs cmplxview with the client's wire trace on; gives the request
    documents it sent, in order, as parsed XML."""
    with tempfile.TemporaryDirectory(prefix="kest-trace-") as d:
        path = os.path.join(d, "trace")
        run(args, env=dict(provider.env, XK_CIM_TRACE=path))
        with open(path, encoding="utf-8") as f:
            docs = [ET.fromstring(line) for line in f if line.startswith("<CIM") and "<SIMPLEREQ>" in line]
    return docs


def call_of(doc):
    call = doc.find("MESSAGE/SIMPLEREQ/IMETHODCALL")
    return call if call is not None else doc.find("MESSAGE/SIMPLEREQ/METHODCALL")


def flags(call):
    """The boolean flags of an intrinsic call, with the defaults of those left out."""
    values = dict(FLAG_DEFAULTS.get(call.get("NAME"), {}))
    for p in call.findall("IPARAMVALUE"):
        v = p.find("VALUE")
        if v is not None and v.text and v.text.strip().lower() in ("true", "false"):
            values[p.get("NAME")] = v.text.strip().lower() == "true"
    return values


def key_bindings(instance_name):
    return [(k.get("NAME"), k.find("KEYVALUE").get("VALUETYPE"), k.find("KEYVALUE").text)
            for k in instance_name.findall("KEYBINDING")]


class RequestsOnTheWire(CoreScenarioTest):
    """What the program asks: the flags of each operation, the key bindings of
    keyed fetches and the parameters of MakeID, read from the client's trace."""

    def test_flags_of_each_operation(self):
        expected = {
            "EnumerateInstances": {"DeepInheritance": False, "LocalOnly": False, "IncludeQualifiers": True,
                                   "IncludeClassOrigin": False},
            "GetInstance": {"LocalOnly": True, "IncludeQualifiers": False, "IncludeClassOrigin": False},
            "GetClass": {"LocalOnly": False, "IncludeQualifiers": True, "IncludeClassOrigin": False},
        }
        with Provider(small_complex()) as p:
            seen = set()
            for args in (["-C"], ["-p", "0", "-M"], ["-w"]):
                for doc in traced_requests(args, p):
                    call = call_of(doc)
                    name = call.get("NAME")
                    namespace = "/".join(n.get("NAME") for n in call.iter("NAMESPACE"))
                    self.assertEqual(namespace, "root/cimv2/kest", (args, name))
                    if name in expected:
                        seen.add(name)
                        self.assertEqual(flags(call), expected[name], (args, name))
                        # No property list: every property is asked for.
                        self.assertIsNone(call.find("IPARAMVALUE[@NAME='PropertyList']"), (args, name))
            self.assertEqual(seen, set(expected))

    def test_keys_of_keyed_fetches(self):
        cases = [
            (["-b", "0", "-M"], [("XK_KestCabinet", [("ID", "numeric", "0")])]),
            (["-p", "5", "-p", "0", "-M"], [("XK_KestPartition", [("PartitionID", "numeric", "5")]),
                                            ("XK_KestPartition", [("PartitionID", "numeric", "0")])]),
            (["-c", "3", "-M"], [("XK_KestCellSlot", [("ID", "numeric", "3")])]),
            (["-i", "0/0/1", "-M"], [("XK_KestIOChassisSlot", [("ID", "numeric", "0")])]),
            (["-w"], [("XK_KestPartition", [("PartitionID", "numeric", "0")])]),
        ]
        with Provider(small_complex()) as p:
            for args, gets in cases:
                names = [call_of(d).find("IPARAMVALUE[@NAME='InstanceName']/INSTANCENAME")
                         for d in traced_requests(args, p) if call_of(d).get("NAME") == "GetInstance"]
                self.assertEqual([(n.get("CLASSNAME"), key_bindings(n)) for n in names], gets, args)

    def test_make_id_parameters(self):
        cases = [
            (["-c", "1/2"], "XK_KestCellSlot", [("CabinetID", "uint8", "1"), ("SlotNumber", "uint8", "2")]),
            (["-c", "300/257"], "XK_KestCellSlot", [("CabinetID", "uint8", "44"), ("SlotNumber", "uint8", "1")]),
            (["-i", "1/2/1"], "XK_KestIOChassisSlot",
             [("CabinetID", "uint8", "1"), ("BayNumber", "uint8", "2"), ("SlotNumber", "uint8", "1")]),
        ]
        with Provider(positions_complex()) as p:
            for args, cls, params in cases:
                calls = [call_of(d) for d in traced_requests(args + ["-M"], p)
                         if call_of(d).get("NAME") == "MakeID"]
                self.assertEqual(len(calls), 1, args)
                target = calls[0].find("LOCALINSTANCEPATH/INSTANCENAME")
                # The method is called on the first instance name of the slot class.
                self.assertEqual((target.get("CLASSNAME"), key_bindings(target)), (cls, [("ID", "numeric", "0")]))
                self.assertEqual([(v.get("NAME"), v.get("PARAMTYPE"), v.find("VALUE").text)
                                  for v in calls[0].findall("PARAMVALUE")], params, args)


if __name__ == "__main__":
    unittest.main()
