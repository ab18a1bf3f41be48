// Reading stored values by the type the program reads them as, the
// cell-to-partition list of the complex record, and blank removal.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "access/Decoding.h"

namespace cmplxview {
namespace {

using cim::Array;
using cim::CIMType;
using cim::CIMValue;
using cim::String;
using cim::Uint16;
using cim::Uint32;
using cim::Uint64;
using cim::Uint8;

CIMValue nullElements(CIMType type, std::vector<std::optional<CIMValue::Scalar>> elements) {
    return CIMValue::makeArray(type, std::move(elements));
}

TEST(ReadValue, OnlyTheTypeReadAsIsAccepted) {
    const struct { const char* what; CIMValue value; bool accepted; Uint32 expected; } cases[] = {
        {"uint32", CIMValue(Uint32(7)), true, 7},
        {"uint32 max", CIMValue(Uint32(4294967295u)), true, 4294967295u},
        {"uint8", CIMValue(Uint8(7)), false, 0},
        {"uint64", CIMValue(Uint64(7)), false, 0},
        {"sint32", CIMValue(cim::Sint32(7)), false, 0},
        {"string", CIMValue("7"), false, 0},
        {"null uint32", CIMValue(CIMType::Uint32, false), false, 0},
        {"null default", CIMValue(), false, 0},
        {"uint32 array", CIMValue(Array<Uint32>{7}), false, 0},
        {"empty uint32 array", CIMValue(Array<Uint32>{}), false, 0},
    };
    for (const auto& c : cases) {
        Uint32 out = 12345;
        EXPECT_EQ(readValue(c.value, out), c.accepted) << c.what;
        EXPECT_EQ(out, c.accepted ? c.expected : 12345u) << c.what << ": untouched unless accepted";
    }
}

TEST(ReadValue, OtherTypes) {
    String text = "old";
    EXPECT_TRUE(readValue(CIMValue("Cab 0"), text));
    EXPECT_EQ(text, "Cab 0");
    EXPECT_FALSE(readValue(CIMValue(Array<String>{"x"}), text));
    EXPECT_EQ(text, "Cab 0");

    bool flag = false;
    EXPECT_TRUE(readValue(CIMValue(true), flag));
    EXPECT_TRUE(flag);
    EXPECT_FALSE(readValue(CIMValue(Uint8(0)), flag));
    EXPECT_TRUE(flag);

    cim::CIMObjectPath path;
    cim::CIMObjectPath partition("", cim::CIMNamespaceName(), "XK_KestPartition",
                                 {cim::CIMKeyBinding("PartitionID", "3", cim::CIMKeyBinding::NUMERIC)});
    EXPECT_TRUE(readValue(CIMValue(partition), path));
    EXPECT_EQ(path, partition);
    cim::CIMObjectPath untouched = path;
    EXPECT_FALSE(readValue(CIMValue("XK_KestPartition.PartitionID=4"), path));
    EXPECT_EQ(path, untouched);
}

TEST(ReadElement, WrongTypesShortArraysAndNullElements) {
    const CIMValue statuses(Array<Uint8>{5, 3, 1});
    const struct { const char* what; CIMValue value; long long index; bool accepted; Uint8 expected; } cases[] = {
        {"first", statuses, 0, true, 5},
        {"last", statuses, 2, true, 1},
        {"one past the end", statuses, 3, false, 0},
        {"far past the end", statuses, 255, false, 0},
        {"negative", statuses, -1, false, 0},
        {"index beyond 32 bits", statuses, 4294967296LL, false, 0},
        {"empty array", CIMValue(Array<Uint8>{}), 0, false, 0},
        {"null array", CIMValue(CIMType::Uint8, true), 0, false, 0},
        {"null value", CIMValue(), 0, false, 0},
        {"scalar of the type", CIMValue(Uint8(5)), 0, false, 0},
        {"array of another type", CIMValue(Array<Uint16>{5, 3}), 0, false, 0},
        {"array of strings", CIMValue(Array<String>{"5"}), 0, false, 0},
        {"null element", nullElements(CIMType::Uint8, {Uint8(5), std::nullopt, Uint8(1)}), 1, false, 0},
        {"element after a null one", nullElements(CIMType::Uint8, {std::nullopt, Uint8(9)}), 1, true, 9},
    };
    for (const auto& c : cases) {
        Uint8 out = 77;
        EXPECT_EQ(readElement(c.value, c.index, out), c.accepted) << c.what;
        EXPECT_EQ(out, c.accepted ? c.expected : 77) << c.what << ": untouched unless accepted";
    }
}

TEST(ReadArray, WholeArraysOfTheTypeOnly) {
    const struct { const char* what; CIMValue value; bool accepted; std::size_t size; } cases[] = {
        {"uint32 array", CIMValue(Array<Uint32>{1, 2, 3}), true, 3},
        {"empty uint32 array", CIMValue(Array<Uint32>{}), true, 0},
        {"uint8 array", CIMValue(Array<Uint8>{1, 2}), false, 0},
        {"uint32 scalar", CIMValue(Uint32(1)), false, 0},
        {"null uint32 array", CIMValue(CIMType::Uint32, true), false, 0},
        {"null", CIMValue(), false, 0},
    };
    for (const auto& c : cases) {
        Array<Uint32> out{42};
        EXPECT_EQ(readArray(c.value, out), c.accepted) << c.what;
        if (c.accepted) {
            EXPECT_EQ(out.size(), c.size) << c.what;
        } else {
            EXPECT_EQ(out, Array<Uint32>{42}) << c.what;
        }
    }
    EXPECT_EQ(arraySize(CIMValue(Array<Uint64>{1, 2, 3, 4})), 4u);
    EXPECT_EQ(arraySize(CIMValue(Uint64(4))), 0u);
    EXPECT_EQ(arraySize(CIMValue(CIMType::Uint64, true)), 0u);
}

// The complex table with one record whose CellAssignments is the given value.
void setAssignments(const CIMValue& value) {
    ASSERT_EQ(createInstanceTable(RecordKind::Complex, 1), 0);
    instanceTable(RecordKind::Complex)[0].values[ComplexProperty::CellAssignments] = value;
}

TEST(GetCellAssignment, EntriesEmptyListAndCellsPastTheEnd) {
    const CIMValue three(Array<Uint32>{3, 255, 1});
    const struct {
        const char* what;
        CIMValue assignments;
        long long cell;
        int result;
        Uint32 partition;  // 999 = left untouched
    } cases[] = {
        {"first cell", three, 0, 0, 3},
        {"unassigned cell", three, 1, 0, 255},
        {"last cell", three, 2, 0, 1},
        {"one past the end", three, 3, 0, 255},
        {"far past the end", three, 254, 0, 255},
        {"negative cell", three, -1, 0, 255},
        {"empty list", CIMValue(Array<Uint32>{}), 0, 0, 255},
        {"empty list, other cell", CIMValue(Array<Uint32>{}), 5, 0, 255},
        {"no list", CIMValue(CIMType::Uint32, true), 0, 1, 999},
        {"no value at all", CIMValue(), 2, 1, 999},
        // A list the provider sent with another type is no list.
        {"uint8 list", CIMValue(Array<Uint8>{3, 255, 1}), 0, 1, 999},
        {"scalar", CIMValue(Uint32(3)), 0, 1, 999},
    };
    for (const auto& c : cases) {
        setAssignments(c.assignments);
        Uint32 partition = 999;
        EXPECT_EQ(getCellAssignment(c.cell, partition), c.result) << c.what;
        EXPECT_EQ(partition, c.partition) << c.what;
    }
}

TEST(GetCellAssignment, ReadsTheFirstComplexRecordOnly) {
    ASSERT_EQ(createInstanceTable(RecordKind::Complex, 2), 0);
    instanceTable(RecordKind::Complex)[1].values[ComplexProperty::CellAssignments] = CIMValue(Array<Uint32>{4});
    Uint32 partition = 999;
    EXPECT_EQ(getCellAssignment(0, partition), 1);
    EXPECT_EQ(partition, 999u);
    instanceTable(RecordKind::Complex)[0].values[ComplexProperty::CellAssignments] = CIMValue(Array<Uint32>{6});
    EXPECT_EQ(getCellAssignment(0, partition), 0);
    EXPECT_EQ(partition, 6u);

    // No complex record at all: no list.
    ASSERT_EQ(createInstanceTable(RecordKind::Complex, 0), 0);
    partition = 999;
    EXPECT_EQ(getCellAssignment(0, partition), 1);
    EXPECT_EQ(partition, 999u);
}

TEST(GetCellAssignments, ListAndCount) {
    const struct { const char* what; CIMValue assignments; int result; int count; } cases[] = {
        {"three cells", CIMValue(Array<Uint32>{0, 0, 255}), 0, 3},
        {"empty", CIMValue(Array<Uint32>{}), 0, 0},
        {"null", CIMValue(CIMType::Uint32, true), 1, 0},
    };
    for (const auto& c : cases) {
        setAssignments(c.assignments);
        Array<Uint32> list;
        int count = -7;
        EXPECT_EQ(getCellAssignments(list, count), c.result) << c.what;
        EXPECT_EQ(count, c.count) << c.what;
        if (c.result == 0) {
            EXPECT_EQ(list.size(), static_cast<std::size_t>(c.count)) << c.what;
        }
    }
}

TEST(RemoveSpaces, OnlyBlanksGo) {
    const struct { const char* text; const char* expected; } cases[] = {
        {"Cab 0 Cell 1", "Cab0Cell1"},
        {"cabinet 0,bay 1,chassis 3", "cabinet0,bay1,chassis3"},
        {"  leading and trailing  ", "leadingandtrailing"},
        {"   ", ""},
        {"", ""},
        {"nospaces", "nospaces"},
        {"tab\tstays", "tab\tstays"},
        {"line\nbreak stays", "line\nbreakstays"},
        {"carriage\r return", "carriage\rreturn"},
    };
    for (const auto& c : cases) {
        String text = c.text;
        removeSpaces(text);
        EXPECT_EQ(text, c.expected) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace cmplxview
