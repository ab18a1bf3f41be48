// The partition report. A partition's figures are gathered from several
// classes: its member cells are the entries of the complex's CellAssignments
// that carry its number, its status comes from its core cell (or, without
// one, from a representative member), its I/O chassis count from the members
// connected to a chassis, and its memory totals from the members and the
// complex's cell-local-memory settings.
#include "reports/Partitions.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "access/Decoding.h"
#include "access/Instances.h"
#include "driver/Arguments.h"

namespace cmplxview {

namespace {

using cim::Uint16;
using cim::Uint32;
using cim::Uint64;
using cim::Uint8;

// 255 stands for no cell (and no partition) wherever a cell number is held.
constexpr Uint32 noCell = 255;

// ComponentStatus codes that pick the representative member of a partition
// without a core cell: 5 is a running cell, 4 the next best.
constexpr Uint8 statusActive = 5;
constexpr Uint8 statusInactive = 4;

// GNISpecType codes: how GNIPerCell states a cell's requested local memory.
constexpr Uint8 clmWholeCell = 2;    // all of the cell's memory
constexpr Uint8 clmHalfGB = 4;       // GNIPerCell half gigabytes
constexpr Uint8 clmEighthsOfCell = 5;  // GNIPerCell eighths of the cell's memory

constexpr double mbPerGB = 1024.0;

std::unique_ptr<PartitionRecord> current;

// How many records of a kind's table a search over "the first count
// entries" may look at: never more than the table holds.
int searchBound(RecordKind kind, long long count) {
    long long size = static_cast<long long>(instanceTable(kind).size());
    if (count < 0) return 0;
    return static_cast<int>(std::min(count, size));
}

const cim::CIMValue& partitionValue(int index, int position) {
    return storedValue(RecordKind::Partition, index, position);
}
const cim::CIMValue& cellValue(int index, int position) {
    return storedValue(RecordKind::PartitionCell, index, position);
}
const cim::CIMValue& slotValue(int index, int position) { return storedValue(RecordKind::CellSlot, index, position); }

// A string property, or the given stand-in when the instance gave none.
std::string textOr(const cim::CIMValue& value, const char* standIn) {
    cim::String text;
    return readValue(value, text) ? text : std::string(standIn);
}

// The first of the first count cell table entries whose SlotID is the cell
// number; -1 when there is none.
int findCell(Uint32 cellNumber, int count) {
    int bound = searchBound(RecordKind::PartitionCell, count);
    for (int i = 0; i < bound; ++i) {
        Uint32 slotId = 0;
        if (readValue(cellValue(i, PartitionCellProperty::SlotID), slotId) && slotId == cellNumber) return i;
    }
    return -1;
}

// The label of the first of the first count cell slots whose ID is id:
// its LongLabel without blanks, "?" when it has none. False when no slot
// carries the ID.
bool cellSlotLabel(Uint32 id, long long count, std::string& label) {
    int bound = searchBound(RecordKind::CellSlot, count);
    for (int i = 0; i < bound; ++i) {
        Uint32 slotId = 0;
        if (!readValue(slotValue(i, CellSlotProperty::ID), slotId) || slotId != id) continue;
        cim::String longLabel;
        if (readValue(slotValue(i, CellSlotProperty::LongLabel), longLabel)) {
            removeSpaces(longLabel);
            label = longLabel;
        } else {
            label = "?";
        }
        return true;
    }
    return false;
}

void clearPartitionRecord(PartitionRecord& record) { record = PartitionRecord{}; }

// The core cell column: the label of the cell slot that carries the core
// cell's number; left as it is when no slot does.
void setCoreCellLabel(PartitionRecord& record, Uint32 id, int cellSlotCount) {
    std::string label;
    if (cellSlotLabel(id, cellSlotCount, label)) record.coreCell = label;
}

// The fields that describe the chosen cell, from its cell table entry.
void fillCellDerivedFields(PartitionRecord& record, int entry) {
    Uint32 speed = 0;
    record.cpuSpeed = readValue(cellValue(entry, PartitionCellProperty::CPUSpeed), speed)
                          ? static_cast<std::int32_t>(speed)
                          : 0;
    record.firmwareRevision = textOr(cellValue(entry, PartitionCellProperty::FirmwareRevision), "?");
    Uint8 architecture = 0;
    if (readValue(cellValue(entry, PartitionCellProperty::CellArchitecture), architecture)) {
        cim::String text;
        lookupValueMap("XK_KestCell", "Cellarchitecture", architecture, text);
        record.cellArchitecture = text;
    } else {
        record.cellArchitecture = "?";
    }
    Uint16 iodc = 0;
    if (readValue(cellValue(entry, PartitionCellProperty::IODCVersion), iodc)) {
        // A marker set by an earlier cell of this build stays.
        record.iodcVersion = iodc;
    } else {
        record.iodcMarker = "?";
        record.iodcVersion = 0;
    }
    record.cpuCompatibility = textOr(cellValue(entry, PartitionCellProperty::CompatibilityLabel), "?");
}

// Status (and the chosen cell's fields) from cell number cell.
void applyCellStatus(PartitionRecord& record, Uint32 cell, int cellCount) {
    if (cell == noCell) {
        record.status = "Inactive    ";
        record.coreCell = "?";
        record.firmwareRevision = "?";
        record.iodcMarker = "?";
        record.iodcVersion = 0;
        record.cpuCompatibility = "?";
        record.cpuSpeed = 0;
        return;
    }
    int entry = findCell(cell, cellCount);
    if (entry < 0) {
        record.status = "Inactive    ";
        record.coreCell = "?";
        return;
    }
    Uint8 status = 0;
    if (!readValue(cellValue(entry, PartitionCellProperty::ComponentStatus), status))
        record.status = "unknown";
    else if (status == statusActive)
        record.status = "Active ";
    else
        record.status = "Inactive    ";
    fillCellDerivedFields(record, entry);
}

// How many of the first cellCount cell table entries are cell n and have an
// I/O chassis connected.
int countConnectedIOChassis(Uint32 cell, int cellCount) {
    int connected = 0;
    int bound = searchBound(RecordKind::PartitionCell, cellCount);
    for (int i = 0; i < bound; ++i) {
        Uint32 slotId = 0;
        bool isConnected = false;
        if (readValue(cellValue(i, PartitionCellProperty::SlotID), slotId) && slotId == cell &&
            readValue(cellValue(i, PartitionCellProperty::ConnectedToIOChassis), isConnected) && isConnected)
            ++connected;
    }
    return connected;
}

// Adds member cell n's good and allocated cell-local memory, and the
// cell-local memory requested for it in the complex's settings.
void addCellMemory(PartitionRecord& record, Uint32 cell, int cellCount, int complexCount) {
    Uint64 cellMemoryMB = 0;
    int bound = searchBound(RecordKind::PartitionCell, cellCount);
    for (int i = 0; i < bound; ++i) {
        Uint32 slotId = 0;
        if (!readValue(cellValue(i, PartitionCellProperty::SlotID), slotId) || slotId != cell) continue;
        Uint64 good = 0;
        if (readValue(cellValue(i, PartitionCellProperty::TotalMemoryOK), good)) {
            record.goodMemoryGB += static_cast<double>(good) / mbPerGB;
            cellMemoryMB = good;
        }
        Uint32 allocated = 0;
        if (readValue(cellValue(i, PartitionCellProperty::ActualGNIMemory), allocated))
            record.allocatedClmGB += static_cast<double>(allocated) / mbPerGB;
    }

    int complexBound = searchBound(RecordKind::Complex, complexCount);
    for (int i = 0; i < complexBound; ++i) {
        Uint32 profile = 0;
        if (!readValue(storedValue(RecordKind::Complex, i, ComplexProperty::ProfileID), profile) || profile != 0)
            continue;
        // The per-cell arrays may be shorter than the cell numbers reach, or
        // hold a null entry: such a cell requests nothing (readElement gives
        // false instead of reading past the array).
        const cim::CIMValue& specTypes = storedValue(RecordKind::Complex, i, ComplexProperty::GNISpecType);
        const cim::CIMValue& perCell = storedValue(RecordKind::Complex, i, ComplexProperty::GNIPerCell);
        Uint8 specType = 0;
        if (!readElement(specTypes, cell, specType)) return;
        double cellMemoryGB = static_cast<double>(cellMemoryMB) / mbPerGB;
        Uint16 amount = 0;
        if (specType == clmWholeCell)
            record.requestedClmGB += cellMemoryGB;
        else if (specType == clmHalfGB && readElement(perCell, cell, amount))
            record.requestedClmGB += amount * 0.5;
        else if (specType == clmEighthsOfCell && readElement(perCell, cell, amount))
            record.requestedClmGB += cellMemoryGB * amount * 0.125;
        return;
    }
}

// Addresses, boot paths and the labels of the first four core cell choices.
void fillPartitionDetails(PartitionRecord& record, int partition) {
    record.ipAddress = textOr(partitionValue(partition, PartitionProperty::AdminIPAddress), "-");
    record.primaryBootPath = textOr(partitionValue(partition, PartitionProperty::PrimaryBootPath), "-");
    record.alternateBootPath = textOr(partitionValue(partition, PartitionProperty::AlternateBootPath), "-");
    record.haAlternateBootPath = textOr(partitionValue(partition, PartitionProperty::HAAlternateBootPath), "-");

    const cim::CIMValue& choices = partitionValue(partition, PartitionProperty::CoreCellChoices);
    cim::Array<Uint32> choiceList;
    if (!readArray(choices, choiceList)) return;
    // The slots are counted afresh; a failed count searches no slot.
    int slotCount = countInstances("XK_KestCellSlot");
    Uint32 shown = std::min<Uint32>(static_cast<Uint32>(choiceList.size()), 4);
    for (Uint32 k = 0; k < shown; ++k) {
        record.coreCellChoice[k].clear();
        Uint32 choice = 0;
        std::string label;
        // A null choice names no slot and, like an unknown one, stays empty.
        if (readElement(choices, k, choice) && cellSlotLabel(choice, slotCount, label))
            record.coreCellChoice[k] = label;
    }
}


// Prints the label and the text on one line.
void printLabelled(const char* label, std::string_view text) {
    std::fputs(label, stdout);
    writeLine(text);
}

void printPartitionDetails(const PartitionRecord& r) {
    std::fputs("[Partition]\n", stdout);
    printLabelled("Partition Number       : ", r.number);
    printLabelled("Partition Name         : ", r.name);
    printLabelled("Status                 : ", r.status);
    printLabelled("IP Address             : ", r.ipAddress);
    printLabelled("Primary Boot Path      : ", r.primaryBootPath);
    printLabelled("Alternate Boot Path    : ", r.alternateBootPath);
    printLabelled("HA Alternate Boot Path : ", r.haAlternateBootPath);
    printLabelled("System F/W Revision    : ", r.firmwareRevision);
    if (r.iodcMarker == "?")
        printLabelled("IODCH Version          : ", "?");
    else
        std::printf("IODCH Version          : %x\n", static_cast<unsigned>(r.iodcVersion));
    printLabelled("Cell Architecture      : ", r.cellArchitecture);
    printLabelled("CPU Compatibility      : ", r.cpuCompatibility);
    std::printf("CPU Speed              : %d MHz\n", static_cast<int>(r.cpuSpeed));
    printLabelled("Core Cell              : ", r.coreCell);
    for (int k = 0; k < 4; ++k) {
        if (r.coreCellChoice[k].empty()) continue;
        std::printf("Core Cell Choice [%d]   : ", k);
        writeLine(r.coreCellChoice[k]);
    }
    std::printf("Total Good Memory Size : %.1f GB \n", r.goodMemoryGB);
    std::printf("Total Interleave Memory: %.1f GB \n", r.goodMemoryGB - r.allocatedClmGB);
    std::printf("Total Requested CLM    : %.1f GB \n", r.requestedClmGB);
    std::printf("Total Allocated CLM    : %.1f GB \n", r.allocatedClmGB);
}

using PartitionField = Field<PartitionRecord>;

// The table row, under the heading
// "=== ============ ===== ======== ========== ===============================".
constexpr std::array<PartitionField, 6> rowLayout{{
    {0, 3, [](const PartitionRecord& r) { return r.number.view(); }},
    {4, 12, [](const PartitionRecord& r) { return r.status.view(); }},
    {17, 5, [](const PartitionRecord& r) { return r.cellCountText.view(); }},
    {23, 8, [](const PartitionRecord& r) { return r.ioChassisCountText.view(); }},
    {32, 10, [](const PartitionRecord& r) { return r.coreCell.view(); }},
    {43, 30, [](const PartitionRecord& r) { return r.name.view(); }},
}};
constexpr std::size_t rowWidth = 79;

// The "partition:" line: the row's fields behind colons. The name is the
// last field and may run on past the 79 blanks, up to column 82.
constexpr std::array<PartitionField, 12> machineLayout{{
    {0, uncut, [](const PartitionRecord&) { return std::string_view("partition:"); }},
    {10, 3, [](const PartitionRecord& r) { return r.number.view(); }},
    {13, uncut, [](const PartitionRecord&) { return std::string_view(":"); }},
    {14, 12, [](const PartitionRecord& r) { return r.status.view(); }},
    {26, uncut, [](const PartitionRecord&) { return std::string_view(":"); }},
    {27, 5, [](const PartitionRecord& r) { return r.cellCountText.view(); }},
    {32, uncut, [](const PartitionRecord&) { return std::string_view(":"); }},
    {33, 8, [](const PartitionRecord& r) { return r.ioChassisCountText.view(); }},
    {41, uncut, [](const PartitionRecord&) { return std::string_view(":"); }},
    {42, 10, [](const PartitionRecord& r) { return r.coreCell.view(); }},
    {52, uncut, [](const PartitionRecord&) { return std::string_view(":"); }},
    {53, 30, [](const PartitionRecord& r) { return r.name.view(); }},
}};
constexpr std::size_t machineWidth = 79;
constexpr std::size_t machineLimit = 83;

}  // namespace

int loadPartitions(CommandOptions options, int& partitionCount, int& complexCount, int& cellCount,
                   int& cellSlotCount) {
    if (options.selectedPartitions) {
        if (createInstanceTable(RecordKind::Partition, locationRequestCount) != 0) return 1;
        if (fetchSelectedInstances(RecordKind::Partition) != 0) return 1;
        partitionCount = locationRequestCount;
    } else {
        partitionCount = countInstances("XK_KestPartition");
        if (partitionCount < 0) return 1;
        if (partitionCount > 0) {
            if (createInstanceTable(RecordKind::Partition, partitionCount) != 0) return 1;
            if (fetchAllInstances(RecordKind::Partition) != 0) return 1;
        }
    }
    if (loadAllInstances(RecordKind::CellSlot, cellSlotCount) != 0) return 1;
    if (loadAllInstances(RecordKind::Complex, complexCount) != 0) return 1;

    cellCount = countInstances("XK_KestCell");
    if (cellCount < 1) return 1;
    // One record per cell slot: a complex has at most one cell per slot, and
    // records the provider does not fill stay null, which every search skips.
    if (createInstanceTable(RecordKind::PartitionCell, cellSlotCount) != 0) return 1;
    return fetchAllInstances(RecordKind::PartitionCell);
}

int loadPartitionDevices(int cellCount, int& ioChassisSlotCount, int& ioChassisCount, int& partitionCount) {
    // All partitions, so that each cell and chassis finds its own partition.
    // A failed or empty count keeps the table in place, and partitionCount
    // keeps describing it.
    int allPartitions = countInstances("XK_KestPartition");
    if (allPartitions > 0) {
        if (createInstanceTable(RecordKind::Partition, allPartitions) != 0) return 1;
        if (fetchAllInstances(RecordKind::Partition) != 0) return 1;
        partitionCount = allPartitions;
    }
    if (loadAllInstances(RecordKind::IOChassisSlot, ioChassisSlotCount) != 0) return 1;
    if (loadAllInstances(RecordKind::IOChassis, ioChassisCount) != 0) return 1;
    if (createInstanceTable(RecordKind::Cell, cellCount) != 0) return 1;
    return fetchAllInstances(RecordKind::Cell);
}

void createPartitionRecord() { current = std::make_unique<PartitionRecord>(); }

PartitionRecord& currentPartitionRecord() {
    if (!current) createPartitionRecord();
    return *current;
}

int buildPartitionRecord(CommandOptions options, int index, int partitionCount, int complexCount, int cellCount,
                         int cellSlotCount) {
    static_cast<void>(partitionCount);
    PartitionRecord& record = currentPartitionRecord();
    clearPartitionRecord(record);
    Uint32 coreCellId = noCell;
    Uint32 representativeCell = noCell;
    Uint32 fallbackCell = noCell;
    bool noCoreCell = false;
    int memberCount = 0;
    int connectedCount = 0;

    // Core cell.
    const cim::CIMValue& coreValue = partitionValue(index, PartitionProperty::CoreCellID);
    if (!readValue(coreValue, coreCellId)) {
        coreCellId = noCell;
        record.coreCell = "-";
        noCoreCell = true;
    } else if (coreCellId == noCell) {
        noCoreCell = true;
    } else {
        setCoreCellLabel(record, coreCellId, cellSlotCount);
    }

    // A complex without CellAssignments counts as one with an empty list.
    cim::Array<Uint32> assignments;
    int assignmentCount = 0;
    if (getCellAssignments(assignments, assignmentCount) != 0) assignments.clear();

    // A partition that does not give its number has no member cells: no
    // entry of CellAssignments can be known to name it.
    bool numberKnown = readValue(partitionValue(index, PartitionProperty::PartitionID), record.partitionNumber);
    if (numberKnown) {
        record.number = std::to_string(record.partitionNumber);
    } else {
        record.partitionNumber = noCell;
        record.number = "?";
    }

    if (!assignments.empty()) {
        // Members, their connected chassis and (for the detail block) memory.
        for (std::size_t n = 0; n < assignments.size(); ++n) {
            if (!numberKnown || assignments[n] != record.partitionNumber) continue;
            Uint32 cell = static_cast<Uint32>(n);
            ++memberCount;
            representativeCell = cell;
            connectedCount += countConnectedIOChassis(cell, cellCount);
            applyCellStatus(record, coreCellId, cellCount);
            if (options.verbose) addCellMemory(record, cell, cellCount, complexCount);
        }
        // The representative member: the first running one, else the last
        // one that is at least inactive, else the last member.
        bool activeFound = false;
        // This search looks at the whole cell table, not only its first cellCount entries.
        int cellBound = static_cast<int>(instanceTable(RecordKind::PartitionCell).size());
        for (std::size_t n = 0; n < assignments.size() && !activeFound; ++n) {
            if (!numberKnown || assignments[n] != record.partitionNumber) continue;
            Uint32 cell = static_cast<Uint32>(n);
            representativeCell = cell;
            for (int i = 0; i < cellBound; ++i) {
                Uint32 slotId = 0;
                Uint8 status = 0;
                if (!readValue(cellValue(i, PartitionCellProperty::SlotID), slotId) || slotId != cell) continue;
                if (!readValue(cellValue(i, PartitionCellProperty::ComponentStatus), status)) continue;
                if (status == statusActive) {
                    representativeCell = cell;
                    activeFound = true;
                    break;
                }
                if (status == statusInactive) fallbackCell = cell;
            }
        }
        if (!activeFound && fallbackCell != noCell) representativeCell = fallbackCell;

        record.cellCount = memberCount;
        record.cellCountText = std::to_string(memberCount);
        record.ioChassisCount = connectedCount;
        record.ioChassisCountText = std::to_string(connectedCount);
    } else {
        record.cellCountText = "?";
        record.ioChassisCountText = "?";
        record.status = "?";
    }

    record.name = textOr(partitionValue(index, PartitionProperty::PartitionName), "?");

    if (noCoreCell) {
        if (representativeCell != noCell) applyCellStatus(record, representativeCell, cellCount);
    } else {
        applyCellStatus(record, coreCellId, cellCount);
    }

    if (options.verbose) {
        if (noCoreCell) {
            int entry = representativeCell == noCell ? -1 : findCell(representativeCell, cellCount);
            if (entry < 0) {
                record.cpuSpeed = 0;
                record.iodcVersion = 0;
                record.firmwareRevision = "?";
                record.cellArchitecture = "?";
                record.cpuCompatibility = "?";
            } else {
                fillCellDerivedFields(record, entry);
            }
        }
        fillPartitionDetails(record, index);
    }
    return 0;
}

int printPartition(CommandOptions options) {
    const PartitionRecord& record = currentPartitionRecord();
    if (options.machineReadable) {
        writeLine(renderLine<PartitionRecord>(machineLayout, record, machineWidth, machineLimit));
    } else if (options.verbose) {
        printPartitionDetails(record);
    } else {
        writeLine(renderLine<PartitionRecord>(rowLayout, record, rowWidth));
    }
    return 0;
}

}  // namespace cmplxview
