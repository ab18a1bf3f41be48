// Record kinds and their property lists, instance tables (create, save,
// restore), copying an instance's listed properties into a record, and the
// report of an instance's errorCode and errorMsg.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "FakeServer.h"
#include "access/Instances.h"
#include "cim/Client.h"
#include "cim/Codec.h"
#include "connection/ProviderConnection.h"

namespace cmplxview {
namespace {

using namespace cim;

TEST(InstanceTables, NullRecordsShapedAsTheKindsPropertyList) {
    // Each kind with the number of positions the reports address its values by.
    const std::pair<RecordKind, int> kinds[] = {
        {RecordKind::Cabinet, CabinetProperty::count}, {RecordKind::Cell, CellProperty::count},
        {RecordKind::PartitionCell, PartitionCellProperty::count}, {RecordKind::CellSlot, CellSlotProperty::count},
        {RecordKind::Complex, ComplexProperty::count}, {RecordKind::IOChassis, IOChassisProperty::count},
        {RecordKind::IOChassisSlot, IOChassisSlotProperty::count},
        {RecordKind::LocalPartition, LocalPartitionProperty::count}, {RecordKind::Partition, PartitionProperty::count},
        {RecordKind::PowerCoolingDomain, PowerCoolingDomainProperty::count},
    };
    static_assert(std::size(kinds) == recordKindCount);
    for (const auto& [kind, count] : kinds) {
        const KindInfo& info = kindInfo(kind);
        ASSERT_EQ(info.properties.size(), static_cast<std::size_t>(count)) << info.className;
        ASSERT_EQ(createInstanceTable(kind, 3), 0) << info.className;
        ASSERT_EQ(instanceTable(kind).size(), 3u) << info.className;
        for (const InstanceRecord& record : instanceTable(kind)) {
            EXPECT_EQ(record.propertyCount, count) << info.className;
            EXPECT_EQ(record.className, info.className);
            ASSERT_EQ(record.values.size(), static_cast<std::size_t>(count)) << info.className;
            for (const CIMValue& value : record.values) EXPECT_TRUE(value.isNull()) << info.className;
        }
    }
    ASSERT_EQ(createInstanceTable(RecordKind::Cabinet, 0), 0);
    EXPECT_TRUE(instanceTable(RecordKind::Cabinet).empty());
}

TEST(InstanceTables, CreationReplacesOnlyItsOwnSlotAndRefusedSizesNone) {
    ASSERT_EQ(createInstanceTable(RecordKind::Cell, 2), 0);
    instanceTable(RecordKind::Cell)[1].values[CellProperty::SlotID] = CIMValue(Uint32(4));
    for (int n : {-1, maxTableRecords + 1}) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(createInstanceTable(RecordKind::Cell, n), 1) << n;
        ::testing::internal::GetCapturedStderr();
    }
    ASSERT_EQ(createInstanceTable(RecordKind::PartitionCell, 5), 0);  // the same class, a table of its own
    ASSERT_EQ(instanceTable(RecordKind::Cell).size(), 2u);
    EXPECT_EQ(instanceTable(RecordKind::Cell)[1].values[CellProperty::SlotID], CIMValue(Uint32(4)));
    // storedValue answers null outside the table and for positions past the list.
    const struct { int index, position; bool present; } cases[] = {
        {1, CellProperty::SlotID, true}, {0, CellProperty::SlotID, false}, {2, CellProperty::SlotID, false},
        {-1, 0, false}, {1, CellProperty::count, false}, {1, -1, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(!storedValue(RecordKind::Cell, c.index, c.position).isNull(), c.present) << c.index << "/" << c.position;
    ASSERT_EQ(createInstanceTable(RecordKind::Cell, 2), 0);
    EXPECT_TRUE(instanceTable(RecordKind::Cell)[1].values[CellProperty::SlotID].isNull());
}

TEST(InstanceTables, SaveAndRestore) {
    ASSERT_EQ(createInstanceTable(RecordKind::Partition, 2), 0);
    instanceTable(RecordKind::Partition)[1].values[PartitionProperty::PartitionID] = CIMValue(Uint32(7));
    const auto saved = saveInstanceTable(RecordKind::Partition);
    for (int replacement : {5, 4}) {  // every partition loaded over it, then put back, twice
        ASSERT_EQ(createInstanceTable(RecordKind::Partition, replacement), 0);
        ASSERT_EQ(createInstanceTable(RecordKind::CellSlot, 1), 0);
        restoreInstanceTable(RecordKind::Partition, saved);
        ASSERT_EQ(instanceTable(RecordKind::Partition).size(), 2u);
        EXPECT_EQ(instanceTable(RecordKind::Partition)[1].values[PartitionProperty::PartitionID], CIMValue(Uint32(7)));
        EXPECT_EQ(instanceTable(RecordKind::CellSlot).size(), 1u);
    }
    restoreInstanceTable(RecordKind::Partition, nullptr);  // an empty table, never a missing one
    EXPECT_TRUE(instanceTable(RecordKind::Partition).empty());
}

CIMInstance instanceWith(std::vector<std::pair<const char*, CIMValue>> properties) {
    CIMInstance instance("XK_KestCellSlot");
    for (auto& [name, value] : properties) instance.addProperty(CIMProperty(name, value));
    return instance;
}

TEST(InstanceTables, CopyListedPropertiesAndGetPropertyValue) {
    ASSERT_EQ(createInstanceTable(RecordKind::CellSlot, 1), 0);
    InstanceRecord& record = instanceTable(RecordKind::CellSlot)[0];
    record.values[CellSlotProperty::Number] = CIMValue(Uint32(9));
    record.values[CellSlotProperty::Populated] = CIMValue(false);
    const CIMInstance instance = instanceWith({
        {"id", CIMValue(Uint32(3))},                       // names compare without regard to case
        {"Populated", CIMValue(CIMType::Boolean, false)},  // null: the old value stays
        {"Unlisted", CIMValue(Uint32(1))}, {"errorCode", CIMValue(Uint32(22))},
        {"CabinetID", CIMValue("0")},                      // stored as sent, unconverted
        {"errorMsg", CIMValue(CIMType::String, false)},
    });
    copyListedProperties(instance, record);
    const std::pair<int, CIMValue> stored[] = {
        {CellSlotProperty::ID, CIMValue(Uint32(3))}, {CellSlotProperty::Populated, CIMValue(false)},
        {CellSlotProperty::Number, CIMValue(Uint32(9))}, {CellSlotProperty::CabinetID, CIMValue("0")},
        {CellSlotProperty::ShortLabel, CIMValue()},
    };
    for (const auto& [position, expected] : stored) EXPECT_EQ(record.values[position], expected) << position;
    EXPECT_EQ(record.values.size(), static_cast<std::size_t>(CellSlotProperty::count));
    // getPropertyValue: missing and null properties leave the value untouched.
    for (const auto& [name, result] : {std::pair{"ERRORCODE", 0}, {"errorMsg", 1}, {"absent", 1}}) {
        CIMValue value("before");
        EXPECT_EQ(getPropertyValue(instance, name, value), result) << name;
        EXPECT_EQ(value, result == 0 ? CIMValue(Uint32(22)) : CIMValue("before")) << name;
    }
}

// The ordinary rows of both variants are seen end to end; these are the odd types.
TEST(ReportInstanceStatus, CodesAndMessagesOfOtherTypes) {
    const std::string may = "May not be able to display complete information.\n";
    const std::string lock = "Unable to get read lock for cabinet.\n" + may;
    const std::string low = "The following message was returned from a low level subsystem. \n";
    auto code = [&](const char* number) { return "Internal error code " + std::string(number) + "\n" + may; };
    const std::optional<CIMValue> none;
    const struct { CIMValue code; std::optional<CIMValue> message; std::string enumeration, keyed; } cases[] = {
        {CIMValue(Uint32(5)), CIMValue(""), low + "\n" + may, low + "\n" + may},
        {CIMValue(Uint32(5)), CIMValue(Uint32(77)), low + "77\n" + may, low + "77\n" + may},
        {CIMValue(Uint8(22)), none, lock, lock},
        {CIMValue(Uint64(9)), none, code("9"), may},
        {CIMValue(Uint64(0)), none, may, code("0")},
        {CIMValue("22"), none, code("-1"), may},  // no number at all: an unknown failure
        {CIMValue(Array<Uint32>{22}), none, code("-1"), may},
    };
    for (const auto& c : cases) {
        CIMInstance instance("XK_KestCabinet");
        instance.addProperty(CIMProperty("errorCode", c.code));
        if (c.message) instance.addProperty(CIMProperty("errorMsg", *c.message));
        SCOPED_TRACE(::testing::PrintToString(instance));
        for (FetchVariant variant : {FetchVariant::Enumeration, FetchVariant::Keyed}) {
            ::testing::internal::CaptureStderr();
            reportInstanceStatus(instance, "cabinet", variant);
            EXPECT_EQ(::testing::internal::GetCapturedStderr(), variant == FetchVariant::Enumeration ? c.enumeration : c.keyed);
        }
    }
}

// An enumeration stores each instance as it is read. An answer that fails
// part way leaves the table as it was made and reports nothing of the
// instances before the fault; a whole one reports their states after it.
TEST(ReportInstanceStatus, EnumerationStoresAWholeAnswerOrNothing) {
    auto cells = [](bool broken) {
        return FakeServer::Step{[broken](const ReceivedRequest& received) {
            xml::Request request = xml::decodeRequest(received.body);
            xml::Response r;
            r.messageId = request.messageId;
            r.operation = request.operation;
            for (int i = 0; i < 3; ++i) {
                CIMInstance cell = instanceWith({{"SlotID", CIMValue(Uint32(i))}, {"Size", CIMValue(Uint8(7))}});
                if (i == 0) cell.addProperty(CIMProperty("errorCode", CIMValue(Uint32(22))));
                cell.setPath(CIMObjectPath("XK_KestCell.SlotID=" + std::to_string(i)));
                r.instances.push_back(cell);
            }
            std::string body = xml::encodeResponse(r);
            if (broken) body.replace(body.rfind("<VALUE>7<"), 9, "<VALUE>700<");  // the last cell's uint8
            return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        }};
    };
    FakeServer server(socketPath());
    server.run({cells(true), cells(false)});
    ScopedEnv env("XK_CIM_SOCKET", server.path());
    CIMClient client;
    client.connectLocal();
    activeClient = &client;
    activeNameSpace = CIMNamespaceName("root/cimv2/kest");
    const std::string reports = "Unable to get read lock for cell.\nMay not be able to display complete information.\n";
    for (bool broken : {true, false}) {
        ASSERT_EQ(createInstanceTable(RecordKind::Cell, 3), 0);
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(fetchAllInstances(RecordKind::Cell), broken ? 1 : 0);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), broken ? "Note: Unable to get any cell information.\n" : reports);
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.find("Malformed answer from the CIM server:") == 0, broken) << out;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(storedValue(RecordKind::Cell, i, CellProperty::SlotID),
                      broken ? CIMValue() : CIMValue(Uint32(i))) << broken << i;
    }
    activeClient = nullptr;
}

}  // namespace
}  // namespace cmplxview
