// The program's own option scanner: POSIX getopt without argument permutation.
//
// The scanner keeps its state in process-wide variables named as in POSIX
// (inside this namespace, so they never mix with the C library's), plus a
// private resume position inside the current word so that a cluster such as
// -CAM yields C, A and M one by one.
#pragma once

namespace cmplxview {

// Index of the next argument word; starts at 1.  The caller may move it (the
// driver steps it back by one to rescan a word).
extern int optind;
// When not 0 and the option string does not begin with ':', the scanner
// prints its own diagnostics.  Starts at 1.
extern int opterr;
// The option character last examined.
extern int optopt;
// The argument of the last option that takes one.
extern char* optarg;

// Returns the next option character, '?' for a character that is not an
// option, ':' (or '?' when `optionString` does not begin with ':') for an
// option whose argument is missing, and -1 when the options end.
int getopt(int argumentCount, char* const argumentWords[], const char* optionString);

// Puts the scanner back in its start state (optind 1, opterr 1, no resume
// position), so that another argument vector can be scanned in the same process.
void resetOptionScanner();

}  // namespace cmplxview
