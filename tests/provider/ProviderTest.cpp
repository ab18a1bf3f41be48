// The operation handler at the object level: Request in, Response out.
#include <gtest/gtest.h>

#include <optional>

#include "Fixtures.h"

namespace kest::test {
namespace {

using cim::xml::Operation;
using cim::xml::Request;
using cim::xml::Response;
using P = cim::CIMParamValue;

// Namespace, class and key checks of every operation (keys compare as numbers, names without case), and
// MakeID, which turns positions into slot ids.
TEST(ProviderRouting, AnswersOfEveryOperation) {
    Request createCell = request(Operation::CreateInstance, "");
    createCell.newInstance = cim::CIMInstance("XK_KestCell");
    auto u8 = [](const char* name, int v) { return P(name, cim::Uint8(v)); };
    auto makeId = [](const char* target, const cim::Array<P>& params) { return method(target, "MakeID", params); };
    const std::tuple<const char*, Request, const char*> cases[] = {  // name, request, answer
        {"unknown namespace", request(Operation::EnumerateInstances, "XK_KestCell", "root/cimv2/nope"), "3 "},
        {"namespace with slashes", request(Operation::EnumerateInstances, "XK_KestCell", "/root/cimv2/kest/"),
         "XK_KestCell.SlotID=0 XK_KestCell.SlotID=1 XK_KestCell.SlotID=2"},
        {"namespace in capitals", request(Operation::EnumerateInstanceNames, "XK_KestCabinet", "ROOT/CIMV2/KEST"),
         "XK_KestCabinet.ID=0 XK_KestCabinet.ID=8"},
        {"names in file order", request(Operation::EnumerateInstanceNames, "XK_KestCellSlot"),
         "XK_KestCellSlot.ID=0 XK_KestCellSlot.ID=1 XK_KestCellSlot.ID=2 XK_KestCellSlot.ID=17"},
        {"name without a key", request(Operation::EnumerateInstanceNames, "XK_KestLocalPartition"), "XK_KestLocalPartition"},
        {"class without instances", request(Operation::EnumerateInstanceNames, "XK_KestRemoteComplex"), ""},
        {"remote namespace before its complex is created",
         request(Operation::EnumerateInstances, "XK_KestComplex", "root/cimv2/kest/mp1"), "3 "},
        {"prefix of a namespace", request(Operation::GetClass, "XK_KestCell", "root/cimv2"), "3 "},
        {"unknown class to enumerate", request(Operation::EnumerateInstances, "XK_KestNothing"), "5 "},
        {"unknown class to name", request(Operation::EnumerateInstanceNames, "XK_KestNothing"), "5 "},
        {"unknown class to get", request(Operation::GetClass, "XK_KestNothing"), "5 "},
        {"class name in lower case", request(Operation::GetClass, "xk_kestcell"), "ok"},
        {"unknown class of an instance", onPath(Operation::GetInstance, "XK_KestNothing.ID=1"), "5 "},
        {"unknown class of a method", method("XK_KestNothing.ID=1", "MakeID", {}), "5 "},
        {"namespace checked before class", request(Operation::GetClass, "XK_KestNothing", "root/none"), "3 "},
        {"key", onPath(Operation::GetInstance, "XK_KestCellSlot.ID=17"), "XK_KestCellSlot.ID=17"},
        {"key with a leading zero", onPath(Operation::GetInstance, "XK_KestCellSlot.ID=017"), "XK_KestCellSlot.ID=17"},
        {"key with a sign", onPath(Operation::GetInstance, "XK_KestCellSlot.ID=+17"), "XK_KestCellSlot.ID=17"},
        {"key as a string", onPath(Operation::GetInstance, "XK_KestCellSlot.ID=\"17\""), "XK_KestCellSlot.ID=17"},
        {"names in lower case", onPath(Operation::GetInstance, "xk_kestcellslot.id=0"), "XK_KestCellSlot.ID=0"},
        {"negative zero", onPath(Operation::GetInstance, "XK_KestCellSlot.ID=-0"), "XK_KestCellSlot.ID=0"},
        {"no key property", onPath(Operation::GetInstance, "XK_KestLocalPartition"), "XK_KestLocalPartition"},
        {"no such key", onPath(Operation::GetInstance, "XK_KestCellSlot.ID=255"), "6 @16:"},
        {"key not an integer", onPath(Operation::GetInstance, "XK_KestCellSlot.ID=1.0"), "6 @16:"},
        {"key not a number", onPath(Operation::GetInstance, "XK_KestCellSlot.ID=\"seventeen\""), "6 @16:"},
        {"not the key", onPath(Operation::GetInstance, "XK_KestCellSlot.Number=1"), "6 @16:"},
        {"key missing", onPath(Operation::GetInstance, "XK_KestCellSlot"), "6 @16:"},
        {"one key too many", onPath(Operation::GetInstance, "XK_KestCellSlot.ID=1,Number=1"), "6 @16:"},
        {"no such partition", onPath(Operation::GetInstance, "XK_KestPartition.PartitionID=2"), "6 @16:"},
        {"delete of a published instance", onPath(Operation::DeleteInstance, "XK_KestCell.SlotID=0"), "7 "},
        {"create of a published class", createCell, "7 "},
        {"method of a class without methods", method("XK_KestCell.SlotID=0", "MakeID", {}), "17 "},
        {"unknown method", method("XK_KestCellSlot.ID=0", "Frobnicate", {}), "17 "},
        {"MakeID", makeId("XK_KestCellSlot.ID=0", {u8("CabinetID", 0), u8("SlotNumber", 2)}), "uint32 2"},
        {"MakeID", makeId("XK_KestCellSlot.ID=0", {u8("CabinetID", 1), u8("SlotNumber", 1)}), "uint32 17"},
        {"MakeID", makeId("XK_KestCellSlot", {u8("CabinetID", 0), u8("SlotNumber", 1)}), "uint32 1"},
        {"MakeID", makeId("XK_KestCellSlot", {P("CabinetID", cim::CIMValue("1"), false),
                                                P("SlotNumber", cim::CIMValue("1"), false)}), "uint32 17"},
        {"MakeID", makeId("XK_KestCellSlot", {P("CabinetID", cim::Uint32(0)), P("SlotNumber", cim::Sint64(2))}), "uint32 2"},
        {"MakeID", makeId("XK_KestCellSlot", {u8("slotnumber", 1), u8("CABINETID", 0)}), "uint32 1"},
        {"MakeID", makeId("XK_KestCellSlot.ID=0", {u8("CabinetID", 0), u8("SlotNumber", 9)}), "6 @17:"},
        {"MakeID", makeId("XK_KestCellSlot", {u8("CabinetID", 1), u8("SlotNumber", 0)}), "6 @17:"},
        {"MakeID", makeId("XK_KestCellSlot", {u8("CabinetID", 0)}), "4 "},
        {"MakeID", makeId("XK_KestCellSlot", {P("CabinetID", cim::CIMValue("zero"), false), u8("SlotNumber", 0)}), "4 "},
        {"MakeID", makeId("XK_KestCellSlot.ID=99", {u8("CabinetID", 0), u8("SlotNumber", 0)}), "6 @16:"},
        {"MakeID", makeId("XK_KestIOChassisSlot.ID=32", {u8("CabinetID", 8), u8("BayNumber", 1), u8("SlotNumber", 3)}), "uint32 35"},
        {"MakeID", makeId("XK_KestIOChassisSlot", {u8("CabinetID", 8), u8("BayNumber", 0), u8("SlotNumber", 1)}), "uint32 32"},
        {"MakeID", makeId("XK_KestIOChassisSlot", {u8("CabinetID", 8), u8("BayNumber", 0), u8("SlotNumber", 3)}), "6 @17:"},
        {"MakeID", makeId("XK_KestIOChassisSlot", {u8("CabinetID", 8), u8("SlotNumber", 3)}), "4 "},
    };
    Provider provider = testProvider();
    int n = 0;
    for (const auto& [name, request, expected] : cases) {
        SCOPED_TRACE(std::string(name) + ", row " + std::to_string(n));
        Request r = request;
        r.messageId = std::to_string(4700 + n++);
        Response out = provider.execute(r);
        EXPECT_EQ(answer(out), expected) << out.errorDescription;
        EXPECT_EQ(out.errorDescription.empty(), !out.errorCode);
        EXPECT_EQ(out.messageId, r.messageId);
        if (!out.errorCode) { EXPECT_EQ(out.operation, r.operation); }
        EXPECT_EQ(out.methodName, r.methodName);
    }
}

// Enumerates the test complex's cells with these options.
std::vector<cim::CIMInstance> cells(std::optional<std::vector<cim::CIMName>> propertyList, bool qualifiersAndOrigin = false) {
    Request r = request(Operation::EnumerateInstances, "XK_KestCell");
    if (propertyList) r.propertyList = cim::CIMPropertyList(*propertyList);
    r.includeQualifiers = r.includeClassOrigin = qualifiersAndOrigin;
    Response out = testProvider().execute(r);
    EXPECT_EQ(answer(out), "XK_KestCell.SlotID=0 XK_KestCell.SlotID=1 XK_KestCell.SlotID=2") << out.errorDescription;
    out.instances.resize(3);
    return out.instances;
}

TEST(ProviderEnumerateInstances, PropertyListQualifiersAndOrigin) {
    auto is = cells(std::nullopt);  // absent properties missing, null ones present
    EXPECT_EQ(is[0].getPropertyCount(), 8u);
    EXPECT_EQ(prop(is[0], "CPUSpeed"), cim::CIMValue(cim::Uint32(1600)));
    EXPECT_EQ(prop(is[0], "TotalMemoryInstalled"), cim::CIMValue(cim::Uint64(4096)));
    using S = cim::CIMValue::Scalar;
    EXPECT_EQ(prop(is[0], "CPUStatus"),
              cim::CIMValue::makeArray(cim::CIMType::Uint8, {S(cim::Uint8(1)), S(cim::Uint8(1)), S(cim::Uint8(2)), std::nullopt}));
    EXPECT_EQ(prop(is[1], "CPUSpeed"), cim::CIMValue(cim::CIMType::Uint32, false));
    EXPECT_EQ(prop(is[1], "CPUStatus").getArraySize(), 0u);
    EXPECT_FALSE(prop(is[1], "CPUStatus").isNull());
    EXPECT_EQ(is[1].findProperty("FirmwareRevision"), cim::PEG_NOT_FOUND);
    EXPECT_EQ(prop(is[2], "errorCode"), cim::CIMValue(cim::Uint32(22)));
    EXPECT_EQ(prop(is[2], "errorMsg"), cim::CIMValue("could not take the read lock"));
    for (const auto& p : is[0].properties()) EXPECT_TRUE(p.getQualifierCount() == 0 && p.getClassOrigin().isNull()) << p.getName();

    is = cells(std::vector<cim::CIMName>{"slotid", "CPUSPEED"});  // names without regard to case
    EXPECT_EQ(std::make_tuple(is[0].getPropertyCount(), is[1].getPropertyCount(), is[2].getPropertyCount()),
              std::make_tuple(2u, 2u, 1u));  // CPUSpeed null on the second, absent on the third
    is = cells(std::vector<cim::CIMName>{});
    for (const auto& i : is) EXPECT_EQ(i.getPropertyCount(), 0u);  // the names are checked in cells()

    is = cells(std::nullopt, true);
    const auto& status = is[0].getProperty(is[0].findProperty("ComponentStatus"));
    ASSERT_NE(status.findQualifier("ValueMap"), cim::PEG_NOT_FOUND);
    EXPECT_EQ(status.getQualifier(status.findQualifier("ValueMap")).getValue().getArraySize(), 5u);
    EXPECT_NE(is[0].getProperty(is[0].findProperty("SlotID")).findQualifier("key"), cim::PEG_NOT_FOUND);
    EXPECT_EQ(is[0].getProperty(0).getClassOrigin().getString(), "XK_KestCell");
}

cim::CIMClass getClass(const char* name, bool includeQualifiers, std::optional<std::vector<cim::CIMName>> propertyList = {}) {
    Request r = request(Operation::GetClass, name);
    r.includeQualifiers = includeQualifiers;
    r.localOnly = false;
    if (propertyList) r.propertyList = cim::CIMPropertyList(*propertyList);
    Response out = testProvider().execute(r);
    EXPECT_FALSE(out.errorCode) << out.errorDescription;
    EXPECT_EQ(out.cimClass.getClassName().getString(), name);
    return out.cimClass;
}

// Whole definitions are compared with the schema through the snapshot capture end to end; these are the
// options and what the capture leaves out.
TEST(ProviderGetClass, DefinitionsWithQualifiersAndMethods) {
    cim::CIMClass c = getClass("XK_KestCellSlot", true);  // the Key qualifier on the key only
    const auto& id = c.getProperty(c.findProperty("ID"));
    ASSERT_NE(id.findQualifier("Key"), cim::PEG_NOT_FOUND);
    EXPECT_EQ(id.getQualifier(id.findQualifier("Key")).getValue(), cim::CIMValue(true));
    EXPECT_FALSE(id.getQualifier(id.findQualifier("Key")).getFlavor().overridable);
    EXPECT_EQ(c.getProperty(c.findProperty("LongLabel")).findQualifier("Key"), cim::PEG_NOT_FOUND);

    c = getClass("XK_KestCell", false);
    for (const auto& p : c.properties()) EXPECT_EQ(p.getQualifierCount(), 0u) << p.getName();

    c = getClass("XK_KestCell", true, std::vector<cim::CIMName>{"cpustatus"});
    ASSERT_EQ(c.getPropertyCount(), 1u);
    EXPECT_EQ(c.getProperty(0).getQualifier(c.getProperty(0).findQualifier("ValueMap")).getValue(),
              cim::CIMValue(cim::Array<cim::String>{"Unknown", "Active", "Failed"}));

    c = getClass("XK_KestRemoteComplex", true);
    ASSERT_NE(c.findMethod("NameSpaceName"), cim::PEG_NOT_FOUND);
    EXPECT_EQ(c.getMethod(c.findMethod("NameSpaceName")).getType(), cim::CIMType::String);
}

TEST(ProviderRemoteComplex, CreateQueryUseAndDelete) {
    const std::string remoteNs = "root/cimv2/kest/mp1";
    const char* mp1 = "XK_KestRemoteComplex.Address=\"10.1.1.1\"";
    auto nameSpaceName = [](const std::string& address) {
        return method("XK_KestRemoteComplex.Address=\"" + address + "\"", "NameSpaceName", {});
    };
    // name, request, answer, a further check of it
    const std::tuple<const char*, Request, std::string, std::function<void(const Response&)>> steps[] = {
        {"namespace name before creation", nameSpaceName("10.1.1.1"), "6 @16:", nullptr},
        {"password missing counts as empty", createRemote("10.1.1.1", "", false), "2 @11:", nullptr},
        {"remote namespace still hidden", request(Operation::EnumerateInstances, "XK_KestComplex", remoteNs), "3 ", nullptr},
        {"right password", createRemote("10.1.1.1", "ipmi-secret"), mp1, nullptr},
        {"namespace name", nameSpaceName("10.1.1.1"), "string \"root/cimv2/kest/mp1\"", nullptr},
        {"remote namespace published", request(Operation::EnumerateInstances, "XK_KestComplex", remoteNs), "XK_KestComplex.ProfileID=0",
         [](const Response& r) { EXPECT_EQ(prop(r.instances.at(0), "ComplexName"), cim::CIMValue("remoteplex")); }},
        {"created instance enumerated, without its password", request(Operation::EnumerateInstances, "XK_KestRemoteComplex"),
         mp1, [](const Response& r) { EXPECT_EQ(r.instances.at(0).findProperty("Password"), cim::PEG_NOT_FOUND); }},
        {"delete from the remote namespace", onPath(Operation::DeleteInstance, mp1, remoteNs), "ok", nullptr},
        {"remote namespace gone", request(Operation::EnumerateInstances, "XK_KestComplex", remoteNs), "3 ", nullptr},
        {"second delete", onPath(Operation::DeleteInstance, mp1), "6 @16:", nullptr},
        {"MP whose namespace is empty", createRemote("mp-empty", "pw"), "XK_KestRemoteComplex.Address=\"mp-empty\"", nullptr},
        {"empty namespace name", nameSpaceName("mp-empty"), "string \"\"", nullptr},
        {"delete without Address", onPath(Operation::DeleteInstance, "XK_KestRemoteComplex"), "6 @16:", nullptr},
        // Each creation needs its own deletion.
        {"create once", createRemote("10.1.1.1", "ipmi-secret"), mp1, nullptr},
        {"create twice", createRemote("10.1.1.1", "ipmi-secret"), mp1, nullptr},
        {"delete once", onPath(Operation::DeleteInstance, mp1), "ok", nullptr},
        {"still published", request(Operation::GetClass, "XK_KestCell", remoteNs), "ok", nullptr},
        {"delete twice", onPath(Operation::DeleteInstance, mp1), "ok", nullptr},
        {"gone", request(Operation::GetClass, "XK_KestCell", remoteNs), "3 ", nullptr},
    };
    Provider provider = testProvider();
    for (const auto& [name, request, expected, check] : steps) {
        SCOPED_TRACE(name);
        Response r = provider.execute(request);
        EXPECT_EQ(answer(r), expected) << r.errorDescription;
        if (check) check(r);
    }
    EXPECT_EQ(provider.activeRemoteComplexes(), std::vector<std::string>{"mp-empty"});
}

}  // namespace
}  // namespace kest::test
