// Reading stored values by the type the program reads them as, the
// cell-to-partition list of the complex record, and blank removal.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "access/Decoding.h"

namespace cmplxview {
namespace {

using namespace cim;

TEST(ReadValue, OnlyTheTypeReadAsIsAcceptedAndRefusalsLeaveTheTargetAlone) {
    const struct { CIMValue value; bool accepted; } cases[] = {
        {CIMValue(Uint32(4294967295u)), true}, {CIMValue(Uint8(7)), false}, {CIMValue(Uint64(7)), false},
        {CIMValue(Sint32(7)), false}, {CIMValue("7"), false}, {CIMValue(CIMType::Uint32, false), false},
        {CIMValue(), false}, {CIMValue(Array<Uint32>{7}), false},
    };
    for (const auto& c : cases) {
        Uint32 out = 12345;
        EXPECT_EQ(readValue(c.value, out), c.accepted) << ::testing::PrintToString(c.value);
        EXPECT_EQ(out, c.accepted ? 4294967295u : 12345u);
    }
    String text = "old";
    EXPECT_TRUE(readValue(CIMValue("Cab 0"), text));
    EXPECT_FALSE(readValue(CIMValue(Array<String>{"x"}), text));
    EXPECT_EQ(text, "Cab 0");
    bool flag = false;
    EXPECT_TRUE(readValue(CIMValue(true), flag));
    EXPECT_FALSE(readValue(CIMValue(Uint8(0)), flag));
    EXPECT_TRUE(flag);
    CIMObjectPath path, partition("", CIMNamespaceName(), "XK_KestPartition",
                                  {CIMKeyBinding("PartitionID", "3", CIMKeyBinding::NUMERIC)});
    EXPECT_TRUE(readValue(CIMValue(partition), path));
    EXPECT_FALSE(readValue(CIMValue("XK_KestPartition.PartitionID=4"), path));
    EXPECT_EQ(path, partition);
}

TEST(ReadValue, ElementsAndWholeArrays) {
    const CIMValue statuses(Array<Uint8>{5, 3, 1});
    const CIMValue holes = CIMValue::makeArray(CIMType::Uint8, {Uint8(5), std::nullopt, Uint8(9)});
    const struct { CIMValue value; long long index; int expected; } elements[] = {  // -1: refused
        {statuses, 0, 5}, {statuses, 2, 1}, {statuses, 3, -1}, {statuses, -1, -1}, {statuses, 4294967296LL, -1},
        {CIMValue(Array<Uint8>{}), 0, -1}, {CIMValue(CIMType::Uint8, true), 0, -1}, {CIMValue(Uint8(5)), 0, -1},
        {CIMValue(Array<Uint16>{5, 3}), 0, -1}, {holes, 1, -1}, {holes, 2, 9},
    };
    for (const auto& c : elements) {
        Uint8 out = 77;
        EXPECT_EQ(readElement(c.value, c.index, out), c.expected >= 0) << c.index;
        EXPECT_EQ(out, c.expected >= 0 ? c.expected : 77) << c.index;
    }
    const struct { CIMValue value; int size; } arrays[] = {  // -1: refused
        {CIMValue(Array<Uint32>{1, 2, 3}), 3}, {CIMValue(Array<Uint32>{}), 0}, {CIMValue(Array<Uint8>{1, 2}), -1},
        {CIMValue(Uint32(1)), -1}, {CIMValue(CIMType::Uint32, true), -1},
    };
    for (const auto& c : arrays) {
        Array<Uint32> out{42};
        EXPECT_EQ(readArray(c.value, out), c.size >= 0);
        EXPECT_EQ(out.size(), c.size >= 0 ? static_cast<std::size_t>(c.size) : 1u);
    }
    EXPECT_EQ(arraySize(CIMValue(Array<Uint64>{1, 2, 3, 4})), 4u);
    EXPECT_EQ(arraySize(CIMValue(Uint64(4))), 0u);
    EXPECT_EQ(arraySize(CIMValue(CIMType::Uint64, true)), 0u);
}

TEST(CellAssignments, EntriesPastTheEndAreUnassignedAndOnlyAUint32ListOfTheFirstRecordCounts) {
    const CIMValue three(Array<Uint32>{3, 255, 1}), empty(Array<Uint32>{});
    const struct { CIMValue list; long long cell; int result; Uint32 partition; int count; } cases[] = {
        {three, 0, 0, 3, 3}, {three, 2, 0, 1, 3}, {three, 3, 0, 255, 3}, {three, -1, 0, 255, 3},
        {empty, 0, 0, 255, 0}, {CIMValue(CIMType::Uint32, true), 0, 1, 999, 0}, {CIMValue(), 2, 1, 999, 0},
        {CIMValue(Array<Uint8>{3}), 0, 1, 999, 0}, {CIMValue(Uint32(3)), 0, 1, 999, 0},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(createInstanceTable(RecordKind::Complex, 2), 0);
        instanceTable(RecordKind::Complex)[0].values[ComplexProperty::CellAssignments] = c.list;
        instanceTable(RecordKind::Complex)[1].values[ComplexProperty::CellAssignments] = three;
        Uint32 partition = 999;
        EXPECT_EQ(getCellAssignment(c.cell, partition), c.result) << ::testing::PrintToString(c.list) << c.cell;
        EXPECT_EQ(partition, c.partition) << c.cell;
        Array<Uint32> list;
        int count = -7;
        EXPECT_EQ(getCellAssignments(list, count), c.result);
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(list.size(), static_cast<std::size_t>(c.count));
    }
    ASSERT_EQ(createInstanceTable(RecordKind::Complex, 0), 0);
    Uint32 partition = 999;
    EXPECT_EQ(getCellAssignment(0, partition), 1);
}

TEST(RemoveSpaces, OnlyBlanksGo) {
    for (const auto& [text, expected] : {std::pair{"  Cab 0 Cell 1  ", "Cab0Cell1"}, {"   ", ""}, {"", ""},
                                         {"tab\tand\nbreak stay\r", "tab\tand\nbreakstay\r"}}) {
        String value = text;
        removeSpaces(value);
        EXPECT_EQ(value, expected) << text;
    }
}

}  // namespace
}  // namespace cmplxview
