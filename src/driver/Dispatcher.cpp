#include "driver/Dispatcher.h"

#include <cstdio>

#include "access/Decoding.h"
#include "cim/Client.h"
#include "connection/ProviderConnection.h"
#include "driver/Arguments.h"
#include "driver/LocalPartition.h"
#include "reports/Cabinets.h"
#include "reports/Cells.h"
#include "reports/Complex.h"
#include "reports/IOChassis.h"
#include "reports/Partitions.h"

namespace cmplxview {

namespace {

// Section headers, table headings and closing notes.
constexpr const char* cabinetHeader = "[Cabinet]\n";
constexpr const char* cellHeader = "[Cell]\n";
constexpr const char* chassisHeader = "[Chassis]\n";
constexpr const char* partitionHeader = "[Partition]\n";

constexpr const char* cabinetHeading =
    "                  Cabinet   I/O       Bulk Power  Backplane\n"
    "                  Blowers   Fans      Supplies    Power Boards\n"
    "                  OK/       OK/       OK/         OK/\n"
    "Cab               Failed/   Failed/   Failed/     Failed/\n"
    "Num Cabinet Type  N Status  N Status  N Status    N Status       MP\n"
    "=== ============  ========= ========= ==========  ============   ======\n";

constexpr const char* cellHeading =
    "                        CPU     Memory                                Use\n"
    "                        OK/     (GB)                          Core    On\n"
    "Hardware   Actual       Deconf/ OK/                           Cell    Next Par\n"
    "Location   Usage        Max     Deconf    Connected To        Capable Boot Num\n"
    "========== ============ ======= ========= =================== ======= ==== ===\n";

constexpr const char* chassisHeading =
    "                                 Core Connected  Par\n"
    "Hardware Location   Usage        IO   To         Num\n"
    "=================== ============ ==== ========== ===\n";

constexpr const char* partitionHeading =
    "Par              # of  # of I/O\n"
    "Num Status       Cells Chassis  Core cell  Partition Name (first 30 chars)\n"
    "=== ============ ===== ======== ========== ===============================\n";

constexpr const char* cabinetNotes =
    "Notes: N+ = There are one or more spare items (fans/power supplies).\n"
    "       N  = The number of items meets but does not exceed the need.\n"
    "       N- = There are insufficient items to meet the need.\n"
    "       ?  = The adequacy of the cooling system/power supplies is unknown.\n"
    "       HO = Housekeeping only; The power is in a standby state.\n"
    "       NA = Not Applicable.\n";

constexpr const char* cellNotes = "Notes: * = Cell has no interleaved memory.\n";

constexpr const char* noPartitions = "No partitions found.";

// A header is two line breaks and the bracketed name; the heading follows it.
void printSection(const char* header, const char* heading) {
    cim::throwIfInterrupted();
    std::printf("\n\n%s", header);
    std::fputs(heading, stdout);
}

void printNotes(const char* notes) {
    cim::throwIfInterrupted();
    std::printf("\n%s", notes);
}

void printLoadFailure(const char* what) { std::fprintf(stderr, "\n%s", what); }

constexpr const char* complexFailure = "Error: Unable to get complex information.\n";
constexpr const char* cabinetFailure = "Error: Unable to get any cabinet information.\n";
constexpr const char* cellFailure = "Error: Unable to get any cell information.\n";
constexpr const char* chassisFailure = "Error: Unable to get any I/O chassis information.\n";
constexpr const char* partitionFailure = "Error: Unable to get any partition information.\n";

// The counts that the load operations report.
struct Counts {
    int cabinetCount = 0, domainCount = 0, complexCount = 0, cellCount = 0, cellSlotCount = 0,
        ioChassisSlotCount = 0, ioChassisCount = 0, partitionCount = 0;
};

int showComplexSection() {
    Counts n;
    if (loadComplex(n.complexCount, n.cabinetCount) != 0) {
        printLoadFailure(complexFailure);
        return 1;
    }
    return printComplex(n.complexCount, n.cabinetCount) != 0 ? 1 : 0;
}

int showAllCabinets(CommandOptions options, bool framed) {
    Counts n;
    if (loadCabinets(options, n.cabinetCount, n.domainCount, n.complexCount) != 0) {
        printLoadFailure(cabinetFailure);
        return 1;
    }
    if (framed) printSection(cabinetHeader, cabinetHeading);
    createCabinetRecord(n.domainCount);
    for (int i = 0; i < n.cabinetCount; ++i) {
        buildCabinetRecord(options, i, n.cabinetCount, n.domainCount, n.complexCount);
        printCabinet(options);
    }
    if (!options.machineReadable) printNotes(cabinetNotes);
    return 0;
}

int showAllCells(CommandOptions options, bool framed) {
    Counts n;
    if (loadCells(options, n.cellCount, n.cellSlotCount, n.ioChassisSlotCount, n.complexCount, n.partitionCount) != 0) {
        printLoadFailure(cellFailure);
        return 1;
    }
    if (framed) printSection(cellHeader, cellHeading);
    createCellRecord();
    for (int i = 0; i < n.cellSlotCount; ++i) {
        buildCellRecord(options, i, n.cellCount, n.cellSlotCount, n.ioChassisSlotCount, n.complexCount,
                        n.partitionCount);
        printCell(options);
    }
    if (!options.machineReadable) printNotes(cellNotes);
    return 0;
}

int showAllIOChassis(CommandOptions options, bool framed) {
    Counts n;
    if (loadIOChassis(options, n.ioChassisSlotCount, n.ioChassisCount, n.cellSlotCount, n.complexCount) != 0) {
        printLoadFailure(chassisFailure);
        return 1;
    }
    if (framed) printSection(chassisHeader, chassisHeading);
    createIOChassisRecord();
    for (int i = 0; i < n.ioChassisSlotCount; ++i) {
        buildIOChassisRecord(options, i, n.ioChassisSlotCount, n.ioChassisCount, n.cellSlotCount, n.complexCount);
        printIOChassis(options);
    }
    return 0;
}

int showAllPartitions(CommandOptions options, bool framed) {
    Counts n;
    if (loadPartitions(options, n.partitionCount, n.complexCount, n.cellCount, n.cellSlotCount) != 0) {
        printLoadFailure(partitionFailure);
        return 1;
    }
    if (framed) printSection(partitionHeader, partitionHeading);
    createPartitionRecord();
    if (n.partitionCount == 0) {
        std::fputs(noPartitions, stdout);
        return 0;
    }
    for (int i = 0; i < n.partitionCount; ++i) {
        buildPartitionRecord(options, i, n.partitionCount, n.complexCount, n.cellCount, n.cellSlotCount);
        printPartition(options);
    }
    return 0;
}

int displayAll(CommandOptions options) {
    if (showComplexSection() != 0) return 1;
    int status = 0;
    status |= showAllCabinets(options, true);
    status |= showAllCells(options, true);
    status |= showAllIOChassis(options, true);
    status |= showAllPartitions(options, true);
    return status;
}

// Reports every request whose object could not be shown; 1 when there was one.
int reportMissing(const char* format) {
    int status = 0;
    for (int k = 0; k < locationRequestCount && k < maxLocationRequests; ++k) {
        if (locationRequests[k].found) continue;
        std::fprintf(stderr, format, locationRequests[k].text);
        status = 1;
    }
    return status;
}

int showSelectedCells(CommandOptions options) {
    resolveUniqueIds("XK_KestCellSlot");
    Counts n;
    if (loadCells(options, n.cellCount, n.cellSlotCount, n.ioChassisSlotCount, n.complexCount, n.partitionCount) != 0) {
        printLoadFailure(cellFailure);
        return 1;
    }
    createCellRecord();
    if (!options.machineReadable && !options.verbose) printSection(cellHeader, cellHeading);
    for (int k = 0; k < locationRequestCount && k < maxLocationRequests; ++k) {
        if (!locationRequests[k].found) continue;
        buildCellRecord(options, k, n.cellCount, n.cellSlotCount, n.ioChassisSlotCount, n.complexCount,
                        n.partitionCount);
        printCell(options);
    }
    std::fputs("\n", stdout);
    int status = reportMissing("Error: Cell %s does not exist in this complex or is unavailable.\n");
    if (!options.machineReadable && !options.verbose) printNotes(cellNotes);
    return status;
}

int showSelectedIOChassis(CommandOptions options) {
    resolveUniqueIds("XK_KestIOChassisSlot");
    Counts n;
    if (loadIOChassis(options, n.ioChassisSlotCount, n.ioChassisCount, n.cellSlotCount, n.complexCount) != 0) {
        printLoadFailure(chassisFailure);
        return 1;
    }
    createIOChassisRecord();
    if (!options.machineReadable) printSection(chassisHeader, chassisHeading);
    for (int k = 0; k < locationRequestCount && k < maxLocationRequests; ++k) {
        if (!locationRequests[k].found) continue;
        buildIOChassisRecord(options, k, n.ioChassisSlotCount, n.ioChassisCount, n.cellSlotCount, n.complexCount);
        printIOChassis(options);
    }
    std::fputs("\n", stdout);
    return reportMissing("Error: I/O chassis %s does not exist in this complex or is unavailable.\n");
}

int showSelectedCabinets(CommandOptions options) {
    Counts n;
    if (loadCabinets(options, n.cabinetCount, n.domainCount, n.complexCount) != 0) {
        printLoadFailure(cabinetFailure);
        return 1;
    }
    createCabinetRecord(n.domainCount);
    if (!options.machineReadable) printSection(cabinetHeader, cabinetHeading);
    for (int k = 0; k < locationRequestCount && k < maxLocationRequests; ++k) {
        if (!locationRequests[k].found) continue;
        buildCabinetRecord(options, k, n.cabinetCount, n.domainCount, n.complexCount);
        printCabinet(options);
        // Detail blocks are long: each cabinet but the last is followed by the header again.
        if (options.verbose && !options.machineReadable && k < locationRequestCount - 1)
            printSection(cabinetHeader, cabinetHeading);
    }
    std::fputs("\n", stdout);
    int status = reportMissing("Error: Cabinet %s does not exist in this complex or is unavailable.\n");
    printNotes(cabinetNotes);
    return status;
}

// -p with -V: the cells and I/O chassis of the partition just printed.
int listPartitionDevices(CommandOptions options, std::uint32_t partitionNumber, const Counts& n) {
    Counts d = n;
    if (loadPartitionDevices(n.cellCount, d.ioChassisSlotCount, d.ioChassisCount, d.partitionCount) != 0) {
        std::fputs("Error: Unable to display cell and I/O chassis information.", stderr);
        return 1;
    }
    options.verbose = false;  // the cells are shown as table rows
    createCellRecord();
    bool cellHeaderShown = false;
    for (int j = 0; j < n.cellSlotCount; ++j) {
        buildCellRecord(options, j, n.cellCount, n.cellSlotCount, d.ioChassisSlotCount, n.complexCount,
                        d.partitionCount);
        if (currentCellRecord().partitionNumber != partitionNumber) continue;
        if (!cellHeaderShown) printSection(cellHeader, cellHeading);
        cellHeaderShown = true;
        printCellRow();
    }
    printNotes(cellNotes);
    options.verbose = true;
    createIOChassisRecord();
    for (int j = 0; j < d.ioChassisSlotCount; ++j) {
        buildIOChassisRecord(options, j, d.ioChassisSlotCount, d.ioChassisCount, n.cellSlotCount, n.complexCount);
        if (currentIOChassisRecord().partitionNumber != currentPartitionRecord().partitionNumber) continue;
        printSection(chassisHeader, chassisHeading);
        printIOChassisRow();
    }
    std::fputs("\n\n", stdout);
    return 0;
}

int showSelectedPartitions(CommandOptions options) {
    Counts n;
    if (loadPartitions(options, n.partitionCount, n.complexCount, n.cellCount, n.cellSlotCount) != 0) {
        printLoadFailure(partitionFailure);
        return 1;
    }
    createPartitionRecord();
    if (!options.machineReadable && !options.verbose) printSection(partitionHeader, partitionHeading);
    int status = 0;
    if (n.partitionCount == 0) {
        std::fputs(noPartitions, stdout);
        return status;
    }
    for (int k = 0; k < locationRequestCount && k < maxLocationRequests; ++k) {
        if (!locationRequests[k].found) continue;
        buildPartitionRecord(options, k, n.partitionCount, n.complexCount, n.cellCount, n.cellSlotCount);
        // A partition without cells counts as not existing.
        if (currentPartitionRecord().cellCount > 0)
            printPartition(options);
        else
            locationRequests[k].found = 0;
        std::uint32_t partitionNumber = currentPartitionRecord().partitionNumber;
        auto savedTable = saveInstanceTable(RecordKind::Partition);
        PartitionRecord savedRecord = currentPartitionRecord();
        if (options.verbose && listPartitionDevices(options, partitionNumber, n) != 0) status = 1;
        restoreInstanceTable(RecordKind::Partition, savedTable);
        currentPartitionRecord() = savedRecord;
    }
    std::fputs("\n", stdout);
    if (reportMissing("Error: Partition %s does not exist in this complex or is unavailable.\n") != 0) status = 1;
    return status;
}

}  // namespace

int runReports(CommandOptions options) {
    if (openProviderConnection(options) != 0) return 1;
    if (!options.platformCheck) {
        int complexes = countInstances("XK_KestComplex");
        if (complexes == 0) {
            std::fputs("Error: Unsupported platform.\n", stderr);
            return 1;
        }
        if (complexes < 0) {
            std::fputs("Error: Cannot determine if platform is partitionable.\n", stderr);
            return 1;
        }
    }
    if (options.displayAll) return displayAll(options);
    if (options.platformCheck) return countInstances("XK_KestComplex") > 0 ? 0 : 1;
    if (options.localPartition) {
        if (queryLocalPartition() == 0) return 0;
        std::fputs("Error: Unable to get the local partition number.\n", stderr);
        return 1;
    }
    if (options.showComplex) return showComplexSection();
    if (options.allCabinets) return showAllCabinets(options, !options.machineReadable && !options.verbose);
    if (options.allCells) return showAllCells(options, !options.machineReadable && !options.verbose);
    if (options.allIOChassis) return showAllIOChassis(options, !options.machineReadable);
    if (options.allPartitions) return showAllPartitions(options, !options.machineReadable);
    if (options.selectedCells) return showSelectedCells(options);
    if (options.selectedIOChassis) return showSelectedIOChassis(options);
    if (options.selectedPartitions) return showSelectedPartitions(options);
    if (options.selectedCabinets) return showSelectedCabinets(options);
    return 0;
}

}  // namespace cmplxview
