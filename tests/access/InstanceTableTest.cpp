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

// Each kind with the number of positions the reports address its values by.
const std::pair<RecordKind, int> kinds[] = {
    {RecordKind::Cabinet, CabinetProperty::count},       {RecordKind::Cell, CellProperty::count},
    {RecordKind::PartitionCell, PartitionCellProperty::count}, {RecordKind::CellSlot, CellSlotProperty::count},
    {RecordKind::Complex, ComplexProperty::count},       {RecordKind::IOChassis, IOChassisProperty::count},
    {RecordKind::IOChassisSlot, IOChassisSlotProperty::count},
    {RecordKind::LocalPartition, LocalPartitionProperty::count}, {RecordKind::Partition, PartitionProperty::count},
    {RecordKind::PowerCoolingDomain, PowerCoolingDomainProperty::count},
};

TEST(CreateInstanceTable, NullRecordsShapedAsTheKindsPropertyList) {
    static_assert(std::size(kinds) == recordKindCount);
    for (const auto& [kind, count] : kinds) {
        const KindInfo& info = kindInfo(kind);
        ASSERT_EQ(info.properties.size(), static_cast<std::size_t>(count)) << info.className;
        for (int n : {0, 1, 3}) {
            ASSERT_EQ(createInstanceTable(kind, n), 0) << info.className;
            const InstanceTable& table = instanceTable(kind);
            ASSERT_EQ(table.size(), static_cast<std::size_t>(n)) << info.className;
            for (const InstanceRecord& record : table) {
                EXPECT_EQ(record.propertyCount, count) << info.className;
                EXPECT_EQ(record.className, info.className);
                ASSERT_EQ(record.values.size(), static_cast<std::size_t>(count)) << info.className;
                for (const CIMValue& value : record.values) EXPECT_TRUE(value.isNull()) << info.className;
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
    const struct { int index; int position; bool present; } cases[] = {
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
    const struct { int position; CIMValue expected; } cases[] = {
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

TEST(GetPropertyValue, MissingAndNullLeaveTheValueUntouched) {
    CIMInstance instance = instanceWith({{"errorCode", CIMValue(Uint32(22))},
                                         {"errorMsg", CIMValue(CIMType::String, false)}});
    const struct { const char* name; int result; CIMValue expected; } cases[] = {
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

// Both variants of the errorCode/errorMsg report: enumerated and keyed instances.
TEST(ReportInstanceStatus, EveryRowOfBothVariants) {
    const std::string may = "May not be able to display complete information.\n";
    const std::string lock = "Unable to get read lock for cabinet.\n" + may;
    const std::string low = "The following message was returned from a low level subsystem. \n";
    auto code = [&](const char* number) { return "Internal error code " + std::string(number) + "\n" + may; };
    const std::optional<CIMValue> none;  // the property is absent
    const CIMValue nullCode(CIMType::Uint32, false), nullText(CIMType::String, false);
    const struct { std::optional<CIMValue> code, message; std::string enumeration, keyed; } cases[] = {
        {none, none, "", ""},
        {none, CIMValue("lost"), "", ""},
        {nullCode, CIMValue("lost"), "", ""},
        {CIMValue(Uint32(22)), none, lock, lock},
        {CIMValue(Uint32(22)), CIMValue("busy"), lock, lock},
        {CIMValue(Uint32(0)), none, may, code("0")},
        {CIMValue(Uint32(0)), CIMValue("fine"), may, code("0")},
        {CIMValue(Uint32(5)), CIMValue("fan timed out"), low + "fan timed out\n" + may, low + "fan timed out\n" + may},
        {CIMValue(Uint32(5)), nullText, code("5"), may},
        {CIMValue(Uint32(1234)), none, code("1234"), may},
        {CIMValue(Uint32(5)), CIMValue(""), low + "\n" + may, low + "\n" + may},
        {CIMValue(Uint32(5)), CIMValue(Uint32(77)), low + "77\n" + may, low + "77\n" + may},
        // Codes of another integer type count by their value.
        {CIMValue(cim::Uint8(22)), none, lock, lock},
        {CIMValue(cim::Uint64(9)), none, code("9"), may},
        // A code that is no number at all is reported as unknown: still a failure.
        {CIMValue("22"), none, code("-1"), may},
        {CIMValue(Array<Uint32>{22}), none, code("-1"), may},
    };
    for (const auto& c : cases) {
        CIMInstance instance("XK_KestCabinet");
        if (c.code) instance.addProperty(CIMProperty("errorCode", *c.code));
        if (c.message) instance.addProperty(CIMProperty("errorMsg", *c.message));
        SCOPED_TRACE(::testing::PrintToString(instance));
        for (FetchVariant variant : {FetchVariant::Enumeration, FetchVariant::Keyed}) {
            ::testing::internal::CaptureStderr();
            reportInstanceStatus(instance, "cabinet", variant);
            EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                      variant == FetchVariant::Enumeration ? c.enumeration : c.keyed);
        }
    }
}

}  // namespace
}  // namespace cmplxview
