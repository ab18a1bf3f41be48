#include <malloc.h>

#include "driver/CommandLine.h"
#include "driver/Dispatcher.h"

int main(int argc, char** argv) {
    // The provider's answers are read into blocks of their own size (up to
    // megabytes) and freed once decoded. Such blocks are always mapped and
    // unmapped on their own: by default the allocator raises its threshold
    // for that after the first one is freed, and then serves the later ones
    // from the heap, which keeps their room for the rest of the run.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    return cmplxview::runProgram(argc, argv, cmplxview::runReports);
}
