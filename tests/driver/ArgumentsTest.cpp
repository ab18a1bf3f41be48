// Location, host and user arguments and the password line reader, as tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "driver/Arguments.h"

namespace cmplxview {
namespace {

using testing::StdinText;
constexpr std::uint32_t N = notGiven;

std::string orAbsent(const char* text) { return text != nullptr ? std::string("\"") + text + "\"" : "(absent)"; }

std::string invalidNumber(char letter, const std::string& text) {
    const char* kind = letter == 'c' ? "cell" : letter == 'b' ? "cabinet" : letter == 'i' ? "I/O chassis" : "partition";
    return std::string("Error: Invalid ") + kind + " number " + text + ".\n";
}

TEST(Arguments, ParseLocationFillsTheRecordAtTheCurrentCount) {
    const struct {
        char letter;
        std::string text;
        std::vector<std::uint32_t> numbers = {};  // cabinet, slot, cell, bay, chassis, partition, unique id; none: refused
    } cases[] = {
        {'c', "5", {N, N, 5, N, N, N, 5}},
        {'c', "1/3", {1, 3, N, N, N, N, N}},
        {'c', "007/002", {7, 2, N, N, N, N, N}},
        {'c', "", {N, N, 0, N, N, N, 0}},
        {'c', "4294967295", {N, N, 4294967295u, N, N, N, 4294967295u}},
        {'c', "1/2/3"}, {'c', "1/"}, {'c', "/3"}, {'c', "x"}, {'c', "+5"}, {'c', " 5"}, {'c', "1/3a"},
        {'c', "1/4294967296"},
        {'i', "0/1/3", {0, N, N, 1, 3, N, N}},
        {'i', "0/1"}, {'i', "0//3"}, {'i', "/1/3"}, {'i', "0/1/3/4"}, {'i', "5"}, {'i', "0/1/4294967296"},
        {'b', "007", {7, N, N, N, N, N, 7}},
        {'b', "1/2"},
        {'p', "", {N, N, N, N, N, 0, N}},
        {'p', "12", {N, N, N, N, N, 12, N}},
        {'p', "1a"},
        {'p', std::string(79, '0'), {N, N, N, N, N, 0, N}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(1, c.letter) + " " + c.text);
        locationRequestCount = 2;
        locationRequests[2] = {};
        ::testing::internal::CaptureStderr();
        const int result = parseLocationArgument(c.text.c_str(), c.letter);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.numbers.empty() ? invalidNumber(c.letter, c.text) : "");
        EXPECT_EQ(locationRequestCount, 2);  // counting is the caller's job
        const LocationRequest& r = locationRequests[2];
        EXPECT_EQ(result, c.numbers.empty() ? 1 : 0);
        EXPECT_EQ(r.found, c.numbers.empty() ? 0u : 1u);
        if (c.numbers.empty()) continue;
        EXPECT_EQ(std::string(r.text), c.text);
        EXPECT_EQ((std::vector<std::uint32_t>{r.cabinetNumber, r.slotNumber, r.cellNumber, r.bayNumber,
                                              r.chassisSlotNumber, r.partitionId, r.uniqueId}),
                  c.numbers);
    }
}

TEST(Arguments, ParseLocationRefusesTooLongTextsAndResetsTheRecord) {
    locationRequestCount = 0;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(parseLocationArgument(std::string(80, '0').c_str(), 'p'), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Error: Location argument -p " + std::string(80, '0') + " is longer than 79 characters.\n");
    ASSERT_EQ(parseLocationArgument("4", 'c'), 0);
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(parseLocationArgument("0/1", 'i'), 1);
    ::testing::internal::GetCapturedStderr();
    // The rejected argument left its text but none of the earlier numbers.
    EXPECT_EQ(locationRequests[0].found, 0u);
    EXPECT_EQ(locationRequests[0].cellNumber, N);
    EXPECT_EQ(locationRequests[0].uniqueId, N);
    EXPECT_STREQ(locationRequests[0].text, "0/1");
}

TEST(Arguments, IsDigitString) {
    for (const char* text : {"0123456789", "", static_cast<const char*>(nullptr)}) EXPECT_EQ(isDigitString(text), 0);
    for (const char* text : {"12a", " 1", "1 ", "+1", "-1", "1.0", "\xd9\xa3", "/", ":"})
        EXPECT_EQ(isDigitString(text), 1) << text;
}

// checkIpAddress alone, and checkHostArgument, which takes a word of other
// characters than hex digits, '.' and ':' for a host name and checks the rest
// as an address.
TEST(Arguments, HostArgumentsAndAddresses) {
    const struct {
        const char* text;
        bool address;  // checkIpAddress accepts it
        char host;     // checkHostArgument: 'a' kept as address, 'n' kept as host name, 'x' refused
    } cases[] = {
        {"10.0.0.1", true, 'a'},   {"010.1.2.3", true, 'a'},  {"255.255.255.255", true, 'a'},
        {"0.0.0.0", true, 'a'},    {"1a.2.3.4", true, 'a'},   {"ab.cd.ef.00", true, 'a'},  // groups by leading digits
        {"1.2.3", false, 'x'},     {"1.2.3.256", false, 'x'}, {"1..2.3", false, 'x'},      {"1.2.3.4.5", false, 'x'},
        {".1.2.3", false, 'x'},    {"1.2.3.", false, 'x'},    {"::1", false, 'x'},         {"::ffff:1.2.3.4", false, 'x'},
        {"fe80::1", false, 'x'},   {"256a.1.1.1", false, 'x'}, {"99999999999999999999.1.1.1", false, 'x'},
        {"cafe", false, 'x'},      {"beef.dead", false, 'x'}, {"", false, 'x'},
        {"1.2.3.4g", false, 'n'},  {"1.2.-3.4", false, 'n'},  {"mp-host", false, 'n'},     {"G", false, 'n'},
        {"server.example.com", false, 'n'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(checkIpAddress(c.text) == 0, c.address);
        clearCredentials();
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(checkHostArgument(c.text), c.host == 'x' ? 1 : 0);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  c.host == 'x' ? std::string("Error: Invalid IP address: ") + c.text + "\n" : "");
        EXPECT_EQ(orAbsent(credentials.hostIpAddress), orAbsent(c.host == 'a' ? c.text : nullptr));
        EXPECT_EQ(orAbsent(credentials.hostName), orAbsent(c.host == 'n' ? c.text : nullptr));
    }
    EXPECT_NE(checkIpAddress(nullptr), 0);
    clearCredentials();
}

TEST(Arguments, SplitUserArgument) {
    const char* const badFormat = "Error: Invalid format for -u option.\n";
    const struct {
        const char* text;
        const char* input;  // standard input (not a terminal: no prompt is shown)
        int result;
        const char *userArgument, *userName, *password, *errors;
    } cases[] = {
        {"bob:secret", "", 0, "bob:secret", "bob", "secret", ""},
        {"bob:pw \t ", "", 0, "bob:pw", "bob", "pw", ""},
        {"bob: pw", "", 0, "bob: pw", "bob", " pw", ""},
        {"bob:", "typed\nnext\n", 0, "bob:", "bob", "typed", ""},
        {"bob:   ", "typed\n", 0, "bob:", "bob", "typed", ""},
        {"bob:", "", 0, "bob:", "bob", "", ""},  // end of input gives an empty password
        {":pw", "", 2, nullptr, nullptr, nullptr, badFormat},
        {"a:b:c", "", 2, nullptr, nullptr, nullptr, badFormat},
        {"bob", "", 2, nullptr, nullptr, nullptr, badFormat},
        {"", "", 2, nullptr, nullptr, nullptr, badFormat},
        {nullptr, "", 2, nullptr, nullptr, nullptr, badFormat},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(orAbsent(c.text));
        clearCredentials();
        StdinText input(c.input);
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(splitUserArgument(c.text, 'u'), c.result);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.errors);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(orAbsent(credentials.userArgument), orAbsent(c.userArgument));
        EXPECT_EQ(orAbsent(credentials.userName), orAbsent(c.userName));
        EXPECT_EQ(orAbsent(credentials.password), orAbsent(c.password));
    }
    clearCredentials();
}

// From redirected input: no prompt, one line read, the rest of a cut line discarded.
TEST(PasswordInput, ReadsOneLineFromRedirectedInput) {
    const struct { std::string input; int capacity; std::string line, left; } cases[] = {
        {"abc\nrest\n", 80, "abc", "rest\n"},
        {"ab\rcd\n", 80, "ab", "cd\n"},
        {"xyz", 80, "xyz", ""},
        {"", 80, "", ""},
        {std::string(100, 'A') + "\nsecond\n", 80, std::string(80, 'A'), "second\n"},
        {std::string(80, 'B') + "\n", 80, std::string(80, 'B'), ""},
        {"abcdef\nz", 3, "abc", "z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        StdinText input(c.input);
        std::vector<char> buffer(static_cast<std::size_t>(c.capacity) + 1, '#');
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(readLineNoEcho("Prompt:  ", buffer.data(), c.capacity, "%s: %s\n", 7, 9), 9);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(std::string(buffer.data()), c.line);
        EXPECT_EQ(StdinText::rest(), c.left);
    }
}

TEST(PasswordInput, FailsWithoutPromptBufferOrInput) {
    char buffer[81];
    StdinText input("pw\n");
    EXPECT_EQ(readLineNoEcho(nullptr, buffer, 80, "%s: %s\n", 7, 9), 7);
    EXPECT_EQ(readLineNoEcho("p", nullptr, 80, "%s: %s\n", 7, 9), 7);
    EXPECT_EQ(StdinText::rest(), "pw\n");  // nothing was read by the failed calls
    const int saved = dup(STDIN_FILENO);
    close(STDIN_FILENO);
    EXPECT_EQ(readLineNoEcho("p", buffer, 80, "%s: %s\n", 7, 9), 7);
    dup2(saved, STDIN_FILENO);
    close(saved);
}

}  // namespace
}  // namespace cmplxview
