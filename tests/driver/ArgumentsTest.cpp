// Location, host and user arguments and the password line reader, as tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "driver/Arguments.h"

namespace cmplxview {
namespace {

using testing::StdinText;
constexpr std::uint32_t N = notGiven;

std::string orAbsent(const char* text) { return text != nullptr ? std::string("\"") + text + "\"" : "(absent)"; }

// ---- parseLocationArgument -------------------------------------------------

struct LocationCase {
    const char* name;
    char letter;
    std::string text;
    bool accepted;
    // cabinet, slot, cell, bay, chassis, partition, unique id
    std::uint32_t numbers[7];
    std::string message;  // standard error of a rejection
};

void PrintTo(const LocationCase& c, std::ostream* out) { *out << c.name; }


class LocationParsing : public ::testing::TestWithParam<LocationCase> {};

TEST_P(LocationParsing, FillsTheRecordAtTheCurrentCount) {
    const LocationCase& c = GetParam();
    locationRequestCount = 2;
    locationRequests[2] = {};
    ::testing::internal::CaptureStderr();
    const int result = parseLocationArgument(c.text.c_str(), c.letter);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(locationRequestCount, 2);  // counting is the caller's job
    if (!c.accepted) {
        EXPECT_EQ(result, 1);
        EXPECT_EQ(errors, c.message);
        EXPECT_EQ(locationRequests[2].found, 0u);
        return;
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(errors, "");
    const LocationRequest& r = locationRequests[2];
    EXPECT_EQ(r.found, 1u);
    EXPECT_EQ(std::string(r.text), c.text);
    const std::uint32_t got[7] = {r.cabinetNumber, r.slotNumber, r.cellNumber, r.bayNumber,
                                  r.chassisSlotNumber, r.partitionId, r.uniqueId};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(got[i], c.numbers[i]) << "number " << i;
}

const std::vector<LocationCase> locationCases = {
    {"CellGlobal", 'c', "5", true, {N, N, 5, N, N, N, 5}, ""},
    {"CellCabinetSlot", 'c', "1/3", true, {1, 3, N, N, N, N, N}, ""},
    {"CellLeadingZeros", 'c', "007/002", true, {7, 2, N, N, N, N, N}, ""},
    {"CellEmptyIsZero", 'c', "", true, {N, N, 0, N, N, N, 0}, ""},
    {"CellLargest32Bit", 'c', "4294967295", true, {N, N, 4294967295u, N, N, N, 4294967295u}, ""},
    {"CellTwoSlashes", 'c', "1/2/3", false, {}, "Error: Invalid cell number 1/2/3.\n"},
    {"CellTrailingSlash", 'c', "1/", false, {}, "Error: Invalid cell number 1/.\n"},
    {"CellLeadingSlash", 'c', "/3", false, {}, "Error: Invalid cell number /3.\n"},
    {"CellLetter", 'c', "x", false, {}, "Error: Invalid cell number x.\n"},
    {"CellSign", 'c', "+5", false, {}, "Error: Invalid cell number +5.\n"},
    {"CellBlank", 'c', " 5", false, {}, "Error: Invalid cell number  5.\n"},
    {"CellSlotNotDigits", 'c', "1/3a", false, {}, "Error: Invalid cell number 1/3a.\n"},
    {"CellSlotBeyond32Bits", 'c', "1/4294967296", false, {}, "Error: Invalid cell number 1/4294967296.\n"},
    {"ChassisThreeParts", 'i', "0/1/3", true, {0, N, N, 1, 3, N, N}, ""},
    {"ChassisTwoParts", 'i', "0/1", false, {}, "Error: Invalid I/O chassis number 0/1.\n"},
    {"ChassisEmptyMiddle", 'i', "0//3", false, {}, "Error: Invalid I/O chassis number 0//3.\n"},
    {"ChassisEmptyFirst", 'i', "/1/3", false, {}, "Error: Invalid I/O chassis number /1/3.\n"},
    {"ChassisFourParts", 'i', "0/1/3/4", false, {}, "Error: Invalid I/O chassis number 0/1/3/4.\n"},
    {"ChassisPlainNumber", 'i', "5", false, {}, "Error: Invalid I/O chassis number 5.\n"},
    {"CabinetLeadingZeros", 'b', "007", true, {7, N, N, N, N, N, 7}, ""},
    {"CabinetWithSlash", 'b', "1/2", false, {}, "Error: Invalid cabinet number 1/2.\n"},
    {"PartitionEmptyIsZero", 'p', "", true, {N, N, N, N, N, 0, N}, ""},
    {"PartitionNumber", 'p', "12", true, {N, N, N, N, N, 12, N}, ""},
    {"PartitionLetter", 'p', "1a", false, {}, "Error: Invalid partition number 1a.\n"},
    {"LongestText", 'p', std::string(79, '0'), true, {N, N, N, N, N, 0, N}, ""},
    {"TextTooLong", 'p', std::string(80, '0'), false, {},
     "Error: Location argument -p " + std::string(80, '0') + " is longer than 79 characters.\n"},
};

INSTANTIATE_TEST_SUITE_P(Arguments, LocationParsing, ::testing::ValuesIn(locationCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LocationTable, RefusesTheSixtyFifthArgument) {
    locationRequestCount = maxLocationRequests;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(parseLocationArgument("3", 'c'), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Error: More than 64 location arguments; -c 3 is not accepted.\n");
    locationRequestCount = maxLocationRequests - 1;
    EXPECT_EQ(parseLocationArgument("3", 'c'), 0);
    EXPECT_EQ(locationRequests[maxLocationRequests - 1].cellNumber, 3u);
}

TEST(LocationTable, ResetsTheRecordBeforeParsing) {
    locationRequestCount = 0;
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

// ---- isDigitString ------------------------------------------------------------

TEST(Arguments, IsDigitString) {
    const struct {
        const char* text;
        int expected;
    } cases[] = {
        {"0123456789", 0}, {"", 0}, {nullptr, 0}, {"12a", 1}, {" 1", 1}, {"1 ", 1},
        {"+1", 1},         {"-1", 1}, {"1.0", 1}, {"\xd9\xa3", 1}, {"/", 1},
    };
    for (const auto& c : cases) EXPECT_EQ(isDigitString(c.text), c.expected) << orAbsent(c.text);
}

// ---- checkIpAddress -------------------------------------------------------------

TEST(Arguments, CheckIpAddress) {
    const struct {
        const char* text;
        bool accepted;
    } cases[] = {
        {"10.0.0.1", true},
        {"010.1.2.3", true},
        {"255.255.255.255", true},
        {"0.0.0.0", true},
        {"1a.2.3.4", true},     // a group counts by its leading digits
        {"ab.cd.ef.00", true},  // a group beginning with a letter counts as 0
        {"1.2.3", false},
        {"1.2.3.256", false},
        {"1..2.3", false},
        {"1.2.3.4.5", false},
        {".1.2.3", false},
        {"1.2.3.", false},
        {"::1", false},
        {"::ffff:1.2.3.4", false},
        {"fe80::1", false},
        {"1.2.3.4g", false},
        {"1.2.-3.4", false},
        {"99999999999999999999.1.1.1", false},
        {"256a.1.1.1", false},
        {"cafe", false},
        {"", false},
        {nullptr, false},
    };
    for (const auto& c : cases) EXPECT_EQ(checkIpAddress(c.text) == 0, c.accepted) << orAbsent(c.text);
}

// ---- checkHostArgument ------------------------------------------------------

TEST(Arguments, CheckHostArgument) {
    const struct {
        const char* text;
        int result;
        const char* address;
        const char* hostName;
    } cases[] = {
        {"10.0.0.1", 0, "10.0.0.1", nullptr},
        {"010.1.2.3", 0, "010.1.2.3", nullptr},
        {"mp-host", 0, nullptr, "mp-host"},
        {"server.example.com", 0, nullptr, "server.example.com"},
        {"g", 0, nullptr, "g"},
        {"cafe", 1, nullptr, nullptr},
        {"beef.dead", 1, nullptr, nullptr},
        {"1.2.3", 1, nullptr, nullptr},
        {"1.2.3.256", 1, nullptr, nullptr},
        {"1..2.3", 1, nullptr, nullptr},
        {"::1", 1, nullptr, nullptr},
        {"", 1, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        clearCredentials();
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(checkHostArgument(c.text), c.result);
        const std::string expectedErrors = c.result == 0 ? "" : std::string("Error: Invalid IP address: ") + c.text + "\n";
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), expectedErrors);
        EXPECT_EQ(orAbsent(credentials.hostIpAddress), orAbsent(c.address));
        EXPECT_EQ(orAbsent(credentials.hostName), orAbsent(c.hostName));
    }
    clearCredentials();
}

// ---- splitUserArgument ------------------------------------------------------

TEST(Arguments, SplitUserArgument) {
    const struct {
        const char* text;
        const char* input;  // standard input (not a terminal: no prompt is shown)
        int result;
        const char* userArgument;
        const char* userName;
        const char* password;
        const char* errors;
    } cases[] = {
        {"bob:secret", "", 0, "bob:secret", "bob", "secret", ""},
        {"bob:pw   ", "", 0, "bob:pw", "bob", "pw", ""},
        {"bob:pw \t ", "", 0, "bob:pw", "bob", "pw", ""},
        {"bob: pw", "", 0, "bob: pw", "bob", " pw", ""},
        {"bob:", "typed\nnext\n", 0, "bob:", "bob", "typed", ""},
        {"bob:   ", "typed\n", 0, "bob:", "bob", "typed", ""},
        {"bob:", "", 0, "bob:", "bob", "", ""},  // end of input gives an empty password
        {":pw", "", 2, nullptr, nullptr, nullptr, "Error: Invalid format for -u option.\n"},
        {"a:b:c", "", 2, nullptr, nullptr, nullptr, "Error: Invalid format for -u option.\n"},
        {"bob", "", 2, nullptr, nullptr, nullptr, "Error: Invalid format for -u option.\n"},
        {"", "", 2, nullptr, nullptr, nullptr, "Error: Invalid format for -u option.\n"},
        {nullptr, "", 2, nullptr, nullptr, nullptr, "Error: Invalid format for -u option.\n"},
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

// ---- readLineNoEcho and promptForPassword from redirected input -----------

TEST(PasswordInput, ReadsOneLineFromRedirectedInput) {
    const struct {
        const char* name;
        std::string input;
        int capacity;
        std::string line;
        std::string left;
    } cases[] = {
        {"LineFeedEnds", "abc\nrest\n", 80, "abc", "rest\n"},
        {"CarriageReturnEnds", "ab\rcd\n", 80, "ab", "cd\n"},
        {"EndOfInputEnds", "xyz", 80, "xyz", ""},
        {"EmptyInput", "", 80, "", ""},
        {"CutAtCapacityRestOfLineDiscarded", std::string(100, 'A') + "\nsecond\n", 80, std::string(80, 'A'),
         "second\n"},
        {"ExactlyCapacity", std::string(80, 'B') + "\n", 80, std::string(80, 'B'), ""},
        {"SmallCapacity", "abcdef\nz", 3, "abc", "z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StdinText input(c.input);
        std::vector<char> buffer(static_cast<std::size_t>(c.capacity) + 1, '#');
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(readLineNoEcho("Prompt:  ", buffer.data(), c.capacity, "%s: %s\n", 7, 9), 9);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");  // no prompt without a terminal
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

TEST(PasswordInput, PromptForPasswordGivesTheFirstLine) {
    for (int letter : {'g', 'u'}) {
        StdinText input(std::string(90, 'p') + "\nsecond\n");
        ::testing::internal::CaptureStdout();
        char* password = promptForPassword(letter);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
        ASSERT_NE(password, nullptr);
        EXPECT_EQ(std::string(password), std::string(80, 'p'));
        free(password);
    }
}

}  // namespace
}  // namespace cmplxview
