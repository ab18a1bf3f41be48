"""The complex block of -X: capacity counters, the active MP, and the choice
between OEM and original texts."""
import unittest

import hardware as hw
from hardware import as_string, complex_file, partition

ORIGINAL = {"ProfileID": 0, "ComplexName": "harrier", "ModelString": "KX9000", "RevisionString": "7.4",
            "CreatorProductName": "Kestrel KX9000", "CreatorSerialNumber": "KSX0419",
            "OriginalProductOrderNumber": "KX9000-A01", "CreatorManufacturer": "Kestrel Systems"}
ORIGINAL_LINES = ["   Original Product Name : Kestrel KX9000", "   Original Serial Number : KSX0419",
                  "   Original Product Order Number : KX9000-A01", "   Original Manufacturer : Kestrel Systems"]
ACTIVE_MP, BACKUP_MP = 2, 3


def cabinet(id_, type_=2, mp_status=(), **extra):
    return dict({"ID": id_, "CabinetType": type_, "ServiceProcessorCount": len(mp_status),
                 "ServiceProcessorStatus": list(mp_status)}, **extra)


def block(capacity, mp="unknown", texts=ORIGINAL_LINES, name="harrier", revision="7.4", partitions=0):
    return ("[Complex]\n   Complex Name : %s\n   Complex Capacity\n" % name
            + "".join("     %s\n" % line for line in capacity) + "   Active MP Location : %s\n" % mp
            + "".join(line + "\n" for line in texts)
            + "   Complex Profile Revision : %s\n   The total number of partitions present : %d\n\n"
            % (revision, partitions))


def scenario(name, cabinets, expected, complex_=ORIGINAL, **classes):
    return (name, complex_file(complex_, Cabinet=cabinets, **classes), ["-X"], expected)


EIGHT_CELL = ["Compute Cabinet (8 cell capable) : 4"]
SECOND_PROFILE_0 = complex_file(dict(ORIGINAL, ProfileID=1, ComplexName="other"), Cabinet=[cabinet(0)])
SECOND_PROFILE_0["namespaces"]["root/cimv2/kest"]["XK_KestComplex"].append(ORIGINAL)


class ComplexReport(hw.ScenarioTable):
    scenarios = [
        scenario("every cabinet type, in fixed order", [cabinet(i, t) for i, t in enumerate([9, 6, 1, 5, 4, 3, 2, 0, 3])],
                 block(["Compute Cabinet (8 cell capable) : 1", "Compute Cabinet (4 cell capable) : 3",
                        "Compute Cabinet (2 cell capable) : 1", "IO Expansion Cabinet : 1", "Other cabinet : 1",
                        "Unknown cabinet : 2"])),
        scenario("only counters above zero; partitions counted", [cabinet(0, 3), cabinet(1, 3), cabinet(2, 4)],
                 block(["Compute Cabinet (4 cell capable) : 3"], partitions=3),
                 Partition=[partition(0), partition(1), partition(4)]),
        # A type not given, or given as a text, counts as unknown.
        scenario("cabinet types not given", [cabinet(0, None), cabinet(1, as_string(2))],
                 block(["Unknown cabinet : 2"])),
        # Cabinet 9 also says "Active" but counts no MP.
        scenario("last active MP wins", [cabinet(0, 2, [BACKUP_MP]), cabinet(4, 2, [ACTIVE_MP]),
                                         cabinet(6, 2, [BACKUP_MP, ACTIVE_MP]),
                                         cabinet(9, 2, [ACTIVE_MP], ServiceProcessorCount=0)],
                 block(EIGHT_CELL, "cabinet 6")),
        # Codes past the ValueMap, null codes, a missing status list or MP count are never "Active".
        scenario("no active MP", [cabinet(0, 2, [BACKUP_MP, 1, 0]), cabinet(1, 2, [BACKUP_MP, 7, None]),
                                  cabinet(2, 2, [BACKUP_MP], ServiceProcessorStatus=None),
                                  cabinet(3, 2, [ACTIVE_MP], ServiceProcessorCount=None)],
                 block(EIGHT_CELL)),
        # The cabinet that wins has no ID: its location is not known.
        scenario("active MP in a cabinet without ID", [cabinet(5, 2, [ACTIVE_MP]), cabinet(6, 2, [BACKUP_MP]),
                                                       cabinet(None, 2, [ACTIVE_MP]), cabinet(7, 2, [BACKUP_MP])],
                 block(EIGHT_CELL)),
        scenario("OEM product and serial, original manufacturer", [cabinet(0, 6)],
                 block(["IO Expansion Cabinet : 1"], texts=[
                     "   OEM Product Name : Falcon F9", "   OEM Serial Number : F-123",
                     "   Current Product Order Number : KX9000-A03", "   Original Manufacturer : Kestrel Systems"]),
                 dict(ORIGINAL, OEMProductName="Falcon F9", OEMSerialNumber="F-123",
                      CurrentProductOrderNumber="KX9000-A03")),
        scenario("OEM manufacturer", [cabinet(0, 6)],
                 block(["IO Expansion Cabinet : 1"], texts=ORIGINAL_LINES[:3] + ["   OEM Manufacturer : Falcon Inc"]),
                 dict(ORIGINAL, OEMManufacturer="Falcon Inc")),
        scenario("model without product names", [cabinet(0, 6)],
                 block(["IO Expansion Cabinet : 1"], texts=["   Model : KX9000"] + ORIGINAL_LINES[1:]),
                 dict(ORIGINAL, CreatorProductName=None)),
        scenario("all texts missing", [cabinet(0, 6)],
                 block(["IO Expansion Cabinet : 1"], name="?", revision="?", texts=[
                     "   Model : ?", "   Original Serial Number : ?", "   Original Product Order Number : ?",
                     "   Original Manufacturer : ?"]),
                 {"ProfileID": 0, "ComplexName": None}),
        ("profile 0 second", SECOND_PROFILE_0, ["-X"], block(["Compute Cabinet (8 cell capable) : 1"])),
        scenario("no profile 0", [cabinet(0)], "[Complex]\n", dict(ORIGINAL, ProfileID=3))
        + ("Error: Complex configuration information unavailable.", 1),
        scenario("no cabinets", [], "") + ("\nError: Unable to get complex information.\n", 1),
    ]


if __name__ == "__main__":
    unittest.main()
