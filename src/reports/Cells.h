// The cell report: one row, "cell:" line or detail block per cell slot.
#pragma once

#include <cstdint>

#include "driver/CommandOptions.h"
#include "reports/Layout.h"

namespace cmplxview {

// The one current cell. Every build starts from the cleared record (all
// texts empty, all numbers 0, cellNumber and partitionCoreCell 255) and fills
// it from the cell slot, the cell, the complex and the cell's partition.
struct CellRecord {
    FixedText<79> location;          // slot LongLabel without blanks, or "?"
    std::uint32_t populated = 0;     // slot Populated (a missing value counts as 1)
    FixedText<78> usage;             // ComponentStatus text, "Absent      " or "?"
    FixedText<78> usageQualifier;    // "Core", "Base*", "Float", CellUsage text, " " or empty
    FixedText<81> normalUsage;       // CellUsage text, " " or empty
    std::int32_t cpuOk = 0;
    std::int32_t cpuDeconfigured = 0;
    std::uint32_t cpuMax = 0;
    FixedText<79> cpuText;           // "ok/deconf/max", "?" or "-"
    double memoryOkGB = 0;
    double memoryDeconfiguredGB = 0;
    FixedText<78> memoryText;        // "ok/deconf" in GB, "?" or "-"
    FixedText<78> connectedTo;       // label of the connected I/O chassis slot, "-", "?" or empty
    FixedText<78> coreCellCapable;   // "yes", "no ", "?" or "-"
    FixedText<78> useOnNextBoot;     // "yes", "no ", "-" or "?"
    FixedText<79> partitionNumberText;  // decimal partition number, "-" or "?"
    std::uint32_t partitionNumber = 0;  // 255 when the cell belongs to no (known) partition
    std::uint32_t cellNumber = 255;     // slot ID; 255 when the slot has no LongLabel
    std::uint32_t partitionCoreCell = 255;  // CoreCellID of the cell's partition
    FixedText<78> firmwareRevision;
    FixedText<78> failureUsage;      // FailureUsage text of the cell in its partition, "-" or "?"
    FixedText<65> partitionName;     // "-" or "?" when there is none to show
    std::uint32_t cpuSpeed = 0;      // MHz
    std::int32_t maxDimms = 0;
    std::int32_t dimmDeconfigured = 0;
    std::int32_t dimmOk = 0;
    std::uint32_t available = 0;     // 1 exactly when partitionNumber is 255
    FixedText<79> cpuTypeText;       // "unknown" without IODC version, "?" once printed so
    std::uint32_t iodcVersion = 0;
    std::uint32_t clmSpecType = 0;
    std::uint32_t clmPerCell = 0;
    double allocatedClmGB = 0;
    FixedText<78> cellArchitecture;
    FixedText<80> cpuCompatibility;
};

int loadCells(CommandOptions options, int& cellCount, int& cellSlotCount, int& ioChassisSlotCount, int& complexCount,
              int& partitionCount);
// Creates the one current CellRecord anew (all fields cleared).
void createCellRecord();
// The current record: the dispatcher reads its partitionNumber.
CellRecord& currentCellRecord();
int buildCellRecord(CommandOptions options, int slotIndex, int cellCount, int cellSlotCount, int ioChassisSlotCount,
                    int complexCount, int partitionCount);
int printCell(CommandOptions options);
int printCellRow();
int printCellLine();

}  // namespace cmplxview
