// Instance tables: one process-wide table of fetched instances per record
// kind, filled from the provider, with the reporting of provider failures.
#pragma once

#include <memory>
#include <vector>

#include "access/Schema.h"
#include "cim/Object.h"

namespace cmplxview {

// One fetched instance: its values in the order of its kind's property list,
// stored as the provider typed them; null where the instance lacked the
// property or sent it null.
struct InstanceRecord {
    int propertyCount = 0;
    cim::String className;
    std::vector<cim::CIMValue> values;
};

using InstanceTable = std::vector<InstanceRecord>;

// The kind's current table (empty until created).
InstanceTable& instanceTable(RecordKind kind);
// The value at position p of record index of the kind's table; a null value
// when the table has no such record.
const cim::CIMValue& storedValue(RecordKind kind, int index, int position);

// The current table of a kind, taken out so it can be put back later.
std::shared_ptr<InstanceTable> saveInstanceTable(RecordKind kind);
void restoreInstanceTable(RecordKind kind, std::shared_ptr<InstanceTable> table);

// The most records a table may have: a provider that answers with more
// instances than this is refused rather than allowed to exhaust memory.
inline constexpr int maxTableRecords = 100000;

int countInstances(const cim::String& className);
int createInstanceTable(RecordKind kind, int recordCount);
int fetchAllInstances(RecordKind kind);
// Counts the instances of the kind's class, makes its table that large and
// fills it. Returns 0 with count set; 1 when there are fewer than `least`
// instances or the table cannot be made or filled. With `least` 0 a class
// without instances leaves its table as it is.
int loadAllInstances(RecordKind kind, int& count, int least = 1);
// Writes the client's message and a line break on standard output, flushed,
// so that it comes before the program's own explanation on standard error.
void printLibraryMessage(const cim::Exception& e);
int fetchSelectedInstances(RecordKind kind);
void copyListedProperties(const cim::CIMInstance& instance, InstanceRecord& record);
void copyListedProperties(cim::CIMInstance&& instance, InstanceRecord& record);  // moves the values
int getPropertyValue(const cim::CIMInstance& instance, const cim::String& name, cim::CIMValue& value);

enum class FetchVariant { Enumeration, Keyed };
void reportInstanceStatus(const cim::CIMInstance& instance, const char* objectWord, FetchVariant variant);

// Takes a provider error text apart: the decimal code after its last '@' and
// the message after the first ':' that follows it.
void splitProviderError(const cim::String& text, int& code, cim::String& message);

}  // namespace cmplxview
