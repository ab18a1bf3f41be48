// The operation handler at the object level: Request in, Response out,
// grouped by operation.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "Fixtures.h"

namespace kest::test {
namespace {

using cim::xml::Operation;
using cim::xml::Request;
using cim::xml::Response;

std::string codeOf(const Response& r) { return r.errorCode ? std::to_string(*r.errorCode) : "ok"; }

// ---------------------------------------------------------------- namespaces and classes

struct RoutingCase {
    const char* name;
    Request request;
    cim::Uint32 expectedCode;  // 0: success
};

TEST(ProviderRouting, NamespaceAndClassChecksOfEveryOperation) {
    const RoutingCase cases[] = {
        {"unknown namespace", request(Operation::EnumerateInstances, "XK_KestCell", "root/cimv2/nope"), 3},
        {"namespace with slashes", request(Operation::EnumerateInstances, "XK_KestCell", "/root/cimv2/kest/"), 0},
        {"namespace in capitals", request(Operation::EnumerateInstanceNames, "XK_KestCell", "ROOT/CIMV2/KEST"), 0},
        {"remote namespace before its complex is created",
         request(Operation::EnumerateInstances, "XK_KestComplex", "root/cimv2/kest/mp1"), 3},
        {"prefix of a namespace", request(Operation::GetClass, "XK_KestCell", "root/cimv2"), 3},
        {"unknown class to enumerate", request(Operation::EnumerateInstances, "XK_KestNothing"), 5},
        {"unknown class to name", request(Operation::EnumerateInstanceNames, "XK_KestNothing"), 5},
        {"unknown class to get", request(Operation::GetClass, "XK_KestNothing"), 5},
        {"class name in lower case", request(Operation::GetClass, "xk_kestcell"), 0},
        {"unknown class of an instance", onPath(Operation::GetInstance, "XK_KestNothing.ID=1"), 5},
        {"unknown class of a method", method("XK_KestNothing.ID=1", "MakeID", {}), 5},
        {"namespace checked before class", request(Operation::GetClass, "XK_KestNothing", "root/none"), 3},
        {"delete of a published instance", onPath(Operation::DeleteInstance, "XK_KestCell.SlotID=0"), 7},
    };
    Provider provider = testProvider();
    for (const auto& c : cases) {
        Response r = provider.execute(c.request);
        EXPECT_EQ(codeOf(r), c.expectedCode ? std::to_string(c.expectedCode) : "ok") << c.name;
        if (c.expectedCode) {
            EXPECT_FALSE(r.errorDescription.empty()) << c.name;
        }
    }
    Request create;
    create.operation = Operation::CreateInstance;
    create.nameSpace = kNs;
    create.newInstance = cim::CIMInstance("XK_KestCell");
    EXPECT_EQ(codeOf(provider.execute(create)), "7");
}

TEST(ProviderRouting, ResponseEchoesMessageIdAndOperation) {
    Provider provider = testProvider();
    Request r = method("XK_KestCellSlot", "MakeID",
                       {cim::CIMParamValue("CabinetID", cim::Uint8(0)), cim::CIMParamValue("SlotNumber", cim::Uint8(1))});
    r.messageId = "4711";
    Response out = provider.execute(r);
    EXPECT_EQ(out.messageId, "4711");
    EXPECT_EQ(out.operation, Operation::InvokeMethod);
    EXPECT_EQ(out.methodName, "MakeID");
    Request bad = request(Operation::GetClass, "Nope");
    bad.messageId = "99";
    EXPECT_EQ(provider.execute(bad).messageId, "99");
}

// ---------------------------------------------------------------- EnumerateInstanceNames

struct NamesCase {
    const char* className;
    std::vector<std::string> expected;  // path texts in order
};

TEST(ProviderEnumerateInstanceNames, NamesInFileOrderWithKeyBindings) {
    const NamesCase cases[] = {
        {"XK_KestCellSlot", {"XK_KestCellSlot.ID=0", "XK_KestCellSlot.ID=1", "XK_KestCellSlot.ID=2", "XK_KestCellSlot.ID=17"}},
        {"XK_KestPartition", {"XK_KestPartition.PartitionID=0", "XK_KestPartition.PartitionID=1"}},
        {"XK_KestLocalPartition", {"XK_KestLocalPartition"}},  // no key property: the class alone
        {"XK_KestRemoteComplex", {}},                          // in the schema, without instances
    };
    Provider provider = testProvider();
    for (const auto& c : cases) {
        Response r = provider.execute(request(Operation::EnumerateInstanceNames, c.className));
        ASSERT_FALSE(r.errorCode) << c.className;
        std::vector<std::string> got;
        for (const auto& p : r.instanceNames) got.push_back(p.toString());
        EXPECT_EQ(got, c.expected) << c.className;
    }
}

TEST(ProviderEnumerateInstanceNames, KeyBindingsAreNumericForIntegerKeys) {
    Provider provider = testProvider();
    Response r = provider.execute(request(Operation::EnumerateInstanceNames, "XK_KestCabinet"));
    ASSERT_EQ(r.instanceNames.size(), 2u);
    const auto& key = r.instanceNames[1].getKeyBindings().at(0);
    EXPECT_EQ(key.getName().getString(), "ID");
    EXPECT_EQ(key.getValue(), "8");
    EXPECT_EQ(key.getType(), cim::CIMKeyBinding::NUMERIC);
}

// ---------------------------------------------------------------- EnumerateInstances

struct EnumerateCase {
    const char* name;
    std::optional<std::vector<cim::CIMName>> propertyList;
    bool includeQualifiers;
    bool includeClassOrigin;
    std::function<void(const std::vector<cim::CIMInstance>&)> check;
};

TEST(ProviderEnumerateInstances, PropertyListQualifiersAndOrigin) {
    const EnumerateCase cases[] = {
        {"all properties, absent ones missing, null ones present", std::nullopt, false, false,
         [](const std::vector<cim::CIMInstance>& is) {
             ASSERT_EQ(is.size(), 3u);
             EXPECT_EQ(is[0].getPropertyCount(), 8u);
             EXPECT_EQ(prop(is[0], "CPUSpeed"), cim::CIMValue(cim::Uint32(1600)));
             EXPECT_EQ(prop(is[0], "TotalMemoryInstalled"), cim::CIMValue(cim::Uint64(4096)));
             const cim::CIMValue cpus = prop(is[0], "CPUStatus");
             ASSERT_TRUE(cpus.isArray());
             ASSERT_EQ(cpus.getArraySize(), 4u);
             EXPECT_TRUE(cpus.isElementNull(3));
             EXPECT_FALSE(cpus.isElementNull(2));
             EXPECT_TRUE(hasProp(is[1], "CPUSpeed"));
             EXPECT_TRUE(prop(is[1], "CPUSpeed").isNull());
             EXPECT_EQ(prop(is[1], "CPUSpeed").getType(), cim::CIMType::Uint32);
             EXPECT_EQ(prop(is[1], "CPUStatus").getArraySize(), 0u);
             EXPECT_FALSE(prop(is[1], "CPUStatus").isNull());
             EXPECT_FALSE(hasProp(is[1], "FirmwareRevision"));
             EXPECT_EQ(prop(is[2], "errorCode"), cim::CIMValue(cim::Uint32(22)));
             EXPECT_EQ(prop(is[2], "errorMsg"), cim::CIMValue("could not take the read lock"));
             EXPECT_EQ(is[2].getPath().toString(), "XK_KestCell.SlotID=2");
         }},
        {"property list picks names without regard to case", std::vector<cim::CIMName>{"slotid", "CPUSPEED"}, false, false,
         [](const std::vector<cim::CIMInstance>& is) {
             ASSERT_EQ(is.size(), 3u);
             EXPECT_EQ(is[0].getPropertyCount(), 2u);
             EXPECT_EQ(is[1].getPropertyCount(), 2u);  // CPUSpeed present but null
             EXPECT_EQ(is[2].getPropertyCount(), 1u);  // errorCode not asked for
             EXPECT_FALSE(hasProp(is[2], "errorCode"));
         }},
        {"empty property list gives no properties", std::vector<cim::CIMName>{}, false, false,
         [](const std::vector<cim::CIMInstance>& is) {
             ASSERT_EQ(is.size(), 3u);
             for (const auto& i : is) EXPECT_EQ(i.getPropertyCount(), 0u);
             EXPECT_EQ(is[1].getPath().toString(), "XK_KestCell.SlotID=1");
         }},
        {"qualifiers only when asked for", std::nullopt, false, false,
         [](const std::vector<cim::CIMInstance>& is) {
             for (const auto& p : is[0].properties()) EXPECT_EQ(p.getQualifierCount(), 0u) << p.getName();
         }},
        {"qualifiers from the class", std::nullopt, true, false,
         [](const std::vector<cim::CIMInstance>& is) {
             const auto& status = is[0].getProperty(is[0].findProperty("ComponentStatus"));
             ASSERT_NE(status.findQualifier("ValueMap"), cim::PEG_NOT_FOUND);
             EXPECT_EQ(status.getQualifier(status.findQualifier("ValueMap")).getValue().getArraySize(), 5u);
             const auto& id = is[0].getProperty(is[0].findProperty("SlotID"));
             EXPECT_NE(id.findQualifier("key"), cim::PEG_NOT_FOUND);
         }},
        {"class origin when asked for", std::nullopt, false, true,
         [](const std::vector<cim::CIMInstance>& is) {
             EXPECT_EQ(is[0].getProperty(0).getClassOrigin().getString(), "XK_KestCell");
         }},
        {"no class origin otherwise", std::nullopt, false, false,
         [](const std::vector<cim::CIMInstance>& is) { EXPECT_TRUE(is[0].getProperty(0).getClassOrigin().isNull()); }},
    };
    Provider provider = testProvider();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Request r = request(Operation::EnumerateInstances, "XK_KestCell");
        if (c.propertyList) r.propertyList = cim::CIMPropertyList(*c.propertyList);
        r.includeQualifiers = c.includeQualifiers;
        r.includeClassOrigin = c.includeClassOrigin;
        Response out = provider.execute(r);
        ASSERT_FALSE(out.errorCode) << out.errorDescription;
        c.check(out.instances);
    }
}

TEST(ProviderEnumerateInstances, ValuesKeepTheirSchemaTypes) {
    Provider provider = testProvider();
    Response r = provider.execute(request(Operation::EnumerateInstances, "XK_KestLocalPartition"));
    ASSERT_EQ(r.instances.size(), 1u);
    cim::CIMValue v = prop(r.instances[0], "ContainedPartition");
    ASSERT_EQ(v.getType(), cim::CIMType::Reference);
    cim::CIMObjectPath path;
    v.get(path);
    EXPECT_EQ(path.getClassName().getString(), "XK_KestPartition");
    EXPECT_EQ(path.getKeyBindings().at(0).getValue(), "1");

    r = provider.execute(request(Operation::EnumerateInstances, "XK_KestPartition"));
    ASSERT_EQ(r.instances.size(), 2u);
    cim::Array<cim::Boolean> use;
    prop(r.instances[0], "CellUseOnNextBoot").get(use);
    EXPECT_EQ(use, (cim::Array<cim::Boolean>{true, true, false, false}));
    EXPECT_EQ(prop(r.instances[1], "PartitionName"), cim::CIMValue("beta <&> \"quoted\""));
}

// ---------------------------------------------------------------- GetInstance

struct GetCase {
    const char* path;
    std::string expected;  // "ok" or the code
    const char* property;  // checked on success
    cim::CIMValue value;
};

TEST(ProviderGetInstance, KeysCompareNumericallyAndNamesWithoutCase) {
    const GetCase cases[] = {
        {"XK_KestCellSlot.ID=17", "ok", "LongLabel", cim::CIMValue("Cabinet 1 Cell 1")},
        {"XK_KestCellSlot.ID=017", "ok", "ID", cim::CIMValue(cim::Uint32(17))},
        {"XK_KestCellSlot.ID=+17", "ok", "ID", cim::CIMValue(cim::Uint32(17))},
        {"XK_KestCellSlot.ID=\"17\"", "ok", "ID", cim::CIMValue(cim::Uint32(17))},
        {"xk_kestcellslot.id=0", "ok", "LongLabel", cim::CIMValue("Cabinet 0 Cell 0")},
        {"XK_KestPartition.PartitionID=1", "ok", "PartitionName", cim::CIMValue("beta <&> \"quoted\"")},
        {"XK_KestLocalPartition", "ok", "ContainedPartition", cim::CIMValue(cim::CIMObjectPath("XK_KestPartition.PartitionID=1"))},
        {"XK_KestCellSlot.ID=255", "6", nullptr, {}},
        {"XK_KestCellSlot.ID=-0", "ok", "ID", cim::CIMValue(cim::Uint32(0))},
        {"XK_KestCellSlot.ID=1.0", "6", nullptr, {}},
        {"XK_KestCellSlot.ID=\"seventeen\"", "6", nullptr, {}},
        {"XK_KestCellSlot.Number=1", "6", nullptr, {}},      // not the key
        {"XK_KestCellSlot", "6", nullptr, {}},               // key missing
        {"XK_KestCellSlot.ID=1,Number=1", "6", nullptr, {}}, // one key too many
        {"XK_KestPartition.PartitionID=2", "6", nullptr, {}},
    };
    Provider provider = testProvider();
    for (const auto& c : cases) {
        Response r = provider.execute(onPath(Operation::GetInstance, c.path));
        ASSERT_EQ(codeOf(r), c.expected) << c.path << ": " << r.errorDescription;
        if (c.property) {
            EXPECT_EQ(prop(r.instance, c.property), c.value) << c.path;
        } else {
            // A missing instance carries the provider code 16 after the last '@' and a message after it.
            const auto at = r.errorDescription.rfind('@');
            ASSERT_NE(at, std::string::npos) << c.path;
            EXPECT_EQ(r.errorDescription.substr(at, 4), "@16:") << c.path;
            EXPECT_GT(r.errorDescription.size(), at + 4) << c.path;
        }
    }
}

TEST(ProviderGetInstance, PropertyListAndPath) {
    Provider provider = testProvider();
    Request r = onPath(Operation::GetInstance, "XK_KestCell.SlotID=0");
    r.propertyList = cim::CIMPropertyList({"ComponentStatus", "DIMMSize"});
    Response out = provider.execute(r);
    ASSERT_FALSE(out.errorCode);
    EXPECT_EQ(out.instance.getPropertyCount(), 2u);
    EXPECT_EQ(out.instance.getPath().toString(), "XK_KestCell.SlotID=0");
    cim::Array<cim::Uint16> dimms;
    prop(out.instance, "DIMMSize").get(dimms);
    EXPECT_EQ(dimms, (cim::Array<cim::Uint16>{2048, 2048}));
}

// ---------------------------------------------------------------- GetClass

struct ClassCase {
    const char* name;
    const char* className;
    bool includeQualifiers;
    std::optional<std::vector<cim::CIMName>> propertyList;
    std::function<void(const cim::CIMClass&)> check;
};

cim::Array<cim::String> valueMapOf(const cim::CIMClass& c, const char* property) {
    const auto& p = c.getProperty(c.findProperty(property));
    cim::Array<cim::String> texts;
    p.getQualifier(p.findQualifier("ValueMap")).getValue().get(texts);
    return texts;
}

TEST(ProviderGetClass, DefinitionsWithQualifiersAndMethods) {
    const ClassCase cases[] = {
        {"ValueMap texts in code order", "XK_KestCell", true, std::nullopt,
         [](const cim::CIMClass& c) {
             EXPECT_EQ(valueMapOf(c, "ComponentStatus"),
                       (cim::Array<cim::String>{"Unknown", "Active", "Powered off", "Inactive", "Other"}));
             EXPECT_EQ(valueMapOf(c, "cellarchitecture"), (cim::Array<cim::String>{"Unknown", "VX_ARCH", "WX_ARCH"}));
             EXPECT_EQ(c.getPropertyCount(), 8u);
         }},
        {"Key qualifier on the key only", "XK_KestCellSlot", true, std::nullopt,
         [](const cim::CIMClass& c) {
             const auto& id = c.getProperty(c.findProperty("ID"));
             ASSERT_NE(id.findQualifier("Key"), cim::PEG_NOT_FOUND);
             EXPECT_EQ(id.getQualifier(id.findQualifier("Key")).getValue(), cim::CIMValue(true));
             EXPECT_FALSE(id.getQualifier(id.findQualifier("Key")).getFlavor().overridable);
             const auto& label = c.getProperty(c.findProperty("LongLabel"));
             EXPECT_EQ(label.findQualifier("Key"), cim::PEG_NOT_FOUND);
         }},
        {"property types, arrays and reference classes", "XK_KestLocalPartition", true, std::nullopt,
         [](const cim::CIMClass& c) {
             const auto& ref = c.getProperty(0);
             EXPECT_EQ(ref.getType(), cim::CIMType::Reference);
             EXPECT_EQ(ref.getReferenceClassName().getString(), "XK_KestPartition");
             EXPECT_TRUE(ref.getValue().isNull());
         }},
        {"array property", "XK_KestCell", true, std::nullopt,
         [](const cim::CIMClass& c) {
             const auto& p = c.getProperty(c.findProperty("DIMMSize"));
             EXPECT_EQ(p.getType(), cim::CIMType::Uint16);
             EXPECT_TRUE(p.isArray());
         }},
        {"no qualifiers when not asked for", "XK_KestCell", false, std::nullopt,
         [](const cim::CIMClass& c) {
             for (const auto& p : c.properties()) EXPECT_EQ(p.getQualifierCount(), 0u) << p.getName();
         }},
        {"property list", "XK_KestCell", true, std::vector<cim::CIMName>{"cpustatus"},
         [](const cim::CIMClass& c) {
             ASSERT_EQ(c.getPropertyCount(), 1u);
             EXPECT_EQ(valueMapOf(c, "CPUStatus"), (cim::Array<cim::String>{"Unknown", "Active", "Failed"}));
         }},
        {"MakeID of the I/O chassis slot", "XK_KestIOChassisSlot", true, std::nullopt,
         [](const cim::CIMClass& c) {
             ASSERT_NE(c.findMethod("makeid"), cim::PEG_NOT_FOUND);
             const auto& m = c.getMethod(c.findMethod("MakeID"));
             EXPECT_EQ(m.getType(), cim::CIMType::Uint32);
             ASSERT_EQ(m.parameters().size(), 3u);
             EXPECT_EQ(m.parameters()[1].getName().getString(), "BayNumber");
             EXPECT_EQ(m.parameters()[1].getType(), cim::CIMType::Uint8);
         }},
        {"NameSpaceName answers a string", "XK_KestRemoteComplex", true, std::nullopt,
         [](const cim::CIMClass& c) {
             ASSERT_NE(c.findMethod("NameSpaceName"), cim::PEG_NOT_FOUND);
             EXPECT_EQ(c.getMethod(c.findMethod("NameSpaceName")).getType(), cim::CIMType::String);
         }},
    };
    Provider provider = testProvider();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Request r = request(Operation::GetClass, c.className);
        r.includeQualifiers = c.includeQualifiers;
        r.localOnly = false;
        if (c.propertyList) r.propertyList = cim::CIMPropertyList(*c.propertyList);
        Response out = provider.execute(r);
        ASSERT_FALSE(out.errorCode) << out.errorDescription;
        EXPECT_EQ(out.cimClass.getClassName().getString(), c.className);
        c.check(out.cimClass);
    }
}

// ---------------------------------------------------------------- InvokeMethod: MakeID

struct MakeIdCase {
    const char* name;
    const char* target;
    cim::Array<cim::CIMParamValue> params;
    std::string expected;  // "ok" or the code
    cim::Uint32 id;        // on success
    const char* providerCode;  // on failure, the "@N:" expected, or nullptr
};

TEST(ProviderInvokeMethod, MakeIdTurnsPositionsIntoSlotIds) {
    using P = cim::CIMParamValue;
    const MakeIdCase cases[] = {
        {"cell slot", "XK_KestCellSlot.ID=0", {P("CabinetID", cim::Uint8(0)), P("SlotNumber", cim::Uint8(2))}, "ok", 2, nullptr},
        {"cell slot in another cabinet", "XK_KestCellSlot.ID=0",
         {P("CabinetID", cim::Uint8(1)), P("SlotNumber", cim::Uint8(1))}, "ok", 17, nullptr},
        {"call on the class", "XK_KestCellSlot", {P("CabinetID", cim::Uint8(0)), P("SlotNumber", cim::Uint8(1))}, "ok", 1, nullptr},
        {"untyped parameters arrive as text", "XK_KestCellSlot",
         {P("CabinetID", cim::CIMValue("1"), false), P("SlotNumber", cim::CIMValue("1"), false)}, "ok", 17, nullptr},
        {"wider integer types", "XK_KestCellSlot",
         {P("CabinetID", cim::Uint32(0)), P("SlotNumber", cim::Sint64(2))}, "ok", 2, nullptr},
        {"parameter names without case", "XK_KestCellSlot",
         {P("slotnumber", cim::Uint8(1)), P("CABINETID", cim::Uint8(0))}, "ok", 1, nullptr},
        {"unknown position", "XK_KestCellSlot.ID=0", {P("CabinetID", cim::Uint8(0)), P("SlotNumber", cim::Uint8(9))}, "6", 0, "@17:"},
        {"slot number of another cabinet", "XK_KestCellSlot",
         {P("CabinetID", cim::Uint8(1)), P("SlotNumber", cim::Uint8(0))}, "6", 0, "@17:"},
        {"missing parameter", "XK_KestCellSlot", {P("CabinetID", cim::Uint8(0))}, "4", 0, nullptr},
        {"parameter not a number", "XK_KestCellSlot",
         {P("CabinetID", cim::CIMValue("zero"), false), P("SlotNumber", cim::Uint8(0))}, "4", 0, nullptr},
        {"target instance missing", "XK_KestCellSlot.ID=99",
         {P("CabinetID", cim::Uint8(0)), P("SlotNumber", cim::Uint8(0))}, "6", 0, "@16:"},
        {"I/O chassis slot", "XK_KestIOChassisSlot.ID=32",
         {P("CabinetID", cim::Uint8(8)), P("BayNumber", cim::Uint8(1)), P("SlotNumber", cim::Uint8(3))}, "ok", 35, nullptr},
        {"I/O chassis slot in bay 0", "XK_KestIOChassisSlot",
         {P("CabinetID", cim::Uint8(8)), P("BayNumber", cim::Uint8(0)), P("SlotNumber", cim::Uint8(1))}, "ok", 32, nullptr},
        {"I/O chassis bay mismatch", "XK_KestIOChassisSlot",
         {P("CabinetID", cim::Uint8(8)), P("BayNumber", cim::Uint8(0)), P("SlotNumber", cim::Uint8(3))}, "6", 0, "@17:"},
        {"I/O chassis without bay", "XK_KestIOChassisSlot",
         {P("CabinetID", cim::Uint8(8)), P("SlotNumber", cim::Uint8(3))}, "4", 0, nullptr},
        {"method the class lacks", "XK_KestCell.SlotID=0", {}, "17", 0, nullptr},
        {"unknown method", "XK_KestCellSlot.ID=0", {}, "17", 0, nullptr},
    };
    Provider provider = testProvider();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Response r = provider.execute(method(c.target, std::string(c.name) == "unknown method" ? "Frobnicate" : "MakeID", c.params));
        ASSERT_EQ(codeOf(r), c.expected) << r.errorDescription;
        if (c.expected == "ok") {
            ASSERT_FALSE(r.returnValue.isNull());
            ASSERT_EQ(r.returnValue.getType(), cim::CIMType::Uint32);
            cim::Uint32 id = 0;
            r.returnValue.get(id);
            EXPECT_EQ(id, c.id);
        } else if (c.providerCode) {
            const auto at = r.errorDescription.rfind('@');
            ASSERT_NE(at, std::string::npos);
            EXPECT_EQ(r.errorDescription.substr(at, 4), c.providerCode);
            EXPECT_GT(r.errorDescription.size(), at + 4);
        }
    }
}

// ---------------------------------------------------------------- remote complexes

struct RemoteStep {
    const char* name;
    Request request;
    std::string expected;              // "ok" or the code
    const char* providerCode;          // "@N:" in the description, or nullptr
    std::function<void(const Response&)> check;
};

TEST(ProviderRemoteComplex, CreateQueryUseAndDelete) {
    const std::string remoteNs = "root/cimv2/kest/mp1";
    auto nameSpaceName = [](const char* address, const std::string& ns = kNs) {
        return method(std::string("XK_KestRemoteComplex.Address=\"") + address + "\"", "NameSpaceName", {}, ns);
    };
    auto text = [](const char* want) {
        return [want](const Response& r) {
            ASSERT_EQ(r.returnValue.getType(), cim::CIMType::String);
            EXPECT_EQ(r.returnValue.toString(), want);
        };
    };
    const RemoteStep steps[] = {
        {"namespace name before creation", nameSpaceName("10.1.1.1"), "6", "@16:", nullptr},
        {"wrong IPMI password", createRemote("10.1.1.1", "guess"), "2", "@11:", nullptr},
        {"password missing counts as empty", createRemote("10.1.1.1", "", false), "2", "@11:", nullptr},
        {"unknown MP", createRemote("10.9.9.9", "ipmi-secret"), "6", "@12:", nullptr},
        {"remote namespace still hidden", request(Operation::EnumerateInstances, "XK_KestComplex", remoteNs), "3", nullptr, nullptr},
        {"right password", createRemote("10.1.1.1", "ipmi-secret"), "ok", nullptr,
         [](const Response& r) { EXPECT_EQ(r.instanceName.toString(), "XK_KestRemoteComplex.Address=\"10.1.1.1\""); }},
        {"namespace name", nameSpaceName("10.1.1.1"), "ok", nullptr, text("root/cimv2/kest/mp1")},
        {"remote namespace published", request(Operation::EnumerateInstances, "XK_KestComplex", remoteNs), "ok", nullptr,
         [](const Response& r) {
             ASSERT_EQ(r.instances.size(), 1u);
             EXPECT_EQ(prop(r.instances[0], "ComplexName"), cim::CIMValue("remoteplex"));
         }},
        {"created instance enumerated", request(Operation::EnumerateInstanceNames, "XK_KestRemoteComplex"), "ok", nullptr,
         [](const Response& r) {
             ASSERT_EQ(r.instanceNames.size(), 1u);
             EXPECT_EQ(r.instanceNames[0].toString(), "XK_KestRemoteComplex.Address=\"10.1.1.1\"");
         }},
        {"password never published", request(Operation::EnumerateInstances, "XK_KestRemoteComplex"), "ok", nullptr,
         [](const Response& r) {
             ASSERT_EQ(r.instances.size(), 1u);
             EXPECT_FALSE(hasProp(r.instances[0], "Password"));
         }},
        {"delete from the remote namespace",
         onPath(Operation::DeleteInstance, "XK_KestRemoteComplex.Address=\"10.1.1.1\"", remoteNs), "ok", nullptr, nullptr},
        {"remote namespace gone", request(Operation::EnumerateInstances, "XK_KestComplex", remoteNs), "3", nullptr, nullptr},
        {"second delete", onPath(Operation::DeleteInstance, "XK_KestRemoteComplex.Address=\"10.1.1.1\""), "6", "@16:", nullptr},
        {"MP whose namespace is empty", createRemote("mp-empty", "pw"), "ok", nullptr, nullptr},
        {"empty namespace name", nameSpaceName("mp-empty"), "ok", nullptr, text("")},
        {"delete without Address", onPath(Operation::DeleteInstance, "XK_KestRemoteComplex"), "6", "@16:", nullptr},
    };
    Provider provider = testProvider();
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        Response r = provider.execute(s.request);
        ASSERT_EQ(codeOf(r), s.expected) << r.errorDescription;
        if (s.providerCode) {
            const auto at = r.errorDescription.rfind('@');
            ASSERT_NE(at, std::string::npos) << r.errorDescription;
            EXPECT_EQ(r.errorDescription.substr(at, 4), s.providerCode);
            EXPECT_GT(r.errorDescription.size(), at + 4);
        }
        if (s.check) s.check(r);
    }
    EXPECT_EQ(provider.activeRemoteComplexes(), std::vector<std::string>{"mp-empty"});
}

TEST(ProviderRemoteComplex, EachCreationNeedsItsOwnDeletion) {
    Provider provider = testProvider();
    const std::string remoteNs = "root/cimv2/kest/mp1";
    ASSERT_FALSE(provider.execute(createRemote("10.1.1.1", "ipmi-secret")).errorCode);
    ASSERT_FALSE(provider.execute(createRemote("10.1.1.1", "ipmi-secret")).errorCode);
    const Request del = onPath(Operation::DeleteInstance, "XK_KestRemoteComplex.Address=\"10.1.1.1\"");
    ASSERT_FALSE(provider.execute(del).errorCode);
    EXPECT_FALSE(provider.execute(request(Operation::GetClass, "XK_KestCell", remoteNs)).errorCode);
    ASSERT_FALSE(provider.execute(del).errorCode);
    EXPECT_EQ(provider.execute(request(Operation::GetClass, "XK_KestCell", remoteNs)).errorCode, 3u);
}

}  // namespace
}  // namespace kest::test
