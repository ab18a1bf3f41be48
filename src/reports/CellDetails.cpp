#include "reports/CellDetails.h"

#include <cstdio>
#include <string_view>

#include "access/Decoding.h"
#include "access/Instances.h"
#include "driver/SafeString.h"

namespace cmplxview {

std::vector<CpuEntry> cpuList;
std::vector<DimmEntry> dimmList;

namespace {

const cim::CIMValue& cellValue(int index, int position) { return storedValue(RecordKind::Cell, index, position); }

// True when the value is given as an array of T (not null, right type).
template <class T>
bool givenArray(const cim::CIMValue& value) {
    return !value.isNull() && value.isArray() && value.getType() == cim::CIMValue::typeOf<T>();
}

// DIMM status codes with a meaning of their own here.
constexpr cim::Uint8 dimmEmpty = 1;
constexpr cim::Uint8 dimmGood = 7;

// What one CPU or DIMM line shows, with the numbers already as text.
struct CpuLine {
    char number[16];
    std::string_view status;
};
struct DimmLine {
    std::string_view label;
    char size[16];
    std::string_view status;
};

// The CPU line: number from column 0, status from column 5. The line ends
// where the status text ends (its own trailing blanks kept); a number wider
// than its column is overwritten by the status, or cut at the line's end.
constexpr Field<CpuLine> cpuLineLayout[] = {
    {0, uncut, [](const CpuLine& l) -> std::string_view { return l.number; }},
    {5, uncut, [](const CpuLine& l) { return l.status; }},
};
// The DIMM line: label from column 0 (not cut), size from column 5, status
// from column 15; each later part overwrites what an earlier one left in its
// columns, and the line ends where the status text ends.
constexpr Field<DimmLine> dimmLineLayout[] = {
    {0, uncut, [](const DimmLine& l) { return l.label; }},
    {5, uncut, [](const DimmLine& l) -> std::string_view { return l.size; }},
    {15, uncut, [](const DimmLine& l) { return l.status; }},
};

void printRequestedClm(const CellRecord& r) {
    std::fputs("Requested CLM value    : ", stdout);
    switch (r.clmSpecType) {
    case 2:  // the whole good memory of the cell
        std::printf("100 %% (%.1f GB)\n", r.memoryOkGB);
        break;
    case 3:  // none
        std::printf("%.1f GB\n", 0.0);
        break;
    case 4:  // an amount in half-gigabytes
        std::printf("%.1f GB\n", r.clmPerCell * 0.5);
        break;
    case 5:  // eighths of the cell's good memory
        std::printf("%.1f %% (%.1f GB)\n", r.clmPerCell * 12.5, r.clmPerCell * r.memoryOkGB * 0.125);
        break;
    default:
        std::fputs("?\n", stdout);
        break;
    }
}

void printShortBlock(const CellRecord& r) {
    std::fputs("[Cell]\n", stdout);
    std::printf("Hardware Location      : %s\n", r.location.c_str());
    std::printf("Global Cell Number     : %d\n", static_cast<int>(static_cast<std::int32_t>(r.cellNumber)));
    std::printf("Actual Usage           : %s\n", r.usage.c_str());
    std::fputs("Connected To           : -\n", stdout);
    std::fputs("Core Cell Capable      : -\n", stdout);
    std::fputs("Firmware Revision      : -\n", stdout);
    std::fputs("\n\n", stdout);
}

void printFullBlock(CellRecord& r) {
    std::fputs("[Cell]\n", stdout);
    std::printf("Hardware Location      : %s\n", r.location.c_str());
    std::printf("Global Cell Number     : %d\n", static_cast<int>(static_cast<std::int32_t>(r.cellNumber)));
    // Only the core cell's qualifier is shown here.
    if (safeStrcmp(r.usageQualifier.c_str(), "Core") == 0)
        std::printf("Actual Usage           : %s %s\n", r.usage.c_str(), r.usageQualifier.c_str());
    else
        std::printf("Actual Usage           : %s\n", r.usage.c_str());
    std::printf("Normal Usage           : %s\n", safeStrlen(r.normalUsage.c_str()) > 1 ? r.normalUsage.c_str() : "-");
    std::printf("Connected To           : %s\n", r.connectedTo.c_str());
    std::printf("Core Cell Capable      : %s\n", r.coreCellCapable.c_str());
    std::printf("Firmware Revision      : %s\n", r.firmwareRevision.c_str());
    std::printf("Failure Usage          : %s\n", r.failureUsage.c_str());
    std::printf("Use On Next Boot       : %s\n", r.useOnNextBoot.c_str());
    std::printf("Partition Number       : %s\n", r.partitionNumberText.c_str());
    std::printf("Partition Name         : %s\n", r.partitionName.c_str());
    printRequestedClm(r);
    std::printf("Allocated CLM value    : %.1f GB\n", r.allocatedClmGB);
    std::printf("Cell Architecture Type : %s\n", r.cellArchitecture.c_str());
    std::printf("CPU Compatibility      : %s\n", r.cpuCompatibility.c_str());

    std::fputs("\n[CPU Details]\n\n", stdout);
    if (safeStrcmp(r.cpuTypeText.c_str(), "unknown") != 0) {
        std::printf("Type  : %X\n", static_cast<unsigned>(r.iodcVersion));
    } else {
        // Without an IODC version only a VX cell is said to be of unknown
        // type; on any other architecture the type is simply not given.
        if (safeStrcmp(r.cellArchitecture.c_str(), "VX_ARCH") != 0) r.cpuTypeText = "?";
        std::printf("Type  : %s\n", r.cpuTypeText.c_str());
    }
    std::printf("Speed : %d MHz\n", static_cast<int>(static_cast<std::int32_t>(r.cpuSpeed)));
    std::fputs("CPU  Status\n===  ======\n", stdout);
    if (r.cpuMax != 0) {
        for (const CpuEntry& cpu : cpuList) {
            CpuLine line{};
            std::snprintf(line.number, sizeof line.number, "%d", static_cast<int>(cpu.number));
            line.status = cpu.statusText;
            writeLine(renderLine<CpuLine>(cpuLineLayout, line, 5 + line.status.size()));
        }
    }
    std::printf("\nCPUs\n===========\nOK     : %d\nDeconf : %d\nMax    : %d\n", static_cast<int>(r.cpuOk),
                static_cast<int>(r.cpuDeconfigured), static_cast<int>(static_cast<std::int32_t>(r.cpuMax)));

    std::fputs("\n[Memory Details]\n\nDIMM Size (MB) Status\n==== ========= =========\n", stdout);
    if (r.maxDimms != 0) {
        for (const DimmEntry& dimm : dimmList) {
            DimmLine line{};
            line.label = dimm.label;
            std::snprintf(line.size, sizeof line.size, "%d", static_cast<int>(dimm.sizeMB));
            line.status = dimm.statusText;
            writeLine(renderLine<DimmLine>(dimmLineLayout, line, 15 + line.status.size()));
        }
    }
    std::printf("\nMemory\n=========================\nDIMM OK       : %d\nDIMM Deconf   : %d\nMax DIMMs     : %d\n"
                "Memory OK     : %.2f GB\nMemory Deconf : %.2f GB\n",
                static_cast<int>(r.dimmOk), static_cast<int>(r.dimmDeconfigured), static_cast<int>(r.maxDimms),
                r.memoryOkGB, r.memoryDeconfiguredGB);
    std::fputs("\n", stdout);
}

}  // namespace

void gatherCpuDetails(CellRecord& record, int cellEntry) {
    cim::Uint16 iodc = 0;
    if (readValue(cellValue(cellEntry, CellProperty::IODCVersion), iodc))
        record.iodcVersion = iodc;
    else
        record.cpuTypeText = "unknown";
    cim::Uint32 speed = 0;
    record.cpuSpeed = readValue(cellValue(cellEntry, CellProperty::CPUSpeed), speed) ? speed : 255;
    cim::String compatibility;
    if (readValue(cellValue(cellEntry, CellProperty::CompatibilityLabel), compatibility))
        record.cpuCompatibility = compatibility;
    else
        record.cpuCompatibility = "?";

    cpuList.clear();
    const cim::CIMValue& status = cellValue(cellEntry, CellProperty::CPUStatus);
    if (!givenArray<cim::Uint8>(status)) return;
    for (cim::Uint32 i = 0; i < status.getArraySize(); ++i) {
        CpuEntry entry;
        entry.number = static_cast<std::int32_t>(i);
        cim::Uint8 code = 0;
        if (readElement(status, i, code)) {
            cim::String text;
            lookupValueMap("XK_KestCell", "CPUStatus", code, text);
            // "Other" is how the provider reports an empty CPU position.
            entry.statusText = text == "Other" ? cim::String("Absent      ") : text;
        } else {
            entry.statusText = "?";  // a null element: the position's status is not given
        }
        cpuList.push_back(entry);
    }
}

void gatherDimmDetails(CellRecord& record, int cellEntry) {
    dimmList.clear();
    const cim::CIMValue& labels = cellValue(cellEntry, CellProperty::DIMMLabel);
    const cim::CIMValue& sizes = cellValue(cellEntry, CellProperty::DIMMSize);
    const cim::CIMValue& status = cellValue(cellEntry, CellProperty::DIMMStatus);
    if (!givenArray<cim::String>(labels) || !givenArray<cim::Uint16>(sizes) || !givenArray<cim::Uint8>(status)) {
        record.maxDimms = 0;
        return;
    }
    record.maxDimms = static_cast<std::int32_t>(status.getArraySize());
    for (cim::Uint32 i = 0; i < status.getArraySize(); ++i) {
        cim::Uint8 code = 0;
        bool known = readElement(status, i, code);
        if (known && code == dimmEmpty) continue;
        if (known && code == dimmGood)
            ++record.dimmOk;
        else
            ++record.dimmDeconfigured;  // every other state, and a status not given, is not good memory
        // The label and size arrays may be shorter than the status array (or
        // hold null elements): such a slot is still listed, with "?" for its
        // label and 0 for its size.
        DimmEntry entry;
        cim::String label;
        entry.label = readElement(labels, i, label) ? label : cim::String("?");
        cim::Uint16 size = 0;
        readElement(sizes, i, size);
        entry.sizeMB = size;
        if (known) {
            cim::String text;
            lookupValueMap("XK_KestCell", "DIMMStatus", code, text);
            entry.statusText = text;
        } else {
            entry.statusText = "?";
        }
        dimmList.push_back(entry);
    }
}

void setFirmwareAndArchitecture(CellRecord& record, int cellEntry) {
    cim::String firmware;
    record.firmwareRevision =
        readValue(cellValue(cellEntry, CellProperty::FirmwareRevision), firmware) ? firmware : cim::String("?");
    cim::Uint8 architecture = 0;
    if (!readValue(cellValue(cellEntry, CellProperty::CellArchitecture), architecture)) {
        record.cellArchitecture = "?";
        return;
    }
    cim::String text;
    // CIM property names compare without regard to case.
    lookupValueMap("XK_KestCell", "Cellarchitecture", architecture, text);
    record.cellArchitecture = text;
}

void setAllocatedClm(CellRecord& record, int cellEntry) {
    cim::Uint32 allocatedMB = 0;
    readValue(cellValue(cellEntry, CellProperty::ActualGNIMemory), allocatedMB);
    record.allocatedClmGB = allocatedMB > 0 ? allocatedMB / 1024.0 : 0.0;
}

void setRequestedClm(CellRecord& record, std::uint32_t cellNumber, int complexCount) {
    record.clmSpecType = 0;
    record.clmPerCell = 0;
    for (int c = 0; c < complexCount; ++c) {
        cim::Uint32 profile = 0;
        if (!readValue(storedValue(RecordKind::Complex, c, ComplexProperty::ProfileID), profile) || profile != 0)
            continue;
        const cim::CIMValue& specTypes = storedValue(RecordKind::Complex, c, ComplexProperty::GNISpecType);
        if (!givenArray<cim::Uint8>(specTypes)) return;
        // A cell number past the end of either array (255 for a slot
        // without label included) reads as 0: no request that can be shown.
        cim::Uint8 specType = 0;
        readElement(specTypes, cellNumber, specType);
        record.clmSpecType = specType;
        cim::Uint16 perCell = 0;
        readElement(storedValue(RecordKind::Complex, c, ComplexProperty::GNIPerCell), cellNumber, perCell);
        record.clmPerCell = perCell;
        return;
    }
}

int printCellDetails() {
    CellRecord& r = currentCellRecord();
    bool shortBlock = safeStrncmp(r.usage.c_str(), "Absent", 6) == 0 ||
                      safeStrncmp(r.usage.c_str(), "Powered off", 11) == 0 || safeStrncmp(r.usage.c_str(), "?", 1) == 0;
    if (shortBlock)
        printShortBlock(r);
    else
        printFullBlock(r);
    cpuList.clear();
    dimmList.clear();
    return 0;
}

}  // namespace cmplxview
