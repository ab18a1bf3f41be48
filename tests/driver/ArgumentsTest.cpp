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

TEST(Arguments, ParseLocationFillsTheRecordAtTheCurrentCount) {
    const struct { char letter; std::string text; std::vector<std::uint32_t> numbers = {}; } cases[] = {
        // numbers: cabinet, slot, cell, bay, chassis, partition, unique id; none: refused
        {'c', "5", {N, N, 5, N, N, N, 5}}, {'c', "007/002", {7, 2, N, N, N, N, N}}, {'c', "", {N, N, 0, N, N, N, 0}},
        {'c', "4294967295", {N, N, 4294967295u, N, N, N, 4294967295u}},
        {'c', "1/2/3"}, {'c', "1/"}, {'c', "/3"}, {'c', "+5"}, {'c', " 5"}, {'c', "1/3a"}, {'c', "1/4294967296"},
        {'i', "0/1/3", {0, N, N, 1, 3, N, N}},
        {'i', "0/1"}, {'i', "0//3"}, {'i', "/1/3"}, {'i', "0/1/3/4"}, {'i', "0/1/4294967296"},
        {'b', "007", {7, N, N, N, N, N, 7}}, {'b', "1/2"}, {'b', "4294967296"},
        {'p', "12", {N, N, N, N, N, 12, N}}, {'p', "1a"}, {'p', std::string(79, '0'), {N, N, N, N, N, 0, N}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(1, c.letter) + " " + c.text);
        locationRequestCount = 2;
        locationRequests[2] = {};
        const char* kind = c.letter == 'c' ? "cell" : c.letter == 'b' ? "cabinet" : c.letter == 'i' ? "I/O chassis" : "partition";
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(parseLocationArgument(c.text.c_str(), c.letter), c.numbers.empty() ? 1 : 0);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  c.numbers.empty() ? std::string("Error: Invalid ") + kind + " number " + c.text + ".\n" : "");
        EXPECT_EQ(locationRequestCount, 2);  // counting is the caller's job
        const LocationRequest& r = locationRequests[2];
        EXPECT_EQ(r.found, c.numbers.empty() ? 0u : 1u);
        if (!c.numbers.empty()) {
            EXPECT_EQ(std::string(r.text), c.text);
            EXPECT_EQ((std::vector<std::uint32_t>{r.cabinetNumber, r.slotNumber, r.cellNumber, r.bayNumber,
                                                  r.chassisSlotNumber, r.partitionId, r.uniqueId}), c.numbers);
        }
    }
    // Too long a text is refused, and a refusal resets the record's numbers.
    locationRequestCount = 0;
    ASSERT_EQ(parseLocationArgument("4", 'c'), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(parseLocationArgument(std::string(80, '0').c_str(), 'p'), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Error: Location argument -p " + std::string(80, '0') + " is longer than 79 characters.\n");
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(parseLocationArgument("0/1", 'i'), 1);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(locationRequests[0].found, 0u);
    EXPECT_EQ(locationRequests[0].cellNumber, N);
    EXPECT_EQ(locationRequests[0].uniqueId, N);
    EXPECT_STREQ(locationRequests[0].text, "0/1");
}

TEST(Arguments, IsDigitString) {
    for (const char* text : {"0123456789", "", static_cast<const char*>(nullptr)}) EXPECT_EQ(isDigitString(text), 0);
    for (const char* text : {"12a", " 1", "1 ", "+1", "-1", "\xd9\xa3", "/", ":"}) EXPECT_EQ(isDigitString(text), 1) << text;
}

// A word of other characters than hex digits, '.' and ':' is a host name; the rest must be an address.
TEST(Arguments, HostArgumentsAndAddresses) {
    const struct { const char* text; char host; } cases[] = {  // 'a' kept as address, 'n' as host name, 'x' refused
        {"010.1.2.3", 'a'}, {"255.255.255.255", 'a'}, {"0.0.0.0", 'a'}, {"1a.2.3.4", 'a'},
        {"ab.cd.ef.00", 'a'},  // groups count by their leading digits
        {"1.2.3", 'x'}, {"1.2.3.256", 'x'}, {"1..2.3", 'x'}, {"1.2.3.4.5", 'x'}, {".1.2.3", 'x'}, {"1.2.3.", 'x'},
        {"::1", 'x'}, {"fe80::1", 'x'}, {"256a.1.1.1", 'x'}, {"99999999999999999999.1.1.1", 'x'}, {"cafe", 'x'},
        {"", 'x'}, {"1.2.3.4g", 'n'}, {"1.2.-3.4", 'n'}, {"mp-host", 'n'}, {"G", 'n'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(checkIpAddress(c.text) == 0, c.host == 'a');
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

// Standard input is no terminal here: no prompt is shown.
TEST(Arguments, SplitUserArgument) {
    const struct { const char *text, *input, *userArgument = nullptr, *userName = nullptr, *password = nullptr; } cases[] = {
        {"bob:pw \t ", "", "bob:pw", "bob", "pw"}, {"bob: pw", "", "bob: pw", "bob", " pw"},
        {"bob:   ", "typed\nnext\n", "bob:", "bob", "typed"},
        {"bob:", "", "bob:", "bob", ""},  // end of input gives an empty password
        {":pw", ""}, {"a:b:c", ""}, {"bob", ""}, {"", ""}, {nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(orAbsent(c.text));
        clearCredentials();
        StdinText input(c.input);
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(splitUserArgument(c.text, 'u'), c.userName ? 0 : 2);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.userName ? "" : "Error: Invalid format for -u option.\n");
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(orAbsent(credentials.userArgument), orAbsent(c.userArgument));
        EXPECT_EQ(orAbsent(credentials.userName), orAbsent(c.userName));
        EXPECT_EQ(orAbsent(credentials.password), orAbsent(c.password));
        EXPECT_EQ(StdinText::rest(), *c.input ? "next\n" : "");
    }
    clearCredentials();
}

// From redirected input: no prompt, one line read, the rest of a cut line discarded.
TEST(Arguments, PasswordLineFromRedirectedInput) {
    const struct { std::string input; int capacity; std::string line, left; } cases[] = {
        {"ab\rcd\n", 80, "ab", "cd\n"}, {"xyz", 80, "xyz", ""},
        {std::string(100, 'A') + "\nsecond\n", 80, std::string(80, 'A'), "second\n"},
        {std::string(80, 'B') + "\n", 80, std::string(80, 'B'), ""}, {"abcdef\nz", 3, "abc", "z"},
    };
    for (const auto& c : cases) {
        StdinText input(c.input);
        std::vector<char> buffer(static_cast<std::size_t>(c.capacity) + 1, '#');
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(readLineNoEcho("Prompt:  ", buffer.data(), c.capacity, "%s: %s\n", 7, 9), 9);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(std::string(buffer.data()), c.line);
        EXPECT_EQ(StdinText::rest(), c.left) << c.input;
    }
    char buffer[81];
    StdinText input("pw\n");
    EXPECT_EQ(readLineNoEcho(nullptr, buffer, 80, "%s: %s\n", 7, 9), 7);
    EXPECT_EQ(readLineNoEcho("p", nullptr, 80, "%s: %s\n", 7, 9), 7);
    EXPECT_EQ(StdinText::rest(), "pw\n");  // nothing was read by the failed calls
    close(STDIN_FILENO);
    EXPECT_EQ(readLineNoEcho("p", buffer, 80, "%s: %s\n", 7, 9), 7);
}

}  // namespace
}  // namespace cmplxview
