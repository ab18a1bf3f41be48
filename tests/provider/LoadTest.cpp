// The schema and complex file loaders and the MOF printer.
#include <gtest/gtest.h>

#include "Fixtures.h"
#include "Mof.h"

namespace kest::test {
namespace {

using Json = nlohmann::ordered_json;

// A file's text and what its error must hold; the error starts with the file name.
using BadFileCase = std::pair<const char*, const char*>;

void expectLoadError(const std::function<void()>& load, const BadFileCase& c, const std::string& file) {
    try {
        load();
        ADD_FAILURE() << "accepted: " << c.first;
    } catch (const LoadError& e) {
        const std::string what = e.what();
        EXPECT_TRUE(what.rfind(file, 0) == 0 && what.find(c.second) != std::string::npos) << c.first << " -> " << what;
    }
}

TEST(SchemaLoad, RejectsBrokenSchemasWithAPlace) {
    const BadFileCase cases[] = {
        {"{", "not valid JSON"},
        {"[]", "is not an object"},
        {"{}", "lacks \"classes\""},
        {R"({"classes": [{"properties": []}]})", "lacks \"name\""},
        {R"({"classes": [{"name": "A"}, {"name": "a"}]})", "defined twice"},
        {R"({"classes": [{"name": "A", "properties": [{"name": "P", "type": "uint7"}]}]})", "unknown CIM type \"uint7\""},
        {R"({"classes": [{"name": "A", "properties": [{"name": "P"}]}]})", "lacks \"type\""},
        {R"({"classes": [{"name": "A", "properties": [{"name": "P", "type": "uint8", "kee": true}]}]})",
         "unknown field \"kee\""},
        {R"({"classes": [{"name": "A", "properties": [{"name": "P", "type": "uint8", "key": true, "array": true}]}]})",
         "cannot be a key"},
        {R"({"classes": [{"name": "A", "properties": [{"name": "P", "type": "uint8"}, {"name": "p", "type": "string"}]}]})",
         "declares the property p twice"},
        {R"({"classes": [{"name": "A", "properties": [{"name": "P", "type": "uint8", "valueMap": ["a", 1]}]}]})",
         "valueMap entry that is not a string"},
        {R"({"classes": [{"name": "A", "properties": [{"name": "P", "type": "string", "referenceClass": "B"}]}]})",
         "not a reference"},
        {R"({"classes": [{"name": "B", "superclass": "A"}, {"name": "A"}]})", "must be defined before it"},
        {R"({"classes": [{"name": "A", "methods": [{"name": "M", "type": "uint32", "parameters": [{"name": "X", "type": "uint8"}, {"name": "x", "type": "uint8"}]}]}]})",
         "repeats the parameter name"},
        {R"({"classes": [{"name": "A", "properties": {"name": "P"}}]})", "is not an array"},
    };
    for (const auto& c : cases) expectLoadError([&] { Schema::parse(c.first, "s.json"); }, c, "s.json");
}

TEST(SchemaLoad, SubclassesInheritAndOverride) {
    const Schema s = Schema::parse(R"({"classes": [
        {"name": "Base", "properties": [{"name": "ID", "type": "uint32", "key": true}, {"name": "Label", "type": "string"}],
         "methods": [{"name": "MakeID", "type": "uint32"}]},
        {"name": "Derived", "superclass": "base", "properties": [{"name": "Label", "type": "string", "description": "mine"},
                                                                {"name": "Extra", "type": "sint16"}]}]})",
                                   "s.json");
    const ClassDef* d = s.find("DERIVED");
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->properties.size(), 3u);
    const auto& p = d->properties;  // the second overridden here
    EXPECT_EQ(std::make_tuple(p[0].propagated, p[0].originClass, p[1].propagated, p[1].originClass),
              std::make_tuple(true, "Base", false, "Derived"));
    EXPECT_EQ(d->keys().size(), 1u);
    EXPECT_NE(d->findMethod("makeid"), nullptr);
    EXPECT_EQ(std::make_pair(s.derivesFrom(*d, *s.find("Base")), s.derivesFrom(*s.find("Base"), *d)), std::make_pair(true, false));
    EXPECT_EQ(d->cimClass.getSuperClassName().getString(), "base");
    EXPECT_EQ(d->cimClass.getPropertyCount(), 3u);
    // Only what the subclass declares itself is printed with it.
    const std::string mof = printMof(s);
    EXPECT_NE(mof.find("class Derived : base\n{\n    [Description(\"mine\")] string Label;\n    sint16 Extra;\n};\n"),
              std::string::npos) << mof;
}

TEST(Mof, PrintsClassesPropertiesQualifiersAndMethods) {
    std::ifstream in(dataPath("schema.mof"));
    EXPECT_EQ(printMof(testSchema()), std::string(std::istreambuf_iterator<char>(in), {}));
}

TEST(Mof, StringLiteralsAreEscaped) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "\"plain\""},
        {"a\"b", "\"a\\\"b\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"line\nbreak\ttab", "\"line\\nbreak\\ttab\""},
        {std::string("bell\x07", 5), "\"bell\\x0007\""},
        {"", "\"\""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(mofString(in), out) << in;
}

TEST(ComplexValues, JsonValuesTakeTheSchemaType) {
    using T = cim::CIMType;
    // the JSON value, the schema's type, whether an array, the value (nothing: a LoadError)
    const std::tuple<const char*, T, bool, std::optional<cim::CIMValue>> cases[] = {
        {"255", T::Uint8, false, cim::CIMValue(cim::Uint8(255))},
        {"256", T::Uint8, false, std::nullopt},
        {"-1", T::Uint8, false, std::nullopt},
        {"-128", T::Sint8, false, cim::CIMValue(cim::Sint8(-128))},
        {"-129", T::Sint8, false, std::nullopt},
        {"4294967295", T::Uint32, false, cim::CIMValue(cim::Uint32(4294967295u))},
        {"4294967296", T::Uint32, false, std::nullopt},
        {"18446744073709551615", T::Uint64, false, cim::CIMValue(cim::Uint64(18446744073709551615ull))},
        {"-9223372036854775808", T::Sint64, false, cim::CIMValue(cim::Sint64(INT64_MIN))},
        {"9223372036854775808", T::Sint64, false, std::nullopt},
        {"1.5", T::Uint32, false, std::nullopt},
        {"\"12\"", T::Uint32, false, std::nullopt},
        {"1.5", T::Real64, false, cim::CIMValue(cim::Real64(1.5))},
        {"2", T::Real32, false, cim::CIMValue(cim::Real32(2))},
        {"true", T::Boolean, false, cim::CIMValue(true)},
        {"1", T::Boolean, false, std::nullopt},
        {"\"x\"", T::Char16, false, cim::CIMValue(cim::Char16{'x'})},
        {"\"xy\"", T::Char16, false, std::nullopt},
        {"\"text\"", T::String, false, cim::CIMValue("text")},
        {"7", T::String, false, std::nullopt},
        {"\"20240101120000.000000+000\"", T::DateTime, false, cim::CIMValue(cim::CIMDateTime("20240101120000.000000+000"))},
        {"\"XK_KestPartition.PartitionID=3\"", T::Reference, false,
         cim::CIMValue(cim::CIMObjectPath("XK_KestPartition.PartitionID=3"))},
        {"null", T::Uint16, false, cim::CIMValue(T::Uint16, false)},
        {"null", T::Uint16, true, cim::CIMValue(T::Uint16, true)},
        {"[1, 2]", T::Uint16, true, cim::CIMValue(cim::Array<cim::Uint16>{1, 2})},
        {"[]", T::Uint16, true, cim::CIMValue(cim::Array<cim::Uint16>{})},
        {"[1, null]", T::Uint16, true, cim::CIMValue::makeArray(T::Uint16, {cim::CIMValue::Scalar(cim::Uint16(1)), std::nullopt})},
        {"[1, 70000]", T::Uint16, true, std::nullopt},
        {"3", T::Uint16, true, std::nullopt},
        {"[3]", T::Uint16, false, std::nullopt},
        // A forced type overrides the schema's.
        {R"({"$type": "string", "value": "12"})", T::Uint32, false, cim::CIMValue("12")},
        {R"({"$type": "sint8", "value": -3})", T::Uint32, false, cim::CIMValue(cim::Sint8(-3))},
        {R"({"$type": "string", "array": true, "value": ["a", null]})", T::Uint32, false,
         cim::CIMValue::makeArray(T::String, {cim::CIMValue::Scalar(cim::String("a")), std::nullopt})},
        {R"({"$type": "uint32"})", T::String, false, cim::CIMValue(T::Uint32, false)},
        {R"({"$type": "uint33", "value": 1})", T::String, false, std::nullopt},
        {R"({"$type": "uint8", "value": 1, "extra": 1})", T::String, false, std::nullopt},
    };
    for (const auto& [json, type, isArray, expected] : cases) {
        PropertyDef def;
        def.name = "P", def.type = type, def.isArray = isArray;
        if (!expected) { EXPECT_THROW(typedValue(Json::parse(json), &def, "here"), LoadError) << json; continue; }
        const cim::CIMValue v = typedValue(Json::parse(json), &def, "here");
        EXPECT_EQ(v, *expected) << json << " as " << cim::cimTypeName(type) << ": got " << v;
        EXPECT_EQ(std::make_tuple(v.getType(), v.isArray(), v.isNull()),
                  std::make_tuple(expected->getType(), expected->isArray(), expected->isNull())) << json;
    }
}

TEST(ComplexLoad, RejectsBrokenComplexFilesWithAPlace) {
    const BadFileCase cases[] = {
        {"nope", "not valid JSON"},
        {"{}", "needs \"namespaces\""},
        {R"({"namespaces": {}, "extra": 1})", "unknown field \"extra\""},
        {R"({"namespaces": {"ns": {"XK_Unknown": []}}})", "ns/XK_Unknown: class not in the schema"},
        {R"({"namespaces": {"ns": {"XK_KestCell": {}}}})", "must be a list"},
        {R"({"namespaces": {"ns": {"XK_KestCell": [{"SlotID": -1}]}}})", "XK_KestCell[0].SlotID: value -1 out of range"},
        {R"({"namespaces": {"ns": {"XK_KestCell": [{"SlotID": 1}, {"Bogus": 1}]}}})", "XK_KestCell[1].Bogus: not a property"},
        {R"({"namespaces": {"ns": {"XK_KestCell": [{"SlotID": 1, "slotid": 2}]}}})", "given twice"},
        {R"({"namespaces": {"ns": {"XK_KestCell": [], "xk_kestcell": []}}})", "class listed twice"},
        {R"({"namespaces": {"ns": {}, "/ns/": {}}})", "namespace listed twice"},
        {R"({"namespaces": {"/": {}}})", "empty namespace name"},
        {R"({"namespaces": {"ns": {"XK_KestLocalPartition": [{"ContainedPartition": "=broken="}]}}})", "bad object path"},
        {R"({"namespaces": {"ns": {}}, "users": [{"name": "a"}]})", "users[0]: needs \"name\" and \"password\""},
        {R"({"namespaces": {"ns": {}}, "users": [{"name": "a:b", "password": "p"}]})", "cannot contain ':'"},
        {R"({"namespaces": {"ns": {}}, "remoteComplexes": [{"address": "a", "password": "p", "namespace": "other"}]})",
         "\"other\" is not listed"},
        {R"({"namespaces": {"ns": {}}, "remoteComplexes": [{"address": "a", "password": "p"}]})", "needs \"namespace\""},
        {R"({"namespaces": {"ns": {}}, "remoteComplexes": [{"address": "a", "password": "p", "namespace": ""},
              {"address": "a", "password": "q", "namespace": ""}]})",
         "listed twice"},
        {R"({"namespaces": {"ns": {}}, "faults": [{"operation": "GetClass"}]})", "faults[0]: needs an \"action\""},
        {R"({"namespaces": {"ns": {}}, "faults": [{"action": "explode"}]})", "unknown action \"explode\""},
        {R"({"namespaces": {"ns": {}}, "faults": [{"action": "drop", "operation": "GetThing"}]})", "unknown operation"},
        {R"({"namespaces": {"ns": {}}, "faults": [{"action": "cimError"}]})", "needs \"code\""},
        {R"({"namespaces": {"ns": {}}, "faults": [{"action": "httpStatus", "status": 99}]})", "from 100 to 599"},
        {R"({"namespaces": {"ns": {}}, "faults": [{"action": "httpStatus", "status": 600}]})", "needs \"status\""},
        {R"({"namespaces": {"ns": {}}, "faults": [{"action": "delay"}]})", "needs \"ms\""},
        {R"({"namespaces": {"ns": {}}, "faults": [{"action": "returnValue"}]})", "needs a \"value\""},
        {R"({"namespaces": {"ns": {}}, "faults": [{"action": "returnValue", "value": 5}]})", "needs its type"},
        {R"({"namespaces": {"ns": {}}, "faults": [{"action": "drop", "nth": 0}]})", "positive integer"},
        {R"({"namespaces": {"ns": {}}, "faults": [{"action": "drop", "when": 1}]})", "unknown field \"when\""},
    };
    for (const auto& c : cases) expectLoadError([&] { Complex::parse(c.first, testSchema(), "c.json"); }, c, "c.json");
}

// Properties in schema order, then those the schema lacks; a key that is missing or null is left out of the name.
TEST(ComplexLoad, InstancesKeepSchemaOrderThenExtras) {
    const Complex c = Complex::parse(R"({"namespaces": {"/root/x/": {"XK_KestCellSlot": [
        {"zzExtra": {"$type": "uint8", "value": 1}, "Number": 4, "ID": 9, "errorMsg": "m", "CabinetID": 2, "errorCode": 5},
        {"LongLabel": "a"}, {"ID": null}, {"ID": {"$type": "string", "value": "x"}}]}}})",
                                     testSchema(), "c.json");
    const NamespaceData* ns = c.findNamespace("ROOT/X");
    ASSERT_NE(ns, nullptr);
    EXPECT_EQ(ns->name, "root/x");
    EXPECT_EQ(ns->instancesOf("XK_KestCell"), nullptr);
    ASSERT_NE(ns->instancesOf("xk_kestcellslot"), nullptr);
    const auto& list = *ns->instancesOf("xk_kestcellslot");
    ASSERT_EQ(list.size(), 4u);
    std::vector<std::string> names, paths;
    for (const auto& p : list[0].properties()) names.push_back(p.getName().getString());
    for (const auto& i : list) paths.push_back(i.getPath().toString());
    EXPECT_EQ(names, (std::vector<std::string>{"CabinetID", "ID", "Number", "zzExtra", "errorMsg", "errorCode"}));
    EXPECT_EQ(paths, (std::vector<std::string>{"XK_KestCellSlot.ID=9", "XK_KestCellSlot", "XK_KestCellSlot",
                                               "XK_KestCellSlot.ID=\"x\""}));
    EXPECT_EQ(prop(list[0], "errorCode"), cim::CIMValue(cim::Uint32(5)));
    EXPECT_EQ(prop(list[0], "CabinetID"), cim::CIMValue(cim::Uint8(2)));
}

}  // namespace
}  // namespace kest::test
