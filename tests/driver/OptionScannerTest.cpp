// The option scanner, driven step by step.  Each case is written as a trace:
// every call's result with its argument (c=5) or optopt (?(Z)), then '@' and
// optind after the call, up to the end ("end@N").
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "driver/CommandLine.h"
#include "driver/OptionScanner.h"

namespace cmplxview {
namespace {

using testing::ArgumentVector;

std::string trace(const std::vector<std::string>& words, const char* options) {
    ArgumentVector arguments(words);
    resetOptionScanner();
    std::string steps;
    for (int step = 0; step < 32; ++step) {
        const int result = getopt(arguments.count(), arguments.words(), options);
        if (!steps.empty()) steps += ' ';
        if (result == -1) return steps + "end@" + std::to_string(optind);
        if (result == '?' || result == ':') {
            steps += std::string(1, static_cast<char>(result)) + "(" + static_cast<char>(optopt) + ")";
        } else {
            steps += static_cast<char>(result);
            if (optarg != nullptr) steps += "=" + std::string(optarg);
        }
        steps += "@" + std::to_string(optind);
    }
    return steps + " NO-END";
}

struct ScanCase {
    const char* name;
    std::vector<std::string> words;
    const char* expected;
};

void PrintTo(const ScanCase& c, std::ostream* out) { *out << c.name; }


class DriverOptionString : public ::testing::TestWithParam<ScanCase> {};

TEST_P(DriverOptionString, Trace) {
    const ScanCase& c = GetParam();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(trace(c.words, optionString), c.expected);
    // The driver's option string begins with ':', so the scanner never prints.
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

const ScanCase scanCases[] = {
    {"NoWords", {}, "end@1"},
    {"Cluster", {"-CAM"}, "C@1 A@1 M@2 end@2"},
    {"SeparateWords", {"-C", "-A"}, "C@2 A@3 end@3"},
    {"GluedArgument", {"-c5"}, "c=5@2 end@2"},
    {"NextWordArgument", {"-c", "5", "-C"}, "c=5@3 C@4 end@4"},
    {"NextWordTakenEvenWithHyphen", {"-c", "-C"}, "c=-C@3 end@3"},
    {"GluedArgumentWithHyphen", {"-c-1"}, "c=-1@2 end@2"},
    {"ClusterEndingInArgumentOption", {"-Cc", "7"}, "C@1 c=7@3 end@3"},
    {"ClusterWithGluedArgument", {"-Cc7/1", "-A"}, "C@1 c=7/1@2 A@3 end@3"},
    {"EmptyArgumentWord", {"-p", ""}, "p=@3 end@3"},
    {"DoubleHyphenEndsAndIsDropped", {"--", "-C"}, "end@2"},
    {"LongDoubleHyphenWordEndsToo", {"--all", "-C"}, "end@2"},
    {"DoubleHyphenAfterOptions", {"-C", "--"}, "C@2 end@3"},
    {"LoneHyphenIsNoOption", {"-", "-C"}, "end@1"},
    {"NoPermutation", {"-C", "cell", "-A"}, "C@2 end@2"},
    {"OperandFirst", {"cell", "-C"}, "end@1"},
    {"MissingArgumentAtEnd", {"-C", "-c"}, "C@2 :(c)@3 end@3"},
    {"MissingArgumentInCluster", {"-Cg"}, "C@1 :(g)@2 end@2"},
    {"UnknownOption", {"-Z"}, "?(Z)@2 end@2"},
    {"UnknownInsideCluster", {"-CZA"}, "C@1 ?(Z)@1 A@2 end@2"},
    {"ColonIsNeverAnOption", {"-:"}, "?(:)@2 end@2"},
    {"QuestionMarkIsNeverAnOption", {"-?"}, "?(?)@2 end@2"},
    {"HyphenInsideCluster", {"-C-A"}, "C@1 ?(-)@1 A@2 end@2"},
};

INSTANTIATE_TEST_SUITE_P(Scanner, DriverOptionString, ::testing::ValuesIn(scanCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Scanner, WithoutLeadingColonReportsAndReturnsQuestionMark) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(trace({"-Z", "-c"}, "Cc:"), "?(Z)@2 ?(c)@3 end@3");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "invalid option -Z\noption -c missing required argument\n");
}

TEST(Scanner, OpterrZeroSilencesTheScanner) {
    ArgumentVector arguments({"-Z", "-c"});
    resetOptionScanner();
    opterr = 0;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(getopt(arguments.count(), arguments.words(), "Cc:"), '?');
    EXPECT_EQ(getopt(arguments.count(), arguments.words(), "Cc:"), '?');
    EXPECT_EQ(optopt, 'c');
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(Scanner, ReturnsEndForMissingInputsAndOutOfRangeIndex) {
    ArgumentVector arguments({"-C"});
    resetOptionScanner();
    EXPECT_EQ(getopt(arguments.count(), arguments.words(), nullptr), -1);
    EXPECT_EQ(getopt(arguments.count(), nullptr, "C"), -1);
    optind = 0;
    EXPECT_EQ(getopt(arguments.count(), arguments.words(), "C"), -1);
    optind = 2;
    EXPECT_EQ(getopt(arguments.count(), arguments.words(), "C"), -1);
    optind = 1;
    EXPECT_EQ(getopt(arguments.count(), arguments.words(), "C"), 'C');
}

TEST(Scanner, SteppingBackRescansTheWordFromItsStart) {
    // The driver's back-up: after "-c -C" it steps optind back and the
    // word -C must come out as an option of its own.
    ArgumentVector arguments({"-c", "-CA"});
    resetOptionScanner();
    ASSERT_EQ(getopt(arguments.count(), arguments.words(), optionString), 'c');
    ASSERT_EQ(optind, 3);
    --optind;
    EXPECT_EQ(getopt(arguments.count(), arguments.words(), optionString), 'C');
    EXPECT_EQ(getopt(arguments.count(), arguments.words(), optionString), 'A');
    EXPECT_EQ(getopt(arguments.count(), arguments.words(), optionString), -1);
}

TEST(Scanner, ResetStartsAgainMidCluster) {
    ArgumentVector arguments({"-CAM"});
    resetOptionScanner();
    ASSERT_EQ(getopt(arguments.count(), arguments.words(), optionString), 'C');
    resetOptionScanner();
    EXPECT_EQ(optind, 1);
    EXPECT_EQ(opterr, 1);
    EXPECT_EQ(getopt(arguments.count(), arguments.words(), optionString), 'C');
}

}  // namespace
}  // namespace cmplxview
