// The cabinet report: cabinet rows and lines with the status of their power
// and cooling domains, and detail blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/CommandOptions.h"
#include "reports/Layout.h"

namespace cmplxview {

// One power/cooling domain of the current cabinet. The three unit arrays run
// in parallel and are kept the same length: entry u describes unit slot u.
struct DomainRecord {
    std::uint32_t domainType = 0;
    std::uint32_t domainSubtype = 0;
    std::uint32_t redundancyState = 0;
    std::vector<bool> unitPresent;
    std::vector<bool> unitFailed;
    std::vector<std::string> unitLabels;
    // The status figure ok/failed/mark; only the one of the domain's own kind is filled.
    FixedText<78> blowerStatus;
    FixedText<78> ioFanStatus;
    FixedText<78> bpsStatus;
    FixedText<78> backplaneStatus;
};

// The one current cabinet, overwritten by every build.
struct CabinetRecord {
    FixedText<78> number;       // decimal ID
    FixedText<78> cabinetType;  // ValueMap text of CabinetType
    FixedText<78> mpStatus;     // "Active", "Backup", "Other", "Unknown" or "-"
    // One entry per power/cooling domain of the complex; the first
    // cabinetDomainCount hold this cabinet's domains in domain table order.
    std::vector<DomainRecord> domains;
    std::int32_t cabinetDomainCount = 0;
    std::int32_t blowerDomainCount = 0;
    std::int32_t ioFanDomainCount = 0;
    std::int32_t bpsDomainCount = 0;
    std::int32_t backplaneDomainCount = 0;
};

int loadCabinets(CommandOptions options, int& cabinetCount, int& domainCount, int& complexCount);
// Creates the one current CabinetRecord with room for domainCount domains.
void createCabinetRecord(int domainCount);
int buildCabinetRecord(CommandOptions options, int index, int cabinetCount, int domainCount, int complexCount);
int printCabinet(CommandOptions options);
CabinetRecord& currentCabinetRecord();

}  // namespace cmplxview
