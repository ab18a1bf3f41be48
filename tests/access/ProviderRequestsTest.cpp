// The requests of the data access layer against a real kest-provider: ValueMap
// lookups, counts and enumerations into tables of fewer or more records than
// instances (what a whole run cannot show). The test runs inside the e2e
// harness, which serves data/requests-complex.json with data/requests-schema.json
// (every class names its own ValueMap texts, so the lookups test the program,
// not the shipped schema) and sets XK_CIM_SOCKET.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "access/Decoding.h"
#include "connection/ProviderConnection.h"

namespace cmplxview {
namespace {

using cim::String;
using cim::Uint32;

class ProviderRequests : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("XK_CIM_SOCKET"), nullptr) << "run by tests/e2e/harness.py, which starts the provider";
        unsetenv("XK_CIM_TIMEOUT_MS");
        clearCredentials();
        ASSERT_EQ(openProviderConnection(CommandOptions{}), 0);
    }
};

TEST_F(ProviderRequests, LookupValueMap) {
    const struct { const char* className; const char* property; unsigned long long value; const char* text; } cases[] = {
        {"XK_KestCell", "ComponentStatus", 0, "zero"}, {"XK_KestCell", "ComponentStatus", 2, "two"},
        {"XK_KestCell", "ComponentStatus", 3, ""},  // a code equal to the number of entries has no text
        // Only the low 8 bits count.
        {"XK_KestCell", "ComponentStatus", 258, "two"}, {"XK_KestCell", "ComponentStatus", 259, ""},
        {"XK_KestCell", "ComponentStatus", 0x100000001ULL, "one"},
        // Names compare without regard to case.
        {"XK_KestCell", "Cellarchitecture", 1, "arch 1"}, {"xk_kestcell", "COMPONENTSTATUS", 1, "one"},
        // No ValueMap, no such property.
        {"XK_KestCell", "TotalMemoryOK", 0, ""}, {"XK_KestCell", "DIMMStatus", 0, ""},
    };
    for (const auto& c : cases) {
        String text = "left over";
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(lookupValueMap(c.className, c.property, c.value, text), *c.text != '\0' ? 0 : 1) << c.property << c.value;
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(text, c.text) << c.property << " " << c.value;
    }
    // A class that cannot be had: the library's message on standard output, no text.
    String text = "left over";
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(lookupValueMap("XK_KestCabinet", "CabinetType", 0, text), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "CIM_ERR_FAILED: class store offline\n");
    EXPECT_EQ(text, "");
}

TEST_F(ProviderRequests, CountAndEnumerateIntoTablesOfAnySize) {
    EXPECT_EQ(countInstances("XK_KestCell"), 3);
    EXPECT_EQ(countInstances("XK_KestCabinet"), 0);
    const std::string may = "May not be able to display complete information.\n";
    const std::string reports = "Unable to get read lock for cell.\n" + may +
                                "The following message was returned from a low level subsystem. \nthird cell\n" + may;
    for (int records : {1, 3, 5}) {
        ASSERT_EQ(createInstanceTable(RecordKind::Cell, records), 0);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(fetchAllInstances(RecordKind::Cell), 0) << records;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), reports) << records;  // also for instances beyond the table
        const InstanceTable& table = instanceTable(RecordKind::Cell);
        ASSERT_EQ(table.size(), static_cast<std::size_t>(records));
        for (int i = 0; i < records; ++i) {
            Uint32 slot = 99;
            EXPECT_EQ(readValue(table[i].values[CellProperty::SlotID], slot), i < 3) << records << "/" << i;
            EXPECT_EQ(slot, i < 3 ? static_cast<Uint32>(i) : 99u);
        }
        EXPECT_EQ(table[0].values[CellProperty::TotalMemoryOK], cim::CIMValue(cim::Uint64(4096)));
        EXPECT_TRUE(table[0].values[CellProperty::CPUSpeed].isNull());  // listed, but not in the class
    }
    ASSERT_EQ(createInstanceTable(RecordKind::Cabinet, 1), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(fetchAllInstances(RecordKind::Cabinet), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: No information available for any cabinet.\n");
}

}  // namespace
}  // namespace cmplxview
