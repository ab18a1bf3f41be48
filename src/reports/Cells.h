// The cell report: one row, "cell:" line or detail block per cell slot.
#pragma once

#include <cstdint>

#include "driver/CommandOptions.h"
#include "reports/Layout.h"

namespace cmplxview {

// TODO(CellRecord): the record struct goes here, before the declarations that use it.

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
