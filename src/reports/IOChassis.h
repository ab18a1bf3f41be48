// The I/O chassis report: one row or "chassis:" line per I/O chassis slot.
#pragma once

#include <cstdint>

#include "driver/CommandOptions.h"
#include "reports/Layout.h"

namespace cmplxview {

// TODO(IOChassisRecord): the record struct goes here, before the declarations that use it.

int loadIOChassis(CommandOptions options, int& ioChassisSlotCount, int& ioChassisCount, int& cellSlotCount,
                  int& complexCount);
void createIOChassisRecord();
IOChassisRecord& currentIOChassisRecord();
int buildIOChassisRecord(CommandOptions options, int index, int ioChassisSlotCount, int ioChassisCount,
                         int cellSlotCount, int complexCount);
int printIOChassis(CommandOptions options);
int printIOChassisRow();

}  // namespace cmplxview
