"""The cell detail blocks of -c ... -V: short and full blocks, processor and
memory details, the requested and allocated cell-local memory."""
import unittest

from harness import Provider, ScenarioTest
from hardware import (ACTIVE, POWERED_OFF, USE_BASE, USE_BASE_NO_INTERLEAVE, USE_FLOATING, cell, cell_slot,
                      complex_file, io_slot, partition)

KX_ARCH, VX_ARCH = 2, 3


def short_block(location, number, usage):
    return ("[Cell]\n"
            "Hardware Location      : " + location + "\n"
            "Global Cell Number     : " + number + "\n"
            "Actual Usage           : " + usage + "\n"
            "Connected To           : -\n"
            "Core Cell Capable      : -\n"
            "Firmware Revision      : -\n"
            "\n\n")


def full_block(location, number, usage, normal, connected, core, firmware, failure, next_boot, partition_, name,
               requested, allocated, architecture, compatibility, cpu_type, speed, cpu_lines, cpus, dimm_lines,
               dimms, memory):
    """cpus is (OK, Deconf, Max), dimms (OK, Deconf, Max), memory (OK, Deconf)
    as printed; cpu_lines and dimm_lines are the lines under their heads."""
    return ("[Cell]\n"
            "Hardware Location      : " + location + "\n"
            "Global Cell Number     : " + number + "\n"
            "Actual Usage           : " + usage + "\n"
            "Normal Usage           : " + normal + "\n"
            "Connected To           : " + connected + "\n"
            "Core Cell Capable      : " + core + "\n"
            "Firmware Revision      : " + firmware + "\n"
            "Failure Usage          : " + failure + "\n"
            "Use On Next Boot       : " + next_boot + "\n"
            "Partition Number       : " + partition_ + "\n"
            "Partition Name         : " + name + "\n"
            "Requested CLM value    : " + requested + "\n"
            "Allocated CLM value    : " + allocated + "\n"
            "Cell Architecture Type : " + architecture + "\n"
            "CPU Compatibility      : " + compatibility + "\n"
            "\n"
            "[CPU Details]\n"
            "\n"
            "Type  : " + cpu_type + "\n"
            "Speed : " + speed + "\n"
            "CPU  Status\n"
            "===  ======\n"
            + "".join(line + "\n" for line in cpu_lines) +
            "\n"
            "CPUs\n"
            "===========\n"
            "OK     : %s\n"
            "Deconf : %s\n"
            "Max    : %s\n" % cpus +
            "\n"
            "[Memory Details]\n"
            "\n"
            "DIMM Size (MB) Status\n"
            "==== ========= =========\n"
            + "".join(line + "\n" for line in dimm_lines) +
            "\n"
            "Memory\n"
            "=========================\n"
            "DIMM OK       : %s\n"
            "DIMM Deconf   : %s\n"
            "Max DIMMs     : %s\n" % dimms +
            "Memory OK     : %s GB\n"
            "Memory Deconf : %s GB\n" % memory +
            "\n")


LONG_LABEL = "Cabinet 0 " + "X" * 100  # 101 characters without its blanks

# Cell 0: a KX cell with everything given. Cell 1: a VX cell without IODC
# version, CPU speed, firmware, compatibility or good-memory figure. Cell 2:
# a KX cell without IODC version or CPU count, with DIMM label and size
# arrays shorter than its status array. Cells 3 to 6 only show their CLM
# request; cell 7 lies past the end of the complex's CLM arrays. Slot 8 is
# empty, slot 9 holds a cell without power, slot 10 a cell without status.
DETAILS = complex_file(
    complex_={"ProfileID": 0, "CellAssignments": [0, 0, 0, 255, 255, 255, 255, 255, 255, 255, 255],
              "GNISpecType": [5, 4, 2, 3, 0, 1, 6], "GNIPerCell": [2, 3, 0, 0, 0, 0, 0]},
    cell_slots=[cell_slot(i, "Cab 0 Cell %d" % i) for i in range(8)]
    + [cell_slot(8, LONG_LABEL, populated=False), cell_slot(9, "Cab 0 Cell 9"), cell_slot(10, "Cab 0 Cell 10")],
    cells=[
        cell(0, ACTIVE, USE_BASE, cpus=(3, 2, 4), memory=(10240, 8192), chassis=1, core_io=True,
             IODCVersion=0x1A2B, CPUSpeed=1600, CPUStatus=[2, 1, 3, 2], CellArchitecture=KX_ARCH,
             FirmwareRevision="5.2.1", ActualGNIMemory=1536, CompatibilityLabel="KX-2",
             DIMMLabel=["0A", "0B", "1A", "1B"], DIMMSize=[0, 4096, 4096, 2048], DIMMStatus=[1, 7, 7, 4]),
        cell(1, ACTIVE, USE_BASE_NO_INTERLEAVE, cpus=(2, 1, 2), memory=(4096, None), core_io=False,
             CPUStatus=[2, 4], CellArchitecture=VX_ARCH, ActualGNIMemory=0,
             DIMMLabel=["0A"], DIMMSize=[4096], DIMMStatus=[7]),
        cell(2, ACTIVE, USE_FLOATING, cpus=(None, None, 4), memory=(16384, 16384), chassis=1,
             CPUStatus=[2, 2, 2, 2], IODCVersion=None, CPUSpeed=1000, CellArchitecture=KX_ARCH,
             FirmwareRevision="5.0", ActualGNIMemory=2048, CompatibilityLabel="KX-1",
             DIMMLabel=["A"], DIMMSize=[8192, 8192], DIMMStatus=[7, 7, 1, 1]),
    ] + [cell(i, ACTIVE, USE_BASE, cpus=(1, 1, 1), memory=(2048, 2048), IODCVersion=0xFF, CPUSpeed=800,
              CPUStatus=[2], CellArchitecture=KX_ARCH, FirmwareRevision="4.0", CompatibilityLabel="K",
              DIMMLabel=["DIMM 0 SLOT A LONG"], DIMMSize=[2048], DIMMStatus=[7])
         for i in range(3, 8)]
    + [cell(9, POWERED_OFF, USE_BASE), cell(10, None, USE_BASE)],
    io_slots=[io_slot(1, "Cab 0 Bay 0 Chassis 1")],
    partitions=[partition(0, "alpha", next_boot=[True, False], core_cell=0, failure_usage=[2, 3])],
)

# The CLM request and allocation of the small cells 3 to 7.
def small_cell_block(number, requested):
    return full_block(
        location="Cab0Cell%d" % number, number=str(number), usage="Active", normal="Base", connected="-",
        core="yes", firmware="4.0", failure="-", next_boot="-", partition_="-", name="-", requested=requested,
        allocated="0.0 GB", architecture="KX_ARCH", compatibility="K", cpu_type="FF", speed="800 MHz",
        cpu_lines=["0    OK"], cpus=("1", "0", "1"),
        # The label runs past its column: the size overwrites it from column 5
        # and the status from column 15, where the line ends.
        dimm_lines=["DIMM 2048OT A LOK"], dimms=("1", "0", "1"), memory=("2.00", "0.00"))


class CellDetails(ScenarioTest):
    @classmethod
    def setUpClass(cls):
        cls.provider = Provider(DETAILS)

    @classmethod
    def tearDownClass(cls):
        cls.provider.close()

    def test_full_block_of_a_cell_with_everything(self):
        block = full_block(
            location="Cab0Cell0", number="0", usage="Active Core", normal="Base", connected="Cab0Bay0Chassis1",
            core="yes", firmware="5.2.1", failure="Deconfigure", next_boot="yes", partition_="0", name="alpha",
            requested="25.0 % (2.0 GB)", allocated="1.5 GB", architecture="KX_ARCH", compatibility="KX-2",
            cpu_type="1A2B", speed="1600 MHz",
            cpu_lines=["0    OK", "1    Absent      ", "2    Deconfigured", "3    OK"], cpus=("2", "1", "4"),
            dimm_lines=["0B   4096      OK", "1A   4096      OK", "1B   2048      Deconfigured"],
            dimms=("2", "1", "4"), memory=("8.00", "2.00"))
        self.check(self.provider, ["-c", "0", "-V"], block + "\n")

    def test_vx_cell_without_iodc_version_speed_or_good_memory(self):
        # Base* is not shown in the block; CPU type "unknown" on a VX cell;
        # no DIMM lines without TotalMemoryOK.
        block = full_block(
            location="Cab0Cell1", number="1", usage="Active", normal="Base, no interleave", connected="-",
            core="no ", firmware="?", failure="Reactivate", next_boot="no ", partition_="0", name="alpha",
            requested="1.5 GB", allocated="0.0 GB", architecture="VX_ARCH", compatibility="?",
            cpu_type="unknown", speed="255 MHz", cpu_lines=["0    OK", "1    Failed"], cpus=("1", "1", "2"),
            dimm_lines=[], dimms=("0", "0", "0"), memory=("0.00", "4.00"))
        self.check(self.provider, ["-c", "1", "-V"], block + "\n")

    def test_cell_without_cpu_count_and_with_short_dimm_arrays(self):
        # Without CPUCount the CPU details are not gathered: type 0, speed 0,
        # empty compatibility, no CPU lines. The DIMM slot past the end of
        # the label array is listed with "?" as label. Cell 2 lies past the
        # end of its partition's FailureUsage and CellUseOnNextBoot.
        block = full_block(
            location="Cab0Cell2", number="2", usage="Active", normal="Floating", connected="Cab0Bay0Chassis1",
            core="yes", firmware="5.0", failure="?", next_boot="?", partition_="0", name="alpha",
            requested="100 % (16.0 GB)", allocated="2.0 GB", architecture="KX_ARCH", compatibility="",
            cpu_type="0", speed="0 MHz", cpu_lines=[], cpus=("0", "0", "4"),
            dimm_lines=["A    8192      OK", "?    8192      OK"], dimms=("2", "0", "4"),
            memory=("16.00", "0.00"))
        self.check(self.provider, ["-c", "2", "-V"], block + "\n")

    def test_requested_clm_of_every_spec_type(self):
        # Spec types 3, 0, 1 and 6, then a cell past the end of the arrays.
        self.check(self.provider, ["-c", "3", "-c", "4", "-c", "5", "-c", "6", "-c", "7", "-V"],
                   small_cell_block(3, "0.0 GB") + small_cell_block(4, "?") + small_cell_block(5, "?")
                   + small_cell_block(6, "?") + small_cell_block(7, "?") + "\n")

    def test_short_blocks(self):
        # An empty slot (its label cut to the 79 characters a location
        # holds), a cell without power and a cell without status.
        long_location = ("Cabinet0" + "X" * 100)[:79]
        self.check(self.provider, ["-c", "8", "-c", "9", "-c", "10", "-V"],
                   short_block(long_location, "8", "Absent      ") + short_block("Cab0Cell9", "9", "Powered off")
                   + short_block("Cab0Cell10", "10", "?") + "\n")

    def test_missing_cell_among_detail_blocks(self):
        self.check(self.provider, ["-c", "9", "-c", "44", "-V"],
                   short_block("Cab0Cell9", "9", "Powered off") + "\n",
                   "Error: Cell 44 does not exist in this complex or is unavailable.\n", 1)


class ProcessorType(ScenarioTest):
    def test_missing_iodc_version_is_unknown_only_on_vx_cells(self):
        def typed(slot, architecture):
            return cell(slot, ACTIVE, USE_BASE, cpus=(1, 1, 1), memory=(1024, 1024), IODCVersion=None, CPUSpeed=900,
                        CPUStatus=[2], CellArchitecture=architecture, FirmwareRevision="1", CompatibilityLabel="c",
                        DIMMLabel=[], DIMMSize=[], DIMMStatus=[])

        def block(slot, architecture, cpu_type):
            return full_block(
                location="c%d" % slot, number=str(slot), usage="Active", normal="Base", connected="-", core="yes",
                firmware="1", failure="-", next_boot="-", partition_="-", name="-", requested="?",
                allocated="0.0 GB", architecture=architecture, compatibility="c", cpu_type=cpu_type,
                speed="900 MHz", cpu_lines=["0    OK"], cpus=("1", "0", "1"), dimm_lines=[], dimms=("0", "0", "0"),
                memory=("1.00", "0.00"))

        data = complex_file(
            complex_={"ProfileID": 0, "CellAssignments": [255, 255, 255]},
            cell_slots=[cell_slot(0, "c0"), cell_slot(1, "c1"), cell_slot(2, "c2")],
            cells=[typed(0, VX_ARCH), typed(1, KX_ARCH), typed(2, None)],
            io_slots=[io_slot(1, "io1")])
        with Provider(data) as p:
            self.check(p, ["-c", "0", "-c", "1", "-c", "2", "-V"],
                       block(0, "VX_ARCH", "unknown") + block(1, "KX_ARCH", "?") + block(2, "?", "?") + "\n")


if __name__ == "__main__":
    unittest.main()
