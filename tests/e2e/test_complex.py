"""The complex block of -X: capacity counters, the active MP, and the choice
between OEM and original texts."""
import unittest

from harness import Provider, ScenarioTest
from hardware import cabinet, complex_file, partition

# A complex with every descriptive text of the original maker and none of an OEM.
ORIGINAL = {"ProfileID": 0, "ComplexName": "harrier", "ModelString": "KX9000", "RevisionString": "7.4",
            "CreatorProductName": "Kestrel KX9000", "CreatorSerialNumber": "KSX0419",
            "OriginalProductOrderNumber": "KX9000-A01", "CreatorManufacturer": "Kestrel Systems"}


def block(*lines):
    return "[Complex]\n" + "".join(line + "\n" for line in lines) + "\n"


def original_texts(revision="7.4", partitions=0):
    return ("   Original Product Name : Kestrel KX9000",
            "   Original Serial Number : KSX0419",
            "   Original Product Order Number : KX9000-A01",
            "   Original Manufacturer : Kestrel Systems",
            "   Complex Profile Revision : " + revision,
            "   The total number of partitions present : %d" % partitions)


class Capacity(ScenarioTest):
    def test_every_cabinet_type_counts_in_its_line_in_fixed_order(self):
        data = complex_file(ORIGINAL, cabinets=[cabinet(i, t) for i, t in enumerate([9, 6, 1, 5, 4, 3, 2, 0, 3])])
        with Provider(data) as p:
            self.check(p, ["-X"], block(
                "   Complex Name : harrier",
                "   Complex Capacity",
                "     Compute Cabinet (8 cell capable) : 1",
                "     Compute Cabinet (4 cell capable) : 3",
                "     Compute Cabinet (2 cell capable) : 1",
                "     IO Expansion Cabinet : 1",
                "     Other cabinet : 1",
                "     Unknown cabinet : 2",
                "   Active MP Location : unknown",
                *original_texts()))

    def test_only_counters_above_zero_are_printed(self):
        data = complex_file(ORIGINAL, cabinets=[cabinet(0, 3), cabinet(1, 3), cabinet(2, 4)],
                            partitions=[partition(0), partition(1), partition(4)])
        with Provider(data) as p:
            self.check(p, ["-X"], block(
                "   Complex Name : harrier",
                "   Complex Capacity",
                "     Compute Cabinet (4 cell capable) : 3",
                "   Active MP Location : unknown",
                *original_texts(partitions=3)))

    def test_cabinet_without_type_counts_as_unknown(self):
        data = complex_file(ORIGINAL, cabinets=[cabinet(0, None), cabinet(1, 2, CabinetType={"$type": "string",
                                                                                             "value": "2"})])
        with Provider(data) as p:
            self.check(p, ["-X"], block(
                "   Complex Name : harrier",
                "   Complex Capacity",
                "     Unknown cabinet : 2",
                "   Active MP Location : unknown",
                *original_texts()))


ACTIVE_MP, BACKUP_MP = 2, 3


class ActiveMP(ScenarioTest):
    def mp_block(self, location):
        return block("   Complex Name : harrier", "   Complex Capacity", "     Compute Cabinet (8 cell capable) : 4",
                     "   Active MP Location : " + location, *original_texts())

    def test_last_cabinet_with_an_active_mp_wins(self):
        # Cabinet 9 also says "Active", but it counts no MP at all.
        data = complex_file(ORIGINAL, cabinets=[
            cabinet(0, 2, [BACKUP_MP]), cabinet(4, 2, [ACTIVE_MP]), cabinet(6, 2, [BACKUP_MP, ACTIVE_MP]),
            cabinet(9, 2, [ACTIVE_MP], mp_count=0)])
        with Provider(data) as p:
            self.check(p, ["-X"], self.mp_block("cabinet 6"))

    def test_no_active_mp(self):
        # Status codes past the end of the ValueMap, null ones and a missing
        # status list are never "Active".
        data = complex_file(ORIGINAL, cabinets=[
            cabinet(0, 2, [BACKUP_MP, 1, 0]), cabinet(1, 2, [BACKUP_MP, 7, None]),
            cabinet(2, 2, mp_count=2, ServiceProcessorStatus=None), cabinet(3, 2, [ACTIVE_MP], mp_count=None,
                                                                           ServiceProcessorCount=None)])
        with Provider(data) as p:
            self.check(p, ["-X"], self.mp_block("unknown"))

    def test_active_mp_in_a_cabinet_without_id_is_not_located(self):
        # The cabinet that wins gives no ID: the location is not known,
        # although an earlier cabinet has an active MP too.
        data = complex_file(ORIGINAL, cabinets=[
            cabinet(5, 2, [ACTIVE_MP]), cabinet(6, 2, [BACKUP_MP]), cabinet(None, 2, [ACTIVE_MP]),
            cabinet(7, 2, [BACKUP_MP])])
        with Provider(data) as p:
            self.check(p, ["-X"], self.mp_block("unknown"))


class Texts(ScenarioTest):
    def test_oem_product_and_serial_but_original_manufacturer(self):
        complex_ = dict(ORIGINAL, OEMProductName="Falcon F9", OEMSerialNumber="F-123",
                        CurrentProductOrderNumber="KX9000-A03")
        data = complex_file(complex_, cabinets=[cabinet(0, 6)])
        with Provider(data) as p:
            self.check(p, ["-X"], block(
                "   Complex Name : harrier", "   Complex Capacity", "     IO Expansion Cabinet : 1",
                "   Active MP Location : unknown",
                "   OEM Product Name : Falcon F9",
                "   OEM Serial Number : F-123",
                "   Current Product Order Number : KX9000-A03",
                "   Original Manufacturer : Kestrel Systems",
                "   Complex Profile Revision : 7.4",
                "   The total number of partitions present : 0"))

    def test_oem_manufacturer(self):
        data = complex_file(dict(ORIGINAL, OEMManufacturer="Falcon Inc"), cabinets=[cabinet(0, 6)])
        with Provider(data) as p:
            self.check(p, ["-X"], block(
                "   Complex Name : harrier", "   Complex Capacity", "     IO Expansion Cabinet : 1",
                "   Active MP Location : unknown",
                "   Original Product Name : Kestrel KX9000",
                "   Original Serial Number : KSX0419",
                "   Original Product Order Number : KX9000-A01",
                "   OEM Manufacturer : Falcon Inc",
                "   Complex Profile Revision : 7.4",
                "   The total number of partitions present : 0"))

    def test_model_when_no_product_name_is_given(self):
        complex_ = {k: v for k, v in ORIGINAL.items() if k != "CreatorProductName"}
        data = complex_file(complex_, cabinets=[cabinet(0, 6)])
        with Provider(data) as p:
            self.check(p, ["-X"], block(
                "   Complex Name : harrier", "   Complex Capacity", "     IO Expansion Cabinet : 1",
                "   Active MP Location : unknown",
                "   Model : KX9000",
                *original_texts()[1:]))

    def test_all_texts_missing(self):
        data = complex_file({"ProfileID": 0, "ComplexName": None}, cabinets=[cabinet(0, 6)])
        with Provider(data) as p:
            self.check(p, ["-X"], block(
                "   Complex Name : ?", "   Complex Capacity", "     IO Expansion Cabinet : 1",
                "   Active MP Location : unknown",
                "   Model : ?",
                "   Original Serial Number : ?",
                "   Original Product Order Number : ?",
                "   Original Manufacturer : ?",
                "   Complex Profile Revision : ?",
                "   The total number of partitions present : 0"))


class Profiles(ScenarioTest):
    def test_profile_0_is_described_whatever_its_place(self):
        data = complex_file(dict(ORIGINAL, ProfileID=1, ComplexName="other", RevisionString="1.0"),
                            cabinets=[cabinet(0, 2, [ACTIVE_MP])])
        data["namespaces"]["root/cimv2/kest"]["XK_KestComplex"].append(ORIGINAL)
        with Provider(data) as p:
            self.check(p, ["-X"], block(
                "   Complex Name : harrier", "   Complex Capacity", "     Compute Cabinet (8 cell capable) : 1",
                "   Active MP Location : cabinet 0", *original_texts()))

    def test_without_profile_0(self):
        data = complex_file(dict(ORIGINAL, ProfileID=3), cabinets=[cabinet(0, 2)])
        with Provider(data) as p:
            self.check(p, ["-X"], "[Complex]\n", "Error: Complex configuration information unavailable.", 1)

    def test_without_cabinets(self):
        with Provider(complex_file(ORIGINAL)) as p:
            self.check(p, ["-X"], "", "\nError: Unable to get complex information.\n", 1)


if __name__ == "__main__":
    unittest.main()
