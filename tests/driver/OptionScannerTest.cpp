// The option scanner, driven step by step.  Each case is written as a trace:
// every call's result with its argument (c=5) or optopt (?(Z)), then '@' and
// optind after the call, up to the end ("end@N").
#include <gtest/gtest.h>

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

TEST(Scanner, DriverOptionStringTraces) {
    const struct { std::vector<std::string> words; const char* expected; } cases[] = {
        {{}, "end@1"},
        {{"-CAM"}, "C@1 A@1 M@2 end@2"},
        {{"-C", "-A"}, "C@2 A@3 end@3"},
        {{"-c5"}, "c=5@2 end@2"},
        {{"-c", "5", "-C"}, "c=5@3 C@4 end@4"},
        {{"-c", "-C"}, "c=-C@3 end@3"},  // the next word is taken whatever it begins with
        {{"-c-1"}, "c=-1@2 end@2"},
        {{"-Cc", "7"}, "C@1 c=7@3 end@3"},
        {{"-Cc7/1", "-A"}, "C@1 c=7/1@2 A@3 end@3"},
        {{"-p", ""}, "p=@3 end@3"},
        {{"--", "-C"}, "end@2"},
        {{"--all", "-C"}, "end@2"},
        {{"-C", "--"}, "C@2 end@3"},
        {{"-", "-C"}, "end@1"},
        {{"-C", "cell", "-A"}, "C@2 end@2"},  // no permutation
        {{"cell", "-C"}, "end@1"},
        {{"-C", "-c"}, "C@2 :(c)@3 end@3"},
        {{"-Cg"}, "C@1 :(g)@2 end@2"},
        {{"-Z"}, "?(Z)@2 end@2"},
        {{"-CZA"}, "C@1 ?(Z)@1 A@2 end@2"},
        {{"-:"}, "?(:)@2 end@2"},
        {{"-?"}, "?(?)@2 end@2"},
        {{"-C-A"}, "C@1 ?(-)@1 A@2 end@2"},
    };
    for (const auto& c : cases) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(trace(c.words, optionString), c.expected) << ::testing::PrintToString(c.words);
        // The driver's option string begins with ':', so the scanner never prints.
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    }
}

TEST(Scanner, WithoutLeadingColonReportsUnlessOpterrIsZero) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(trace({"-Z", "-c"}, "Cc:"), "?(Z)@2 ?(c)@3 end@3");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "invalid option -Z\noption -c missing required argument\n");
    ArgumentVector arguments({"-Z", "-c"});
    resetOptionScanner();
    opterr = 0;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(getopt(arguments.count(), arguments.words(), "Cc:"), '?');
    EXPECT_EQ(getopt(arguments.count(), arguments.words(), "Cc:"), '?');
    EXPECT_EQ(optopt, 'c');
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(Scanner, EndForMissingInputsOrIndexOutOfRangeAndResetMidCluster) {
    ArgumentVector arguments({"-CA"});
    resetOptionScanner();
    EXPECT_EQ(getopt(arguments.count(), arguments.words(), nullptr), -1);
    EXPECT_EQ(getopt(arguments.count(), nullptr, "C"), -1);
    for (int index : {0, 2}) {
        optind = index;
        EXPECT_EQ(getopt(arguments.count(), arguments.words(), "CA"), -1) << index;
    }
    optind = 1;
    ASSERT_EQ(getopt(arguments.count(), arguments.words(), "CA"), 'C');
    resetOptionScanner();
    EXPECT_EQ(optind, 1);
    EXPECT_EQ(opterr, 1);
    EXPECT_EQ(getopt(arguments.count(), arguments.words(), "CA"), 'C');
}

// The driver's back-up: after "-c -CA" it steps optind back, and the word
// -CA must come out as options of its own.
TEST(Scanner, SteppingBackRescansTheWordFromItsStart) {
    ArgumentVector arguments({"-c", "-CA"});
    resetOptionScanner();
    ASSERT_EQ(getopt(arguments.count(), arguments.words(), optionString), 'c');
    ASSERT_EQ(optind, 3);
    --optind;
    for (int expected : {int{'C'}, int{'A'}, -1}) EXPECT_EQ(getopt(arguments.count(), arguments.words(), optionString), expected);
}

}  // namespace
}  // namespace cmplxview
