// The requests of the data access layer against a real kest-provider with a
// schema of this test's own: ValueMap lookups, counts and enumerations into
// tables of fewer or more records than instances (what a whole run cannot
// show). The provider runs on a private socket.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "access/Decoding.h"
#include "connection/ProviderConnection.h"

extern char** environ;

namespace cmplxview {
namespace {

namespace fs = std::filesystem;
using cim::String;
using cim::Uint32;

// Every class names its own ValueMap texts, so the lookups test the program, not the shipped schema.
constexpr const char* kSchema = R"({"classes": [
  {"name": "XK_KestCell", "superclass": null, "properties": [
     {"name": "SlotID", "type": "uint32", "key": true},
     {"name": "ComponentStatus", "type": "uint8", "valueMap": ["zero", "one", "two"]},
     {"name": "CellArchitecture", "type": "uint8", "valueMap": ["arch 0", "arch 1"]},
     {"name": "TotalMemoryOK", "type": "uint64"}]},
  {"name": "XK_KestCabinet", "superclass": null, "properties": [
     {"name": "ID", "type": "uint32", "key": true}, {"name": "CabinetType", "type": "uint8", "valueMap": ["cab"]}]}
]})";

constexpr const char* kComplex = R"({"namespaces": {"root/cimv2/kest": {"XK_KestCell": [
     {"SlotID": 0, "ComponentStatus": 1, "TotalMemoryOK": 4096},
     {"SlotID": 1, "ComponentStatus": 2, "errorCode": 22},
     {"SlotID": 2, "ComponentStatus": 0, "errorCode": 5, "errorMsg": "third cell"}]}},
"faults": [{"operation": "GetClass", "class": "XK_KestCabinet", "action": "cimError", "code": 1,
            "description": "class store offline"}]})";

class ProviderRequests : public ::testing::Test {
protected:
    void SetUp() override {
        const char* provider = std::getenv("KEST_PROVIDER");
        ASSERT_NE(provider, nullptr) << "KEST_PROVIDER names the provider to run";
        dir_ = fs::temp_directory_path() / ("kest-access-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        std::ofstream(dir_ / "schema.json") << kSchema;
        std::ofstream(dir_ / "complex.json") << kComplex;
        const std::string socket = (dir_ / "cimxml.socket").string(), ready = (dir_ / "ready").string();
        std::vector<std::string> words = {provider, "--socket", socket, "--ready-file", ready, "--schema",
                                          (dir_ / "schema.json").string(), (dir_ / "complex.json").string()};
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        ASSERT_EQ(posix_spawn(&pid_, provider, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 2000 && !fs::exists(ready); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(fs::exists(ready)) << "the provider did not start";
        unsetenv("XK_CIM_TIMEOUT_MS");
        setenv("XK_CIM_SOCKET", socket.c_str(), 1);
        clearCredentials();
        ASSERT_EQ(openProviderConnection(CommandOptions{}), 0);
    }

    void TearDown() override {
        if (pid_ > 0 && kill(pid_, SIGTERM) == 0) waitpid(pid_, nullptr, 0);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    fs::path dir_;
    pid_t pid_ = -1;
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
