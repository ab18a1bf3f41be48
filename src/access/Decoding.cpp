#include "access/Decoding.h"

#include <cstdio>

#include "connection/ProviderConnection.h"
#include "driver/Arguments.h"

namespace cmplxview {

using namespace cim;

Uint32 arraySize(const CIMValue& value) { return value.isNull() || !value.isArray() ? 0 : value.getArraySize(); }

int lookupValueMap(const String& className, const String& propertyName, unsigned long long value, String& text) {
    text.clear();
    CIMClass cimClass;
    try {
        cimClass = activeClient->getClass(activeNameSpace, CIMName(className), false, true, false, CIMPropertyList());
    } catch (const Exception& e) {
        printLibraryMessage(e);
        return 1;
    }
    Uint32 p = cimClass.findProperty(CIMName(propertyName));
    if (p == PEG_NOT_FOUND) return 1;
    const CIMProperty& property = cimClass.getProperty(p);
    Uint32 q = property.findQualifier(CIMName("ValueMap"));
    if (q == PEG_NOT_FOUND) return 1;
    Array<String> entries;
    // A ValueMap that is not a string array has no text to give.
    if (!readArray(property.getQualifier(q).getValue(), entries)) return 1;
    // Only the low 8 bits of the code count.
    std::size_t v = static_cast<std::size_t>(value % 256);
    if (v >= entries.size()) return 1;
    text = entries[v];
    return 0;
}

int resolveUniqueIds(const String& slotClassName) {
    Array<CIMObjectPath> names;
    try {
        names = activeClient->enumerateInstanceNames(activeNameSpace, CIMName(slotClassName));
    } catch (const Exception& e) {
        printLibraryMessage(e);
        std::fputs("Error: Unable to get any cell or I/O chassis information.\n", stderr);
        return 1;
    }
    for (int k = 0; k < locationRequestCount && k < maxLocationRequests; ++k) {
        LocationRequest& request = locationRequests[k];
        if (request.uniqueId != notGiven) continue;
        Array<CIMParamValue> in;
        auto low8 = [](std::uint32_t n) { return CIMValue(static_cast<Uint8>(n & 0xFF)); };
        if (slotClassName == "XK_KestCellSlot") {
            in.emplace_back("CabinetID", low8(request.cabinetNumber), true);
            in.emplace_back("SlotNumber", low8(request.slotNumber), true);
        } else if (slotClassName == "XK_KestIOChassisSlot") {
            in.emplace_back("CabinetID", low8(request.cabinetNumber), true);
            in.emplace_back("BayNumber", low8(request.bayNumber), true);
            in.emplace_back("SlotNumber", low8(request.chassisSlotNumber), true);
        }
        Array<CIMParamValue> out;
        CIMValue result;
        bool failed = false;
        try {
            // Without an instance there is no object to call the method on.
            if (names.empty()) throw Exception("No instance of " + slotClassName + " to call MakeID on");
            result = activeClient->invokeMethod(activeNameSpace, names.front(), CIMName("MakeID"), in, out);
        } catch (const Exception& e) {
            printLibraryMessage(e);
            failed = true;
        }
        if (!failed && result.isNull()) {
            request.found = 0;
            continue;
        }
        Uint32 id = 0;
        if (!failed && !readValue(result, id)) {
            std::printf("MakeID answered a value of type %s%s instead of uint32\n", cimTypeName(result.getType()),
                        result.isArray() ? "[]" : "");
            std::fflush(stdout);
            failed = true;
        }
        if (failed) {
            std::fputs("Error: Unable to get unique ID for cell or I/O chassis.\n", stderr);
            request.found = 0;
            return 1;
        }
        request.uniqueId = id;
    }
    return 0;
}

int getCellAssignments(Array<Uint32>& list, int& count) {
    const CIMValue& value = storedValue(RecordKind::Complex, 0, ComplexProperty::CellAssignments);
    // A list that is not a uint32 array counts as no list, like a null one.
    if (!readArray(value, list)) {
        count = 0;
        return 1;
    }
    count = static_cast<int>(list.size());
    return 0;
}

int getCellAssignment(long long cellNumber, Uint32& partitionNumber) {
    Array<Uint32> list;
    int count = 0;
    if (getCellAssignments(list, count) != 0) return 1;
    // A cell the list has no entry for belongs to no partition, as with an empty list.
    if (cellNumber < 0 || cellNumber >= count)
        partitionNumber = notGiven;
    else
        partitionNumber = list[static_cast<std::size_t>(cellNumber)];
    return 0;
}

void removeSpaces(String& text) { std::erase(text, ' '); }

}  // namespace cmplxview
