#include "access/Schema.h"

namespace cmplxview {

namespace {

constexpr const char* cabinetProperties[] = {"ID", "CabinetType", "Label", "ServiceProcessorCount",
                                             "ServiceProcessorStatus", "LEDState"};
constexpr const char* cellProperties[] = {
    "SlotID", "ComponentStatus", "DIMMSlotCount", "TotalMemoryInstalled", "TotalMemoryOK", "DIMMSlotPopulated",
    "DIMMType", "DIMMSize", "DIMMLabel", "DIMMStatus", "MaxCPUCount", "CPUCount", "CPUCountOK", "CPUCountPerModule",
    "CPUSpeed", "CPUSlotPopulated", "CPUStatus", "CellArchitecture", "IODCVersion", "CellUsage", "FirmwareRevision",
    "ConnectedToIOChassis", "ConnectedIOChassisID", "REOInitialized", "HasCoreIO", "ActualGNIMemory",
    "CompatibilityLabel"};
constexpr const char* partitionCellProperties[] = {"SlotID", "ComponentStatus", "TotalMemoryOK",
                                                   "ConnectedToIOChassis", "CPUSpeed", "IODCVersion",
                                                   "FirmwareRevision", "CellArchitecture", "ActualGNIMemory",
                                                   "CompatibilityLabel"};
constexpr const char* cellSlotProperties[] = {"CabinetID", "ShortLabel", "LongLabel", "Populated",
                                              "LEDState", "ID", "Number"};
constexpr const char* complexProperties[] = {
    "ProfileID", "RevisionString", "ModelString", "ComplexName", "OriginalProductOrderNumber",
    "CurrentProductOrderNumber", "CreatorManufacturer", "OEMManufacturer", "CreatorProductName", "OEMProductName",
    "CreatorSerialNumber", "OEMSerialNumber", "CellType", "CellAssignments", "GNIPerCell", "GNISpecType",
    "MaxPartitionsSupported", "InterpartitionSecurityEnabled"};
constexpr const char* ioChassisProperties[] = {"SlotID", "ComponentStatus", "Connected", "ConnectedCellID",
                                               "HasCoreIO"};
constexpr const char* ioChassisSlotProperties[] = {"ID", "CabinetID", "Populated", "LEDState",
                                                   "Number", "IOBayNumber", "ShortLabel", "LongLabel"};
constexpr const char* localPartitionProperties[] = {"ContainedPartition"};
constexpr const char* partitionProperties[] = {
    "SequenceNumber", "LockKey", "PartitionID", "PartitionType", "PartitionLabel", "PartitionName",
    "CellUseOnNextBoot", "CoreCellID", "MaxSizeCoreCellChoices", "CoreCellChoices", "BootWithoutConsole",
    "RebootOnError", "KnownGoodMemory", "BootTimer", "FailureUsage", "PrimaryBootPath", "AlternateBootPath",
    "HAAlternateBootPath", "AdminIPAddress"};
constexpr const char* powerCoolingDomainProperties[] = {
    "ID", "CabinetID", "DomainNumber", "DomainType", "DomainSubtype", "SlotCount", "UnitCount",
    "FailedCount", "RedundancyState", "UnitTypeLabel", "UnitPresent", "UnitFailed", "ShortUnitLabel",
    "LongUnitLabel"};

// Indexed by RecordKind.
const KindInfo kinds[] = {
    {"XK_KestCabinet", "cabinet", cabinetProperties},
    {"XK_KestCell", "cell", cellProperties},
    {"XK_KestCell", "cell", partitionCellProperties},
    {"XK_KestCellSlot", "cell slot", cellSlotProperties},
    {"XK_KestComplex", "complex", complexProperties},
    {"XK_KestIOChassis", "I/O chassis", ioChassisProperties},
    {"XK_KestIOChassisSlot", "I/O chassis slot", ioChassisSlotProperties},
    {"XK_KestLocalPartition", "local partition", localPartitionProperties},
    {"XK_KestPartition", "partition", partitionProperties},
    {"XK_KestPowerCoolingDomain", "power/cooling domain", powerCoolingDomainProperties},
};

static_assert(std::size(kinds) == recordKindCount);
static_assert(std::size(cabinetProperties) == CabinetProperty::count);
static_assert(std::size(cellProperties) == CellProperty::count);
static_assert(std::size(partitionCellProperties) == PartitionCellProperty::count);
static_assert(std::size(cellSlotProperties) == CellSlotProperty::count);
static_assert(std::size(complexProperties) == ComplexProperty::count);
static_assert(std::size(ioChassisProperties) == IOChassisProperty::count);
static_assert(std::size(ioChassisSlotProperties) == IOChassisSlotProperty::count);
static_assert(std::size(localPartitionProperties) == LocalPartitionProperty::count);
static_assert(std::size(partitionProperties) == PartitionProperty::count);
static_assert(std::size(powerCoolingDomainProperties) == PowerCoolingDomainProperty::count);

}  // namespace

const KindInfo& kindInfo(RecordKind kind) { return kinds[static_cast<int>(kind)]; }

}  // namespace cmplxview
