#include "access/Instances.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <vector>

#include "connection/ProviderConnection.h"
#include "driver/Arguments.h"

namespace cmplxview {

using namespace cim;

namespace {

std::shared_ptr<InstanceTable>& slot(RecordKind kind) {
    static std::shared_ptr<InstanceTable> slots[recordKindCount];
    auto& s = slots[static_cast<int>(kind)];
    if (!s) s = std::make_shared<InstanceTable>();
    return s;
}

// The keyed fetch names its kinds with words of its own.
struct KeyedKind {
    RecordKind kind;
    const char* keyName;
    const char* word;
    std::uint32_t LocationRequest::*number;
};
constexpr KeyedKind keyedKinds[] = {
    {RecordKind::Cabinet, "ID", "cabinet", &LocationRequest::cabinetNumber},
    {RecordKind::CellSlot, "ID", "cell slot", &LocationRequest::uniqueId},
    {RecordKind::IOChassisSlot, "ID", "iochassis slot", &LocationRequest::uniqueId},
    {RecordKind::Partition, "PartitionID", "partition", &LocationRequest::partitionId},
};

}  // namespace

InstanceTable& instanceTable(RecordKind kind) { return *slot(kind); }

const CIMValue& storedValue(RecordKind kind, int index, int position) {
    static const CIMValue null;
    const InstanceTable& table = instanceTable(kind);
    if (index < 0 || static_cast<std::size_t>(index) >= table.size()) return null;
    const InstanceRecord& record = table[static_cast<std::size_t>(index)];
    if (position < 0 || static_cast<std::size_t>(position) >= record.values.size()) return null;
    return record.values[static_cast<std::size_t>(position)];
}

std::shared_ptr<InstanceTable> saveInstanceTable(RecordKind kind) { return slot(kind); }

void restoreInstanceTable(RecordKind kind, std::shared_ptr<InstanceTable> table) {
    slot(kind) = table ? std::move(table) : std::make_shared<InstanceTable>();
}

int countInstances(const String& className) {
    try {
        Array<CIMObjectPath> names = activeClient->enumerateInstanceNames(activeNameSpace, CIMName(className));
        return static_cast<int>(names.size() > static_cast<std::size_t>(maxTableRecords) ? maxTableRecords + 1
                                                                                       : names.size());
    } catch (const Exception& e) {
        printLibraryMessage(e);
        std::fprintf(stderr, "Note: Unable to get any %s information.\n", className.c_str());
        return -1;
    }
}

int createInstanceTable(RecordKind kind, int recordCount) {
    // A count past the limit comes from a provider that answers with more
    // instances than any complex has; refuse it instead of exhausting memory.
    if (recordCount < 0 || recordCount > maxTableRecords) {
        std::fprintf(stderr, "Error: The provider reported %d instances of %s; at most %d are accepted.\n",
                     recordCount, kindInfo(kind).className, maxTableRecords);
        return 1;
    }
    const KindInfo& info = kindInfo(kind);
    try {
        auto table = std::make_shared<InstanceTable>(static_cast<std::size_t>(recordCount));
        for (auto& record : *table) {
            record.propertyCount = static_cast<int>(info.properties.size());
            record.className = info.className;
            record.values.assign(info.properties.size(), CIMValue());
        }
        slot(kind) = std::move(table);
    } catch (const std::bad_alloc&) {
        return 1;
    }
    return 0;
}

namespace {

// The record's class decides the property list; both cell kinds read the
// same class, so the list is found by the record's length.
const char* const* listedProperties(const InstanceRecord& record) {
    for (int k = 0; k < recordKindCount; ++k) {
        const KindInfo& info = kindInfo(static_cast<RecordKind>(k));
        if (record.className == info.className && info.properties.size() == record.values.size())
            return info.properties.data();
    }
    return nullptr;
}

// Hands each listed property of the instance that has a value to `store(slot, property)`.
template <class Instance, class Store>
void storeListedProperties(Instance& instance, InstanceRecord& record, Store store) {
    const char* const* names = listedProperties(record);
    if (!names) return;
    for (std::size_t p = 0; p < record.values.size(); ++p) {
        Uint32 i = instance.findProperty(CIMName(names[p]));
        if (i == PEG_NOT_FOUND) continue;
        auto& property = instance.getProperty(i);
        if (!property.getValue().isNull()) store(record.values[p], property);
    }
}

}  // namespace

void printLibraryMessage(const Exception& e) {
    std::fputs(e.getMessage().c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void copyListedProperties(const CIMInstance& instance, InstanceRecord& record) {
    storeListedProperties(instance, record, [](CIMValue& slot, const CIMProperty& from) { slot = from.getValue(); });
}

// A fetched instance is not kept: its values move into the record.
void copyListedProperties(CIMInstance&& instance, InstanceRecord& record) {
    storeListedProperties(instance, record, [](CIMValue& slot, CIMProperty& from) { slot = from.releaseValue(); });
}

int getPropertyValue(const CIMInstance& instance, const String& name, CIMValue& value) {
    Uint32 i = instance.findProperty(CIMName(name));
    if (i == PEG_NOT_FOUND) return 1;
    const CIMValue& v = instance.getProperty(i).getValue();
    if (v.isNull()) return 1;
    value = v;
    return 0;
}

namespace {

// What an instance says of its own state: its errorCode, and its errorMsg
// when it has one.
struct InstanceStatus {
    CIMValue code;
    std::optional<CIMValue> message;
};

std::optional<InstanceStatus> instanceStatus(const CIMInstance& instance) {
    InstanceStatus status;
    if (getPropertyValue(instance, "errorCode", status.code) != 0) return std::nullopt;
    if (CIMValue message; getPropertyValue(instance, "errorMsg", message) == 0) status.message = std::move(message);
    return status;
}

void reportStatus(const InstanceStatus& status, const char* objectWord, FetchVariant variant) {
    const CIMValue& codeValue = status.code;
    // The provider types errorCode as uint32. A code of another integer type
    // is taken by its value; any other type counts as an unknown code (-1),
    // so the instance is still reported as possibly incomplete.
    long long code = -1;
    if (!codeValue.isArray()) {
        String text = codeValue.toString();
        switch (codeValue.getType()) {
            case CIMType::Uint8: case CIMType::Uint16: case CIMType::Uint32: case CIMType::Uint64:
            case CIMType::Sint8: case CIMType::Sint16: case CIMType::Sint32: case CIMType::Sint64:
                code = std::strtoll(text.c_str(), nullptr, 10);
                break;
            default: break;
        }
    }
    const bool hasMessage = status.message.has_value();
    if (code == 22) {
        std::fprintf(stderr, "Unable to get read lock for %s.\n", objectWord);
    } else if (code == 0) {
        if (variant == FetchVariant::Keyed) std::fprintf(stderr, "Internal error code %d\n", 0);
    } else if (hasMessage) {
        std::fputs("The following message was returned from a low level subsystem. \n", stderr);
        std::fprintf(stderr, "%s\n", status.message->toString().c_str());
        std::fflush(stderr);
    } else if (variant == FetchVariant::Enumeration) {
        std::fprintf(stderr, "Internal error code %d\n", static_cast<int>(static_cast<Uint32>(code)));
    }
    std::fputs("May not be able to display complete information.\n", stderr);
}

}  // namespace

void reportInstanceStatus(const CIMInstance& instance, const char* objectWord, FetchVariant variant) {
    if (auto status = instanceStatus(instance)) reportStatus(*status, objectWord, variant);
}

int fetchAllInstances(RecordKind kind) {
    const KindInfo& info = kindInfo(kind);
    InstanceTable& table = instanceTable(kind);
    // Each instance is stored as it is read, so that a large answer's
    // instances are never all in memory. The table keeps the size it was made
    // with: instances beyond it (the provider gained some since it was
    // counted) are reported and not stored. What instances say of their state
    // is reported once the whole answer is read; an answer that fails leaves
    // the table as it was.
    std::size_t count = 0;
    std::vector<InstanceStatus> statuses;
    try {
        activeClient->enumerateInstances(activeNameSpace, CIMName(info.className), false, false, true, false,
                                         CIMPropertyList(), [&](CIMInstance&& instance) {
                                             if (auto status = instanceStatus(instance))
                                                 statuses.push_back(std::move(*status));
                                             if (count < table.size())
                                                 copyListedProperties(std::move(instance), table[count]);
                                             ++count;
                                         });
    } catch (const Exception& e) {
        for (std::size_t i = 0; i < count && i < table.size(); ++i)
            table[i].values.assign(table[i].values.size(), CIMValue());
        printLibraryMessage(e);
        std::fprintf(stderr, "Note: Unable to get any %s information.\n", info.objectWord);
        return 1;
    }
    if (count == 0) {
        std::fprintf(stderr, "Error: No information available for any %s.\n", info.objectWord);
        return 1;
    }
    for (const auto& status : statuses) reportStatus(status, info.objectWord, FetchVariant::Enumeration);
    return 0;
}

int loadAllInstances(RecordKind kind, int& count, int least) {
    count = countInstances(kindInfo(kind).className);
    if (count < least) return 1;
    if (count == 0) return 0;
    if (createInstanceTable(kind, count) != 0) return 1;
    return fetchAllInstances(kind);
}

int fetchSelectedInstances(RecordKind kind) {
    const KeyedKind* keyed = nullptr;
    for (const auto& k : keyedKinds)
        if (k.kind == kind) keyed = &k;
    InstanceTable& table = instanceTable(kind);
    if (!keyed) return 0;
    const KindInfo& info = kindInfo(kind);
    for (int k = 0; k < locationRequestCount && k < maxLocationRequests; ++k) {
        LocationRequest& request = locationRequests[k];
        CIMValue number(static_cast<Sint32>(request.*keyed->number));
        Array<CIMKeyBinding> keys{CIMKeyBinding(keyed->keyName, number.toString(), CIMKeyBinding::NUMERIC)};
        CIMObjectPath path(String(), activeNameSpace, CIMName(info.className), keys);
        CIMInstance instance;
        try {
            instance = activeClient->getInstance(activeNameSpace, path, true, false, false, CIMPropertyList());
        } catch (const Exception& e) {
            int code = 0;
            String message;
            splitProviderError(e.getMessage(), code, message);
            if (code != 16 && code != 17) printLibraryMessage(e);
            request.found = 0;
            continue;
        }
        reportInstanceStatus(instance, keyed->word, FetchVariant::Keyed);
        if (static_cast<std::size_t>(k) < table.size())
            copyListedProperties(std::move(instance), table[static_cast<std::size_t>(k)]);
    }
    return 0;
}

void splitProviderError(const String& text, int& code, String& message) {
    std::size_t at = text.rfind('@');
    if (at == String::npos) {
        code = 0;
        message.clear();
        return;
    }
    // Leading blanks and one sign, then digits up to the first non-digit.
    std::size_t i = at + 1;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (value < 1000000000000LL) value = value * 10 + (text[i] - '0');
    if (negative) value = -value;
    code = value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : static_cast<int>(value);
    std::size_t colon = text.find(':', at);
    message = colon == String::npos ? String() : text.substr(colon + 1);
}

}  // namespace cmplxview
