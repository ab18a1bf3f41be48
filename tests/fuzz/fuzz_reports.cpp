// libFuzzer harness over the reports' value decoding: every record kind's
// instance table gets random typed values in every property position (three
// in four of the schema's type), then every report's build and print runs
// over every record under random -A/-V/-M. ValueMap lookups go to a client
// that is never connected, so they take the "no text" path. A crash, a
// sanitizer report or an exception that escapes a report is a finding; the
// inputs and what is reached are described in README.md.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "access/Instances.h"
#include "access/Schema.h"
#include "connection/ProviderConnection.h"
#include "driver/Arguments.h"
#include "driver/CommandOptions.h"
#include "reports/Cabinets.h"
#include "reports/CellDetails.h"
#include "reports/Cells.h"
#include "reports/Complex.h"
#include "reports/IOChassis.h"
#include "reports/Partitions.h"

using namespace cim;
using namespace cmplxview;

namespace {

constexpr int maxRecords = 5;
constexpr int maxArray = 12;

// An integer: mostly below 8 (IDs, codes and counts), sometimes 254/255 ("none") or anywhere.
template <class T>
T number(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: return in.ConsumeIntegral<T>();
        case 1: return static_cast<T>(255 - in.ConsumeIntegralInRange<int>(0, 1));
        case 2: return static_cast<T>(in.ConsumeIntegralInRange<int>(0, 63));
        default: return static_cast<T>(in.ConsumeIntegralInRange<int>(0, 7));
    }
}

// Up to 200 characters: past every FixedText capacity (at most 81).
String text(FuzzedDataProvider& in) { return in.ConsumeRandomLengthString(200); }

CIMValue::Scalar scalar(FuzzedDataProvider& in, CIMType type) {
    switch (type) {
        case CIMType::Boolean: return in.ConsumeBool();
        case CIMType::Uint8: return number<Uint8>(in);
        case CIMType::Sint8: return number<Sint8>(in);
        case CIMType::Uint16: return number<Uint16>(in);
        case CIMType::Sint16: return number<Sint16>(in);
        case CIMType::Uint32: return number<Uint32>(in);
        case CIMType::Sint32: return number<Sint32>(in);
        case CIMType::Uint64: return number<Uint64>(in);
        case CIMType::Sint64: return number<Sint64>(in);
        case CIMType::Real32: return in.ConsumeFloatingPoint<Real32>();
        case CIMType::Real64: return in.ConsumeFloatingPoint<Real64>();
        case CIMType::Char16: return Char16{in.ConsumeIntegral<Uint16>()};
        case CIMType::String: return text(in);
        case CIMType::DateTime: return CIMDateTime(text(in));
        case CIMType::Reference: {
            // A reference such as ContainedPartition: a class and one numeric key.
            const bool partition = in.ConsumeBool();
            return CIMObjectPath(String(), CIMNamespaceName(), CIMName(partition ? "XK_KestPartition" : text(in)),
                                 {CIMKeyBinding(CIMName(partition ? "PartitionID" : text(in)),
                                                std::to_string(number<Uint32>(in)), CIMKeyBinding::NUMERIC)});
        }
    }
    return String();
}

// The type the provider's schema gives a property, so that most values get
// past the reports' type checks into what follows them.
struct SchemaType {
    CIMType type;
    bool isArray;
};
std::map<std::string, SchemaType> schemaTypes;  // "Class.Property"

void loadSchema() {
    std::ifstream file(KEST_SCHEMA_FILE);
    const auto schema = nlohmann::json::parse(file);
    for (const auto& c : schema.at("classes"))
        for (const auto& p : c.at("properties")) {
            auto type = cimTypeFromName(p.at("type").get<std::string>());
            if (!type) std::abort();
            schemaTypes[c.at("name").get<std::string>() + "." + p.at("name").get<std::string>()] = {
                *type, p.value("array", false)};
        }
    if (schemaTypes.empty()) std::abort();
}

CIMValue value(FuzzedDataProvider& in, const SchemaType* typed) {
    auto type = static_cast<CIMType>(in.ConsumeIntegralInRange<int>(0, int(CIMType::Reference)));
    int shape = in.ConsumeIntegralInRange<int>(0, 3);  // 0 null, 1 array, 2 and 3 scalar
    if (typed && in.ConsumeIntegralInRange<int>(0, 3) != 0) {
        type = typed->type;
        if (shape != 0) shape = typed->isArray ? 1 : 2;
    }
    switch (shape) {
        case 0: return CIMValue();  // not given
        case 1: {
            std::vector<std::optional<CIMValue::Scalar>> elements(in.ConsumeIntegralInRange<std::size_t>(0, maxArray));
            for (auto& e : elements)
                if (in.ConsumeIntegralInRange<int>(0, 7) != 0) e = scalar(in, type);
            return CIMValue::makeArray(type, std::move(elements));
        }
        default: return CIMValue(scalar(in, type));
    }
}

void fill(FuzzedDataProvider& in, RecordKind kind, int n) {
    if (createInstanceTable(kind, n) != 0) std::abort();
    const KindInfo& info = kindInfo(kind);
    for (InstanceRecord& record : instanceTable(kind))
        for (std::size_t p = 0; p < record.values.size(); ++p) {
            auto typed = schemaTypes.find(std::string(info.className) + "." + info.properties[p]);
            record.values[p] = value(in, typed == schemaTypes.end() ? nullptr : &typed->second);
        }
}

int size(RecordKind kind) { return static_cast<int>(instanceTable(kind).size()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    loadSchema();
    activeClient = providerConnection().client;
    activeNameSpace = CIMNamespaceName("root/cimv2/kest");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t length) {
    FuzzedDataProvider in(data, length);
    CommandOptions options = {};
    options.availableOnly = in.ConsumeBool();
    options.verbose = in.ConsumeBool();
    options.machineReadable = in.ConsumeBool();
    // The table sizes first, so that an input that runs out early still
    // gives every kind its records (with null values from there on).
    int sizes[recordKindCount];
    for (int& n : sizes) n = in.ConsumeIntegralInRange<int>(0, maxRecords);
    for (int k = 0; k < recordKindCount; ++k) fill(in, static_cast<RecordKind>(k), sizes[k]);
    // The partition report's cell table has one record per cell slot.
    fill(in, RecordKind::PartitionCell, size(RecordKind::CellSlot));

    using enum RecordKind;
    const int complexes = size(Complex), cabinets = size(Cabinet), domains = size(PowerCoolingDomain),
              cells = size(Cell), cellSlots = size(CellSlot), chassisSlots = size(IOChassisSlot),
              chassis = size(IOChassis), partitions = size(Partition);

    printComplex(complexes, cabinets);

    createCabinetRecord(domains);
    for (int i = 0; i < cabinets; ++i) {
        buildCabinetRecord(options, i, cabinets, domains, complexes);
        printCabinet(options);
    }

    createCellRecord();
    for (int i = 0; i < cellSlots; ++i) {
        buildCellRecord(options, i, cells, cellSlots, chassisSlots, complexes, partitions);
        printCell(options);
        printCellRow();
        printCellLine();
    }
    // The cell rows of a partition's device list (-p -V) are built without -V.
    CommandOptions rows = options;
    rows.verbose = false;
    createCellRecord();
    for (int i = 0; i < cellSlots; ++i) {
        buildCellRecord(rows, i, cells, cellSlots, chassisSlots, complexes, partitions);
        printCellRow();
    }

    createIOChassisRecord();
    for (int i = 0; i < chassisSlots; ++i) {
        buildIOChassisRecord(options, i, chassisSlots, chassis, cellSlots, complexes);
        printIOChassis(options);
        printIOChassisRow();
    }

    createPartitionRecord();
    for (int i = 0; i < partitions; ++i) {
        buildPartitionRecord(options, i, partitions, complexes, cells, cellSlots);
        printPartition(options);
    }
    std::fflush(stdout);
    return 0;
}
