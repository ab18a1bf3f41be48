// The codec's own round trips (every value type through each element that
// carries a value, keys, every operation's request and response), the texts
// it accepts beyond its own output, and the exact texts it writes.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <tuple>

#include "cim/Codec.h"

using namespace cim;
using namespace cim::xml;

namespace {

using Scalar = CIMValue::Scalar;
template <class T>
using lim = std::numeric_limits<T>;

CIMObjectPath path(const char* text) { return CIMObjectPath(String(text)); }
CIMValue array(CIMType type, std::vector<std::optional<Scalar>> elements) {
    return CIMValue::makeArray(type, std::move(elements));
}
Response again(const Response& r) { return decodeResponse(encodeResponse(r), r.operation); }

// The value as the only property of an answer, as a method parameter and as a class qualifier.
CIMValue throughProperty(const CIMValue& value) {
    Response r{.operation = Operation::GetInstance, .instance = CIMInstance("XK_Test")};
    r.instance.addProperty(CIMProperty("P", value));
    return again(r).instance.getProperty(0).getValue();
}
CIMValue throughParameter(const CIMValue& value) {
    const Request r{.nameSpace = "root/test", .operation = Operation::InvokeMethod, .instanceName = path("XK_Test.ID=1"),
                    .methodName = "M", .inParams = {CIMParamValue("p", value)}};
    return decodeRequest(encodeRequest(r)).inParams.at(0).getValue();
}
CIMValue throughQualifier(const CIMValue& value) {
    Response r{.operation = Operation::GetClass, .cimClass = CIMClass("XK_Test")};
    r.cimClass.addQualifier(CIMQualifier("Q", value));
    return again(r).cimClass.getQualifier(0).getValue();
}

const CIMValue kValues[] = {
    CIMValue(true), CIMValue(false), CIMValue(Uint8(255)), CIMValue(Sint8(-128)), CIMValue(Uint16(65535)),
    CIMValue(Sint16(-32768)), CIMValue(lim<Uint32>::max()), CIMValue(lim<Sint32>::min()), CIMValue(lim<Uint64>::max()),
    CIMValue(lim<Sint64>::min()), CIMValue(lim<Sint64>::max()), CIMValue(Real32(0.1f)), CIMValue(FLT_MAX),
    CIMValue(lim<Real32>::denorm_min()), CIMValue(0.1), CIMValue(DBL_MAX), CIMValue(lim<Real64>::denorm_min()),
    CIMValue(lim<Real64>::infinity()), CIMValue(-lim<Real32>::infinity()), CIMValue(Char16{0xE9}),
    CIMValue(Char16{0x20AC}), CIMValue(Char16{0}), CIMValue(Char16{' '}), CIMValue(Char16{'\t'}), CIMValue(Char16{'<'}),
    CIMValue(Char16{0xD800}), CIMValue(""), CIMValue("<&>\"'"), CIMValue(" two  spaces\tand a tab "), CIMValue(" "),
    CIMValue("a\nb\r\nc\rd\n"), CIMValue("\x01\x1f\x7f"), CIMValue("été ✓ 日本 😀"), CIMValue("]]>"),
    CIMValue("&amp; &#32; &lol;"), CIMValue(CIMDateTime("20240102030405.123456+060")),
    CIMValue(CIMDateTime("00000001020304.000000:000")),
    CIMValue(path("root/cimv2/kest:XK_KestPartition.PartitionID=0")),
    CIMValue(path("//mp1.example/root/cimv2:XK_KestCabinet.ID=3")),
    CIMValue(path("XK_KestTag.Index=7,Name=\"rack \\\"A\\\" & <B>\"")), CIMValue(path("root/x:XK_Switch.On=TRUE")),
    CIMValue(path("root/x:XK_Assoc.Left=\"root/x:XK_Part.ID=1\",Right=\"XK_Cell.SlotID=2\"")),
    CIMValue(path("root/x:XK_Singleton")),
    CIMValue(path("XK_K.A=\" a  b\t\",B=\"\",C=\"été\",D=-42,E=18446744073709551615,F=1.5,G=FALSE")),
    CIMValue(Array<Uint8>{0, 7, 255}), CIMValue(Array<Sint64>{lim<Sint64>::min(), -1, 0}),
    CIMValue(Array<Real32>{1.5f, -0.25f, 3e38f}), CIMValue(Array<Char16>{Char16{'x'}, Char16{0x263A}}),
    CIMValue(Array<CIMDateTime>{CIMDateTime("20240102030405.123456-300")}),
    array(CIMType::Boolean, {Boolean(true), std::nullopt, Boolean(false)}),
    array(CIMType::String, {String("a"), std::nullopt, String(""), String(" b "), std::nullopt}),
    array(CIMType::Reference, {path("root/x:XK_A.ID=1"), std::nullopt, path("XK_B.ID=2")}),
    CIMValue(CIMType::Uint16, true, 3), CIMValue(Array<Uint32>{}), CIMValue(Array<String>{}),
    CIMValue(CIMType::String, false), CIMValue(CIMType::Uint64, false), CIMValue(CIMType::DateTime, false),
    CIMValue(CIMType::Reference, false), CIMValue(CIMType::Boolean, true), CIMValue(CIMType::Reference, true),
};

TEST(CodecValues, EveryValueComesBackThroughPropertyParameterAndQualifier) {
    for (const CIMValue& v : kValues) {
        SCOPED_TRACE(::testing::PrintToString(v));
        EXPECT_EQ(throughProperty(v), v);
        // A null value carries no array-ness on a parameter or qualifier: it comes back a null scalar.
        const CIMValue asScalar = v.isNull() && v.isArray() ? CIMValue(v.getType(), false) : v;
        EXPECT_EQ(throughParameter(v), asScalar);
        if (v.getType() != CIMType::Reference) {
            EXPECT_EQ(throughQualifier(v), asScalar);
        }
    }
    Real64 x = 0;
    Real32 y = 0;
    throughProperty(CIMValue(lim<Real64>::quiet_NaN())).get(x);
    throughProperty(CIMValue(lim<Real32>::quiet_NaN())).get(y);
    EXPECT_TRUE(std::isnan(x) && std::isnan(y));
}

// Arrays built from a typed array or from optional elements, null elements, and typed reads.
TEST(CodecValues, ArraysNullElementsAndTypedReads) {
    const std::tuple<CIMValue, CIMType, std::vector<std::optional<Scalar>>, const char*> cases[] = {
        {CIMValue(Array<Boolean>{true, false}), CIMType::Boolean, {Scalar(true), Scalar(false)}, "TRUE FALSE"},
        {CIMValue(Array<Uint8>{0, 255}), CIMType::Uint8, {Scalar(Uint8(0)), Scalar(Uint8(255))}, "0 255"},
        {CIMValue(Array<String>{"a", ""}), CIMType::String, {Scalar(String("a")), Scalar(String())}, "a "},
        {CIMValue(Array<CIMObjectPath>{path("X.K=1")}), CIMType::Reference, {Scalar(path("X.K=1"))}, "X.K=1"},
        {CIMValue(Array<Sint64>{}), CIMType::Sint64, {}, ""},
    };
    for (const auto& [typed, type, elements, text] : cases) {
        const CIMValue built = CIMValue::makeArray(type, elements);
        EXPECT_EQ(built, typed) << text;
        EXPECT_EQ(built.toString(), text);
        ASSERT_EQ(built.getArraySize(), elements.size());
        for (Uint32 i = 0; i < built.getArraySize(); ++i)
            EXPECT_TRUE(!built.isElementNull(i) && built.getElement(i) == CIMValue(*elements[i])) << text << i;
    }
    const CIMValue withNull = array(CIMType::Uint16, {Scalar(Uint16(0)), std::nullopt});
    EXPECT_NE(withNull, CIMValue(Array<Uint16>{0, 0}));
    EXPECT_TRUE(withNull.isElementNull(1) && !withNull.isElementNull(0));
    EXPECT_EQ(withNull.getElement(1), CIMValue(CIMType::Uint16, false));
    EXPECT_EQ(withNull.toString(), "0 ");
    Array<Uint16> read;
    withNull.get(read);  // a null element reads as the type's default
    EXPECT_EQ(read, (Array<Uint16>{0, 0}));
    EXPECT_THROW(withNull.isElementNull(2), IndexOutOfBoundsException);
    EXPECT_THROW(withNull.getElement(2), IndexOutOfBoundsException);
    EXPECT_FALSE(CIMValue(CIMType::String, true, 2).isNull());  // an array of null elements is not a null value
    EXPECT_EQ(CIMValue(CIMType::String, true, 2), array(CIMType::String, {std::nullopt, std::nullopt}));
    Uint8 x = 0;
    Uint16 wider = 0;
    Array<Uint8> xs;
    CIMValue(Uint8(7)).get(x);
    EXPECT_EQ(x, 7);
    EXPECT_THROW(CIMValue(Uint8(7)).get(wider), TypeMismatchException);
    EXPECT_THROW(CIMValue(Uint8(7)).get(xs), TypeMismatchException);
    EXPECT_THROW(CIMValue(Array<Uint8>{1}).get(x), TypeMismatchException);
    EXPECT_THROW(CIMValue(CIMType::Uint8, false).get(x), TypeMismatchException);
    EXPECT_THROW(CIMValue(Array<Uint8>{1}).getScalar(), TypeMismatchException);
    CIMProperty p("P", CIMValue(Array<Uint32>{1, 2}));  // a released value leaves a null of its type
    EXPECT_EQ(p.releaseValue(), CIMValue(Array<Uint32>{1, 2}));
    EXPECT_EQ(p.getValue(), CIMValue(CIMType::Uint32, true));
}

// Texts written by other servers, and what they mean.
TEST(CodecValues, AcceptsTextsBeyondItsOwnOutput) {
    const struct {
        CIMType type;
        const char* text;
        Scalar expected;
    } cases[] = {
        {CIMType::Uint8, " 7\n", Uint8(7)}, {CIMType::Uint8, "+7", Uint8(7)}, {CIMType::Uint8, "007", Uint8(7)},
        {CIMType::Uint16, "0x1F", Uint16(31)}, {CIMType::Sint8, "-0x80", Sint8(-128)},
        {CIMType::Sint64, "-9223372036854775808", lim<Sint64>::min()}, {CIMType::Real64, "1.5e3", 1500.0},
        {CIMType::Real64, "1E-2", 0.01}, {CIMType::Real64, ".5", 0.5}, {CIMType::Real64, "5.", 5.0},
        {CIMType::Real64, "+2.5", 2.5}, {CIMType::Real64, "-INF", -lim<Real64>::infinity()},
        {CIMType::Real32, "inf", lim<Real32>::infinity()}, {CIMType::Boolean, "true", true},
        {CIMType::Boolean, " False\n", false}, {CIMType::String, "  keep  ", String("  keep  ")},
        {CIMType::String, "a<![CDATA[<&>]]>b", String("a<&>b")}, {CIMType::String, "<![CDATA[<&>]]>", String("<&>")},
        {CIMType::String, "a&amp;<![CDATA[b]]>&lt;c", String("a&b<c")}, {CIMType::String, "   ", String("   ")},
        {CIMType::String, "&#65;", String("A")}, {CIMType::Uint8, "&#x37;", Uint8(7)},
        {CIMType::String, "&#x263A;&#233;", String("☺é")},
        {CIMType::DateTime, " 20240102030405.******+000 ", CIMDateTime("20240102030405.******+000")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        String body = String("<?xml version=\"1.0\"?><CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE ID=\"1\" ") +
                      "PROTOCOLVERSION=\"1.0\"><SIMPLERSP><IMETHODRESPONSE NAME=\"GetInstance\"><IRETURNVALUE>" +
                      "<INSTANCE CLASSNAME=\"X\"><PROPERTY NAME=\"P\" TYPE=\"" + cimTypeName(c.type) + "\"><VALUE>" +
                      c.text + "</VALUE></PROPERTY></INSTANCE></IRETURNVALUE></IMETHODRESPONSE></SIMPLERSP></MESSAGE></CIM>";
        EXPECT_EQ(decodeResponse(body, Operation::GetInstance).instance.getProperty(0).getValue(), CIMValue(c.expected));
    }
}

CIMInstance richInstance() {
    CIMInstance instance("XK_KestTag");
    instance.addQualifier(CIMQualifier("Association", CIMValue(true), CIMFlavor{false, true, false, false}, true));
    instance.addProperty(CIMProperty("Name", CIMValue("rack \"A\" & <B>")));
    instance.addProperty(CIMProperty("Note", CIMValue(CIMType::String, false), 0, CIMName(), CIMName(), true));
    instance.addProperty(CIMProperty("Sizes", CIMValue(Array<Uint16>{1, 2}), 4, CIMName(), "XK_Base"));
    instance.addProperty(CIMProperty("Owner", CIMValue(path("root/x:XK_Part.ID=1")), 0, "XK_Part"));
    instance.addProperty(
        CIMProperty("Peers", array(CIMType::Reference, {path("XK_Part.ID=2"), std::nullopt}), 0, "XK_Part"));
    return instance;
}

TEST(CodecRequests, EveryOperationComesBackWithItsFlags) {
    using enum Operation;
    const Request cases[] = {
        {.operation = EnumerateInstanceNames, .className = "XK_KestCellSlot"},
        {.operation = EnumerateInstances, .className = "XK_KestCell", .deepInheritance = false, .localOnly = false,
         .includeQualifiers = true, .includeClassOrigin = true, .propertyList = CIMPropertyList({"SlotID", "CPUCount"})},
        {.operation = EnumerateInstances, .className = "XK_KestCell", .propertyList = CIMPropertyList(Array<CIMName>{})},
        {.operation = GetInstance, .instanceName = path("XK_KestTag.Index=7,Name=\"rack \\\"A\\\" & <B>\""), .localOnly = false},
        {.operation = GetClass, .className = "XK_KestCell", .localOnly = false, .includeQualifiers = true},
        {.operation = GetClass, .className = "XK_KestCell", .includeQualifiers = false, .includeClassOrigin = true},
        {.operation = CreateInstance, .newInstance = richInstance()},
        {.operation = DeleteInstance, .instanceName = path("XK_KestRemoteComplex.ID=1")},
        {.operation = InvokeMethod, .instanceName = path("XK_KestCellSlot.ID=1"), .methodName = "MakeID",
         .inParams = {CIMParamValue("CabinetID", CIMValue(Uint8(44))), CIMParamValue("Label", CIMValue("<x> & y")),
                      CIMParamValue("Target", CIMValue(path("root/x:XK_A.ID=1"))),
                      CIMParamValue("List", CIMValue(Array<Sint16>{-1, 2})),
                      CIMParamValue("Nothing", CIMValue(CIMType::Uint32, false)),
                      CIMParamValue("Untyped", CIMValue("text"), false)}},
        {.operation = InvokeMethod, .instanceName = path("XK_KestRemoteComplex.Address=\"10.1.1.1\""),
         .methodName = "NameSpaceName"},
        {.messageId = "id <1> & \"2\"", .operation = EnumerateInstanceNames, .className = "XK_KestCell"},
    };
    auto fields = [](const Request& r) {
        return std::tie(r.messageId, r.nameSpace, r.operation, r.className, r.instanceName, r.newInstance, r.methodName,
                        r.inParams, r.deepInheritance, r.localOnly, r.includeQualifiers, r.includeClassOrigin,
                        r.propertyList);
    };
    for (Request want : cases) {
        want.nameSpace = "root/cimv2/kest";
        const String body = encodeRequest(want);
        SCOPED_TRACE(body);
        EXPECT_TRUE(fields(decodeRequest(body)) == fields(want));
        // Each operation writes exactly the flags it has.
        auto has = [&body](const char* name) { return body.find(String("NAME=\"") + name + "\"") != String::npos; };
        const Operation op = want.operation;
        const bool flags = op == EnumerateInstances || op == GetInstance || op == GetClass;
        EXPECT_EQ(has("LocalOnly"), flags);
        EXPECT_EQ(has("IncludeQualifiers"), flags);
        EXPECT_EQ(has("IncludeClassOrigin"), flags);
        EXPECT_EQ(has("DeepInheritance"), op == EnumerateInstances);
        EXPECT_EQ(has("PropertyList"), !want.propertyList.isNull());
    }
}

// Flags left out take their defaults, which differ by operation; names match in any case.
TEST(CodecRequests, AbsentFlagsTakeTheirDefaults) {
    const std::tuple<const char*, const char*, bool> cases[] = {  // call, parameters, IncludeQualifiers
        {"EnumerateInstances", R"(<IPARAMVALUE NAME="ClassName"><CLASSNAME NAME="X"/></IPARAMVALUE>)", false},
        {"GetInstance", R"(<IPARAMVALUE NAME="InstanceName"><INSTANCENAME CLASSNAME="X"/></IPARAMVALUE>)", false},
        {"GetClass", R"(<IPARAMVALUE NAME="ClassName"><CLASSNAME NAME="X"/></IPARAMVALUE>)", true},
        {"getclass", R"(<IPARAMVALUE NAME="classname"><CLASSNAME NAME="X"/></IPARAMVALUE><IPARAMVALUE NAME="IncludeQualifiers"/><IPARAMVALUE NAME="LocalOnly"/><IPARAMVALUE NAME="PropertyList"/>)", true},
    };
    for (const auto& [call, params, includeQualifiers] : cases) {
        SCOPED_TRACE(params);
        const Request r = decodeRequest(std::string("<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE ID=\"7\" PROTOCOLVERSION=\"1.0\"><SIMPLEREQ><IMETHODCALL NAME=\"") +
                                        call + "\"><LOCALNAMESPACEPATH><NAMESPACE NAME=\"root\"/></LOCALNAMESPACEPATH>" + params + "</IMETHODCALL></SIMPLEREQ></MESSAGE></CIM>");
        EXPECT_TRUE(r.deepInheritance && r.localOnly && !r.includeClassOrigin && r.propertyList.isNull());
        EXPECT_EQ(r.includeQualifiers, includeQualifiers);
        EXPECT_EQ(r.messageId, "7");
        EXPECT_EQ(r.nameSpace, CIMNamespaceName("root"));
    }
}

CIMClass richClass() {
    CIMClass c("XK_KestCell", "XK_KestComponent");
    c.addQualifier(CIMQualifier("Description", CIMValue("a <cell>"), CIMFlavor{true, false, true, true}));
    CIMProperty key("SlotID", CIMValue(CIMType::Uint32, false), 0, CIMName(), "XK_KestCell");
    key.addQualifier(CIMQualifier("Key", CIMValue(true), CIMFlavor{false, true, false, false}));
    c.addProperty(key);
    CIMProperty status("ComponentStatus", CIMValue(CIMType::Uint8, false), 0, CIMName(), "XK_KestComponent", true);
    status.addQualifier(CIMQualifier("ValueMap", CIMValue(Array<String>{"Unknown", "Powered off", "Active"})));
    c.addProperty(status);
    c.addProperty(CIMProperty("DIMMSize", CIMValue(CIMType::Uint16, true), 16));
    c.addProperty(CIMProperty("Owner", CIMValue(CIMType::Reference, false), 0, "XK_KestPartition"));
    CIMMethod makeId("MakeID", CIMType::Uint32, "XK_KestCell", false);
    makeId.addQualifier(CIMQualifier("Static", CIMValue(true)));
    CIMParameter cabinet("CabinetID", CIMType::Uint8);
    cabinet.addQualifier(CIMQualifier("IN", CIMValue(true)));
    makeId.addParameter(cabinet);
    makeId.addParameter(CIMParameter("Slots", CIMType::Uint8, true, 4));
    makeId.addParameter(CIMParameter("Target", CIMType::Reference, false, 0, "XK_KestPartition"));
    makeId.addParameter(CIMParameter("Targets", CIMType::Reference, true, 0, "XK_KestPartition"));
    c.addMethod(makeId);
    c.addMethod(CIMMethod("Reset", CIMType::Boolean, CIMName(), true));
    return c;
}

TEST(CodecResponses, EveryOperationAndErrorComesBack) {
    using enum Operation;
    std::vector<Response> cases = {
        {.operation = EnumerateInstanceNames,
         .instanceNames = {path("XK_KestCellSlot.ID=0"), path("XK_LP.Part=\"root/x:XK_P.PartitionID=0\"")}},
        {.operation = EnumerateInstanceNames},
        {.operation = EnumerateInstances, .instances = {richInstance(), CIMInstance("XK_KestTag")}},
        {.operation = EnumerateInstances},
        {.operation = GetInstance, .instance = richInstance()},
        {.operation = GetInstance},
        {.operation = GetClass, .cimClass = richClass()},
        {.operation = CreateInstance, .instanceName = path("XK_KestTag.Index=7,Name=\"a\"")},
        {.operation = DeleteInstance},
        {.operation = InvokeMethod, .methodName = "MakeID", .returnValue = CIMValue(Uint32(17)),
         .outParams = {CIMParamValue("NameSpace", CIMValue("root/cimv2/remote")),
                       CIMParamValue("Ids", CIMValue(Array<Uint32>{1, 2}))}},
        {.operation = InvokeMethod, .methodName = "Reset", .returnValue = CIMValue(CIMType::Uint32, false)},
        {.operation = InvokeMethod, .methodName = "Find", .returnValue = CIMValue(path("root/x:XK_A.ID=1"))},
        {.operation = EnumerateInstances, .errorCode = 3, .errorDescription = "CIM_ERR_INVALID_NAMESPACE: root/x"},
        {.operation = GetInstance, .errorCode = 1, .errorDescription = "lock failed <a & b> \"q\" @22:  busy "},
        {.operation = DeleteInstance, .errorCode = 6},
        {.operation = InvokeMethod, .methodName = "MakeID", .errorCode = 16, .errorDescription = "no MakeID"},
    };
    cases[2].instances[0].setPath(path("XK_KestTag.Index=7,Name=\"x\""));
    cases[2].instances[1].setPath(path("XK_KestTag.Index=8,Name=\"y\""));
    auto fields = [](const Response& r) {
        return std::tie(r.messageId, r.operation, r.methodName, r.errorCode, r.errorDescription, r.instanceNames,
                        r.instances, r.instance, r.cimClass, r.instanceName, r.returnValue, r.outParams);
    };
    for (Response& want : cases) {
        want.messageId = "1002";
        const String body = encodeResponse(want);
        SCOPED_TRACE(body);
        EXPECT_TRUE(fields(decodeResponse(body, want.operation)) == fields(want));
    }
}

// What the codec writes, byte for byte: escaping, element encodings, HTTP header values.
TEST(CodecTexts, AreWrittenExactly) {
    const RequestHeaders intrinsic = requestHeaders({.nameSpace = "root/cimv2/kest", .operation = Operation::GetClass});
    const RequestHeaders extrinsic = requestHeaders({.nameSpace = "root/cimv2/kest", .operation = Operation::InvokeMethod,
                                                     .instanceName = path("XK_KestCellSlot.ID=1"), .methodName = "MakeID"});
    const std::pair<String, String> cases[] = {
        {escapeText("<&>\"'"), "&lt;&amp;&gt;&quot;&apos;"},
        {escapeText(" two  spaces\tand a tab "), "&#32;two &#32;spaces&#9;and a tab&#32;"},
        {escapeText("a\nb\rc\x01"), "a&#10;b&#13;c&#1;"},
        {escapeText("été"), "été"},
        {escapeText(String("a\0b", 3)), "a\xEF\xBF\xBD" "b"},
        {encodeValue(CIMValue(CIMType::String, false)), ""},
        {encodeValue(array(CIMType::Uint8, {Uint8(1), std::nullopt})),
         "<VALUE.ARRAY><VALUE>1</VALUE><VALUE.NULL/></VALUE.ARRAY>"},
        {encodeValue(CIMValue(Real32(0.1f))), "<VALUE>0.1</VALUE>"},
        {encodeValue(CIMValue(path("root/x:C.K=1"))),
         "<VALUE.REFERENCE><LOCALINSTANCEPATH><LOCALNAMESPACEPATH><NAMESPACE NAME=\"root\"/><NAMESPACE NAME=\"x\"/>"
         "</LOCALNAMESPACEPATH><INSTANCENAME CLASSNAME=\"C\"><KEYBINDING NAME=\"K\"><KEYVALUE VALUETYPE=\"numeric\">1"
         "</KEYVALUE></KEYBINDING></INSTANCENAME></LOCALINSTANCEPATH></VALUE.REFERENCE>"},
        {encodeInstanceName(path("C.B=TRUE,S=\"<\"")),
         "<INSTANCENAME CLASSNAME=\"C\"><KEYBINDING NAME=\"B\"><KEYVALUE VALUETYPE=\"boolean\">TRUE</KEYVALUE>"
         "</KEYBINDING><KEYBINDING NAME=\"S\"><KEYVALUE VALUETYPE=\"string\">&lt;</KEYVALUE></KEYBINDING></INSTANCENAME>"},
        {intrinsic.cimMethod, "GetClass"},
        {intrinsic.cimObject, "root/cimv2/kest"},
        {extrinsic.cimMethod, "MakeID"},
        {extrinsic.cimObject, "root/cimv2/kest:XK_KestCellSlot.ID=1"},
        {requestHeaders({.nameSpace = "root/x", .operation = Operation::InvokeMethod,
                         .instanceName = path("XK_R.Address=\"10.1.1.1 é%\""), .methodName = "M"}).cimObject,
         "root/x:XK_R.Address=%2210.1.1.1%20%C3%A9%25%22"},
    };
    for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
}

}  // namespace
