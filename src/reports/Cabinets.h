// The cabinet report: cabinet rows and lines with the status of their power
// and cooling domains, and detail blocks.
#pragma once

#include "driver/CommandOptions.h"
#include "reports/Layout.h"

namespace cmplxview {

int loadCabinets(CommandOptions options, int& cabinetCount, int& domainCount, int& complexCount);
// Creates the one current CabinetRecord with room for domainCount domains.
void createCabinetRecord(int domainCount);
int buildCabinetRecord(CommandOptions options, int index, int cabinetCount, int domainCount, int complexCount);
int printCabinet(CommandOptions options);

}  // namespace cmplxview
