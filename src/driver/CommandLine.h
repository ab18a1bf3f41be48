// The entry of the program: process start-up, the option scan and its rules,
// the outcome, and the hand-over of a valid command line to the reports.
#pragma once

#include <csignal>
#include <functional>

#include "driver/Arguments.h"
#include "driver/CommandOptions.h"

namespace cmplxview {

// The options the scanner is asked for; the leading ':' makes the scanner
// silent so that the driver reports every problem itself.
inline constexpr const char* optionString = ":ABCIMPVXswc:i:b:p:u:g:h:";

// Shown on standard error after "Error: Wrong usage.".
extern const char usageText[];

// Receives the validated options; returns 0 for success.
using ReportRunner = std::function<int(CommandOptions)>;

// Puts the default message-catalogue path into the environment when NLSPATH
// is not set.
void applyNlsPathDefault();

// Installs the signal handlers: SIGINT and SIGTERM raise receivedSignal, the
// others print their message and end the process.  Returns 0, or 1 after
// printing why not.
int installSignalHandlers();

// Scans and checks the command line, parses location, host and user
// arguments, prompts for a missing password and then calls `reportRunner`.
// Returns the exit status: 0, or 1 for every failure.  The password
// characters in `argumentWords` are overwritten once they have been copied.
// Resets all scanner, location and credential state first, so it may be
// called more than once in a process.
int runCommandLine(int argumentCount, char** argumentWords, const ReportRunner& reportRunner);

// Start-up followed by runCommandLine and the release of the connection:
// what main does.  A SIGINT or SIGTERM ends the run at its next safe point
// with the signal's message and status 1.
int runProgram(int argumentCount, char** argumentWords, const ReportRunner& reportRunner);

}  // namespace cmplxview
