// Reading stored values, ValueMap texts, the cell-to-partition assignments,
// location labels and the unique numbers of cells and I/O chassis named by
// their position.
#pragma once

#include "access/Instances.h"

namespace cmplxview {

// Reads a stored value as the CIM type T. A null value, and a value the
// provider sent with another type than the one the program reads it as,
// both count as not given: false, out untouched.
template <class T>
bool readValue(const cim::CIMValue& value, T& out) {
    if (value.isNull() || value.isArray() || value.getType() != cim::CIMValue::typeOf<T>()) return false;
    value.get(out);
    return true;
}

// Reads a whole array value; false as for readValue.
template <class T>
bool readArray(const cim::CIMValue& value, cim::Array<T>& out) {
    if (value.isNull() || !value.isArray() || value.getType() != cim::CIMValue::typeOf<T>()) return false;
    value.get(out);
    return true;
}

// Reads element index of an array value; false when the value is not given,
// has another type, is shorter than index + 1, or the element is null.
template <class T>
bool readElement(const cim::CIMValue& value, long long index, T& out) {
    if (value.isNull() || !value.isArray() || value.getType() != cim::CIMValue::typeOf<T>()) return false;
    if (index < 0 || index >= static_cast<long long>(value.getArraySize())) return false;
    auto i = static_cast<cim::Uint32>(index);
    if (value.isElementNull(i)) return false;
    value.getElement(i).get(out);
    return true;
}

// Number of elements of an array value; 0 when not given or not an array.
cim::Uint32 arraySize(const cim::CIMValue& value);

int lookupValueMap(const cim::String& className, const cim::String& propertyName, unsigned long long value,
                   cim::String& text);
int resolveUniqueIds(const cim::String& slotClassName);
int getCellAssignments(cim::Array<cim::Uint32>& list, int& count);
// The partition of a cell; a cell number past the end of the list answers
// 255, as for an empty list.
int getCellAssignment(long long cellNumber, cim::Uint32& partitionNumber);
void removeSpaces(cim::String& text);

}  // namespace cmplxview
