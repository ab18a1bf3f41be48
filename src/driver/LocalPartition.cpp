#include "driver/LocalPartition.h"

#include <cstdio>

#include "access/Decoding.h"
#include "connection/ProviderConnection.h"

namespace cmplxview {

using namespace cim;

int queryLocalPartition() {
    if (countInstances("XK_KestLocalPartition") != 1) return 1;
    if (createInstanceTable(RecordKind::LocalPartition, 1) != 0) return 1;
    if (fetchAllInstances(RecordKind::LocalPartition) != 0) return 1;
    CIMObjectPath path;
    // A reference of another type counts as not given, like a null one.
    if (!readValue(storedValue(RecordKind::LocalPartition, 0, LocalPartitionProperty::ContainedPartition), path))
        return 1;
    CIMInstance instance;
    try {
        instance = activeClient->getInstance(activeNameSpace, path, true, false, false, CIMPropertyList());
    } catch (const Exception& e) {
        std::printf("%s\n", e.getMessage().c_str());
        std::fflush(stdout);
        return 1;
    }
    CIMValue value;
    if (getPropertyValue(instance, "PartitionID", value) != 0) return 1;
    Uint32 number = 0;
    if (!readValue(value, number)) return 1;
    std::printf("The local partition number is %d.\n", static_cast<int>(number));
    return 0;
}

}  // namespace cmplxview
