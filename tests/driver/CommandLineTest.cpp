// Whole command lines run in-process: what reaches the report dispatcher
// (the options record, the location table and the credentials), what
// standard error says when a command line is refused, and the start-up.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "driver/Arguments.h"
#include "driver/CommandLine.h"

namespace cmplxview {
namespace {

using testing::ArgumentVector;
using O = CommandOptions;

// The record's fields in their documented order, one letter each ('D' for displayAll).
constexpr char fieldLetters[] = "XAVMCBIPcbipswughD";
constexpr bool O::*fields[] = {&O::showComplex,   &O::availableOnly,     &O::verbose,          &O::machineReadable,
                               &O::allCells,      &O::allCabinets,       &O::allIOChassis,     &O::allPartitions,
                               &O::selectedCells, &O::selectedCabinets,  &O::selectedIOChassis,
                               &O::selectedPartitions, &O::platformCheck, &O::localPartition, &O::remoteUser,
                               &O::remoteMP,      &O::hostGiven,         &O::displayAll};

TEST(HandOver, RecordLayoutKeepsTheDocumentedFieldOrder) {
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        O options{};
        options.*fields[i] = true;
        unsigned char bytes[sizeof options];
        std::memcpy(bytes, &options, sizeof options);
        EXPECT_EQ(std::count(bytes, bytes + sizeof bytes, 1), 1);
        EXPECT_EQ(bytes[i], 1) << fieldLetters[i];
    }
}

// The set fields in record order, so that expectations may list them in any order.
std::string canonical(const std::string& letters) {
    std::string ordered;
    for (char field : std::string(fieldLetters))
        if (letters.find(field) != std::string::npos) ordered += field;
    return ordered;
}

std::string setFields(const O& options) {
    std::string letters;
    for (std::size_t i = 0; i < std::size(fields); ++i)
        if (options.*fields[i]) letters += fieldLetters[i];
    return letters;
}

std::string orAbsent(const char* text) { return text != nullptr ? std::string("\"") + text + "\"" : "(absent)"; }

constexpr std::uint32_t N = notGiven;
struct Location {
    std::string text;
    std::array<std::uint32_t, 7> numbers;  // cabinet, slot, cell, bay, chassis, partition, unique id
    bool operator==(const Location&) const = default;
};

struct RunResult {
    int status;
    std::string output, errors;
    int calls = 0;
    std::string fields;
    std::vector<Location> locations;
    std::array<std::string, 5> credentials;  // userArgument, userName, password, hostIpAddress, hostName
};

RunResult runLine(ArgumentVector& arguments, const std::string& input, int runnerResult = 0) {
    RunResult run;
    auto runner = [&run, runnerResult](O options) {
        ++run.calls;
        run.fields = setFields(options);
        for (int k = 0; k < locationRequestCount; ++k) {
            const LocationRequest& r = locationRequests[k];
            if (r.found != 1) ADD_FAILURE() << "request " << k << " handed over without found";
            run.locations.push_back({r.text, {r.cabinetNumber, r.slotNumber, r.cellNumber, r.bayNumber,
                                              r.chassisSlotNumber, r.partitionId, r.uniqueId}});
        }
        run.credentials = {orAbsent(credentials.userArgument), orAbsent(credentials.userName),
                           orAbsent(credentials.password), orAbsent(credentials.hostIpAddress),
                           orAbsent(credentials.hostName)};
        return runnerResult;
    };
    testing::StdinText stdinText(input);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    run.status = runCommandLine(arguments.count(), arguments.words(), runner);
    run.errors = ::testing::internal::GetCapturedStderr();
    run.output = ::testing::internal::GetCapturedStdout();
    return run;
}

const char* const none = nullptr;
const std::array<const char*, 5> noCredentials = {none, none, none, none, none};
const std::string eightyAs(80, 'A');

struct Accepted {
    std::vector<std::string> words;
    std::string fields;
    std::vector<Location> locations = {};
    std::array<const char*, 5> credentials = noCredentials;  // as in RunResult
    std::string input = "";  // standard input, never a terminal here
    std::pair<int, std::string> hidden = {};  // a word that held a password, as it reads afterwards
};

// Which fields each action set sets is the sweep's business below; these rows
// pin the locations and credentials handed over, the display-all note, and
// the passwords overwritten in the argument words themselves.
TEST(HandOver, AcceptedLinesHandOverRecordLocationsAndCredentials) {
    const Accepted cases[] = {
        {{}, "D"},
        {{"--"}, "D"},
        {{"-i0/1/3", "-M", "-i", "1/0/0"}, "iM",
         {{"0/1/3", {0, N, N, 1, 3, N, N}}, {"1/0/0", {1, N, N, 0, 0, N, N}}}},
        {{"-c", "1/3", "-V", "-c", "0"}, "cV", {{"1/3", {1, 3, N, N, N, N, N}}, {"0", {N, N, 0, N, N, N, 0}}}},
        {{"-p", "4294967295"}, "p", {{"4294967295", {N, N, N, N, N, 4294967295u, N}}}},
        {{"-u", "bob:secret", "-h", "10.0.0.1"}, "uhD", {}, {"bob:secret", "bob", "secret", "10.0.0.1", none}, "",
         {2, "bob:xxxxxx"}},
        {{"-C", "-ubob:pw  ", "-h", "server.example.com"}, "Cuh", {}, {"bob:pw", "bob", "pw", none, "server.example.com"},
         "", {2, "-ubob:xxxx"}},
        {{"-w", "-u", "bob:", "-h", "010.1.2.3"}, "wuh", {}, {"bob:", "bob", "typed", "010.1.2.3", none},
         "typed\nnot this\n", {3, "bob:"}},
        {{"-X", "-g", "ipmi", "-h", "mp-host"}, "Xgh", {}, {none, none, "ipmi", none, "mp-host"}, "", {3, "xxxx"}},
        {{"-s", "-gipmi", "-h", "mp-host"}, "sgh", {}, {none, none, "ipmi", none, "mp-host"}, "", {2, "-gxxxx"}},
        {{"-h", "10.0.0.1", "-g"}, "ghD", {}, {none, none, eightyAs.c_str(), "10.0.0.1", none},
         std::string(100, 'A') + "\nsecond\n"},
        {{"-g", "-h", "10.0.0.1"}, "ghD", {}, {none, none, "", "10.0.0.1", none}},
    };
    for (const Accepted& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.words));
        ArgumentVector arguments(c.words);
        const RunResult run = runLine(arguments, c.input);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, "");
        const bool displayAll = c.fields.find('D') != std::string::npos;
        EXPECT_EQ(run.errors, displayAll ? "Note: No action specified. Default behaviour is display all.\n" : "");
        ASSERT_EQ(run.calls, 1);
        EXPECT_EQ(run.fields, canonical(c.fields));
        EXPECT_EQ(run.locations, c.locations);
        for (std::size_t i = 0; i < c.credentials.size(); ++i)
            EXPECT_EQ(run.credentials[i], orAbsent(c.credentials[i])) << "credential " << i;
        EXPECT_EQ(c.hidden.first == 0 ? "" : arguments.word(c.hidden.first), c.hidden.second);
    }
}

std::string once(char letter) { return std::string("Error: Option -") + letter + " may only be specified once per command.\n"; }
std::string needs(char letter) { return std::string("Error: Option -") + letter + " requires an argument.\n"; }
std::string invalid(char letter) { return std::string("Error: Invalid option -") + letter + ".\n"; }
std::string stray(const std::string& word) { return "Error: Missing hyphen(-) or missing option for " + word + ".\n"; }
std::string number(const std::string& kind, const std::string& text) { return "Error: Invalid " + kind + " number " + text + ".\n"; }
std::string address(const std::string& text) { return "Error: Invalid IP address: " + text + "\n"; }
const std::string hOnly = "Error: The -h option is only valid when used with either the -u or -g option.\n";
const std::string hRequired = "Error: The -h option is required when the -u or -g option is specified.\n";
const std::string uAndG = "Error: Options -u and -g are mutually exclusive.\n";
const std::string vAndM = "Error: Options -V and -M are mutually exclusive.\n";
// Without a final line break: the wrong-usage line continues it.
const std::string gAndW = "Error: Options -g and -w are mutually exclusive.\n"
                          "There is never a \"local partition\" when obtaining data remotely through the MP.";

struct Refused {
    std::vector<std::string> words;
    std::string errors;
    bool usage = true;  // "Error: Wrong usage." and the usage text follow
};

// Refused lines end with status 1, print nothing on standard output and never
// reach the dispatcher.  The usage text itself is the program's own.
TEST(Refusal, MessagesInOrderThenWrongUsageOnce) {
    const Refused cases[] = {
        {{"-CC"}, once('C')},
        {{"-c", "0", "-M", "-M"}, once('M')},
        {{"-VMc0"}, vAndM},
        {{"-p"}, needs('p')},
        {{"-h"}, needs('h') + hOnly},
        {{"-u"}, needs('u') + hRequired},
        {{"-g"}, hRequired},
        // An option that wants an argument and gets an option word scans that word again, once.
        {{"-c", "-C", "-C"}, needs('c') + once('C')},
        {{"-c-1"}, needs('c')},
        {{"-c", "-c", "-c"}, needs('c') + needs('c') + needs('c')},
        {{"-h-c-1"}, needs('h') + once('h') + hOnly},
        {{"-g-1"}, once('g') + hRequired},
        {{"-u", "-C", "-h", "10.0.0.1"}, needs('u')},
        {{"-u", "bob:pw", "-h", "h1", "-h", "h2"}, once('h')},
        {{"-u", "bob:pw", "-h", "h1", "-h", "-C"}, once('h') + needs('h')},
        {{"-h", "h", "-u", "a:b", "-u"}, once('u') + needs('u')},
        {{"-g", "-g", "-h", "h"}, once('g')},
        {{"-w", "-g", "pw", "-h", "10.0.0.1"}, gAndW},
        {{"-u", "a:b", "-g", "pw", "-h", "h"}, uAndG},
        {{"-C", "-h", "host"}, hOnly},
        {{"-C", "stray", "other"}, stray("stray")},
        {{"-C", "--", "-B"}, stray("-B")},
        {{"-CZ"}, invalid('Z')},
        {{"-A"}, ""},
        {{"-u", "bob", "-h", "host"}, "Error: Invalid format for -u option.\n"},
        // Malformed arguments alone: their own messages, no usage text.
        {{"-c", "x", "-c", "y"}, number("cell", "x") + number("cell", "y"), false},
        {{"-u", "bob:pw", "-h", "cafe"}, address("cafe"), false},
        {{"-c", "x", "-C"}, number("cell", "x")},
        // Scan-time messages in command-line order, then the stray word, then the connection rules.
        {{"-Z", "-C", "-C", "-w", "-g", "pw", "-w", "-h", "cafe", "stray"},
         invalid('Z') + once('C') + once('w') + address("cafe") + stray("stray") + gAndW},
        {{"-u", "a:b", "-g", "pw", "-w"}, hRequired + uAndG + gAndW},
        {{"-c", "x", "-M", "-V", "-h", "1.2.3.4", "extra"}, number("cell", "x") + vAndM + stray("extra") + hOnly},
    };
    const std::string wrongUsage = std::string("Error: Wrong usage.\n") + usageText;
    for (const Refused& c : cases) {
        ArgumentVector arguments(c.words);
        const RunResult run = runLine(arguments, "");
        EXPECT_EQ(run.errors, c.errors + (c.usage ? wrongUsage : "")) << ::testing::PrintToString(c.words);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, "");
        EXPECT_EQ(run.calls, 0);
    }
}

TEST(Refusal, SixtyFourLocationsAtMost) {
    std::vector<std::string> words;
    for (int k = 0; k < 64; ++k) words.insert(words.end(), {"-c", std::to_string(k)});
    ArgumentVector sixtyFour(words);
    const RunResult run = runLine(sixtyFour, "");
    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(run.locations.size(), 64u);
    EXPECT_EQ(run.locations[63].text, "63");
    words.insert(words.end(), {"-c", "64"});
    ArgumentVector sixtyFive(words);
    EXPECT_EQ(runLine(sixtyFive, "").errors, "Error: More than 64 location arguments; -c 64 is not accepted.\n");
}

// Every combination of the fourteen action options, each given once: the
// dispatcher is reached exactly for the accepted action sets, with exactly
// those fields set.
TEST(HandOver, ExactlyTheValidActionSetsReachTheDispatcher) {
    const std::string actions = "ABCIMPVXswcbip";
    std::vector<std::string> valid;
    for (const char* set : {"", "s", "w", "X", "C", "CA", "CM", "CAM", "I", "IA", "IM", "IAM", "B", "BM",
                            "P", "PM", "i", "iM", "c", "cV", "cM", "b", "bV", "bM", "p", "pV", "pM"})
        valid.push_back(canonical(set));

    testing::DiscardStderr quiet;
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
        const int status = runCommandLine(arguments.count(), arguments.words(), [&](O options) {
            ++calls;
            fields = setFields(options);
            return 0;
        });
        ASSERT_EQ(calls, isValid ? 1 : 0) << "actions " << letters;
        ASSERT_EQ(status, isValid ? 0 : 1) << "actions " << letters;
        ASSERT_EQ(fields, !isValid ? "" : expected.empty() ? "D" : expected) << "actions " << letters;
        reached += calls;
    }
    EXPECT_EQ(reached, static_cast<int>(valid.size()));
}

TEST(HandOver, DispatcherResultBecomesZeroOrOneAndEarlierRunsAreForgotten) {
    for (const auto& [runnerResult, status] : {std::pair{0, 0}, {1, 1}, {7, 1}, {-1, 1}}) {
        ArgumentVector arguments({"-C"});
        EXPECT_EQ(runLine(arguments, "", runnerResult).status, status) << runnerResult;
    }
    ArgumentVector first({"-c", "1", "-c", "2", "-u", "bob:pw", "-h", "host"});
    ASSERT_EQ(runLine(first, "").status, 0);
    ArgumentVector second({"-c", "3"});
    const RunResult run = runLine(second, "");
    EXPECT_EQ(run.locations, (std::vector<Location>{{"3", {N, N, 3, N, N, N, 3}}}));
    EXPECT_EQ(run.credentials, (std::array<std::string, 5>{"(absent)", "(absent)", "(absent)", "(absent)", "(absent)"}));
}

TEST(StartUp, NlsPathDefaultOnlyWhenUnset) {
    const char* previous = std::getenv("NLSPATH");
    const std::string saved = previous != nullptr ? previous : "";
    unsetenv("NLSPATH");
    applyNlsPathDefault();
    EXPECT_EQ(orAbsent(std::getenv("NLSPATH")), orAbsent("/usr/lib/nls/msg/%L/%N:/usr/lib/nls/msg/C/%N"));
    setenv("NLSPATH", "/mine/%N", 1);
    applyNlsPathDefault();
    EXPECT_STREQ(std::getenv("NLSPATH"), "/mine/%N");
    previous != nullptr ? setenv("NLSPATH", saved.c_str(), 1) : unsetenv("NLSPATH");
}

void markExit() { std::fputs("exit handlers ran\n", stderr); }

// A run of the program whose report raises the signal.
int runRaising(int signalNumber) {
    std::atexit(markExit);
    ArgumentVector arguments({"-s"});
    return runProgram(arguments.count(), arguments.words(), [signalNumber](O) {
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
    for (const auto& [signalNumber, exitHandlersRun] : {std::pair{SIGABRT, false}, {SIGINT, true}, {SIGTERM, true},
                                                        {SIGFPE, false}, {SIGILL, false}, {SIGSEGV, false}}) {
        const std::string expected = "^Internal Error: Received signal " + std::to_string(signalNumber) + "\\.\n" +
                                     (exitHandlersRun ? "exit handlers ran\n" : "") + "$";
        EXPECT_EXIT(std::exit(runRaising(signalNumber)), ::testing::ExitedWithCode(1), expected) << signalNumber;
    }
}

}  // namespace
}  // namespace cmplxview
