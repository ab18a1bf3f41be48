// The requests of the data access layer against a real kest-provider with a
// schema of this test's own: ValueMap lookups, counts and enumerations into
// tables of fewer or more records than instances (what a whole run cannot
// show). Keyed fetches and unique numbers are checked end to end. The
// provider runs on a private socket; its request log tells how many requests
// each call sent.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

// Every class names its own ValueMap texts, so the lookups below test the
// program, not the shipped schema.
// Every class names its own ValueMap texts, so the lookups below test the
// program, not the shipped schema.
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
        socket_ = (dir_ / "cimxml.socket").string();
        log_ = (dir_ / "requests.log").string();
        const std::string ready = (dir_ / "ready").string();
        std::vector<std::string> words = {provider, "--socket", socket_, "--log", log_, "--ready-file", ready,
                                          "--schema", (dir_ / "schema.json").string(), (dir_ / "complex.json").string()};
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
        if (pid_ > 0 && kill(pid_, SIGTERM) == 0) waitpid(pid_, nullptr, 0);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Requests logged so far that contain every one of the texts.
    int logged(std::initializer_list<std::string> texts) const {
        std::ifstream in(log_);
        int n = 0;
        for (std::string line; std::getline(in, line);)
            n += std::all_of(texts.begin(), texts.end(), [&](auto& t) { return line.find(t) != std::string::npos; });
        return n;
    }

    fs::path dir_;
    std::string socket_, log_;
    pid_t pid_ = -1;
};

TEST_F(ProviderRequests, LookupValueMap) {
    const struct {
        const char* property;
        unsigned long long value;
        const char* text;  // "": no text, the lookup fails
        const char* className = "XK_KestCell";
    } cases[] = {
        {"ComponentStatus", 0, "zero"}, {"ComponentStatus", 2, "two"},
        {"ComponentStatus", 3, ""},  // a code equal to the number of entries has no text
        {"ComponentStatus", 255, ""},
        // Only the low 8 bits count.
        {"ComponentStatus", 258, "two"}, {"ComponentStatus", 256, "zero"}, {"ComponentStatus", 259, ""},
        {"ComponentStatus", 0x100000001ULL, "one"},
        // Names compare without regard to case.
        {"Cellarchitecture", 1, "arch 1"}, {"COMPONENTSTATUS", 1, "one"}, {"componentstatus", 1, "one", "xk_kestcell"},
        // No ValueMap, no such property.
        {"TotalMemoryOK", 0, ""}, {"DIMMStatus", 0, ""},
    };
    int calls = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.className) + "." + c.property + " " + std::to_string(c.value));
        String text = "left over";
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(lookupValueMap(c.className, c.property, c.value, text), *c.text != '\0' ? 0 : 1);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(text, c.text);
        // One GetClass per lookup: nothing is kept between calls.
        EXPECT_EQ(logged({"\"GetClass\""}), ++calls);
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
            EXPECT_EQ(slot, i < c.stored ? static_cast<Uint32>(i) : 99u);
        }
        EXPECT_EQ(table[0].values[CellProperty::TotalMemoryOK], cim::CIMValue(cim::Uint64(4096)));
        // Listed properties the class does not have stay null.
        EXPECT_TRUE(table[0].values[CellProperty::CPUSpeed].isNull());
    }

    // A class without instances.
    ASSERT_EQ(createInstanceTable(RecordKind::Cabinet, 1), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(fetchAllInstances(RecordKind::Cabinet), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: No information available for any cabinet.\n");
    EXPECT_TRUE(instanceTable(RecordKind::Cabinet)[0].values[CabinetProperty::ID].isNull());
}

}  // namespace
}  // namespace cmplxview
