// Record kinds and their property lists, instance tables (create, save,
// restore), copying an instance's listed properties into a record, and the
// report of an instance's errorCode and errorMsg.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "access/Instances.h"

namespace cmplxview {
namespace {

using cim::Array;
using cim::CIMInstance;
using cim::CIMProperty;
using cim::CIMType;
using cim::CIMValue;
using cim::String;
using cim::Uint32;

struct KindCase {
    RecordKind kind;
    const char* className;
    const char* objectWord;
    std::vector<std::string> properties;
};

const std::vector<KindCase>& kindCases() {
    static const std::vector<KindCase> cases = {
        {RecordKind::Cabinet, "XK_KestCabinet", "cabinet",
         {"ID", "CabinetType", "Label", "ServiceProcessorCount", "ServiceProcessorStatus", "LEDState"}},
        {RecordKind::Cell, "XK_KestCell", "cell",
         {"SlotID", "ComponentStatus", "DIMMSlotCount", "TotalMemoryInstalled", "TotalMemoryOK",
          "DIMMSlotPopulated", "DIMMType", "DIMMSize", "DIMMLabel", "DIMMStatus", "MaxCPUCount", "CPUCount",
          "CPUCountOK", "CPUCountPerModule", "CPUSpeed", "CPUSlotPopulated", "CPUStatus", "CellArchitecture",
          "IODCVersion", "CellUsage", "FirmwareRevision", "ConnectedToIOChassis", "ConnectedIOChassisID",
          "REOInitialized", "HasCoreIO", "ActualGNIMemory", "CompatibilityLabel"}},
        {RecordKind::PartitionCell, "XK_KestCell", "cell",
         {"SlotID", "ComponentStatus", "TotalMemoryOK", "ConnectedToIOChassis", "CPUSpeed", "IODCVersion",
          "FirmwareRevision", "CellArchitecture", "ActualGNIMemory", "CompatibilityLabel"}},
        {RecordKind::CellSlot, "XK_KestCellSlot", "cell slot",
         {"CabinetID", "ShortLabel", "LongLabel", "Populated", "LEDState", "ID", "Number"}},
        {RecordKind::Complex, "XK_KestComplex", "complex",
         {"ProfileID", "RevisionString", "ModelString", "ComplexName", "OriginalProductOrderNumber",
          "CurrentProductOrderNumber", "CreatorManufacturer", "OEMManufacturer", "CreatorProductName",
          "OEMProductName", "CreatorSerialNumber", "OEMSerialNumber", "CellType", "CellAssignments", "GNIPerCell",
          "GNISpecType", "MaxPartitionsSupported", "InterpartitionSecurityEnabled"}},
        {RecordKind::IOChassis, "XK_KestIOChassis", "I/O chassis",
         {"SlotID", "ComponentStatus", "Connected", "ConnectedCellID", "HasCoreIO"}},
        {RecordKind::IOChassisSlot, "XK_KestIOChassisSlot", "I/O chassis slot",
         {"ID", "CabinetID", "Populated", "LEDState", "Number", "IOBayNumber", "ShortLabel", "LongLabel"}},
        {RecordKind::LocalPartition, "XK_KestLocalPartition", "local partition", {"ContainedPartition"}},
        {RecordKind::Partition, "XK_KestPartition", "partition",
         {"SequenceNumber", "LockKey", "PartitionID", "PartitionType", "PartitionLabel", "PartitionName",
          "CellUseOnNextBoot", "CoreCellID", "MaxSizeCoreCellChoices", "CoreCellChoices", "BootWithoutConsole",
          "RebootOnError", "KnownGoodMemory", "BootTimer", "FailureUsage", "PrimaryBootPath", "AlternateBootPath",
          "HAAlternateBootPath", "AdminIPAddress"}},
        {RecordKind::PowerCoolingDomain, "XK_KestPowerCoolingDomain", "power/cooling domain",
         {"ID", "CabinetID", "DomainNumber", "DomainType", "DomainSubtype", "SlotCount", "UnitCount",
          "FailedCount", "RedundancyState", "UnitTypeLabel", "UnitPresent", "UnitFailed", "ShortUnitLabel",
          "LongUnitLabel"}},
    };
    return cases;
}

TEST(RecordKinds, ClassObjectWordAndPropertiesInOrder) {
    ASSERT_EQ(kindCases().size(), static_cast<std::size_t>(recordKindCount));
    for (const auto& c : kindCases()) {
        const KindInfo& info = kindInfo(c.kind);
        EXPECT_STREQ(info.className, c.className);
        EXPECT_STREQ(info.objectWord, c.objectWord);
        std::vector<std::string> names(info.properties.begin(), info.properties.end());
        EXPECT_EQ(names, c.properties) << c.className;
    }
    // The positions the reports address values by.
    EXPECT_EQ(ComplexProperty::CellAssignments, 13);
    EXPECT_EQ(PartitionProperty::PartitionID, 2);
    EXPECT_EQ(CellSlotProperty::ID, 5);
    EXPECT_EQ(LocalPartitionProperty::ContainedPartition, 0);
}

TEST(CreateInstanceTable, NullRecordsOfTheKindsShape) {
    for (const auto& c : kindCases()) {
        for (int n : {0, 1, 3}) {
            ASSERT_EQ(createInstanceTable(c.kind, n), 0) << c.className;
            const InstanceTable& table = instanceTable(c.kind);
            ASSERT_EQ(table.size(), static_cast<std::size_t>(n)) << c.className;
            for (const InstanceRecord& record : table) {
                EXPECT_EQ(record.propertyCount, static_cast<int>(c.properties.size())) << c.className;
                EXPECT_EQ(record.className, c.className);
                ASSERT_EQ(record.values.size(), c.properties.size()) << c.className;
                for (const CIMValue& value : record.values) EXPECT_TRUE(value.isNull()) << c.className;
            }
        }
    }
}

TEST(CreateInstanceTable, RefusedSizesLeaveTheSlotAlone) {
    ASSERT_EQ(createInstanceTable(RecordKind::Cabinet, 2), 0);
    instanceTable(RecordKind::Cabinet)[1].values[0] = CIMValue(Uint32(8));
    for (int n : {-1, maxTableRecords + 1}) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(createInstanceTable(RecordKind::Cabinet, n), 1) << n;
        ::testing::internal::GetCapturedStderr();
        ASSERT_EQ(instanceTable(RecordKind::Cabinet).size(), 2u) << n;
        EXPECT_EQ(instanceTable(RecordKind::Cabinet)[1].values[0], CIMValue(Uint32(8))) << n;
    }
}

TEST(InstanceTables, OneSlotPerKindAndCreationReplacesOnlyItsOwn) {
    // The two cell kinds read the same class into separate tables.
    ASSERT_EQ(createInstanceTable(RecordKind::Cell, 2), 0);
    instanceTable(RecordKind::Cell)[0].values[CellProperty::SlotID] = CIMValue(Uint32(4));
    ASSERT_EQ(createInstanceTable(RecordKind::PartitionCell, 5), 0);
    ASSERT_EQ(instanceTable(RecordKind::Cell).size(), 2u);
    EXPECT_EQ(instanceTable(RecordKind::Cell)[0].values[CellProperty::SlotID], CIMValue(Uint32(4)));
    EXPECT_EQ(instanceTable(RecordKind::PartitionCell).size(), 5u);
    EXPECT_TRUE(instanceTable(RecordKind::PartitionCell)[0].values[PartitionCellProperty::SlotID].isNull());

    // A new table of the same kind starts over with null values.
    ASSERT_EQ(createInstanceTable(RecordKind::Cell, 2), 0);
    EXPECT_TRUE(instanceTable(RecordKind::Cell)[0].values[CellProperty::SlotID].isNull());
}

TEST(InstanceTables, StoredValueAnswersNullOutsideTheTable) {
    ASSERT_EQ(createInstanceTable(RecordKind::IOChassis, 2), 0);
    instanceTable(RecordKind::IOChassis)[1].values[IOChassisProperty::HasCoreIO] = CIMValue(true);
    const struct {
        int index;
        int position;
        bool present;
    } cases[] = {
        {1, IOChassisProperty::HasCoreIO, true}, {0, IOChassisProperty::HasCoreIO, false},
        {2, IOChassisProperty::HasCoreIO, false}, {-1, 0, false}, {1, IOChassisProperty::count, false},
        {1, -1, false}, {1000, 1000, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(!storedValue(RecordKind::IOChassis, c.index, c.position).isNull(), c.present)
            << c.index << "/" << c.position;
}

TEST(InstanceTables, SaveAndRestore) {
    struct Step {
        const char* what;
        int createCount;  // -1: restore the saved table instead
        std::size_t size;
        bool hasMarker;
    };
    const Step steps[] = {
        {"new table of the selected partitions", 2, 2, false},
        // (the marker is set and the table saved here)
        {"every partition loaded over it", 5, 5, false},
        {"the saved table put back", -1, 2, true},
        {"a second replacement", 4, 4, false},
        {"put back again", -1, 2, true},
    };
    std::shared_ptr<InstanceTable> saved;
    for (const Step& step : steps) {
        if (step.createCount >= 0) {
            ASSERT_EQ(createInstanceTable(RecordKind::Partition, step.createCount), 0) << step.what;
        } else {
            restoreInstanceTable(RecordKind::Partition, saved);
        }
        if (!saved) {
            instanceTable(RecordKind::Partition)[1].values[PartitionProperty::PartitionID] = CIMValue(Uint32(7));
            saved = saveInstanceTable(RecordKind::Partition);
        }
        const InstanceTable& table = instanceTable(RecordKind::Partition);
        ASSERT_EQ(table.size(), step.size) << step.what;
        bool marker = table[1].values[PartitionProperty::PartitionID] == CIMValue(Uint32(7));
        EXPECT_EQ(marker, step.hasMarker || step.createCount == 2) << step.what;
    }
    // Saving does not tie other kinds to it.
    ASSERT_EQ(createInstanceTable(RecordKind::CellSlot, 1), 0);
    restoreInstanceTable(RecordKind::Partition, saved);
    EXPECT_EQ(instanceTable(RecordKind::CellSlot).size(), 1u);
    // Putting back nothing leaves an empty table, never a missing one.
    restoreInstanceTable(RecordKind::Partition, nullptr);
    EXPECT_TRUE(instanceTable(RecordKind::Partition).empty());
}

CIMInstance instanceWith(std::vector<std::pair<const char*, CIMValue>> properties) {
    CIMInstance instance("XK_KestCellSlot");
    for (auto& [name, value] : properties) instance.addProperty(CIMProperty(name, value));
    return instance;
}

TEST(CopyListedProperties, ListedNamesOnlyAndNullsKeepWhatWasThere) {
    ASSERT_EQ(createInstanceTable(RecordKind::CellSlot, 1), 0);
    InstanceRecord& record = instanceTable(RecordKind::CellSlot)[0];
    record.values[CellSlotProperty::Number] = CIMValue(Uint32(9));
    record.values[CellSlotProperty::Populated] = CIMValue(false);
    CIMInstance instance = instanceWith({
        {"id", CIMValue(Uint32(3))},                            // names compare without regard to case
        {"LongLabel", CIMValue("Cab 0 Cell 3")},
        {"Populated", CIMValue(CIMType::Boolean, false)},       // null: the old value stays
        {"Unlisted", CIMValue(Uint32(1))},
        {"errorCode", CIMValue(Uint32(22))},
        {"CabinetID", CIMValue("0")},                           // stored as sent, unconverted
    });
    copyListedProperties(instance, record);
    const struct {
        int position;
        CIMValue expected;
    } cases[] = {
        {CellSlotProperty::ID, CIMValue(Uint32(3))},
        {CellSlotProperty::LongLabel, CIMValue("Cab 0 Cell 3")},
        {CellSlotProperty::Populated, CIMValue(false)},
        {CellSlotProperty::Number, CIMValue(Uint32(9))},
        {CellSlotProperty::CabinetID, CIMValue("0")},
    };
    for (const auto& c : cases) EXPECT_EQ(record.values[c.position], c.expected) << c.position;
    EXPECT_TRUE(record.values[CellSlotProperty::ShortLabel].isNull());
    EXPECT_TRUE(record.values[CellSlotProperty::LEDState].isNull());
    EXPECT_EQ(record.values.size(), static_cast<std::size_t>(CellSlotProperty::count));
}

TEST(CopyListedProperties, TheTwoCellKindsUseTheirOwnLists) {
    CIMInstance cell("XK_KestCell");
    cell.addProperty(CIMProperty("SlotID", CIMValue(Uint32(2))));
    cell.addProperty(CIMProperty("TotalMemoryOK", CIMValue(cim::Uint64(4096))));
    cell.addProperty(CIMProperty("CompatibilityLabel", CIMValue("KX")));
    ASSERT_EQ(createInstanceTable(RecordKind::Cell, 1), 0);
    ASSERT_EQ(createInstanceTable(RecordKind::PartitionCell, 1), 0);
    copyListedProperties(cell, instanceTable(RecordKind::Cell)[0]);
    copyListedProperties(cell, instanceTable(RecordKind::PartitionCell)[0]);
    const auto& full = instanceTable(RecordKind::Cell)[0].values;
    const auto& partition = instanceTable(RecordKind::PartitionCell)[0].values;
    EXPECT_EQ(full[CellProperty::TotalMemoryOK], CIMValue(cim::Uint64(4096)));
    EXPECT_EQ(full[CellProperty::CompatibilityLabel], CIMValue("KX"));
    EXPECT_EQ(partition[PartitionCellProperty::TotalMemoryOK], CIMValue(cim::Uint64(4096)));
    EXPECT_EQ(partition[PartitionCellProperty::CompatibilityLabel], CIMValue("KX"));
    EXPECT_EQ(partition[PartitionCellProperty::SlotID], CIMValue(Uint32(2)));
}

TEST(GetPropertyValue, MissingAndNullLeaveTheValueUntouched) {
    CIMInstance instance = instanceWith({{"errorCode", CIMValue(Uint32(22))},
                                         {"errorMsg", CIMValue(CIMType::String, false)}});
    const struct {
        const char* name;
        int result;
        CIMValue expected;
    } cases[] = {
        {"errorCode", 0, CIMValue(Uint32(22))},
        {"ERRORCODE", 0, CIMValue(Uint32(22))},
        {"errorMsg", 1, CIMValue("before")},
        {"absent", 1, CIMValue("before")},
    };
    for (const auto& c : cases) {
        CIMValue value("before");
        EXPECT_EQ(getPropertyValue(instance, c.name, value), c.result) << c.name;
        EXPECT_EQ(value, c.expected) << c.name;
    }
}

constexpr const char* mayNot = "May not be able to display complete information.\n";
constexpr const char* lowLevel = "The following message was returned from a low level subsystem. \n";

TEST(ReportInstanceStatus, EveryRowOfBothVariants) {
    const std::optional<CIMValue> none;  // the property is absent
    const struct {
        const char* what;
        std::optional<CIMValue> code;
        std::optional<CIMValue> message;
        std::string enumeration;
        std::string keyed;
    } cases[] = {
        {"no errorCode", none, none, "", ""},
        {"no errorCode, a message", none, CIMValue("lost"), "", ""},
        {"null errorCode", CIMValue(CIMType::Uint32, false), CIMValue("lost"), "", ""},
        {"read lock", CIMValue(Uint32(22)), none, "Unable to get read lock for cabinet.\n" + std::string(mayNot),
         "Unable to get read lock for cabinet.\n" + std::string(mayNot)},
        {"read lock with a message", CIMValue(Uint32(22)), CIMValue("busy"),
         "Unable to get read lock for cabinet.\n" + std::string(mayNot),
         "Unable to get read lock for cabinet.\n" + std::string(mayNot)},
        {"code 0", CIMValue(Uint32(0)), none, mayNot, "Internal error code 0\n" + std::string(mayNot)},
        {"code 0 with a message", CIMValue(Uint32(0)), CIMValue("fine"), mayNot,
         "Internal error code 0\n" + std::string(mayNot)},
        {"code and message", CIMValue(Uint32(5)), CIMValue("fan controller timed out"),
         lowLevel + std::string("fan controller timed out\n") + mayNot,
         lowLevel + std::string("fan controller timed out\n") + mayNot},
        {"code, null message", CIMValue(Uint32(5)), CIMValue(CIMType::String, false),
         "Internal error code 5\n" + std::string(mayNot), mayNot},
        {"code, no message", CIMValue(Uint32(1234)), none, "Internal error code 1234\n" + std::string(mayNot),
         mayNot},
        {"code, empty message", CIMValue(Uint32(5)), CIMValue(""), lowLevel + std::string("\n") + mayNot,
         lowLevel + std::string("\n") + mayNot},
        {"numeric message", CIMValue(Uint32(5)), CIMValue(Uint32(77)), lowLevel + std::string("77\n") + mayNot,
         lowLevel + std::string("77\n") + mayNot},
        // Codes of another integer type count by their value.
        {"uint8 read lock", CIMValue(cim::Uint8(22)), none,
         "Unable to get read lock for cabinet.\n" + std::string(mayNot),
         "Unable to get read lock for cabinet.\n" + std::string(mayNot)},
        {"uint64 code", CIMValue(cim::Uint64(9)), none, "Internal error code 9\n" + std::string(mayNot), mayNot},
        // A code that is no number at all is reported as unknown: still a failure.
        {"string code", CIMValue("22"), none, "Internal error code -1\n" + std::string(mayNot), mayNot},
        {"array code", CIMValue(Array<Uint32>{22}), none, "Internal error code -1\n" + std::string(mayNot), mayNot},
    };
    for (const auto& c : cases) {
        CIMInstance instance("XK_KestCabinet");
        if (c.code) instance.addProperty(CIMProperty("errorCode", *c.code));
        if (c.message) instance.addProperty(CIMProperty("errorMsg", *c.message));
        for (FetchVariant variant : {FetchVariant::Enumeration, FetchVariant::Keyed}) {
            ::testing::internal::CaptureStderr();
            reportInstanceStatus(instance, "cabinet", variant);
            EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                      variant == FetchVariant::Enumeration ? c.enumeration : c.keyed)
                << c.what << (variant == FetchVariant::Enumeration ? " (enumeration)" : " (keyed)");
        }
    }
}

}  // namespace
}  // namespace cmplxview
