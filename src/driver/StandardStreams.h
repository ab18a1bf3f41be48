// Standard output is a file like any other and can fail: a full disk, a
// closed descriptor, a reader that went away. The run's status says so.
#pragma once

namespace cmplxview {

// Call first thing. Holds descriptors 0, 1 and 2 when the program was started
// with one of them closed, so that no socket or file opened later takes the
// number and receives report output or messages; a held standard output or
// error refuses writes as a closed one would. Ignores SIGPIPE: a reader that
// goes away must not end the run before the connection is released (the -g
// instance deleted); the failed write is noticed at the end instead.
void prepareStandardStreams();

// Call when the reports are done. Flushes standard output and checks that
// everything written reached it. Returns 0 when it did; otherwise 1, after
// "Error: Could not write standard output: <reason>." on standard error,
// except when the reader went away (EPIPE), which ends the run quietly.
int finishStandardOutput();

}  // namespace cmplxview
