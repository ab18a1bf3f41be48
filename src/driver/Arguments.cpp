#include "driver/Arguments.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include "driver/SafeString.h"

namespace cmplxview {

volatile std::sig_atomic_t receivedSignal = 0;

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

LocationRequest locationRequests[maxLocationRequests];
std::int32_t locationRequestCount = 0;
Credentials credentials = {};

namespace {

constexpr const char* mallocErrorFormat = "Internal error, %s: %s\n";

void reportMallocFailure(int error) { std::fprintf(stderr, mallocErrorFormat, "malloc", std::strerror(error)); }

void releaseField(char*& field, bool secret) {
    if (field != nullptr && secret) explicit_bzero(field, std::strlen(field));
    std::free(field);
    field = nullptr;
}

// Replaces `field` with a private copy of `text`; false when out of memory.
bool storeCopy(char*& field, const char* text, bool secret) {
    char* copy = strdup(text != nullptr ? text : "");
    if (copy == nullptr) return false;
    releaseField(field, secret);
    field = copy;
    return true;
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Converts a part of a location argument: decimal digits only (leading zeros
// allowed) and a value that fits in 32 bits.  The scan already refuses a
// first number that is too large; refusing it in every part means that no
// number is ever cut silently.
bool readNumber(const char* part, std::uint32_t& value) {
    if (isDigitString(part) != 0) return false;
    std::uint64_t result = 0;
    for (const char* p = part; *p != '\0'; ++p) {
        result = result * 10 + static_cast<std::uint64_t>(*p - '0');
        if (result > UINT32_MAX) return false;
    }
    value = static_cast<std::uint32_t>(result);
    return true;
}

std::size_t countOf(const char* text, char wanted) {
    std::size_t count = 0;
    for (const char* p = text; *p != '\0'; ++p) count += (*p == wanted);
    return count;
}

// Splits `text` on '/' with the tokenizer, which skips empty parts, and
// converts exactly `partCount` numbers; any missing or extra part fails.
bool readNumberParts(const char* text, std::uint32_t* numbers[], int partCount) {
    char copy[locationTextCapacity];
    safeStrncpy(copy, text, sizeof copy);
    copy[sizeof copy - 1] = '\0';
    char* state = nullptr;
    char* part = strtok_r(copy, "/", &state);
    for (int i = 0; i < partCount; ++i) {
        if (part == nullptr || !readNumber(part, *numbers[i])) return false;
        part = strtok_r(nullptr, "/", &state);
    }
    return part == nullptr;
}

void resetRequest(LocationRequest& request) {
    request.found = 0;
    request.text[0] = '\0';
    request.cabinetNumber = notGiven;
    request.slotNumber = notGiven;
    request.cellNumber = notGiven;
    request.bayNumber = notGiven;
    request.chassisSlotNumber = notGiven;
    request.partitionId = notGiven;
    request.uniqueId = notGiven;
}

bool parseInto(LocationRequest& request, int letter) {
    const char* text = request.text;
    switch (letter) {
        case 'b':
            if (!readNumber(text, request.cabinetNumber)) return false;
            request.uniqueId = request.cabinetNumber;
            return true;
        case 'c': {
            const std::size_t slashes = countOf(text, '/');
            if (slashes == 0) {
                if (!readNumber(text, request.cellNumber)) return false;
                request.uniqueId = request.cellNumber;
                return true;
            }
            std::uint32_t* parts[] = {&request.cabinetNumber, &request.slotNumber};
            return slashes == 1 && readNumberParts(text, parts, 2);
        }
        case 'i': {
            std::uint32_t* parts[] = {&request.cabinetNumber, &request.bayNumber, &request.chassisSlotNumber};
            return countOf(text, '/') == 2 && readNumberParts(text, parts, 3);
        }
        case 'p':
            return readNumber(text, request.partitionId);
        default:
            return false;
    }
}

// Terminal state saved while echo is switched off for a password prompt.
struct termios savedConsoleMode;
volatile std::sig_atomic_t consoleEchoOff = 0;
bool restoreRegistered = false;

void restoreConsoleAtExit() { restoreConsoleEcho(); }

void writeAll(int descriptor, const char* text) {
    for (std::size_t left = std::strlen(text); left > 0;) {
        const ssize_t written = write(descriptor, text, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text += written;
        left -= static_cast<std::size_t>(written);
    }
}

}  // namespace

void clearCredentials() {
    releaseField(credentials.userArgument, true);
    releaseField(credentials.userName, false);
    releaseField(credentials.password, true);
    releaseField(credentials.hostIpAddress, false);
    releaseField(credentials.hostName, false);
}

void forgetPassword() {
    releaseField(credentials.userArgument, true);
    releaseField(credentials.password, true);
}

void reportInvalidLocation(int letter, const char* text) {
    const char* format = "Error: Invalid location argument -%c %s.\n";
    switch (letter) {
        case 'b': format = "Error: Invalid cabinet number %s.\n"; break;
        case 'c': format = "Error: Invalid cell number %s.\n"; break;
        case 'i': format = "Error: Invalid I/O chassis number %s.\n"; break;
        case 'p': format = "Error: Invalid partition number %s.\n"; break;
        default:
            std::fprintf(stderr, format, letter, text != nullptr ? text : "");
            return;
    }
    std::fprintf(stderr, format, text != nullptr ? text : "");
}

int parseLocationArgument(const char* text, int letter) {
    // The table has a fixed size and each text a fixed capacity; anything
    // beyond them is refused with its own message rather than cut or written
    // past the table.
    if (locationRequestCount < 0 || locationRequestCount >= maxLocationRequests) {
        std::fprintf(stderr, "Error: More than %d location arguments; -%c %s is not accepted.\n",
                     maxLocationRequests, letter, text != nullptr ? text : "");
        return 1;
    }
    LocationRequest& request = locationRequests[locationRequestCount];
    resetRequest(request);
    if (safeStrlen(text) >= static_cast<std::size_t>(locationTextCapacity)) {
        std::fprintf(stderr, "Error: Location argument -%c %s is longer than %d characters.\n", letter, text,
                     locationTextCapacity - 1);
        return 1;
    }
    safeStrcpy(request.text, text);
    if (!parseInto(request, letter)) {
        reportInvalidLocation(letter, request.text);
        return 1;
    }
    request.found = 1;
    return 0;
}

int isDigitString(const char* text) {
    if (text == nullptr) return 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return 1;
    }
    return 0;
}

int checkIpAddress(const char* text) {
    const std::size_t length = safeStrlen(text);
    if (length == 0 || (safeStrchr(text, '.') == nullptr && safeStrchr(text, ':') == nullptr) || text[0] == '.' ||
        text[length - 1] == '.') {
        return notAnAddress;
    }
    if (std::strchr(text, ':') != nullptr) return ipv6Form;
    if (countOf(text, '.') != 3 || std::strstr(text, "..") != nullptr) return badDots;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p != '.' && !isHexDigit(*p)) return badCharacter;
    }
    // Each group counts by its leading decimal digits (none: 0).
    for (const char* group = text; group != nullptr;) {
        unsigned value = 0;
        for (const char* p = group; *p >= '0' && *p <= '9'; ++p) {
            value = value * 10 + static_cast<unsigned>(*p - '0');
            if (value > 255) return groupTooLarge;
        }
        group = std::strchr(group, '.');
        if (group != nullptr) ++group;
    }
    return ipv4Address;
}

int checkHostArgument(const char* text) {
    bool hostName = false;
    for (const char* p = text; p != nullptr && *p != '\0'; ++p) {
        if (!isHexDigit(*p) && *p != '.' && *p != ':') hostName = true;
    }
    if (hostName) {
        if (!storeCopy(credentials.hostName, text, false)) {
            reportMallocFailure(errno);
            return 1;
        }
        return 0;
    }
    if (checkIpAddress(text) != ipv4Address) {
        std::fprintf(stderr, "Error: Invalid IP address: %s\n", text != nullptr ? text : "");
        return 1;
    }
    if (!storeCopy(credentials.hostIpAddress, text, false)) {
        reportMallocFailure(errno);
        return 1;
    }
    return 0;
}

int splitUserArgument(const char* text, int letter) {
    const std::size_t length = safeStrlen(text);
    if (length == 0 || text[0] == ':' || countOf(text, ':') != 1) {
        std::fprintf(stderr, "Error: Invalid format for -%c option.\n", letter);
        return 2;
    }
    if (!storeCopy(credentials.userArgument, text, true)) {
        reportMallocFailure(errno);
        return 1;
    }
    char* colon = std::strchr(credentials.userArgument, ':');
    char* name = strndup(credentials.userArgument, static_cast<std::size_t>(colon - credentials.userArgument));
    if (name == nullptr) {
        reportMallocFailure(errno);
        return 1;
    }
    releaseField(credentials.userName, false);
    credentials.userName = name;

    // Trailing blanks belong to no password: strip them from the end of the text.
    for (std::size_t end = std::strlen(credentials.userArgument);
         end > 0 && (credentials.userArgument[end - 1] == ' ' || credentials.userArgument[end - 1] == '\t'); --end) {
        credentials.userArgument[end - 1] = '\0';
    }

    releaseField(credentials.password, true);
    const char* typed = colon + 1;
    if (*typed != '\0') {
        if (!storeCopy(credentials.password, typed, true)) {
            reportMallocFailure(errno);
            return 1;
        }
        return 0;
    }
    credentials.password = promptForPassword('u');
    return credentials.password == nullptr ? 1 : 0;
}

char* promptForPassword(int letter) {
    char* prompt = nullptr;
    if (letter == 'u') {
        const char* format = "Please enter the password for user %s:  ";
        const char* user = credentials.userName != nullptr ? credentials.userName : "";
        const int size = std::snprintf(nullptr, 0, format, user) + 1;
        prompt = static_cast<char*>(std::malloc(static_cast<std::size_t>(size)));
        if (prompt != nullptr) std::snprintf(prompt, static_cast<std::size_t>(size), format, user);
    } else {
        prompt = strdup("Please enter the IPMI password:  ");
    }
    const int promptError = errno;
    char* answer = static_cast<char*>(std::malloc(passwordCapacity + 1));
    if (prompt == nullptr || answer == nullptr) {
        reportMallocFailure(prompt == nullptr ? promptError : errno);
        std::free(prompt);
        std::free(answer);
        return nullptr;
    }
    const int result = readLineNoEcho(prompt, answer, passwordCapacity, mallocErrorFormat, 1, 0);
    std::free(prompt);
    if (result != 0) {
        explicit_bzero(answer, passwordCapacity + 1);
        std::free(answer);
        return nullptr;
    }
    return answer;
}

int readLineNoEcho(const char* prompt, char* buffer, int capacity, const char* errorFormat, int failureValue,
                   int successValue) {
    if (prompt == nullptr || buffer == nullptr || capacity < 0) return failureValue;
    if (errorFormat == nullptr) errorFormat = mallocErrorFormat;
    if (fcntl(STDIN_FILENO, F_GETFL) == -1) return failureValue;  // no standard input at all

    struct termios mode;
    const bool console = tcgetattr(STDIN_FILENO, &mode) == 0;
    if (console) {
        savedConsoleMode = mode;
        if (!restoreRegistered) {
            // The process may end while the prompt waits (an exit from
            // elsewhere); the terminal must not stay silent afterwards.
            std::atexit(restoreConsoleAtExit);
            restoreRegistered = true;
        }
        struct termios silent = mode;
        silent.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK | ECHONL));
        consoleEchoOff = 1;
        if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent) != 0) {
            consoleEchoOff = 0;
            std::printf(errorFormat, "SetConsoleMode", "Cannot set console mode.");
            std::fflush(stdout);
            return failureValue;
        }
        // The prompt bypasses the stdio buffer: it is on the terminal while
        // the read waits, and never written a second time by a later flush.
        std::fflush(stdout);
        writeAll(STDOUT_FILENO, prompt);
    }

    // SIGINT or SIGTERM ends the wait, and the run with the signal's message.
    // They are held except inside ppoll, so that one that comes just before
    // the wait is not missed.
    const sigset_t held = stopSignals();
    sigset_t waitingMask;
    sigprocmask(SIG_BLOCK, &held, &waitingMask);
    int stored = 0;
    bool stopped = false;
    for (;;) {
        if ((stopped = receivedSignal != 0)) break;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (ppoll(&input, 1, nullptr, &waitingMask) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        char c;
        const ssize_t got = read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || c == '\n' || c == '\r') break;
        if (stored < capacity) buffer[stored++] = c;
    }
    sigprocmask(SIG_SETMASK, &waitingMask, nullptr);
    buffer[stored] = '\0';

    if (console) {
        if (!stopped) writeAll(STDOUT_FILENO, "\n");
        const int restored = tcsetattr(STDIN_FILENO, TCSANOW, &savedConsoleMode);
        consoleEchoOff = 0;
        if (restored != 0) {
            std::printf(errorFormat, "SetConsoleMode", "Cannot restore console mode.");
            std::fflush(stdout);
            return failureValue;
        }
    }
    return stopped ? failureValue : successValue;
}

void restoreConsoleEcho() {
    if (consoleEchoOff != 0) {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedConsoleMode);
        consoleEchoOff = 0;
    }
}

}  // namespace cmplxview
