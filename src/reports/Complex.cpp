#include "reports/Complex.h"

#include <cstdint>
#include <cstdio>

#include "access/Decoding.h"
#include "access/Instances.h"

namespace cmplxview {

namespace {

// A string of the complex record, or "?" when it is not given.
cim::String complexText(int record, int position) {
    cim::String text;
    if (!readValue(storedValue(RecordKind::Complex, record, position), text)) return "?";
    return text;
}

bool complexHas(int record, int position) {
    cim::String text;
    return readValue(storedValue(RecordKind::Complex, record, position), text);
}

// Prints "label : value" with the first of the two properties that is given
// under its own label; "?" under the second label when neither is.
void printPreferred(int record, int preferred, const char* preferredFormat, int fallback,
                    const char* fallbackFormat) {
    if (complexHas(record, preferred))
        std::printf(preferredFormat, complexText(record, preferred).c_str());
    else
        std::printf(fallbackFormat, complexText(record, fallback).c_str());
}

// Cabinet capacity counters, in the order their lines are printed.
enum Capacity { Compute8, Compute4, Compute2, IOExpansion, OtherCabinet, UnknownCabinet, capacityCount };

Capacity capacityOf(cim::Uint8 cabinetType) {
    switch (cabinetType) {
    case 1: return OtherCabinet;
    case 2: return Compute8;
    case 3:
    case 4: return Compute4;
    case 5: return Compute2;
    case 6: return IOExpansion;
    default: return UnknownCabinet;  // 0, and every code from 7 on
    }
}

}  // namespace

int loadComplex(int& complexCount, int& cabinetCount) {
    complexCount = countInstances("XK_KestComplex");
    if (complexCount < 1) return 1;
    if (createInstanceTable(RecordKind::Complex, complexCount) != 0) return 1;
    if (fetchAllInstances(RecordKind::Complex) != 0) return 1;
    cabinetCount = countInstances("XK_KestCabinet");
    if (cabinetCount < 1) return 1;
    if (createInstanceTable(RecordKind::Cabinet, cabinetCount) != 0) return 1;
    if (fetchAllInstances(RecordKind::Cabinet) != 0) return 1;
    return 0;
}

int printComplex(int complexCount, int cabinetCount) {
    std::fputs("[Complex]\n", stdout);
    // The complex described is the profile numbered 0; other profiles are
    // left out.
    int active = -1;
    for (int c = 0; c < complexCount && active < 0; ++c) {
        cim::Uint32 profile = 0;
        if (readValue(storedValue(RecordKind::Complex, c, ComplexProperty::ProfileID), profile) && profile == 0)
            active = c;
    }
    if (active < 0) {
        std::fflush(stdout);
        std::fputs("Error: Complex configuration information unavailable.", stderr);
        return 1;
    }
    std::printf("   Complex Name : %s\n", complexText(active, ComplexProperty::ComplexName).c_str());
    std::printf("   Complex Capacity\n");

    bool mpFound = false;
    cim::Uint32 mpCabinet = 0;
    if (cabinetCount > 0) {
        int counters[capacityCount] = {};
        for (int b = 0; b < cabinetCount; ++b) {
            // A cabinet that does not give its type is counted as unknown.
            cim::Uint8 type = 0;
            if (!readValue(storedValue(RecordKind::Cabinet, b, CabinetProperty::CabinetType), type))
                type = 0;
            ++counters[capacityOf(type)];
        }
        static const char* const capacityFormats[capacityCount] = {
            "     Compute Cabinet (8 cell capable) : %d\n",
            "     Compute Cabinet (4 cell capable) : %d\n",
            "     Compute Cabinet (2 cell capable) : %d\n",
            "     IO Expansion Cabinet : %d\n",
            "     Other cabinet : %d\n",
            "     Unknown cabinet : %d\n",
        };
        for (int k = 0; k < capacityCount; ++k)
            if (counters[k] != 0) std::printf(capacityFormats[k], counters[k]);

        // The active MP: the last cabinet in table order with an MP whose
        // status text is "Active". A cabinet without status list has no MP
        // that can be seen as active. When the last such cabinet gives no ID,
        // its location is not known and is reported as unknown.
        for (int b = 0; b < cabinetCount; ++b) {
            cim::Uint32 mpCount = 0;
            if (!readValue(storedValue(RecordKind::Cabinet, b, CabinetProperty::ServiceProcessorCount), mpCount) ||
                mpCount == 0)
                continue;
            const cim::CIMValue& status = storedValue(RecordKind::Cabinet, b, CabinetProperty::ServiceProcessorStatus);
            bool hasActive = false;
            for (cim::Uint32 i = 0; i < arraySize(status); ++i) {
                cim::Uint8 code = 0;
                if (!readElement(status, i, code)) continue;  // a status not given is not "Active"
                cim::String text;
                lookupValueMap("XK_KestCabinet", "ServiceProcessorStatus", code, text);
                if (text == "Active") hasActive = true;
            }
            if (!hasActive) continue;
            cim::Uint32 id = 0;
            mpFound = readValue(storedValue(RecordKind::Cabinet, b, CabinetProperty::ID), id);
            mpCabinet = id;
        }
    }
    if (mpFound)
        std::printf("   Active MP Location : cabinet %d\n", static_cast<int>(static_cast<std::int32_t>(mpCabinet)));
    else
        std::printf("   Active MP Location : unknown\n");

    if (complexHas(active, ComplexProperty::OEMProductName))
        std::printf("   OEM Product Name : %s\n", complexText(active, ComplexProperty::OEMProductName).c_str());
    else if (complexHas(active, ComplexProperty::CreatorProductName))
        std::printf("   Original Product Name : %s\n", complexText(active, ComplexProperty::CreatorProductName).c_str());
    else
        std::printf("   Model : %s\n", complexText(active, ComplexProperty::ModelString).c_str());
    printPreferred(active, ComplexProperty::OEMSerialNumber, "   OEM Serial Number : %s\n",
                   ComplexProperty::CreatorSerialNumber, "   Original Serial Number : %s\n");
    printPreferred(active, ComplexProperty::CurrentProductOrderNumber, "   Current Product Order Number : %s\n",
                   ComplexProperty::OriginalProductOrderNumber, "   Original Product Order Number : %s\n");
    printPreferred(active, ComplexProperty::OEMManufacturer, "   OEM Manufacturer : %s\n",
                   ComplexProperty::CreatorManufacturer, "   Original Manufacturer : %s\n");
    std::printf("   Complex Profile Revision : %s\n", complexText(active, ComplexProperty::RevisionString).c_str());
    int partitions = countInstances("XK_KestPartition");
    std::printf("   The total number of partitions present : %d\n\n", partitions);
    return 0;
}

}  // namespace cmplxview
