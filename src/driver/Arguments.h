// Option arguments turned into process-wide data: the table of requested
// hardware locations (-b, -c, -i, -p) and the credentials (-h, -u, -g and the
// password prompts).
#pragma once

#include <csignal>
#include <cstdint>

namespace cmplxview {

// Number meaning "not given" or "not resolved yet" in a location request.
inline constexpr std::uint32_t notGiven = 255;
inline constexpr int maxLocationRequests = 64;
// Capacity of LocationRequest::text including its terminating zero.
inline constexpr int locationTextCapacity = 80;
// Longest password kept from a prompt; the rest of the line is discarded.
inline constexpr int passwordCapacity = 80;

// One location argument, in command-line order.
struct LocationRequest {
    std::uint32_t found;  // 1 once parsed; cleared later when the object cannot be fetched
    char text[locationTextCapacity];  // the argument as typed
    std::uint32_t cabinetNumber;
    std::uint32_t slotNumber;         // cell slot in the cabinet (cabinet/slot form)
    std::uint32_t cellNumber;         // global cell number (plain form)
    std::uint32_t bayNumber;          // I/O bay in the cabinet
    std::uint32_t chassisSlotNumber;  // I/O chassis position in the bay
    std::uint32_t partitionId;
    std::uint32_t uniqueId;  // provider's object number, the key "ID" of slot instances
};

extern LocationRequest locationRequests[maxLocationRequests];
// Number of filled records; the record being parsed is the one at this index.
extern std::int32_t locationRequestCount;

// Connection credentials.  Every field is null until set and, when set,
// points to a private heap copy (malloc) that clearCredentials() releases.
struct Credentials {
    char* userArgument;   // the whole -u text, trailing blanks removed
    char* userName;       // the part of the -u text before ':'
    char* password;       // from -u, from -g or from a prompt
    char* hostIpAddress;  // the -h text when it is an address
    char* hostName;       // the -h text when it is a host name
};

extern Credentials credentials;

// Wipes the password and user argument, frees every field and sets them null.
void clearCredentials();

// Wipes and frees the password and the -u text that carries it, once the
// connection has been opened (or has failed) and no longer needs them.
void forgetPassword();

// Parses the location argument for option `letter` ('b', 'c', 'i' or 'p')
// into locationRequests[locationRequestCount].  Returns 0 when accepted, 1
// when rejected (the reason is printed on standard error).  The caller
// increments locationRequestCount after an acceptance.
int parseLocationArgument(const char* text, int letter);

// Prints the "Invalid ... number" message of option `letter` for `text`.
void reportInvalidLocation(int letter, const char* text);

// 0 when `text` consists of decimal digits only (the empty text included), 1 otherwise.
int isDigitString(const char* text);

// Classifies the -h text as a host name or an address and stores it in
// `credentials`.  0 accepted, 1 rejected (message printed).
int checkHostArgument(const char* text);

// Results of checkIpAddress; only ipv4Address is an acceptance.
enum IpAddressCheck : int {
    ipv4Address = 0,
    notAnAddress = 1,  // empty, no '.' or ':', or a '.' at either end
    ipv6Form = 2,      // contains ':'; such forms are never accepted
    badDots = 3,       // not exactly three '.', or two of them adjacent
    badCharacter = 4,  // a character that is neither '.' nor a hexadecimal digit
    groupTooLarge = 5  // a group's decimal value is above 255
};
int checkIpAddress(const char* text);

// Splits the -u text "name:password" into `credentials`, prompting for the
// password when the part after ':' is empty.  0 done, 1 failure (reported),
// 2 bad format (reported; the caller adds the usage text).
int splitUserArgument(const char* text, int letter);

// Asks for the password of the -u user ('u') or the IPMI password ('g').
// Returns a malloc'd text of at most 80 characters owned by the caller, or
// null after a failure that has been reported.
char* promptForPassword(int letter);

// Reads one line from standard input into `buffer` (which holds `capacity`
// characters plus the terminating zero) without echo.  On a terminal, echo is
// switched off and `prompt` is printed first; otherwise no prompt is shown.
// Returns `successValue`, or `failureValue` (console-mode failures are
// printed on standard output with `errorFormat`).
int readLineNoEcho(const char* prompt, char* buffer, int capacity, const char* errorFormat, int failureValue,
                   int successValue);

// The number of the SIGINT or SIGTERM received, 0 before one comes. The
// program's handlers raise it; readLineNoEcho stops waiting when it is set.
extern volatile std::sig_atomic_t receivedSignal;
// SIGINT and SIGTERM: the signals that raise it, as a set to hold or let in.
sigset_t stopSignals();

// Puts back the terminal mode saved by readLineNoEcho if echo is still
// switched off.  Async-signal-safe: the fatal-signal handler calls it.
void restoreConsoleEcho();

}  // namespace cmplxview
