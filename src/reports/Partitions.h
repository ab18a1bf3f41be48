// The partition report: one row, "partition:" line or detail block per partition.
#pragma once

#include <cstdint>

#include "driver/CommandOptions.h"
#include "reports/Layout.h"

namespace cmplxview {

// The one current partition: every build clears it and fills it anew from
// one partition instance, its member cells and the complex.
struct PartitionRecord {
    FixedText<78> number;              // decimal PartitionID ("?" when the partition gives none)
    FixedText<78> status;              // "Active ", "Inactive    ", "unknown", "?" or empty
    FixedText<78> cellCountText;       // decimal member count, or "?"
    FixedText<78> ioChassisCountText;  // decimal connected-chassis count, or "?"
    FixedText<78> coreCell;            // core cell label, "-", "?" or empty
    FixedText<64> name;                // PartitionName, or "?"
    std::uint32_t partitionNumber = 0;
    std::int32_t cellCount = 0;       // member cells
    std::int32_t ioChassisCount = 0;  // member cells connected to an I/O chassis
    FixedText<79> ipAddress;
    FixedText<79> primaryBootPath;
    FixedText<79> alternateBootPath;
    FixedText<79> haAlternateBootPath;
    // Taken from the chosen cell: the core cell, or the representative member.
    FixedText<78> firmwareRevision;
    FixedText<79> iodcMarker;  // "?" once the chosen cell turned out to give no IODC version
    FixedText<79> cellArchitecture;
    FixedText<79> cpuCompatibility;
    std::int32_t cpuSpeed = 0;      // MHz
    std::uint32_t iodcVersion = 0;  // 16-bit version
    double goodMemoryGB = 0;
    double requestedClmGB = 0;
    double allocatedClmGB = 0;
    FixedText<78> coreCellChoice[4];  // labels of the first four core cell choices
};

int loadPartitions(CommandOptions options, int& partitionCount, int& complexCount, int& cellCount, int& cellSlotCount);
int loadPartitionDevices(int cellCount, int& ioChassisSlotCount, int& ioChassisCount, int& partitionCount);
void createPartitionRecord();
PartitionRecord& currentPartitionRecord();
int buildPartitionRecord(CommandOptions options, int index, int partitionCount, int complexCount, int cellCount,
                         int cellSlotCount);
int printPartition(CommandOptions options);

}  // namespace cmplxview
