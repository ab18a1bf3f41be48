#include "driver/CommandLine.h"
#include "driver/Dispatcher.h"

int main(int argc, char** argv) { return cmplxview::runProgram(argc, argv, cmplxview::runReports); }
