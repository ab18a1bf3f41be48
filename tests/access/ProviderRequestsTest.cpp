// The requests of the data access layer against a real kest-provider with a
// schema of this test's own: ValueMap lookups, counts, enumerations into
// tables of fewer or more records than instances, keyed fetches and unique
// numbers. The provider runs on a private socket; its request log tells how
// many requests each call sent.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "access/Decoding.h"
#include "connection/ProviderConnection.h"
#include "driver/Arguments.h"

extern char** environ;

namespace cmplxview {
namespace {

namespace fs = std::filesystem;
using cim::String;
using cim::Uint32;

// Every class names its own ValueMap texts, so the lookups below test the
// program, not the shipped schema.
constexpr const char* kSchema = R"({"classes": [
  {"name": "XK_KestComplex", "superclass": null, "properties": [
     {"name": "ProfileID", "type": "uint32", "key": true},
     {"name": "CellAssignments", "type": "uint32", "array": true}]},
  {"name": "XK_KestCell", "superclass": null, "properties": [
     {"name": "SlotID", "type": "uint32", "key": true},
     {"name": "ComponentStatus", "type": "uint8", "valueMap": ["zero", "one", "two"]},
     {"name": "CellArchitecture", "type": "uint8", "valueMap": ["arch 0", "arch 1"]},
     {"name": "TotalMemoryOK", "type": "uint64"}]},
  {"name": "XK_KestCabinet", "superclass": null, "properties": [
     {"name": "ID", "type": "uint32", "key": true},
     {"name": "CabinetType", "type": "uint8", "valueMap": ["cab"]}]},
  {"name": "XK_KestCellSlot", "superclass": null, "properties": [
     {"name": "CabinetID", "type": "uint32"}, {"name": "LongLabel", "type": "string"},
     {"name": "ID", "type": "uint32", "key": true}, {"name": "Number", "type": "uint32"}],
   "methods": [{"name": "MakeID", "type": "uint32", "parameters": [
     {"name": "CabinetID", "type": "uint8"}, {"name": "SlotNumber", "type": "uint8"}]}]},
  {"name": "XK_KestIOChassisSlot", "superclass": null, "properties": [
     {"name": "ID", "type": "uint32", "key": true}, {"name": "CabinetID", "type": "uint32"},
     {"name": "IOBayNumber", "type": "uint32"}, {"name": "Number", "type": "uint32"}],
   "methods": [{"name": "MakeID", "type": "uint32", "parameters": [
     {"name": "CabinetID", "type": "uint8"}, {"name": "BayNumber", "type": "uint8"},
     {"name": "SlotNumber", "type": "uint8"}]}]},
  {"name": "XK_KestPartition", "superclass": null, "properties": [
     {"name": "PartitionID", "type": "uint32", "key": true}, {"name": "PartitionName", "type": "string"}]}
]})";

constexpr const char* kComplex = R"({"namespaces": {"root/cimv2/kest": {
  "XK_KestComplex": [{"ProfileID": 0, "CellAssignments": [1, 255]}],
  "XK_KestCell": [
     {"SlotID": 0, "ComponentStatus": 1, "TotalMemoryOK": 4096},
     {"SlotID": 1, "ComponentStatus": 2, "errorCode": 22},
     {"SlotID": 2, "ComponentStatus": 0, "errorCode": 5, "errorMsg": "third cell"}],
  "XK_KestCellSlot": [
     {"ID": 0, "CabinetID": 0, "Number": 0, "LongLabel": "Cab 0 Cell 0"},
     {"ID": 13, "CabinetID": 44, "Number": 1, "LongLabel": "Cab 44 Cell 1"},
     {"ID": 14, "CabinetID": 0, "Number": 14}],
  "XK_KestIOChassisSlot": [
     {"ID": 20, "CabinetID": 1, "IOBayNumber": 0, "Number": 1},
     {"ID": 21, "CabinetID": 1, "IOBayNumber": 1, "Number": 0}],
  "XK_KestPartition": [{"PartitionID": 3, "PartitionName": "three", "errorCode": 0}]
}},
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
        socket_ = (dir_ / "cimxml.socket").string();
        log_ = (dir_ / "requests.log").string();
        std::string ready = (dir_ / "ready").string(), schema = (dir_ / "schema.json").string(),
                    complexFile = (dir_ / "complex.json").string();
        std::vector<std::string> words = {provider, "--socket", socket_, "--log", log_, "--ready-file", ready,
                                          "--schema", schema, complexFile};
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        ASSERT_EQ(posix_spawn(&pid_, provider, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 2000 && !fs::exists(ready); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(fs::exists(ready)) << "the provider did not start";
        unsetenv("XK_CIM_TIMEOUT_MS");
        setenv("XK_CIM_SOCKET", socket_.c_str(), 1);
        clearCredentials();
        CommandOptions options{};
        ASSERT_EQ(openProviderConnection(options), 0);
    }

    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Requests logged so far that contain every one of the texts.
    int logged(std::initializer_list<std::string> texts) const {
        std::ifstream in(log_);
        int n = 0;
        for (std::string line; std::getline(in, line);) {
            bool all = true;
            for (const auto& t : texts) all = all && line.find(t) != std::string::npos;
            n += all;
        }
        return n;
    }

    void setRequests(std::vector<LocationRequest> requests) {
        locationRequestCount = static_cast<int>(requests.size());
        for (std::size_t k = 0; k < requests.size(); ++k) locationRequests[k] = requests[k];
    }

    fs::path dir_;
    std::string socket_, log_;
    pid_t pid_ = -1;
};

TEST_F(ProviderRequests, OpenedLocallyWithTheLocalTimeOut) {
    EXPECT_EQ(activeClient, providerConnection().client);
    EXPECT_EQ(activeClient->getTimeout(), 180000u);
    EXPECT_EQ(activeNameSpace.getString(), "root/cimv2/kest");
    // A local connection sends nothing until asked: no probe.
    EXPECT_EQ(logged({"\"seq\""}), 0);
}

TEST_F(ProviderRequests, LookupValueMap) {
    const struct {
        const char* className;
        const char* property;
        unsigned long long value;
        int result;
        const char* text;
    } cases[] = {
        {"XK_KestCell", "ComponentStatus", 0, 0, "zero"},
        {"XK_KestCell", "ComponentStatus", 2, 0, "two"},
        // A code equal to the number of entries has no text.
        {"XK_KestCell", "ComponentStatus", 3, 1, ""},
        {"XK_KestCell", "ComponentStatus", 255, 1, ""},
        // Only the low 8 bits count.
        {"XK_KestCell", "ComponentStatus", 258, 0, "two"},
        {"XK_KestCell", "ComponentStatus", 256, 0, "zero"},
        {"XK_KestCell", "ComponentStatus", 259, 1, ""},
        {"XK_KestCell", "ComponentStatus", 0x100000001ULL, 0, "one"},
        // Property names compare without regard to case.
        {"XK_KestCell", "Cellarchitecture", 1, 0, "arch 1"},
        {"XK_KestCell", "COMPONENTSTATUS", 1, 0, "one"},
        {"xk_kestcell", "componentstatus", 1, 0, "one"},
        // No ValueMap, no such property.
        {"XK_KestCell", "TotalMemoryOK", 0, 1, ""},
        {"XK_KestCell", "DIMMStatus", 0, 1, ""},
    };
    int calls = 0;
    for (const auto& c : cases) {
        String text = "left over";
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(lookupValueMap(c.className, c.property, c.value, text), c.result)
            << c.className << "." << c.property << " " << c.value;
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(text, c.text) << c.className << "." << c.property << " " << c.value;
        ++calls;
        // One GetClass per lookup: nothing is kept between calls.
        EXPECT_EQ(logged({"\"GetClass\""}), calls);
    }
}

TEST_F(ProviderRequests, LookupValueMapWhenTheClassCannotBeHad) {
    String text = "left over";
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(lookupValueMap("XK_KestCabinet", "CabinetType", 0, text), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "CIM_ERR_FAILED: class store offline\n");
    EXPECT_EQ(text, "");
}

TEST_F(ProviderRequests, CountAndEnumerateIntoTablesOfAnySize) {
    EXPECT_EQ(countInstances("XK_KestCell"), 3);
    EXPECT_EQ(countInstances("XK_KestCabinet"), 0);

    const std::string lock = "Unable to get read lock for cell.\nMay not be able to display complete information.\n";
    const std::string third = "The following message was returned from a low level subsystem. \nthird cell\n"
                              "May not be able to display complete information.\n";
    const struct {
        int records;
        int stored;  // records that receive an instance
    } cases[] = {{1, 1}, {3, 3}, {5, 3}};
    for (const auto& c : cases) {
        ASSERT_EQ(createInstanceTable(RecordKind::Cell, c.records), 0);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(fetchAllInstances(RecordKind::Cell), 0) << c.records;
        // Every instance is reported, also one beyond the table.
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), lock + third) << c.records;
        const InstanceTable& table = instanceTable(RecordKind::Cell);
        ASSERT_EQ(table.size(), static_cast<std::size_t>(c.records));
        for (int i = 0; i < c.records; ++i) {
            Uint32 slot = 99;
            EXPECT_EQ(readValue(table[i].values[CellProperty::SlotID], slot), i < c.stored) << c.records << "/" << i;
            if (i < c.stored) {
                EXPECT_EQ(slot, static_cast<Uint32>(i));
            }
        }
        EXPECT_EQ(table[0].values[CellProperty::TotalMemoryOK], cim::CIMValue(cim::Uint64(4096)));
        // Listed properties the class does not have stay null.
        EXPECT_TRUE(table[0].values[CellProperty::CPUSpeed].isNull());
    }

    // The partition view of the same class is a table of its own.
    ASSERT_EQ(createInstanceTable(RecordKind::PartitionCell, 3), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(fetchAllInstances(RecordKind::PartitionCell), 0);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(instanceTable(RecordKind::Cell).size(), 5u);
    EXPECT_EQ(instanceTable(RecordKind::PartitionCell)[2].values[PartitionCellProperty::SlotID],
              cim::CIMValue(Uint32(2)));

    // A class without instances.
    ASSERT_EQ(createInstanceTable(RecordKind::Cabinet, 1), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(fetchAllInstances(RecordKind::Cabinet), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: No information available for any cabinet.\n");
    EXPECT_TRUE(instanceTable(RecordKind::Cabinet)[0].values[CabinetProperty::ID].isNull());
}

TEST_F(ProviderRequests, KeyedFetchIntoTheRecordOfEachRequest) {
    auto request = [](const char* text, Uint32 id) {
        LocationRequest r{};
        r.found = 1;
        std::snprintf(r.text, sizeof r.text, "%s", text);
        r.cabinetNumber = r.slotNumber = r.cellNumber = r.bayNumber = r.chassisSlotNumber = notGiven;
        r.partitionId = id;
        r.uniqueId = id;
        return r;
    };
    setRequests({request("14", 14), request("7", 7), request("0", 0)});
    ASSERT_EQ(createInstanceTable(RecordKind::CellSlot, 3), 0);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(fetchSelectedInstances(RecordKind::CellSlot), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    // The provider's answer for slot 7 carries its code 16: not printed.
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    const struct {
        Uint32 found;
        const char* label;  // null: the record stays null
    } expected[] = {{1, nullptr}, {0, nullptr}, {1, "Cab 0 Cell 0"}};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(locationRequests[k].found, expected[k].found) << k;
        const cim::CIMValue& label = instanceTable(RecordKind::CellSlot)[k].values[CellSlotProperty::LongLabel];
        if (expected[k].label) {
            EXPECT_EQ(label, cim::CIMValue(expected[k].label)) << k;
        } else {
            EXPECT_TRUE(label.isNull()) << k;
        }
    }
    EXPECT_EQ(instanceTable(RecordKind::CellSlot)[0].values[CellSlotProperty::ID], cim::CIMValue(Uint32(14)));
    EXPECT_EQ(logged({"\"GetInstance\"", "XK_KestCellSlot"}), 3);

    // Keyed errorCode report, in the keyed variant.
    setRequests({request("3", 3)});
    ASSERT_EQ(createInstanceTable(RecordKind::Partition, 1), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(fetchSelectedInstances(RecordKind::Partition), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Internal error code 0\nMay not be able to display complete information.\n");
    EXPECT_EQ(instanceTable(RecordKind::Partition)[0].values[PartitionProperty::PartitionName], cim::CIMValue("three"));
    EXPECT_EQ(locationRequests[0].found, 1u);
}

TEST_F(ProviderRequests, UniqueNumbersFromPositions) {
    auto position = [](Uint32 cabinet, Uint32 slot, Uint32 bay, Uint32 chassis, Uint32 unique) {
        LocationRequest r{};
        r.found = 1;
        r.cabinetNumber = cabinet;
        r.slotNumber = slot;
        r.cellNumber = notGiven;
        r.bayNumber = bay;
        r.chassisSlotNumber = chassis;
        r.partitionId = notGiven;
        r.uniqueId = unique;
        return r;
    };
    // Cells: 300/257 is sent as 44/1; a request that already has its number is not asked about.
    setRequests({position(300, 257, 255, 255, 255), position(0, 0, 255, 255, 255), position(9, 9, 255, 255, 5)});
    EXPECT_EQ(resolveUniqueIds("XK_KestCellSlot"), 0);
    EXPECT_EQ(locationRequests[0].uniqueId, 13u);
    EXPECT_EQ(locationRequests[1].uniqueId, 0u);
    EXPECT_EQ(locationRequests[2].uniqueId, 5u);
    EXPECT_EQ(logged({"\"InvokeMethod\"", "MakeID"}), 2);

    // I/O chassis: bay and chassis slot go to their own parameters.
    setRequests({position(1, 255, 1, 0, 255), position(1, 255, 0, 1, 255)});
    EXPECT_EQ(resolveUniqueIds("XK_KestIOChassisSlot"), 0);
    EXPECT_EQ(locationRequests[0].uniqueId, 21u);
    EXPECT_EQ(locationRequests[1].uniqueId, 20u);
    EXPECT_EQ(logged({"\"InvokeMethod\"", "MakeID"}), 4);

    // A position without a slot fails the call: that request loses its flag, later ones stay untouched.
    setRequests({position(0, 0, 255, 255, 255), position(7, 7, 255, 255, 255), position(0, 14, 255, 255, 255)});
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(resolveUniqueIds("XK_KestCellSlot"), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: Unable to get unique ID for cell or I/O chassis.\n");
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("CIM_ERR_NOT_FOUND: ", 0), 0u) << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
    const Uint32 found[] = {1, 0, 1}, unique[] = {0, 255, 255};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(locationRequests[k].found, found[k]) << k;
        EXPECT_EQ(locationRequests[k].uniqueId, unique[k]) << k;
    }
    EXPECT_EQ(logged({"\"InvokeMethod\"", "MakeID"}), 6);
}

}  // namespace
}  // namespace cmplxview
