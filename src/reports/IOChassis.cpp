#include "reports/IOChassis.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "access/Decoding.h"
#include "access/Instances.h"
#include "driver/Arguments.h"
#include "driver/SafeString.h"

namespace cmplxview {

namespace {

IOChassisRecord theIOChassisRecord;

const cim::CIMValue& slotValue(int index, int position) {
    return storedValue(RecordKind::IOChassisSlot, index, position);
}
const cim::CIMValue& chassisValue(int index, int position) {
    return storedValue(RecordKind::IOChassis, index, position);
}

// The table row under the I/O chassis heading: 79 columns.
constexpr std::size_t chassisRowWidth = 79;
constexpr Field<IOChassisRecord> chassisRowLayout[] = {
    {0, 19, [](const IOChassisRecord& r) -> std::string_view { return r.location; }},
    {20, 12, [](const IOChassisRecord& r) -> std::string_view { return r.usage; }},
    {33, 4, [](const IOChassisRecord& r) -> std::string_view { return r.coreIO; }},
    {38, 10, [](const IOChassisRecord& r) -> std::string_view { return r.connectedTo; }},
    {49, 3, [](const IOChassisRecord& r) -> std::string_view { return r.partitionNumberText; }},
};

// The machine-readable "chassis:" line: the same fields and widths with ":"
// between them, in a line of 79 columns.
constexpr std::size_t chassisLineWidth = 79;
constexpr std::string_view colon(const IOChassisRecord&) { return ":"; }
constexpr Field<IOChassisRecord> chassisLineLayout[] = {
    {0, uncut, [](const IOChassisRecord&) -> std::string_view { return "chassis:"; }},
    {8, 19, [](const IOChassisRecord& r) -> std::string_view { return r.location; }},
    {27, uncut, colon},
    {28, 12, [](const IOChassisRecord& r) -> std::string_view { return r.usage; }},
    {40, uncut, colon},
    {41, 4, [](const IOChassisRecord& r) -> std::string_view { return r.coreIO; }},
    {45, uncut, colon},
    {46, 10, [](const IOChassisRecord& r) -> std::string_view { return r.connectedTo; }},
    {56, uncut, colon},
    {57, 3, [](const IOChassisRecord& r) -> std::string_view { return r.partitionNumberText; }},
};


// What a slot shows when no working chassis can be found in it.
void setNoChassis(IOChassisRecord& record) {
    record.coreIO = "?";
    record.connectedTo = "?";
    record.partitionNumberText = "?";
    record.unassigned = 1;
}

// Core I/O, connected cell and partition of the chassis at entry `chassis`.
void setChassisConnection(IOChassisRecord& record, int chassis, int cellSlotCount) {
    bool hasCoreIO = false;
    if (!readValue(chassisValue(chassis, IOChassisProperty::HasCoreIO), hasCoreIO))
        record.coreIO = "?";
    else
        record.coreIO = hasCoreIO ? "yes" : "-";

    record.connectedTo = "-";
    record.connectedCell = 255;
    bool connected = false;
    cim::Uint32 cell = 0;
    if (!readValue(chassisValue(chassis, IOChassisProperty::Connected), connected) || !connected) {
        record.connectedTo = "?";
        record.partitionNumberText = "?";
        record.connectedCell = 255;
        record.unassigned = 1;
    } else if (!readValue(chassisValue(chassis, IOChassisProperty::ConnectedCellID), cell)) {
        record.connectedTo = "?";
    } else {
        // A cell that no cell slot carries leaves the connection at "-".
        for (int s = 0; s < cellSlotCount; ++s) {
            cim::Uint32 slotId = 0;
            if (!readValue(storedValue(RecordKind::CellSlot, s, CellSlotProperty::ID), slotId) || slotId != cell)
                continue;
            cim::String label;
            readValue(storedValue(RecordKind::CellSlot, s, CellSlotProperty::LongLabel), label);
            removeSpaces(label);
            record.connectedTo = label;
            record.connectedCell = cell;
            break;
        }
    }

    if (record.connectedCell == 255) {
        record.partitionNumber = 255;
        record.partitionNumberText = "-";
        record.unassigned = 1;
        return;
    }
    // The chassis belongs to the partition of its cell.
    cim::Uint32 partition = 255;
    if (getCellAssignment(record.connectedCell, partition) != 0) {
        record.partitionNumber = 255;
        record.partitionNumberText = "?";
        record.unassigned = 1;
    } else if (partition == 255) {
        record.partitionNumber = 255;
        record.partitionNumberText = "-";
        record.unassigned = 1;
    } else {
        record.partitionNumber = partition;
        record.partitionNumberText = std::to_string(partition);
        record.unassigned = 0;
    }
}

}  // namespace

int loadIOChassis(CommandOptions options, int& ioChassisSlotCount, int& ioChassisCount, int& cellSlotCount,
                  int& complexCount) {
    if (options.selectedIOChassis) {
        // One record per -i argument, in command-line order.
        if (createInstanceTable(RecordKind::IOChassisSlot, locationRequestCount) != 0) return 1;
        if (fetchSelectedInstances(RecordKind::IOChassisSlot) != 0) return 1;
        ioChassisSlotCount = locationRequestCount;
    } else if (loadAllInstances(RecordKind::IOChassisSlot, ioChassisSlotCount) != 0) {
        return 1;
    }
    if (loadAllInstances(RecordKind::IOChassis, ioChassisCount) != 0) return 1;
    if (loadAllInstances(RecordKind::CellSlot, cellSlotCount) != 0) return 1;
    return loadAllInstances(RecordKind::Complex, complexCount);
}

void createIOChassisRecord() { theIOChassisRecord = IOChassisRecord{}; }

IOChassisRecord& currentIOChassisRecord() { return theIOChassisRecord; }

int buildIOChassisRecord(CommandOptions /*options*/, int index, int /*ioChassisSlotCount*/, int ioChassisCount,
                         int cellSlotCount, int /*complexCount*/) {
    IOChassisRecord& record = theIOChassisRecord;
    // Every field starts cleared except connectedCell: only a slot with a
    // chassis sets it, and nothing shows it.
    const std::uint32_t connectedCell = record.connectedCell;
    record = IOChassisRecord{};
    record.connectedCell = connectedCell;

    cim::String label;
    if (readValue(slotValue(index, IOChassisSlotProperty::LongLabel), label)) {
        removeSpaces(label);
        record.location = label;
    } else {
        record.location = "?";
    }
    bool populated = true;  // a slot that does not say is taken as populated
    readValue(slotValue(index, IOChassisSlotProperty::Populated), populated);
    record.populated = populated ? 1 : 0;
    if (!populated) {
        record.usage = "Absent      ";
        record.coreIO = "-";
        record.connectedTo = "-";
        record.partitionNumberText = "-";
        record.unassigned = 1;
        return 0;
    }

    // A slot without a readable ID is taken as slot 0, as the cell report
    // does.
    cim::Uint32 slotId = 0;
    readValue(slotValue(index, IOChassisSlotProperty::ID), slotId);
    // Until a chassis of this slot turns up, the slot shows the values of a
    // slot without chassis (and an empty usage).
    setNoChassis(record);
    for (int c = 0; c < ioChassisCount; ++c) {
        cim::Uint32 chassisSlot = 0;
        if (!readValue(chassisValue(c, IOChassisProperty::SlotID), chassisSlot) || chassisSlot != slotId) continue;
        cim::Uint8 status = 0;
        if (readValue(chassisValue(c, IOChassisProperty::ComponentStatus), status)) {
            cim::String text;
            lookupValueMap("XK_KestIOChassis", "ComponentStatus", status, text);
            record.usage = text;
        } else {
            record.usage = "?";
        }
        // A chassis without power tells nothing about its connections.
        if (safeStrcmp(record.usage.c_str(), "Powered off") != 0) setChassisConnection(record, c, cellSlotCount);
        break;
    }
    return 0;
}

int printIOChassis(CommandOptions options) {
    const IOChassisRecord& record = theIOChassisRecord;
    // -A keeps the chassis known to belong to no partition.
    if (options.availableOnly &&
        !(record.unassigned == 1 && safeStrcmp(record.partitionNumberText.c_str(), "-") == 0))
        return 0;
    if (options.machineReadable)
        writeLine(renderLine<IOChassisRecord>(chassisLineLayout, record, chassisLineWidth));
    else
        printIOChassisRow();
    return 0;
}

int printIOChassisRow() {
    writeLine(renderLine<IOChassisRecord>(chassisRowLayout, theIOChassisRecord, chassisRowWidth));
    return 0;
}

}  // namespace cmplxview
