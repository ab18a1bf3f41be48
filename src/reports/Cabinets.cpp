// The cabinet report: each cabinet's type, the state of its management
// processors, and for each of four kinds of power/cooling domain a status
// figure ok/failed/mark. A cabinet with several domains of one kind takes
// several lines; the detail block lists every unit of every domain.
#include "reports/Cabinets.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "access/Decoding.h"
#include "access/Instances.h"
#include "driver/Arguments.h"

namespace cmplxview {

namespace {

using cim::Boolean;
using cim::Uint32;
using cim::Uint8;

// The four kinds of domain the report shows, in column order. Any other
// (DomainType, DomainSubtype) pair is ignored.
enum DomainKind : int { blowers, ioFans, bulkPower, backplanePower, domainKindCount };

struct DomainKindInfo {
    Uint32 domainType;
    Uint32 domainSubtype;
    const char* heading;  // heading of the kind's domains in the detail block
    FixedText<78> DomainRecord::*status;
    std::int32_t CabinetRecord::*count;
};

const std::array<DomainKindInfo, domainKindCount> domainKinds{{
    {3, 2, "\nCabinet Blowers\n===============\n", &DomainRecord::blowerStatus, &CabinetRecord::blowerDomainCount},
    {3, 3, "\nI/O Fans\n==============\n", &DomainRecord::ioFanStatus, &CabinetRecord::ioFanDomainCount},
    {2, 2, "\nBulk Power Supplies(BPS)\n========================\n", &DomainRecord::bpsStatus,
     &CabinetRecord::bpsDomainCount},
    {2, 4, "\nBackplane Power Boards\n======================\n", &DomainRecord::backplaneStatus,
     &CabinetRecord::backplaneDomainCount},
}};

// The kind of a domain, or -1 when it is not one the report shows.
int kindOf(const DomainRecord& domain) {
    for (int k = 0; k < domainKindCount; ++k)
        if (domain.domainType == domainKinds[k].domainType && domain.domainSubtype == domainKinds[k].domainSubtype)
            return k;
    return -1;
}

// ServiceProcessorStatus codes.
constexpr Uint8 mpOther = 1;
constexpr Uint8 mpActive = 2;
constexpr Uint8 mpBackup = 3;

std::unique_ptr<CabinetRecord> current;

const cim::CIMValue& cabinetValue(int index, int position) {
    return storedValue(RecordKind::Cabinet, index, position);
}
const cim::CIMValue& domainValue(int index, int position) {
    return storedValue(RecordKind::PowerCoolingDomain, index, position);
}

// Element u of an array value, or the stand-in when the array has no such
// element, the element is null, or the array is of another type.
template <class T>
T elementOr(const cim::CIMValue& array, Uint32 u, T standIn) {
    T value{};
    return readElement(array, u, value) ? value : standIn;
}

const char* redundancyMark(Uint32 state) {
    switch (state) {
        case 2: return "N+";
        case 3: return "N";
        case 4: return "N-";
        case 5: return "HO";
        case 6: return "NA";
        default: return "?";  // 0 and 1 (unknown) and any code without a meaning
    }
}

// ok/failed/mark over the domain's unit slots.
std::string statusFigure(const DomainRecord& domain) {
    int ok = 0;
    int failed = 0;
    for (std::size_t u = 0; u < domain.unitPresent.size(); ++u) {
        if (!domain.unitPresent[u]) continue;
        if (domain.unitFailed[u])
            ++failed;
        else
            ++ok;
    }
    return std::to_string(ok) + "/" + std::to_string(failed) + "/" + redundancyMark(domain.redundancyState);
}

// Copies domain table record d into a DomainRecord. The unit arrays are made
// as long as UnitPresent: a unit slot whose UnitFailed entry is missing (the
// array is shorter, null or of another type) or null has not been reported
// failed and counts as working; one without a LongUnitLabel entry shows "?"
// as its label. A missing or null UnitPresent entry is a slot without a unit.
void copyDomain(int d, DomainRecord& domain) {
    Uint8 byte = 0;
    domain.domainType = readValue(domainValue(d, PowerCoolingDomainProperty::DomainType), byte) ? byte : 0;
    byte = 0;
    domain.domainSubtype = readValue(domainValue(d, PowerCoolingDomainProperty::DomainSubtype), byte) ? byte : 0;
    byte = 0;
    domain.redundancyState =
        readValue(domainValue(d, PowerCoolingDomainProperty::RedundancyState), byte) ? byte : 0;

    const cim::CIMValue& present = domainValue(d, PowerCoolingDomainProperty::UnitPresent);
    const cim::CIMValue& failed = domainValue(d, PowerCoolingDomainProperty::UnitFailed);
    const cim::CIMValue& labels = domainValue(d, PowerCoolingDomainProperty::LongUnitLabel);
    cim::Array<Boolean> presentArray;
    Uint32 units = readArray(present, presentArray) ? static_cast<Uint32>(presentArray.size()) : 0;
    domain.unitPresent.assign(units, false);
    domain.unitFailed.assign(units, false);
    domain.unitLabels.assign(units, std::string());
    for (Uint32 u = 0; u < units; ++u) {
        domain.unitPresent[u] = elementOr<Boolean>(present, u, false);
        domain.unitFailed[u] = elementOr<Boolean>(failed, u, false);
        domain.unitLabels[u] = elementOr<cim::String>(labels, u, "?");
    }
}

// "Active" when any MP is active, else "Backup", else "Other", else
// "Unknown"; "-" for a cabinet without MPs.
const char* mpStatusOf(int index) {
    Uint32 mpCount = 0;
    if (!readValue(cabinetValue(index, CabinetProperty::ServiceProcessorCount), mpCount) || mpCount == 0) return "-";
    // Only the first ServiceProcessorCount entries count. Entries the array
    // does not have (it is shorter, null or of another type) and null
    // entries are states not known: they count as none of the three.
    const cim::CIMValue& states = cabinetValue(index, CabinetProperty::ServiceProcessorStatus);
    Uint32 known = std::min(mpCount, arraySize(states));
    bool active = false;
    bool backup = false;
    bool other = false;
    for (Uint32 u = 0; u < known; ++u) {
        Uint8 state = 0;
        if (!readElement(states, u, state)) continue;
        active = active || state == mpActive;
        backup = backup || state == mpBackup;
        other = other || state == mpOther;
    }
    if (active) return "Active";
    if (backup) return "Backup";
    if (other) return "Other";
    return "Unknown";
}

// One printed line of a cabinet: line 1 carries the cabinet's own fields,
// every line the status of the L-th domain of each kind.
struct CabinetLine {
    const CabinetRecord* cabinet = nullptr;
    bool first = false;
    std::array<std::string_view, domainKindCount> status{};
    std::array<bool, domainKindCount> missing{};  // line 1: the cabinet has no domain of the kind
};

std::string_view number(const CabinetLine& l) { return l.first ? l.cabinet->number.view() : std::string_view(); }
std::string_view cabinetType(const CabinetLine& l) {
    return l.first ? l.cabinet->cabinetType.view() : std::string_view();
}
std::string_view mpStatus(const CabinetLine& l) { return l.first ? l.cabinet->mpStatus.view() : std::string_view(); }
std::string_view tag(const CabinetLine& l) { return l.first ? "cabinet:" : std::string_view(); }
std::string_view colon(const CabinetLine& l) { return l.first ? ":" : std::string_view(); }
template <int K>
std::string_view status(const CabinetLine& l) {
    return l.status[K];
}
template <int K>
std::string_view colonIfMissing(const CabinetLine& l) {
    return l.missing[K] ? ":" : std::string_view();
}
template <int K>
std::string_view dashIfMissing(const CabinetLine& l) {
    return l.missing[K] ? "-" : std::string_view();
}

using CabinetField = Field<CabinetLine>;

// Table lines, under the heading
// "=== ============  ========= ========= ==========  ============   ======".
constexpr std::array<CabinetField, 11> rowLayout{{
    {0, 3, number},
    {4, 12, cabinetType},
    {18, 9, status<blowers>},
    {28, 9, status<ioFans>},
    {38, 10, status<bulkPower>},
    {50, 12, status<backplanePower>},
    {65, 6, mpStatus},
    {18, 1, dashIfMissing<blowers>},
    {28, 1, dashIfMissing<ioFans>},
    {38, 1, dashIfMissing<bulkPower>},
    {50, 1, dashIfMissing<backplanePower>},
}};

// "cabinet:" lines. The colons of line 1 go in first, so a 10-character
// bulk power status covers the one at column 55; a missing kind's ":" and
// "-" go in last.
constexpr std::array<CabinetField, 22> machineLayout{{
    {0, uncut, tag},
    {8, 3, number},
    {11, uncut, colon},
    {12, 12, cabinetType},
    {25, uncut, colon},
    {35, uncut, colon},
    {45, uncut, colon},
    {55, uncut, colon},
    {72, uncut, colon},
    {73, 6, mpStatus},
    {26, 9, status<blowers>},
    {36, 9, status<ioFans>},
    {46, 10, status<bulkPower>},
    {56, 12, status<backplanePower>},
    {25, uncut, colonIfMissing<blowers>},
    {26, uncut, dashIfMissing<blowers>},
    {35, uncut, colonIfMissing<ioFans>},
    {36, uncut, dashIfMissing<ioFans>},
    {45, uncut, colonIfMissing<bulkPower>},
    {46, uncut, dashIfMissing<bulkPower>},
    {55, uncut, colonIfMissing<backplanePower>},
    {56, uncut, dashIfMissing<backplanePower>},
}};

constexpr std::size_t lineWidth = 79;

void printCabinetDetails(const CabinetRecord& r) {
    std::fputs("\nCabinet Type\n============\n", stdout);
    writeLine(r.cabinetType);
    for (int k = 0; k < domainKindCount; ++k) {
        for (int d = 0; d < r.cabinetDomainCount; ++d) {
            const DomainRecord& domain = r.domains[d];
            if (kindOf(domain) != k) continue;
            std::fputs(domainKinds[k].heading, stdout);
            for (std::size_t u = 0; u < domain.unitPresent.size(); ++u) {
                if (!domain.unitPresent[u]) continue;
                std::fwrite(domain.unitLabels[u].data(), 1, domain.unitLabels[u].size(), stdout);
                std::fputs("   ", stdout);
                writeLine(domain.unitFailed[u] ? "failed" : "ok    ");
            }
        }
    }
}

}  // namespace

int loadCabinets(CommandOptions options, int& cabinetCount, int& domainCount, int& complexCount) {
    if (options.selectedCabinets) {
        if (createInstanceTable(RecordKind::Cabinet, locationRequestCount) != 0) return 1;
        if (fetchSelectedInstances(RecordKind::Cabinet) != 0) return 1;
        cabinetCount = locationRequestCount;
    } else if (loadAllInstances(RecordKind::Cabinet, cabinetCount) != 0) {
        return 1;
    }
    if (loadAllInstances(RecordKind::PowerCoolingDomain, domainCount) != 0) return 1;
    return loadAllInstances(RecordKind::Complex, complexCount);
}

void createCabinetRecord(int domainCount) {
    current = std::make_unique<CabinetRecord>();
    current->domains.resize(static_cast<std::size_t>(std::max(domainCount, 0)));
}

CabinetRecord& currentCabinetRecord() {
    if (!current) createCabinetRecord(0);
    return *current;
}

int buildCabinetRecord(CommandOptions options, int index, int cabinetCount, int domainCount, int complexCount) {
    static_cast<void>(options);
    static_cast<void>(cabinetCount);
    static_cast<void>(complexCount);
    CabinetRecord& r = currentCabinetRecord();
    r.number.clear();
    r.cabinetType.clear();
    r.mpStatus.clear();
    for (DomainRecord& domain : r.domains) {
        for (const DomainKindInfo& kind : domainKinds) (domain.*kind.status).clear();
    }
    r.cabinetDomainCount = 0;
    for (const DomainKindInfo& kind : domainKinds) r.*kind.count = 0;

    // A cabinet that does not give its ID shows "?" as number and owns no domain.
    Uint32 id = 0;
    bool idKnown = readValue(cabinetValue(index, CabinetProperty::ID), id);
    r.number = idKnown ? std::to_string(id) : std::string("?");
    Uint8 type = 0;
    if (!readValue(cabinetValue(index, CabinetProperty::CabinetType), type)) type = 0;
    cim::String typeText;
    lookupValueMap("XK_KestCabinet", "CabinetType", type, typeText);
    r.cabinetType = typeText;

    // The cabinet's domains, in domain table order; never more than the
    // record has room for.
    int domainBound = std::min(domainCount, static_cast<int>(instanceTable(RecordKind::PowerCoolingDomain).size()));
    for (int d = 0; idKnown && d < domainBound; ++d) {
        Uint32 cabinetId = 0;
        if (!readValue(domainValue(d, PowerCoolingDomainProperty::CabinetID), cabinetId) || cabinetId != id) continue;
        if (r.cabinetDomainCount >= static_cast<int>(r.domains.size())) break;
        copyDomain(d, r.domains[r.cabinetDomainCount]);
        ++r.cabinetDomainCount;
    }

    for (int d = 0; d < r.cabinetDomainCount; ++d) {
        DomainRecord& domain = r.domains[d];
        int k = kindOf(domain);
        if (k < 0) continue;
        ++(r.*domainKinds[k].count);
        domain.*domainKinds[k].status = statusFigure(domain);
    }

    r.mpStatus = mpStatusOf(index);
    return 0;
}

int printCabinet(CommandOptions options) {
    const CabinetRecord& r = currentCabinetRecord();
    std::span<const CabinetField> layout = options.machineReadable ? std::span<const CabinetField>(machineLayout)
                                                                   : std::span<const CabinetField>(rowLayout);
    // Line L carries the L-th domain of each kind; the lines stop once no
    // kind has an L-th domain.
    for (int lineNumber = 1; lineNumber <= r.cabinetDomainCount; ++lineNumber) {
        CabinetLine line;
        line.cabinet = &r;
        line.first = lineNumber == 1;
        std::array<int, domainKindCount> running{};
        bool placed = false;
        for (int d = 0; d < r.cabinetDomainCount; ++d) {
            int k = kindOf(r.domains[d]);
            if (k < 0) continue;
            if (++running[k] == lineNumber) {
                line.status[k] = (r.domains[d].*domainKinds[k].status).view();
                placed = true;
            }
        }
        if (!placed) continue;
        if (line.first) {
            for (int k = 0; k < domainKindCount; ++k) line.missing[k] = r.*domainKinds[k].count == 0;
        }
        writeLine(renderLine<CabinetLine>(layout, line, lineWidth));
    }
    if (options.verbose) printCabinetDetails(r);
    return 0;
}

}  // namespace cmplxview
