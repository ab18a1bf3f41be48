// The program's fixed view of the provider's classes: for each kind of
// instance table, the class it reads, the properties it fetches in the order
// the reports address them, and the noun that messages use for it.
#pragma once

#include <span>

namespace cmplxview {

enum class RecordKind {
    Cabinet,
    Cell,
    PartitionCell,
    CellSlot,
    Complex,
    IOChassis,
    IOChassisSlot,
    LocalPartition,
    Partition,
    PowerCoolingDomain,
};
inline constexpr int recordKindCount = 10;

struct KindInfo {
    const char* className;
    const char* objectWord;
    std::span<const char* const> properties;
};

const KindInfo& kindInfo(RecordKind kind);

// Positions of the properties in each kind's list: a stored record's values
// are addressed by these.
struct CabinetProperty {
    enum : int { ID, CabinetType, Label, ServiceProcessorCount, ServiceProcessorStatus, LEDState, count };
};
struct CellProperty {
    enum : int {
        SlotID, ComponentStatus, DIMMSlotCount, TotalMemoryInstalled, TotalMemoryOK, DIMMSlotPopulated, DIMMType,
        DIMMSize, DIMMLabel, DIMMStatus, MaxCPUCount, CPUCount, CPUCountOK, CPUCountPerModule, CPUSpeed,
        CPUSlotPopulated, CPUStatus, CellArchitecture, IODCVersion, CellUsage, FirmwareRevision,
        ConnectedToIOChassis, ConnectedIOChassisID, REOInitialized, HasCoreIO, ActualGNIMemory, CompatibilityLabel,
        count
    };
};
struct PartitionCellProperty {
    enum : int {
        SlotID, ComponentStatus, TotalMemoryOK, ConnectedToIOChassis, CPUSpeed, IODCVersion, FirmwareRevision,
        CellArchitecture, ActualGNIMemory, CompatibilityLabel, count
    };
};
struct CellSlotProperty {
    enum : int { CabinetID, ShortLabel, LongLabel, Populated, LEDState, ID, Number, count };
};
struct ComplexProperty {
    enum : int {
        ProfileID, RevisionString, ModelString, ComplexName, OriginalProductOrderNumber, CurrentProductOrderNumber,
        CreatorManufacturer, OEMManufacturer, CreatorProductName, OEMProductName, CreatorSerialNumber,
        OEMSerialNumber, CellType, CellAssignments, GNIPerCell, GNISpecType, MaxPartitionsSupported,
        InterpartitionSecurityEnabled, count
    };
};
struct IOChassisProperty {
    enum : int { SlotID, ComponentStatus, Connected, ConnectedCellID, HasCoreIO, count };
};
struct IOChassisSlotProperty {
    enum : int { ID, CabinetID, Populated, LEDState, Number, IOBayNumber, ShortLabel, LongLabel, count };
};
struct LocalPartitionProperty {
    enum : int { ContainedPartition, count };
};
struct PartitionProperty {
    enum : int {
        SequenceNumber, LockKey, PartitionID, PartitionType, PartitionLabel, PartitionName, CellUseOnNextBoot,
        CoreCellID, MaxSizeCoreCellChoices, CoreCellChoices, BootWithoutConsole, RebootOnError, KnownGoodMemory,
        BootTimer, FailureUsage, PrimaryBootPath, AlternateBootPath, HAAlternateBootPath, AdminIPAddress, count
    };
};
struct PowerCoolingDomainProperty {
    enum : int {
        ID, CabinetID, DomainNumber, DomainType, DomainSubtype, SlotCount, UnitCount, FailedCount, RedundancyState,
        UnitTypeLabel, UnitPresent, UnitFailed, ShortUnitLabel, LongUnitLabel, count
    };
};

}  // namespace cmplxview
