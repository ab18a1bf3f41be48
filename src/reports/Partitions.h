// The partition report: one row, "partition:" line or detail block per partition.
#pragma once

#include <cstdint>

#include "driver/CommandOptions.h"
#include "reports/Layout.h"

namespace cmplxview {

// TODO(PartitionRecord): the record struct goes here, before the declarations that use it.

int loadPartitions(CommandOptions options, int& partitionCount, int& complexCount, int& cellCount, int& cellSlotCount);
int loadPartitionDevices(int cellCount, int& ioChassisSlotCount, int& ioChassisCount, int& partitionCount);
void createPartitionRecord();
PartitionRecord& currentPartitionRecord();
int buildPartitionRecord(CommandOptions options, int index, int partitionCount, int complexCount, int cellCount,
                         int cellSlotCount);
int printPartition(CommandOptions options);

}  // namespace cmplxview
