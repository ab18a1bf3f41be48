#include "driver/CommandLine.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include <signal.h>
#include <string.h>
#include <unistd.h>

#include "cim/Client.h"
#include "cim/Secret.h"
#include "connection/ProviderConnection.h"
#include "driver/Arguments.h"
#include "driver/OptionScanner.h"
#include "driver/StandardStreams.h"

namespace cmplxview {

const char usageText[] =
    "Usage:\n"
    " cmplxview \n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -s\n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -w \n"
    "         [ -u username:[passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -X \n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -C|-I [-A] [-M]\n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -B|-P [-M]\n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -i I/Ochassis [-i...] [-M]\n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -c cell [-c...] [-V|M]\n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -b cabinet [-b...] [-V|M]\n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -p Partition Number [-p...] [-V|M]\n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n";

namespace {

char nlsPathDefault[] = "NLSPATH=/usr/lib/nls/msg/%L/%N:/usr/lib/nls/msg/C/%N";

// Writes "Internal Error: Received signal N." with async-signal-safe calls
// only: the handler of the signals after which nothing can go on uses it too.
void writeSignalMessage(int signalNumber) {
    char message[64] = "Internal Error: Received signal ";
    std::size_t length = std::strlen(message);
    char digits[12];
    int digitCount = 0;
    unsigned value = signalNumber < 0 ? 0u : static_cast<unsigned>(signalNumber);
    do {
        digits[digitCount++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (digitCount > 0) message[length++] = digits[--digitCount];
    message[length++] = '.';
    message[length++] = '\n';
    const ssize_t written = write(STDERR_FILENO, message, length);
    static_cast<void>(written);
}

// SIGINT and SIGTERM: only the flag. The run sees it at its next safe point
// (a wait on the network, the password prompt, the end of the run) and ends
// there on its main path, so the release of the connection never runs
// inside a call the signal interrupted.
void raiseStopFlag(int signalNumber) { receivedSignal = signalNumber; }

// SIGSEGV, SIGFPE, SIGILL, SIGABRT: the process cannot go on, and nothing
// but async-signal-safe calls is sure to work. The terminal gets its echo
// back, the message is written, and the process ends at once: the exit-time
// release (which allocates and talks to the provider) does not run.
void handleFatalSignal(int signalNumber) {
    restoreConsoleEcho();
    writeSignalMessage(signalNumber);
    _exit(1);
}

// The end of every run: a raised stop flag turns it into the signal's
// message and status 1. The connection is released first (the -g instance
// deleted), by requests the flag no longer cuts short; from the check on,
// SIGINT and SIGTERM are held, for the run is over.
int finishRun(int status) {
    cim::watchInterruptFlag(nullptr);
    releaseConnection();
    const sigset_t held = stopSignals();
    sigprocmask(SIG_BLOCK, &held, nullptr);
    if (receivedSignal == 0) return status;
    restoreConsoleEcho();
    writeSignalMessage(receivedSignal);
    return 1;
}

// What the scan learns besides the option flags.
struct ScanState {
    bool usageError = false;     // a rule was broken; the usage text follows
    bool argumentError = false;  // an option argument was malformed; no usage text
    int lastBackupOptind = 0;    // optind recorded at the last back-up
    bool userTextKept = false;
    cim::Secret userText;  // private copy of the -u argument
    // Password-bearing arguments inside the argument words, to be
    // overwritten after the scan; `second` is true for a -u argument.
    std::vector<std::pair<char*, bool>> secretsInArguments;
};

bool beginsWithHyphen(const char* text) { return text != nullptr && text[0] == '-'; }

bool any(std::initializer_list<bool> flags) {
    for (bool flag : flags) {
        if (flag) return true;
    }
    return false;
}

bool* flagFor(CommandOptions& options, int letter) {
    switch (letter) {
        case 'X': return &options.showComplex;
        case 'A': return &options.availableOnly;
        case 'V': return &options.verbose;
        case 'M': return &options.machineReadable;
        case 'C': return &options.allCells;
        case 'B': return &options.allCabinets;
        case 'I': return &options.allIOChassis;
        case 'P': return &options.allPartitions;
        case 'c': return &options.selectedCells;
        case 'b': return &options.selectedCabinets;
        case 'i': return &options.selectedIOChassis;
        case 'p': return &options.selectedPartitions;
        case 's': return &options.platformCheck;
        case 'w': return &options.localPartition;
        case 'u': return &options.remoteUser;
        case 'g': return &options.remoteMP;
        case 'h': return &options.hostGiven;
        default: return nullptr;
    }
}

void reportRepeat(int letter, ScanState& scan) {
    std::fprintf(stderr, "Error: Option -%c may only be specified once per command.\n", letter);
    scan.usageError = true;
}

void reportMissingArgument(int letter) { std::fprintf(stderr, "Error: Option -%c requires an argument.\n", letter); }

// An option that needs an argument got a word beginning with '-': that word
// is scanned again as an option.  When optind is the one recorded at the last
// back-up (an argument glued to its option points back at the same word),
// there is no second back-up, so the scan always moves on.
void backUp(int letter, ScanState& scan) {
    if (optind != scan.lastBackupOptind) {
        scan.lastBackupOptind = optind;
        --optind;
        reportMissingArgument(letter);
    }
    scan.usageError = true;
}

// A number of 32 bits at most, read as the C library reads an unsigned
// decimal number (leading blanks and a sign are accepted and stop nothing).
bool fitsIn32Bits(const char* text) {
    errno = 0;
    const unsigned long long value = std::strtoull(text, nullptr, 10);
    return errno != ERANGE && value <= 0xFFFFFFFFull;
}

void handleLocationOption(int letter, CommandOptions& options, ScanState& scan) {
    *flagFor(options, letter) = true;
    if (beginsWithHyphen(optarg)) {
        backUp(letter, scan);
    } else if (!fitsIn32Bits(optarg)) {
        reportInvalidLocation(letter, optarg);
        scan.argumentError = true;
    } else if (parseLocationArgument(optarg, letter) != 0) {
        scan.argumentError = true;
    } else {
        ++locationRequestCount;
    }
}

void handleOption(int result, CommandOptions& options, ScanState& scan) {
    switch (result) {
        case 'A': case 'B': case 'C': case 'I': case 'P': case 'X': case 's': case 'w': {
            bool* flag = flagFor(options, result);
            if (*flag) {
                reportRepeat(result, scan);
            } else {
                *flag = true;
            }
            break;
        }
        case 'M':
        case 'V': {
            bool& own = result == 'M' ? options.machineReadable : options.verbose;
            const bool other = result == 'M' ? options.verbose : options.machineReadable;
            if (own) {
                reportRepeat(result, scan);
            } else if (other) {
                std::fprintf(stderr, "Error: Options -%c and -%c are mutually exclusive.\n", 'V', 'M');
                scan.usageError = true;
            } else {
                own = true;
            }
            break;
        }
        case 'b': case 'c': case 'i': case 'p':
            handleLocationOption(result, options, scan);
            break;
        case 'g':
            if (beginsWithHyphen(optarg)) {
                // No password: the word is the next option.  Silent, and not an error.
                if (optind != scan.lastBackupOptind) {
                    scan.lastBackupOptind = optind;
                    --optind;
                }
            } else {
                char* copy = strdup(optarg);
                if (copy == nullptr) {
                    std::fprintf(stderr, "Internal error, %s: %s\n", "malloc", std::strerror(errno));
                    scan.argumentError = true;
                } else {
                    if (credentials.password != nullptr) explicit_bzero(credentials.password, std::strlen(credentials.password));
                    std::free(credentials.password);
                    credentials.password = copy;
                }
                scan.secretsInArguments.emplace_back(optarg, false);
            }
            if (options.remoteMP) {
                reportRepeat('g', scan);
            } else {
                options.remoteMP = true;
            }
            break;
        case 'h':
        case 'u': {
            bool& flag = *flagFor(options, result);
            if (!beginsWithHyphen(optarg) && result == 'u') scan.secretsInArguments.emplace_back(optarg, true);
            if (flag) {
                reportRepeat(result, scan);
                if (beginsWithHyphen(optarg)) {
                    backUp(result, scan);
                } else {
                    scan.usageError = true;
                }
                break;
            }
            flag = true;
            if (beginsWithHyphen(optarg)) {
                backUp(result, scan);
            } else if (result == 'h') {
                if (checkHostArgument(optarg) != 0) scan.argumentError = true;
            } else {
                scan.userText = optarg;
                scan.userTextKept = true;
            }
            break;
        }
        case ':': {
            const int letter = optopt;
            if (letter == 'b' || letter == 'c' || letter == 'i' || letter == 'p') {
                *flagFor(options, letter) = true;
            } else if (letter == 'g' || letter == 'h' || letter == 'u') {
                bool& flag = *flagFor(options, letter);
                if (flag) {
                    reportRepeat(letter, scan);
                } else {
                    flag = true;
                }
            }
            if (letter != 'g') {
                reportMissingArgument(letter);
                scan.usageError = true;
            }
            break;
        }
        default:  // '?': a character that is not an option
            std::fprintf(stderr, "Error: Invalid option -%c.\n", result == '?' ? optopt : result);
            scan.usageError = true;
            break;
    }
}

// Overwrites the passwords given on the command line in the argument words
// themselves, so that other users cannot read them from the process list.
// The driver works from its private copies only.
void hidePasswordsInArguments(const ScanState& scan) {
    for (const auto& [text, isUserArgument] : scan.secretsInArguments) {
        char* secret = isUserArgument ? std::strchr(text, ':') : text;
        if (secret == nullptr) continue;
        if (isUserArgument) ++secret;
        std::memset(secret, 'x', std::strlen(secret));
    }
}

void checkConnectionRules(const CommandOptions& o, ScanState& scan) {
    if (o.hostGiven && !o.remoteUser && !o.remoteMP) {
        std::fputs("Error: The -h option is only valid when used with either the -u or -g option.\n", stderr);
        scan.usageError = true;
    }
    if ((o.remoteUser || o.remoteMP) && !o.hostGiven) {
        std::fputs("Error: The -h option is required when the -u or -g option is specified.\n", stderr);
        scan.usageError = true;
    }
    if (o.remoteMP && o.remoteUser) {
        std::fputs("Error: Options -u and -g are mutually exclusive.\n", stderr);
        scan.usageError = true;
    }
    if (o.remoteMP && o.localPartition) {
        // Deliberately without a final line break: "Error: Wrong usage." continues this line.
        std::fputs("Error: Options -g and -w are mutually exclusive.\n"
                   "There is never a \"local partition\" when obtaining data remotely through the MP.",
                   stderr);
        scan.usageError = true;
    }
}

// True when the action options form one of the accepted sets.
bool actionRulesHold(const CommandOptions& o) {
    const bool A = o.availableOnly, B = o.allCabinets, C = o.allCells, I = o.allIOChassis, M = o.machineReadable,
               P = o.allPartitions, V = o.verbose, X = o.showComplex, s = o.platformCheck, w = o.localPartition,
               c = o.selectedCells, b = o.selectedCabinets, i = o.selectedIOChassis, p = o.selectedPartitions;
    const bool broken[] = {
        s && any({A, B, C, I, M, P, V, X, w, c, b, i, p}),
        w && any({A, B, C, I, M, P, V, X, c, b, i, p}),
        X && any({A, B, C, I, M, P, V, c, b, i, p}),
        M && !any({C, I, B, P, c, b, i, p}),
        A && !any({C, I}),
        V && !any({c, b, p}),
        A && any({B, P, c, b, i, p, V}),
        C && any({I, B, P, c, b, i, p, V}),
        I && any({B, P, c, b, i, p, V}),
        B && any({P, c, b, i, p, V}),
        P && any({c, b, i, p, V}),
        i && any({c, b, p, V}),
        (c && b) || (c && p) || (b && p),
    };
    for (bool rule : broken) {
        if (rule) return false;
    }
    return true;
}

bool noActionGiven(const CommandOptions& o) {
    return !any({o.availableOnly, o.allCabinets, o.allCells, o.allIOChassis, o.machineReadable, o.allPartitions,
                 o.verbose, o.showComplex, o.selectedCells, o.selectedCabinets, o.selectedIOChassis,
                 o.selectedPartitions, o.platformCheck, o.localPartition});
}

int reportWrongUsage() {
    std::fputs("Error: Wrong usage.\n", stderr);
    std::fputs(usageText, stderr);
    return 1;
}

}  // namespace

void applyNlsPathDefault() {
    if (std::getenv("NLSPATH") == nullptr) putenv(nlsPathDefault);
}

int installSignalHandlers() {
    for (int signalNumber : {SIGABRT, SIGINT, SIGTERM, SIGFPE, SIGILL, SIGSEGV}) {
        // No SA_RESTART: a blocking call that SIGINT or SIGTERM interrupts
        // returns, so that its caller looks at the flag.
        struct sigaction action {};
        action.sa_handler = signalNumber == SIGINT || signalNumber == SIGTERM ? raiseStopFlag : handleFatalSignal;
        sigemptyset(&action.sa_mask);
        if (sigaction(signalNumber, &action, nullptr) != 0) {
            std::fputs("Error: Could not arm signal handling.\n", stderr);
            return 1;
        }
    }
    return 0;
}

int runCommandLine(int argumentCount, char** argumentWords, const ReportRunner& reportRunner) {
    CommandOptions options = {};
    ScanState scan;
    resetOptionScanner();
    locationRequestCount = 0;
    clearCredentials();

    for (int result; (result = getopt(argumentCount, argumentWords, optionString)) != -1;) {
        handleOption(result, options, scan);
    }
    hidePasswordsInArguments(scan);

    if (optind < argumentCount) {
        const char* word = argumentWords[optind];
        std::fprintf(stderr, "Error: Missing hyphen(-) or missing option for %s.\n", word != nullptr ? word : "");
        scan.usageError = true;
    }
    checkConnectionRules(options, scan);
    if (!actionRulesHold(options)) scan.usageError = true;

    if (scan.usageError) return reportWrongUsage();
    if (scan.argumentError) return 1;

    if (options.remoteMP && credentials.password == nullptr) {
        credentials.password = promptForPassword('g');
        if (credentials.password == nullptr) return 1;
    }
    if (options.remoteUser) {
        const int split = splitUserArgument(scan.userTextKept ? scan.userText.c_str() : nullptr, 'u');
        // The credentials have their own copies now: the scan's copy of the
        // password would otherwise stay in memory for the whole run.
        scan.userText.clear();
        if (split == 2) return reportWrongUsage();
        if (split != 0) return 1;
    }

    if (noActionGiven(options)) {
        options.displayAll = true;
        std::fprintf(stderr, "Note: No action specified. Default behaviour is %s.\n", "display all");
    }
    return reportRunner(options) == 0 ? 0 : 1;
}

int runProgram(int argumentCount, char** argumentWords, const ReportRunner& reportRunner) {
    prepareStandardStreams();
    applyNlsPathDefault();
    if (installSignalHandlers() != 0) return 1;
    cim::watchInterruptFlag(&receivedSignal);
    int status = 1;
    try {
        status = runCommandLine(argumentCount, argumentWords, reportRunner);
    } catch (const cim::Interrupted&) {
        // A request cut short by the flag: finishRun reports the signal.
    }
    status = finishRun(status);
    return finishStandardOutput() == 0 ? status : 1;
}

}  // namespace cmplxview
