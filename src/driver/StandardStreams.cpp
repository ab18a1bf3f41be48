#include "driver/StandardStreams.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace cmplxview {

namespace {

// Why output failed when the write that failed is long past (its errno is
// gone and nothing was left to flush at the end): a pipe or socket whose
// reader left reports an error condition; a closed or full device refuses
// even an empty write.
int reasonOfEarlierFailure() {
    pollfd out{STDOUT_FILENO, POLLOUT, 0};
    if (poll(&out, 1, 0) == 1 && (out.revents & POLLERR) != 0) return EPIPE;
    if (write(STDOUT_FILENO, "", 0) < 0) return errno;
    return 0;
}

}  // namespace

void prepareStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number is taken, which is fd itself: the ones
        // below it are open by now. Opened for reading only, so writes to a
        // held standard output fail with EBADF as they would unheld.
        const int held = open("/dev/null", O_RDONLY);
        if (held >= 0 && held != fd) close(held);
    }
    std::signal(SIGPIPE, SIG_IGN);
}

int finishStandardOutput() {
    errno = 0;
    const bool failedEarlier = std::ferror(stdout) != 0;
    int reason = std::fflush(stdout) == 0 ? 0 : errno;
    if (!failedEarlier && reason == 0) {
        // Some file systems report a failed write only when the file is closed.
        const int copy = dup(STDOUT_FILENO);
        if (copy < 0 || close(copy) == 0) return 0;
        reason = errno;
    }
    if (reason == 0) reason = reasonOfEarlierFailure();
    if (reason == EPIPE) return 1;
    if (reason == 0) {
        std::fputs("Error: Could not write standard output.\n", stderr);
    } else {
        std::fprintf(stderr, "Error: Could not write standard output: %s.\n", std::strerror(reason));
    }
    return 1;
}

}  // namespace cmplxview
