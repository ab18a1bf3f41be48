// libFuzzer harness for the command line: the input is an argument vector
// (words separated by zero bytes), run through the whole front end, through
// the option scanner alone with a chosen option string, and through each
// argument parser. Besides crashes and sanitizer reports, the harness aborts
// when a handed-over command line breaks a guarantee of the front end or the
// scanner fails to end.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/Arguments.h"
#include "driver/CommandLine.h"
#include "driver/OptionScanner.h"
#include "driver/SafeString.h"

// The harness lives in the program's namespace, so that the scanner's
// optind and getopt are found before the C library's.
namespace cmplxview {
namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "guarantee broken: %s\n", what);
        std::abort();
    }
}

// Mutable words for one run, since the front end writes into them.
struct Words {
    std::vector<std::string> storage;
    std::vector<char*> pointers;
    explicit Words(const std::vector<std::string>& words) : storage(words) {
        for (auto& word : storage) pointers.push_back(word.data());
        pointers.push_back(nullptr);
    }
    int count() const { return static_cast<int>(storage.size()); }
    char** data() { return pointers.data(); }
};

int checkHandOver(CommandOptions o) {
    // At most one report is selected, and the modifiers only go with theirs.
    require(o.displayAll + o.platformCheck + o.localPartition + o.showComplex + o.allCabinets + o.allCells +
                    o.allIOChassis + o.allPartitions + o.selectedCells + o.selectedIOChassis + o.selectedPartitions +
                    o.selectedCabinets == 1,
            "exactly one report selected");
    require(!(o.verbose && o.machineReadable), "-V with -M");
    require(!o.availableOnly || o.allCells || o.allIOChassis, "-A without -C or -I");
    require(!o.verbose || o.selectedCells || o.selectedCabinets || o.selectedPartitions, "-V without -c/-b/-p");
    require(!(o.remoteUser && o.remoteMP), "-u with -g");
    require((o.remoteUser || o.remoteMP) == o.hostGiven, "-h exactly with -u or -g");
    require(!(o.remoteMP && o.localPartition), "-g with -w");

    const bool selected = o.selectedCells || o.selectedCabinets || o.selectedIOChassis || o.selectedPartitions;
    require(locationRequestCount >= (selected ? 1 : 0) && locationRequestCount <= maxLocationRequests,
            "location count");
    if (!selected) require(locationRequestCount == 0, "locations without a selection");
    for (int k = 0; k < locationRequestCount; ++k) {
        require(locationRequests[k].found == 1, "handed-over request not found");
        require(std::strlen(locationRequests[k].text) < static_cast<std::size_t>(locationTextCapacity), "text length");
    }
    if (o.remoteUser) require(credentials.userName != nullptr && credentials.password != nullptr, "user credentials");
    if (o.remoteMP) require(credentials.password != nullptr, "IPMI password");
    if (o.hostGiven) {
        require((credentials.hostIpAddress != nullptr) != (credentials.hostName != nullptr), "one host field");
    }
    return 0;
}

void scanAlone(const std::vector<std::string>& words, unsigned char selector) {
    static const char* const optionStrings[] = {":ABCIMPVXswc:i:b:p:u:g:h:", "ABc:", "", ":", "a:b::c", "-:?"};
    const char* optionString = optionStrings[selector % 6];
    Words arguments(words);
    resetOptionScanner();
    opterr = (selector / 6) % 2;
    // Every call moves on by at least one character or one word.
    std::size_t bound = 2 + words.size();
    for (const auto& word : words) bound += word.size();
    std::size_t calls = 0;
    while (getopt(arguments.count(), arguments.data(), optionString) != -1) {
        require(++calls <= bound, "scanner does not end");
        require(optind >= 1 && optind <= arguments.count(), "optind in range");
    }
    require(optind >= 1 && optind <= arguments.count(), "optind in range at the end");
}

void parseEachWord(const std::vector<std::string>& words) {
    for (const auto& word : words) {
        const char* text = word.c_str();
        require(isDigitString(text) == 0 || isDigitString(text) == 1, "isDigitString result");
        if (checkIpAddress(text) == 0) {
            // An accepted address is judged an address by the host check too.
            clearCredentials();
            require(checkHostArgument(text) == 0 && credentials.hostIpAddress != nullptr, "address accepted");
        }
        for (int letter : {'b', 'c', 'i', 'p'}) {
            locationRequestCount = static_cast<std::int32_t>(word.size() % (maxLocationRequests + 2));
            const int result = parseLocationArgument(text, letter);
            if (result == 0) {
                require(locationRequestCount < maxLocationRequests, "accepted beyond the table");
                require(std::strcmp(locationRequests[locationRequestCount].text, text) == 0, "text kept");
            }
        }
        clearCredentials();
        const int split = splitUserArgument(text, 'u');
        require(split == 0 || split == 1 || split == 2, "split result");
        if (split == 0) require(credentials.userName != nullptr && credentials.password != nullptr, "split filled");
        char copy[96];
        safeStrncpy(copy, text, sizeof copy);
        copy[sizeof copy - 1] = '\0';
        require(safeStrlen(copy) <= sizeof copy - 1, "bounded copy");
        require(safeStrcmp(copy, nullptr) == (copy[0] != '\0' ? 1 : 0), "compare with missing text");
    }
    clearCredentials();
}

}  // namespace
}  // namespace cmplxview

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Prompts read standard input and reports would print: neither may block or flood the run.
    if (!std::freopen("/dev/null", "r", stdin) || !std::freopen("/dev/null", "w", stdout)) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > 4096) return 0;
    using namespace cmplxview;
    const unsigned char selector = data[0];
    std::vector<std::string> words = {"cmplxview", ""};
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0) words.emplace_back();
        else words.back().push_back(static_cast<char>(data[i]));
    }
    if (size == 1) words.pop_back();

    {
        Words arguments(words);
        const int status = runCommandLine(arguments.count(), arguments.data(), checkHandOver);
        require(status == 0 || status == 1, "exit status");
    }
    scanAlone(words, selector);
    parseEachWord(words);
    return 0;
}
