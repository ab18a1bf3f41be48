#include "driver/OptionScanner.h"

#include <cstdio>
#include <cstring>

namespace cmplxview {

int optind = 1;
int opterr = 1;
int optopt = 0;
char* optarg = nullptr;

namespace {

// The word that a cluster is being read from, and the position of its next
// option character.  The position is only trusted while `resumeWord` equals
// optind; any other optind starts a fresh word.
int resumeWord = -1;
int resumePosition = 1;

void finishWord() {
    ++optind;
    resumeWord = -1;
}

}  // namespace

void resetOptionScanner() {
    optind = 1;
    opterr = 1;
    optopt = 0;
    optarg = nullptr;
    resumeWord = -1;
    resumePosition = 1;
}

int getopt(int argumentCount, char* const argumentWords[], const char* optionString) {
    optarg = nullptr;
    if (optionString == nullptr || argumentWords == nullptr || optind < 1 || optind >= argumentCount) {
        return -1;
    }
    const char* word = argumentWords[optind];
    if (resumeWord != optind) {
        if (word == nullptr || word[0] != '-' || word[1] == '\0') return -1;
        if (word[1] == '-') {
            // "--" or any longer word starting with two hyphens ends the options
            // and is dropped.
            ++optind;
            return -1;
        }
        resumeWord = optind;
        resumePosition = 1;
    }

    const bool quiet = optionString[0] == ':' || opterr == 0;
    const char option = word[resumePosition++];
    const bool lastInWord = word[resumePosition] == '\0';
    const char* known = (option == ':' || option == '?') ? nullptr : std::strchr(optionString, option);

    if (known == nullptr) {
        optopt = static_cast<unsigned char>(option);
        if (lastInWord) finishWord();
        if (!quiet) std::fprintf(stderr, "invalid option -%c\n", option);
        return '?';
    }

    if (known[1] != ':') {
        if (lastInWord) finishWord();
        return static_cast<unsigned char>(option);
    }

    // The option takes an argument: the rest of this word, or else the whole
    // next word whatever it looks like.
    if (!lastInWord) {
        optarg = const_cast<char*>(word + resumePosition);
        finishWord();
        return static_cast<unsigned char>(option);
    }
    finishWord();
    if (optind < argumentCount && argumentWords[optind] != nullptr) {
        optarg = argumentWords[optind];
        ++optind;
        return static_cast<unsigned char>(option);
    }
    optopt = static_cast<unsigned char>(option);
    if (!quiet) std::fprintf(stderr, "option -%c missing required argument\n", option);
    return optionString[0] == ':' ? ':' : '?';
}

}  // namespace cmplxview
