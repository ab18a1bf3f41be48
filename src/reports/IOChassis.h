// The I/O chassis report: one row or "chassis:" line per I/O chassis slot.
#pragma once

#include <cstdint>

#include "driver/CommandOptions.h"
#include "reports/Layout.h"

namespace cmplxview {

// The one current I/O chassis slot with the chassis in it. Every build
// clears the texts, partitionNumber and unassigned before filling them.
struct IOChassisRecord {
    FixedText<79> location;             // slot LongLabel without blanks, or "?"
    std::uint32_t populated = 0;        // slot Populated (a missing value counts as 1)
    FixedText<78> usage;                // ComponentStatus text, "Absent      ", "?" or empty
    FixedText<78> coreIO;               // "yes", "-" or "?"
    FixedText<78> connectedTo;          // location of the connected cell, "-" or "?"
    FixedText<78> partitionNumberText;  // decimal partition number, "-" or "?"
    std::uint32_t partitionNumber = 255;  // 255 when the chassis belongs to no partition
    std::uint32_t unassigned = 0;         // 1 when no partition was found for the chassis
    std::uint32_t connectedCell = 255;    // cell number the chassis is connected to, 255 for none
};

int loadIOChassis(CommandOptions options, int& ioChassisSlotCount, int& ioChassisCount, int& cellSlotCount,
                  int& complexCount);
void createIOChassisRecord();
IOChassisRecord& currentIOChassisRecord();
int buildIOChassisRecord(CommandOptions options, int index, int ioChassisSlotCount, int ioChassisCount,
                         int cellSlotCount, int complexCount);
int printIOChassis(CommandOptions options);
int printIOChassisRow();

}  // namespace cmplxview
