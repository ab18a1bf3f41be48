// Whole command lines run in-process: what reaches the report dispatcher
// (the options record, the location table and the credentials), which
// command lines reach it at all, and what the start-up does.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "driver/Arguments.h"
#include "driver/CommandLine.h"

namespace cmplxview {
namespace {

using testing::ArgumentVector;
using testing::DiscardStderr;
using testing::StdinText;

// The record's field order: one letter per field, 'D' for displayAll.
constexpr char fieldLetters[] = "XAVMCBIPcbipswughD";
static_assert(offsetof(CommandOptions, showComplex) == 0);
static_assert(offsetof(CommandOptions, availableOnly) == 1);
static_assert(offsetof(CommandOptions, verbose) == 2);
static_assert(offsetof(CommandOptions, machineReadable) == 3);
static_assert(offsetof(CommandOptions, allCells) == 4);
static_assert(offsetof(CommandOptions, allCabinets) == 5);
static_assert(offsetof(CommandOptions, allIOChassis) == 6);
static_assert(offsetof(CommandOptions, allPartitions) == 7);
static_assert(offsetof(CommandOptions, selectedCells) == 8);
static_assert(offsetof(CommandOptions, selectedCabinets) == 9);
static_assert(offsetof(CommandOptions, selectedIOChassis) == 10);
static_assert(offsetof(CommandOptions, selectedPartitions) == 11);
static_assert(offsetof(CommandOptions, platformCheck) == 12);
static_assert(offsetof(CommandOptions, localPartition) == 13);
static_assert(offsetof(CommandOptions, remoteUser) == 14);
static_assert(offsetof(CommandOptions, remoteMP) == 15);
static_assert(offsetof(CommandOptions, hostGiven) == 16);
static_assert(offsetof(CommandOptions, displayAll) == 17);

std::string setFields(const CommandOptions& options) {
    unsigned char bytes[sizeof options];
    std::memcpy(bytes, &options, sizeof options);
    std::string letters;
    for (std::size_t i = 0; i < sizeof options; ++i) {
        if (bytes[i] > 1) return "not a boolean at field " + std::to_string(i);
        if (bytes[i] == 1) letters += fieldLetters[i];
    }
    return letters;
}

// Sorted, so that expectations may list the letters in any order.
std::string canonical(std::string letters) {
    std::string ordered;
    for (char field : std::string(fieldLetters)) {
        if (letters.find(field) != std::string::npos) ordered += field;
    }
    return ordered;
}

std::string orAbsent(const char* text) { return text != nullptr ? std::string("\"") + text + "\"" : "(absent)"; }

struct Location {
    std::string text;
    // cabinet, slot, cell, bay, chassis, partition, unique id
    std::array<std::uint32_t, 7> numbers;
    bool operator==(const Location&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Location& l) {
    out << '"' << l.text << "\" {";
    for (auto n : l.numbers) out << n << ' ';
    return out << '}';
}

struct HandOver {
    int calls = 0;
    std::string fields;
    std::vector<Location> locations;
    std::array<std::string, 5> credentials;  // userArgument, userName, password, hostIpAddress, hostName
};

struct RunResult {
    int status;
    std::string output;
    std::string errors;
    HandOver handOver;
};

RunResult runLine(ArgumentVector& arguments, const std::string& input, int runnerResult = 0) {
    RunResult run;
    HandOver& seen = run.handOver;
    auto runner = [&seen, runnerResult](CommandOptions options) {
        ++seen.calls;
        seen.fields = setFields(options);
        for (int k = 0; k < locationRequestCount; ++k) {
            const LocationRequest& r = locationRequests[k];
            if (r.found != 1) ADD_FAILURE() << "request " << k << " handed over without found";
            seen.locations.push_back({r.text, {r.cabinetNumber, r.slotNumber, r.cellNumber, r.bayNumber,
                                               r.chassisSlotNumber, r.partitionId, r.uniqueId}});
        }
        seen.credentials = {orAbsent(credentials.userArgument), orAbsent(credentials.userName),
                            orAbsent(credentials.password), orAbsent(credentials.hostIpAddress),
                            orAbsent(credentials.hostName)};
        return runnerResult;
    };
    StdinText stdinText(input);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    run.status = runCommandLine(arguments.count(), arguments.words(), runner);
    run.errors = ::testing::internal::GetCapturedStderr();
    run.output = ::testing::internal::GetCapturedStdout();
    return run;
}

constexpr std::uint32_t N = notGiven;
const char* const none = nullptr;
const std::string noAction = "Note: No action specified. Default behaviour is display all.\n";

struct HandOverCase {
    const char* name;
    std::vector<std::string> words;
    std::string fields;
    std::vector<Location> locations;
    std::array<const char*, 5> credentials;  // userArgument, userName, password, hostIpAddress, hostName
    std::string input = "";                  // standard input, never a terminal here
};

void PrintTo(const HandOverCase& c, std::ostream* out) { *out << c.name; }


class ValidCommandLine : public ::testing::TestWithParam<HandOverCase> {};

TEST_P(ValidCommandLine, HandsOverRecordLocationsAndCredentials) {
    const HandOverCase& c = GetParam();
    ArgumentVector arguments(c.words);
    const RunResult run = runLine(arguments, c.input);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "");
    const bool displayAll = c.fields.find('D') != std::string::npos;
    EXPECT_EQ(run.errors, displayAll ? noAction : "");
    ASSERT_EQ(run.handOver.calls, 1);
    EXPECT_EQ(run.handOver.fields, canonical(c.fields));
    EXPECT_EQ(run.handOver.locations, c.locations);
    for (std::size_t i = 0; i < c.credentials.size(); ++i) {
        EXPECT_EQ(run.handOver.credentials[i], orAbsent(c.credentials[i])) << "credential field " << i;
    }
}

const std::array<const char*, 5> noCredentials = {none, none, none, none, none};
const std::string eightyAs(80, 'A');

const HandOverCase handOverCases[] = {
    {"NothingMeansDisplayAll", {}, "D", {}, noCredentials},
    {"DoubleHyphenAloneMeansDisplayAll", {"--"}, "D", {}, noCredentials},
    {"LongDoubleHyphenWordEndsOptions", {"--verbose"}, "D", {}, noCredentials},
    {"PlatformCheck", {"-s"}, "s", {}, noCredentials},
    {"LocalPartition", {"-w"}, "w", {}, noCredentials},
    {"Complex", {"-X"}, "X", {}, noCredentials},
    {"AllCells", {"-C"}, "C", {}, noCredentials},
    {"AvailableCellsMachineReadable", {"-CAM"}, "CAM", {}, noCredentials},
    {"AvailableCells", {"-A", "-C"}, "CA", {}, noCredentials},
    {"CellsMachineReadable", {"-C", "-M", "--"}, "CM", {}, noCredentials},
    {"AllChassis", {"-I"}, "I", {}, noCredentials},
    {"AvailableChassisMachineReadable", {"-I", "-A", "-M"}, "IAM", {}, noCredentials},
    {"AllCabinets", {"-B"}, "B", {}, noCredentials},
    {"AllCabinetsMachineReadable", {"-MB"}, "BM", {}, noCredentials},
    {"AllPartitions", {"-P"}, "P", {}, noCredentials},
    {"AllPartitionsMachineReadable", {"-P", "-M"}, "PM", {}, noCredentials},
    {"OneChassis", {"-i", "0/1/3"}, "i", {{"0/1/3", {0, N, N, 1, 3, N, N}}}, noCredentials},
    {"TwoChassisMachineReadable",
     {"-i0/1/3", "-M", "-i", "1/0/0"},
     "iM",
     {{"0/1/3", {0, N, N, 1, 3, N, N}}, {"1/0/0", {1, N, N, 0, 0, N, N}}},
     noCredentials},
    {"CellByNumber", {"-c", "5"}, "c", {{"5", {N, N, 5, N, N, N, 5}}}, noCredentials},
    {"CellsVerbose",
     {"-c", "1/3", "-V", "-c", "0"},
     "cV",
     {{"1/3", {1, 3, N, N, N, N, N}}, {"0", {N, N, 0, N, N, N, 0}}},
     noCredentials},
    {"CellMachineReadable", {"-Mc7"}, "cM", {{"7", {N, N, 7, N, N, N, 7}}}, noCredentials},
    {"CabinetLeadingZeros", {"-b", "007"}, "b", {{"007", {7, N, N, N, N, N, 7}}}, noCredentials},
    {"CabinetsVerbose",
     {"-b", "0", "-b", "1", "-V"},
     "bV",
     {{"0", {0, N, N, N, N, N, 0}}, {"1", {1, N, N, N, N, N, 1}}},
     noCredentials},
    {"CabinetMachineReadable", {"-b", "2", "-M"}, "bM", {{"2", {2, N, N, N, N, N, 2}}}, noCredentials},
    {"PartitionEmptyArgument", {"-p", ""}, "p", {{"", {N, N, N, N, N, 0, N}}}, noCredentials},
    {"PartitionVerbose", {"-V", "-p", "3"}, "pV", {{"3", {N, N, N, N, N, 3, N}}}, noCredentials},
    {"PartitionMachineReadable", {"-p", "3", "-M"}, "pM", {{"3", {N, N, N, N, N, 3, N}}}, noCredentials},
    {"RemoteUserWithPassword",
     {"-u", "bob:secret", "-h", "10.0.0.1"},
     "uhD",
     {},
     {"bob:secret", "bob", "secret", "10.0.0.1", none}},
    {"RemoteUserPasswordTrailingBlanks",
     {"-C", "-ubob:pw  ", "-h", "server.example.com"},
     "Cuh",
     {},
     {"bob:pw", "bob", "pw", none, "server.example.com"}},
    {"RemoteUserPasswordFromInput",
     {"-w", "-u", "bob:", "-h", "010.1.2.3"},
     "wuh",
     {},
     {"bob:", "bob", "typed", "010.1.2.3", none},
     "typed\nnot this\n"},
    {"MpWithPassword", {"-X", "-g", "ipmi", "-h", "mp-host"}, "Xgh", {}, {none, none, "ipmi", none, "mp-host"}},
    {"MpGluedPassword", {"-s", "-gipmi", "-h", "mp-host"}, "sgh", {}, {none, none, "ipmi", none, "mp-host"}},
    {"MpPasswordFromInputCutAt80",
     {"-h", "10.0.0.1", "-g"},
     "ghD",
     {},
     {none, none, eightyAs.c_str(), "10.0.0.1", none},
     std::string(100, 'A') + "\nsecond\n"},
    {"MpFollowedByHostTakesNoPassword",
     {"-g", "-h", "10.0.0.1", "-B"},
     "ghB",
     {},
     {none, none, "typed", "10.0.0.1", none},
     "typed\r\n"},
    {"MpPasswordEmptyAtEndOfInput", {"-g", "-h", "10.0.0.1"}, "ghD", {}, {none, none, "", "10.0.0.1", none}},
};

INSTANTIATE_TEST_SUITE_P(HandOver, ValidCommandLine, ::testing::ValuesIn(handOverCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Every combination of the fourteen action options, each given once: the
// dispatcher is reached exactly for the accepted action sets, with exactly
// those fields set.
TEST(HandOver, ExactlyTheValidActionSetsReachTheDispatcher) {
    const std::string actions = "ABCIMPVXswcbip";
    const std::vector<std::string> validSets = {
        "", "s", "w", "X", "C", "CA", "CM", "CAM", "I", "IA", "IM", "IAM", "B", "BM",
        "P", "PM", "i", "iM", "c", "cV", "cM", "b", "bV", "bM", "p", "pV", "pM",
    };
    std::vector<std::string> valid;
    for (const std::string& set : validSets) valid.push_back(canonical(set));

    DiscardStderr quiet;
    int reached = 0;
    for (unsigned mask = 0; mask < (1u << actions.size()); ++mask) {
        std::vector<std::string> words;
        std::string letters;
        for (std::size_t bit = 0; bit < actions.size(); ++bit) {
            if ((mask & (1u << bit)) == 0) continue;
            const char letter = actions[bit];
            letters += letter;
            words.push_back(std::string("-") + letter);
            if (std::string("cbip").find(letter) != std::string::npos) words.push_back(letter == 'i' ? "0/1/2" : "1");
        }
        const std::string expected = canonical(letters);
        const bool isValid = std::find(valid.begin(), valid.end(), expected) != valid.end();
        ArgumentVector arguments(words);
        int calls = 0;
        std::string fields;
        const int status = runCommandLine(arguments.count(), arguments.words(), [&](CommandOptions options) {
            ++calls;
            fields = setFields(options);
            return 0;
        });
        ASSERT_EQ(calls, isValid ? 1 : 0) << "actions " << letters;
        ASSERT_EQ(status, isValid ? 0 : 1) << "actions " << letters;
        if (isValid) {
            ASSERT_EQ(fields, expected.empty() ? "D" : expected) << "actions " << letters;
        }
        reached += calls;
    }
    EXPECT_EQ(reached, static_cast<int>(validSets.size()));
}

TEST(HandOver, DispatcherResultBecomesZeroOrOne) {
    for (const auto& [runnerResult, status] : {std::pair{0, 0}, {1, 1}, {7, 1}, {-1, 1}}) {
        ArgumentVector arguments({"-C"});
        EXPECT_EQ(runLine(arguments, "", runnerResult).status, status) << runnerResult;
    }
}

// A glued "-c-1" must not make the scan go round for ever, and each back-up
// prints one message only.
TEST(HandOver, BackUpRuleTerminatesWithOneMessagePerBackUp) {
    const struct {
        std::vector<std::string> words;
        int messages;
    } cases[] = {
        {{"-c-1"}, 1}, {{"-g-1"}, 0}, {{"-c", "-c", "-c"}, 3}, {{"-c-1", "-c-1"}, 2}, {{"-h-c-1"}, 1},
    };
    for (const auto& c : cases) {
        ArgumentVector arguments(c.words);
        const RunResult run = runLine(arguments, "");
        EXPECT_EQ(run.status, 1);
        std::size_t count = 0;
        for (std::size_t at = 0; (at = run.errors.find("requires an argument", at)) != std::string::npos; ++at) ++count;
        EXPECT_EQ(count, static_cast<std::size_t>(c.messages)) << c.words[0] << "\n" << run.errors;
    }
}

TEST(HandOver, PasswordsAreOverwrittenInTheArgumentWords) {
    const struct {
        std::vector<std::string> words;
        int index;  // the word that held a password
        const char* afterwards;
        const char* password;
    } cases[] = {
        {{"-u", "bob:secret", "-h", "h"}, 2, "bob:xxxxxx", "secret"},
        {{"-ubob:pw", "-h", "h"}, 1, "-ubob:xx", "pw"},
        {{"-g", "ipmi", "-h", "h"}, 2, "xxxx", "ipmi"},
        {{"-gipmi", "-h", "h"}, 1, "-gxxxx", "ipmi"},
        {{"-C", "-u", "bob:", "-h", "h"}, 3, "bob:", "typed"},
    };
    for (const auto& c : cases) {
        ArgumentVector arguments(c.words);
        const RunResult run = runLine(arguments, "typed\n");
        EXPECT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(arguments.word(c.index), c.afterwards);
        EXPECT_EQ(run.handOver.credentials[2], orAbsent(c.password));
    }
}

TEST(HandOver, StateFromAnEarlierRunIsForgotten) {
    ArgumentVector first({"-c", "1", "-c", "2", "-u", "bob:pw", "-h", "host"});
    ASSERT_EQ(runLine(first, "").status, 0);
    ArgumentVector second({"-c", "3"});
    const RunResult run = runLine(second, "");
    EXPECT_EQ(run.handOver.locations, (std::vector<Location>{{"3", {N, N, 3, N, N, N, 3}}}));
    EXPECT_EQ(run.handOver.credentials, (std::array<std::string, 5>{"(absent)", "(absent)", "(absent)", "(absent)",
                                                                   "(absent)"}));
}

TEST(StartUp, NlsPathDefaultOnlyWhenUnset) {
    const char* previous = std::getenv("NLSPATH");
    const std::string saved = previous != nullptr ? previous : "";
    unsetenv("NLSPATH");
    applyNlsPathDefault();
    ASSERT_NE(std::getenv("NLSPATH"), nullptr);
    EXPECT_STREQ(std::getenv("NLSPATH"), "/usr/lib/nls/msg/%L/%N:/usr/lib/nls/msg/C/%N");
    setenv("NLSPATH", "/mine/%N", 1);
    applyNlsPathDefault();
    EXPECT_STREQ(std::getenv("NLSPATH"), "/mine/%N");
    if (previous != nullptr) {
        setenv("NLSPATH", saved.c_str(), 1);
    } else {
        unsetenv("NLSPATH");
    }
}

void markExit() { std::fputs("exit handlers ran\n", stderr); }

// A run of the program whose report raises the signal.
int runRaising(int signalNumber) {
    std::atexit(markExit);
    char name[] = "cmplxview";
    char option[] = "-s";
    char* words[] = {name, option, nullptr};
    return runProgram(2, words, [signalNumber](CommandOptions) {
        std::raise(signalNumber);
        return 0;
    });
}

// Every handled signal prints its number and ends the run with status 1.
// SIGINT and SIGTERM end it on its main path, so the handlers registered
// with atexit (the connection release) still run; after the others nothing
// but the message is safe, and the process ends at once.
TEST(StartUpDeathTest, SignalsEndTheRunWithTheirMessageAndStatusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct {
        int signalNumber;
        bool exitHandlersRun;
    } rows[] = {{SIGABRT, false}, {SIGINT, true}, {SIGTERM, true}, {SIGFPE, false}, {SIGILL, false}, {SIGSEGV, false}};
    for (const auto& row : rows) {
        const std::string expected = "^Internal Error: Received signal " + std::to_string(row.signalNumber) +
                                     "\\.\n" + (row.exitHandlersRun ? "exit handlers ran\n" : "") + "$";
        EXPECT_EXIT(std::exit(runRaising(row.signalNumber)), ::testing::ExitedWithCode(1), expected)
            << "signal " << row.signalNumber;
    }
}

}  // namespace
}  // namespace cmplxview
