#include "reports/Cells.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "access/Decoding.h"
#include "access/Instances.h"
#include "driver/Arguments.h"
#include "driver/SafeString.h"
#include "reports/CellDetails.h"

namespace cmplxview {

namespace {

CellRecord theCellRecord;

// Stored values of the tables this report reads.
const cim::CIMValue& slotValue(int index, int position) {
    return storedValue(RecordKind::CellSlot, index, position);
}
const cim::CIMValue& cellValue(int index, int position) { return storedValue(RecordKind::Cell, index, position); }

// The usage qualifier appears only when it says more than a single
// character (an absent cell's " " and one-character CellUsage texts such as
// "?" or "-" stay out of the row).
std::string_view shownQualifier(const CellRecord& r) {
    return r.usageQualifier.size() > 1 ? r.usageQualifier.view() : std::string_view{};
}

// The table row under the cell heading: 79 columns. Usage and qualifier are
// written uncut and may run into the columns after them, where the later
// fields overwrite them; nothing is ever written past column 78.
constexpr std::size_t cellRowWidth = 79;
constexpr Field<CellRecord> cellRowLayout[] = {
    {0, 10, [](const CellRecord& r) -> std::string_view { return r.location; }},
    {11, uncut, [](const CellRecord& r) -> std::string_view { return r.usage; }},
    {18, uncut, shownQualifier},
    {24, 7, [](const CellRecord& r) -> std::string_view { return r.cpuText; }},
    {32, 9, [](const CellRecord& r) -> std::string_view { return r.memoryText; }},
    {42, 19, [](const CellRecord& r) -> std::string_view { return r.connectedTo; }},
    {62, 7, [](const CellRecord& r) -> std::string_view { return r.coreCellCapable; }},
    {70, 4, [](const CellRecord& r) -> std::string_view { return r.useOnNextBoot; }},
    {75, 3, [](const CellRecord& r) -> std::string_view { return r.partitionNumberText; }},
};

// The machine-readable "cell:" line: 83 columns, the row's fields with ":"
// between them. Each separator is written after the field before it, so it
// stands even where an uncut usage text ran on into it.
constexpr std::size_t cellLineWidth = 83;
constexpr std::string_view colon(const CellRecord&) { return ":"; }
constexpr Field<CellRecord> cellLineLayout[] = {
    {0, uncut, [](const CellRecord&) -> std::string_view { return "cell:"; }},
    {5, 10, [](const CellRecord& r) -> std::string_view { return r.location; }},
    {15, uncut, colon},
    {16, uncut, [](const CellRecord& r) -> std::string_view { return r.usage; }},
    {22, uncut, [](const CellRecord& r) -> std::string_view { return shownQualifier(r).empty() ? "" : " "; }},
    {23, uncut, shownQualifier},
    {28, uncut, colon},
    {29, 7, [](const CellRecord& r) -> std::string_view { return r.cpuText; }},
    {36, uncut, colon},
    {37, 9, [](const CellRecord& r) -> std::string_view { return r.memoryText; }},
    {46, uncut, colon},
    {47, 19, [](const CellRecord& r) -> std::string_view { return r.connectedTo; }},
    {66, uncut, colon},
    {67, 7, [](const CellRecord& r) -> std::string_view { return r.coreCellCapable; }},
    {74, uncut, colon},
    {75, 4, [](const CellRecord& r) -> std::string_view { return r.useOnNextBoot; }},
    {79, uncut, colon},
    {80, 3, [](const CellRecord& r) -> std::string_view { return r.partitionNumberText; }},
};

void clearCellRecord(CellRecord& record) {
    record = CellRecord{};
    record.cellNumber = 255;
    record.partitionCoreCell = 255;
    // The CPU and DIMM lists belong to the cell being built: a build that
    // does not gather them leaves them empty.
    cpuList.clear();
    dimmList.clear();
}

void setCellLocation(CellRecord& record, int slot) {
    cim::String label;
    if (!readValue(slotValue(slot, CellSlotProperty::LongLabel), label)) {
        record.location = "?";
    } else {
        cim::Uint32 id = 255;
        // A slot without a readable ID keeps the cell number 255.
        if (readValue(slotValue(slot, CellSlotProperty::ID), id)) record.cellNumber = id;
        removeSpaces(label);
        record.location = label;
    }
    bool populated = true;  // a slot that does not say is taken as populated
    readValue(slotValue(slot, CellSlotProperty::Populated), populated);
    record.populated = populated ? 1 : 0;
}

// The cell's partition from the complex's CellAssignments. A cell number at
// or past the end of the list has no entry there and reads as 255, no
// partition, like an empty list.
void setPartitionMembership(CellRecord& record, cim::Uint32 id) {
    cim::Uint32 assignment = 255;
    if (getCellAssignment(id, assignment) != 0) {
        record.partitionNumber = 255;
        record.partitionNumberText = "?";
        record.available = 1;
    } else if (assignment == 255) {
        record.partitionNumber = 255;
        record.partitionNumberText = "-";
        record.available = 1;
    } else {
        record.partitionNumber = assignment;
        record.partitionNumberText = std::to_string(assignment);
        record.available = 0;
    }
}

void setPartitionFields(CellRecord& record, cim::Uint32 id, int partitionCount) {
    if (safeStrcmp(record.partitionNumberText.c_str(), "?") == 0) {
        record.useOnNextBoot = "?";
        record.partitionName = "?";
        record.failureUsage = "?";
        return;
    }
    if (partitionCount == 0 || safeStrcmp(record.partitionNumberText.c_str(), "-") == 0) {
        record.useOnNextBoot = "-";
        record.partitionName = "-";
        record.failureUsage = "-";
        return;
    }
    for (int p = 0; p < partitionCount; ++p) {
        cim::Uint32 partitionId = 0;
        if (!readValue(storedValue(RecordKind::Partition, p, PartitionProperty::PartitionID), partitionId) ||
            partitionId != record.partitionNumber)
            continue;
        cim::String name;
        record.partitionName =
            readValue(storedValue(RecordKind::Partition, p, PartitionProperty::PartitionName), name) ? name : "-";
        // The per-cell arrays are indexed by cell number; an element that is
        // missing (array too short, null element) reads as not given, "?".
        bool useNext = false;
        if (readElement(storedValue(RecordKind::Partition, p, PartitionProperty::CellUseOnNextBoot), id, useNext))
            record.useOnNextBoot = useNext ? "yes" : "no ";
        else
            record.useOnNextBoot = "?";
        cim::Uint32 coreCell = 255;
        readValue(storedValue(RecordKind::Partition, p, PartitionProperty::CoreCellID), coreCell);
        record.partitionCoreCell = coreCell;
        cim::Uint8 failureCode = 0;
        if (readElement(storedValue(RecordKind::Partition, p, PartitionProperty::FailureUsage), id, failureCode)) {
            cim::String text;
            lookupValueMap("XK_KestPartition", "FailureUsage", failureCode, text);
            record.failureUsage = text;
        } else {
            record.failureUsage = "?";
        }
        return;
    }
    // The assigned partition is not among those loaded: like its name and
    // next-boot use, its failure usage stays empty, as nothing is known of it.
}

void markCellAbsent(CellRecord& record) {
    record.usage = "Absent      ";
    record.usageQualifier = " ";
    record.normalUsage = " ";
    record.cpuText = "-";
    record.memoryText = "-";
    record.connectedTo = "-";
    record.coreCellCapable = "-";
}

void setCellUsage(CellRecord& record, int cell) {
    cim::Uint8 status = 0;
    if (!readValue(cellValue(cell, CellProperty::ComponentStatus), status)) {
        record.usage = "?";
        return;
    }
    cim::String text;
    lookupValueMap("XK_KestCell", "ComponentStatus", status, text);
    record.usage = text;
    // A cell in one of these states shows no qualifier.
    for (const char* quiet : {"Powered off", "Unknown", "Other", "Inactive"})
        if (safeStrcmp(record.usage.c_str(), quiet) == 0) return;
    cim::Uint8 use = 0;
    if (!readValue(cellValue(cell, CellProperty::CellUsage), use)) return;
    cim::String useText;
    lookupValueMap("XK_KestCell", "CellUsage", use, useText);
    record.normalUsage = useText;
    if ((use == 3 || use == 4) && record.cellNumber == record.partitionCoreCell)
        record.usageQualifier = "Core";
    else if (use == 4)
        record.usageQualifier = "Base*";  // base cell without interleaved memory, see the cell notes
    else if (use == 5)
        record.usageQualifier = "Float";
    else
        record.usageQualifier = useText;
}

void setCpuSummary(CellRecord& record, int cell, bool verbose) {
    cim::Uint32 maxCpus = 0;
    if (!readValue(cellValue(cell, CellProperty::MaxCPUCount), maxCpus)) {
        record.cpuText = "?";
        record.cpuOk = record.cpuDeconfigured = 0;
        record.cpuMax = 0;
        return;
    }
    record.cpuMax = maxCpus;
    cim::Uint8 cpus = 0;
    if (readValue(cellValue(cell, CellProperty::CPUCount), cpus)) {
        if (verbose) gatherCpuDetails(record, cell);
        cim::Uint8 cpusOk = 0;
        if (readValue(cellValue(cell, CellProperty::CPUCountOK), cpusOk)) {
            record.cpuOk = cpusOk;
            record.cpuDeconfigured = static_cast<std::int32_t>(cpus) - static_cast<std::int32_t>(cpusOk);
        } else {
            record.cpuOk = 0;
        }
    }
    char text[64];
    std::snprintf(text, sizeof text, "%d/%d/%d", static_cast<int>(record.cpuOk),
                  static_cast<int>(record.cpuDeconfigured), static_cast<int>(static_cast<std::int32_t>(record.cpuMax)));
    record.cpuText = text;
}

void setMemorySummary(CellRecord& record, int cell, bool verbose) {
    cim::Uint64 installedMB = 0;
    if (!readValue(cellValue(cell, CellProperty::TotalMemoryInstalled), installedMB)) {
        record.memoryText = "?";
        record.maxDimms = record.dimmOk = record.dimmDeconfigured = 0;
        return;
    }
    double installed = static_cast<double>(installedMB) / 1024.0;
    cim::Uint64 okMB = 0;
    if (!readValue(cellValue(cell, CellProperty::TotalMemoryOK), okMB)) {
        record.memoryOkGB = 0;
        record.memoryDeconfiguredGB = installed;
    } else {
        record.memoryOkGB = static_cast<double>(okMB) / 1024.0;
        record.memoryDeconfiguredGB = installed - record.memoryOkGB;
        if (verbose) gatherDimmDetails(record, cell);
    }
    char text[128];
    std::snprintf(text, sizeof text, "%.1f/%.1f", record.memoryOkGB, record.memoryDeconfiguredGB);
    record.memoryText = text;
}

void setConnectedIOChassis(CellRecord& record, int cell, int ioChassisSlotCount) {
    bool connected = false;
    if (!readValue(cellValue(cell, CellProperty::ConnectedToIOChassis), connected)) {
        record.connectedTo = "?";
        return;
    }
    if (!connected) {
        record.connectedTo = "-";
        return;
    }
    const cim::CIMValue& chassisId = cellValue(cell, CellProperty::ConnectedIOChassisID);
    if (chassisId.isNull()) {
        if (ioChassisSlotCount > 0) record.connectedTo = "?";
        return;
    }
    // The ID is compared as a whole CIM value (same type, same value). Every
    // slot is looked at, so a later slot with the same ID wins; no match
    // leaves the text empty and the column blank.
    for (int j = 0; j < ioChassisSlotCount; ++j) {
        const cim::CIMValue& slotId = storedValue(RecordKind::IOChassisSlot, j, IOChassisSlotProperty::ID);
        if (slotId.isNull() || !(chassisId == slotId)) continue;
        cim::String label;
        readValue(storedValue(RecordKind::IOChassisSlot, j, IOChassisSlotProperty::LongLabel), label);
        removeSpaces(label);
        record.connectedTo = label;
    }
}

void setCoreCellCapable(CellRecord& record, int cell) {
    bool hasCoreIO = false;
    if (!readValue(cellValue(cell, CellProperty::HasCoreIO), hasCoreIO))
        record.coreCellCapable = "?";
    else
        record.coreCellCapable = hasCoreIO ? "yes" : "no ";
}

}  // namespace

int loadCells(CommandOptions options, int& cellCount, int& cellSlotCount, int& ioChassisSlotCount, int& complexCount,
              int& partitionCount) {
    if (options.selectedCells) {
        // One record per -c argument, in command-line order; a request whose
        // slot cannot be fetched loses its found flag there.
        if (createInstanceTable(RecordKind::CellSlot, locationRequestCount) != 0) return 1;
        if (fetchSelectedInstances(RecordKind::CellSlot) != 0) return 1;
        cellSlotCount = locationRequestCount;
    } else if (loadAllInstances(RecordKind::CellSlot, cellSlotCount) != 0) {
        return 1;
    }
    if (loadAllInstances(RecordKind::Cell, cellCount) != 0) return 1;
    if (loadAllInstances(RecordKind::IOChassisSlot, ioChassisSlotCount) != 0) return 1;
    if (loadAllInstances(RecordKind::Complex, complexCount) != 0) return 1;
    // A complex without partitions is no failure: no partition table then.
    return loadAllInstances(RecordKind::Partition, partitionCount, 0);
}

void createCellRecord() { clearCellRecord(theCellRecord); }

CellRecord& currentCellRecord() { return theCellRecord; }

int buildCellRecord(CommandOptions options, int slotIndex, int cellCount, int /*cellSlotCount*/,
                    int ioChassisSlotCount, int complexCount, int partitionCount) {
    CellRecord& record = theCellRecord;
    clearCellRecord(record);
    setCellLocation(record, slotIndex);
    // The slot's own ID finds the cell and its partition even when the slot
    // has no label (and cellNumber therefore stays 255).
    cim::Uint32 id = 0;
    readValue(slotValue(slotIndex, CellSlotProperty::ID), id);
    setPartitionMembership(record, id);
    setPartitionFields(record, id, partitionCount);
    if (!record.populated) {
        markCellAbsent(record);
        return 0;
    }
    int cell = -1;
    for (int e = 0; e < cellCount; ++e) {
        cim::Uint32 slotId = 0;
        if (readValue(cellValue(e, CellProperty::SlotID), slotId) && slotId == id) {
            cell = e;
            break;
        }
    }
    if (cell < 0) {
        // A populated slot whose cell the provider does not list shows as empty.
        markCellAbsent(record);
        return 0;
    }
    setCellUsage(record, cell);
    setCpuSummary(record, cell, options.verbose);
    setMemorySummary(record, cell, options.verbose);
    setConnectedIOChassis(record, cell, ioChassisSlotCount);
    setCoreCellCapable(record, cell);
    if (options.verbose) {
        setFirmwareAndArchitecture(record, cell);
        setAllocatedClm(record, cell);
        setRequestedClm(record, record.cellNumber, complexCount);
    }
    return 0;
}

int printCell(CommandOptions options) {
    const CellRecord& record = theCellRecord;
    // -A keeps only the cells known to belong to no partition.
    if (options.availableOnly && !options.verbose &&
        !(record.available && safeStrcmp(record.partitionNumberText.c_str(), "-") == 0))
        return 0;
    if (options.machineReadable)
        printCellLine();
    else if (options.verbose)
        printCellDetails();
    else
        printCellRow();
    return 0;
}

int printCellRow() {
    writeLine(renderLine<CellRecord>(cellRowLayout, theCellRecord, cellRowWidth));
    return 0;
}

int printCellLine() {
    writeLine(renderLine<CellRecord>(cellLineLayout, theCellRecord, cellLineWidth));
    return 0;
}

}  // namespace cmplxview
