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

// `backUpAfter`: the driver's back-up, optind stepped back once after that many calls.
std::string trace(const std::vector<std::string>& words, const char* options, int backUpAfter = -1) {
    ArgumentVector arguments(words);
    resetOptionScanner();
    std::string steps;
    for (int step = 0; step < 32; ++step) {
        if (step == backUpAfter) --optind;
        const int result = getopt(arguments.count(), arguments.words(), options);
        steps += steps.empty() ? "" : " ";
        if (result == -1) return steps + "end@" + std::to_string(optind);
        if (result == '?' || result == ':')
            steps += std::string(1, static_cast<char>(result)) + "(" + static_cast<char>(optopt) + ")";
        else
            steps += static_cast<char>(result) + (optarg != nullptr ? "=" + std::string(optarg) : "");
        steps += "@" + std::to_string(optind);
    }
    return steps + " NO-END";
}

TEST(Scanner, Traces) {
    const struct { std::vector<std::string> words; std::string expected, errors = ""; const char* options = optionString; int backUp = -1; } cases[] = {
        {{}, "end@1"},
        {{"-CAM"}, "C@1 A@1 M@2 end@2"},
        {{"-c", "5", "-C"}, "c=5@3 C@4 end@4"},
        {{"-c", "-C"}, "c=-C@3 end@3"},  // the next word is taken whatever it begins with
        {{"-Cc7/1", "-A"}, "C@1 c=7/1@2 A@3 end@3"},
        {{"-Cc", "7"}, "C@1 c=7@3 end@3"},
        {{"-p", ""}, "p=@3 end@3"},
        {{"--", "-C"}, "end@2"},
        {{"--all", "-C"}, "end@2"},
        {{"-C", "--"}, "C@2 end@3"},
        {{"-", "-C"}, "end@1"},
        {{"-C", "cell", "-A"}, "C@2 end@2"},  // no permutation
        {{"-C", "-c"}, "C@2 :(c)@3 end@3"},
        {{"-Cg"}, "C@1 :(g)@2 end@2"},
        {{"-CZA"}, "C@1 ?(Z)@1 A@2 end@2"},
        {{"-:"}, "?(:)@2 end@2"},
        {{"-C-A"}, "C@1 ?(-)@1 A@2 end@2"},
        // Stepped back after "-c -CA", the word -CA comes out as options of its own.
        {{"-c", "-CA"}, "c=-CA@3 C@2 A@3 end@3", "", optionString, 1},
        // Without a leading ':' the scanner reports on standard error.
        {{"-Z", "-c"}, "?(Z)@2 ?(c)@3 end@3", "invalid option -Z\noption -c missing required argument\n", "Cc:"},
    };
    for (const auto& c : cases) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(trace(c.words, c.options, c.backUp), c.expected) << ::testing::PrintToString(c.words);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.errors) << ::testing::PrintToString(c.words);
    }
}

TEST(Scanner, QuietWithOpterrZeroEndForMissingInputsAndReset) {
    ArgumentVector arguments({"-Z", "-c"});
    resetOptionScanner();
    opterr = 0;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(getopt(arguments.count(), arguments.words(), "Cc:"), '?');
    EXPECT_EQ(getopt(arguments.count(), arguments.words(), "Cc:"), '?');
    EXPECT_EQ(optopt, 'c');
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ArgumentVector cluster({"-CA"});
    resetOptionScanner();
    EXPECT_EQ(getopt(cluster.count(), cluster.words(), nullptr), -1);
    EXPECT_EQ(getopt(cluster.count(), nullptr, "C"), -1);
    for (int index : {0, 2}) {
        optind = index;
        EXPECT_EQ(getopt(cluster.count(), cluster.words(), "CA"), -1) << index;
    }
    optind = 1;
    ASSERT_EQ(getopt(cluster.count(), cluster.words(), "CA"), 'C');
    resetOptionScanner();  // also in the middle of a cluster
    EXPECT_EQ(optind, 1);
    EXPECT_EQ(opterr, 1);
    EXPECT_EQ(getopt(cluster.count(), cluster.words(), "CA"), 'C');
}

}  // namespace
}  // namespace cmplxview
