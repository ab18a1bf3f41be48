// Round trips through the codec: every value type, scalar and array, nulls,
// references and keys, escaping, and every operation's request and response.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "cim/Codec.h"

using namespace cim;
using namespace cim::xml;

namespace {

using Scalar = CIMValue::Scalar;

CIMObjectPath path(const char* text) { return CIMObjectPath(String(text)); }

CIMValue array(CIMType type, std::vector<std::optional<Scalar>> elements) {
    return CIMValue::makeArray(type, std::move(elements));
}

// A value carried as the only property of a GetInstance answer.
CIMValue throughProperty(const CIMValue& value) {
    CIMInstance instance("XK_Test");
    instance.addProperty(CIMProperty("P", value));
    Response response;
    response.operation = Operation::GetInstance;
    response.instance = instance;
    Response back = decodeResponse(encodeResponse(response), Operation::GetInstance);
    EXPECT_EQ(back.instance.getPropertyCount(), 1u);
    return back.instance.getProperty(0).getValue();
}

// A value carried as a typed parameter of a method call.
CIMValue throughParameter(const CIMValue& value) {
    Request request;
    request.operation = Operation::InvokeMethod;
    request.nameSpace = "root/test";
    request.methodName = "M";
    request.instanceName = path("XK_Test.ID=1");
    request.inParams = {CIMParamValue("p", value)};
    Request back = decodeRequest(encodeRequest(request));
    EXPECT_EQ(back.inParams.size(), 1u);
    return back.inParams.at(0).getValue();
}

// A value carried as a class qualifier.
CIMValue throughQualifier(const CIMValue& value) {
    CIMClass cimClass("XK_Test");
    cimClass.addQualifier(CIMQualifier("Q", value));
    Response response;
    response.operation = Operation::GetClass;
    response.cimClass = cimClass;
    Response back = decodeResponse(encodeResponse(response), Operation::GetClass);
    EXPECT_EQ(back.cimClass.getQualifierCount(), 1u);
    return back.cimClass.getQualifier(0).getValue();
}

struct ValueCase {
    const char* name;
    CIMValue value;
};
void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.name; }

const ValueCase kValues[] = {
    {"BooleanTrue", CIMValue(true)},
    {"BooleanFalse", CIMValue(false)},
    {"Uint8Max", CIMValue(Uint8(255))},
    {"Sint8Min", CIMValue(Sint8(-128))},
    {"Uint16Max", CIMValue(Uint16(65535))},
    {"Sint16Min", CIMValue(Sint16(-32768))},
    {"Uint32Max", CIMValue(std::numeric_limits<Uint32>::max())},
    {"Sint32Min", CIMValue(std::numeric_limits<Sint32>::min())},
    {"Uint64Max", CIMValue(std::numeric_limits<Uint64>::max())},
    {"Sint64Min", CIMValue(std::numeric_limits<Sint64>::min())},
    {"Sint64Max", CIMValue(std::numeric_limits<Sint64>::max())},
    {"Real32Fraction", CIMValue(Real32(0.1f))},
    {"Real32Max", CIMValue(FLT_MAX)},
    {"Real32Denormal", CIMValue(std::numeric_limits<Real32>::denorm_min())},
    {"Real64Fraction", CIMValue(0.1)},
    {"Real64Max", CIMValue(DBL_MAX)},
    {"Real64Denormal", CIMValue(std::numeric_limits<Real64>::denorm_min())},
    {"Real64Infinity", CIMValue(std::numeric_limits<Real64>::infinity())},
    {"Real32MinusInfinity", CIMValue(-std::numeric_limits<Real32>::infinity())},
    {"Char16Ascii", CIMValue(Char16{'A'})},
    {"Char16Latin", CIMValue(Char16{0xE9})},
    {"Char16Euro", CIMValue(Char16{0x20AC})},
    {"Char16Nul", CIMValue(Char16{0})},
    {"Char16Blank", CIMValue(Char16{' '})},
    {"Char16Tab", CIMValue(Char16{'\t'})},
    {"Char16Markup", CIMValue(Char16{'<'})},
    {"Char16Surrogate", CIMValue(Char16{0xD800})},
    {"StringEmpty", CIMValue("")},
    {"StringMarkup", CIMValue("<&>\"'")},
    {"StringBlanks", CIMValue(" two  spaces\tand a tab ")},
    {"StringOneBlank", CIMValue(" ")},
    {"StringLineEnds", CIMValue("a\nb\r\nc\rd\n")},
    {"StringControls", CIMValue("\x01\x1f\x7f")},
    {"StringNonAscii", CIMValue("été ✓ 日本 😀")},
    {"StringCdataEnd", CIMValue("]]>")},
    {"StringReferenceLookalikes", CIMValue("&amp; &#32; &lol;")},
    {"DateTime", CIMValue(CIMDateTime("20240102030405.123456+060"))},
    {"Interval", CIMValue(CIMDateTime("00000001020304.000000:000"))},
    {"ReferenceLocal", CIMValue(path("root/cimv2/kest:XK_KestPartition.PartitionID=0"))},
    {"ReferenceWithHost", CIMValue(path("//mp1.example/root/cimv2:XK_KestCabinet.ID=3"))},
    {"ReferenceBare", CIMValue(path("XK_KestTag.Index=7,Name=\"rack \\\"A\\\" & <B>\""))},
    {"ReferenceBooleanKey", CIMValue(path("root/x:XK_Switch.On=TRUE"))},
    {"ReferenceNested", CIMValue(path("root/x:XK_Assoc.Left=\"root/x:XK_Part.ID=1\",Right=\"XK_Cell.SlotID=2\""))},
    {"ReferenceKeyless", CIMValue(path("root/x:XK_Singleton"))},
    {"Uint8Array", CIMValue(Array<Uint8>{0, 7, 255})},
    {"Sint64Array", CIMValue(Array<Sint64>{std::numeric_limits<Sint64>::min(), -1, 0})},
    {"Real32Array", CIMValue(Array<Real32>{1.5f, -0.25f, 3e38f})},
    {"Char16Array", CIMValue(Array<Char16>{Char16{'x'}, Char16{0x263A}})},
    {"DateTimeArray", CIMValue(Array<CIMDateTime>{CIMDateTime("20240102030405.123456-300")})},
    {"BooleanArrayWithNull", array(CIMType::Boolean, {Boolean(true), std::nullopt, Boolean(false)})},
    {"StringArrayWithNulls", array(CIMType::String, {String("a"), std::nullopt, String(""), String(" b "), std::nullopt})},
    {"ReferenceArrayWithNull", array(CIMType::Reference, {path("root/x:XK_A.ID=1"), std::nullopt, path("XK_B.ID=2")})},
    {"AllNullArray", CIMValue(CIMType::Uint16, true, 3)},
    {"EmptyUint32Array", CIMValue(Array<Uint32>{})},
    {"EmptyStringArray", CIMValue(Array<String>{})},
    {"NullString", CIMValue(CIMType::String, false)},
    {"NullUint64", CIMValue(CIMType::Uint64, false)},
    {"NullDateTime", CIMValue(CIMType::DateTime, false)},
    {"NullReference", CIMValue(CIMType::Reference, false)},
    {"NullBooleanArray", CIMValue(CIMType::Boolean, true)},
    {"NullReferenceArray", CIMValue(CIMType::Reference, true)},
};

class ValueRoundTrip : public testing::TestWithParam<ValueCase> {};

TEST_P(ValueRoundTrip, AsProperty) { EXPECT_EQ(throughProperty(GetParam().value), GetParam().value); }

TEST_P(ValueRoundTrip, AsMethodParameter) {
    const CIMValue& v = GetParam().value;
    // A null value carries no array-ness on a PARAMVALUE: it comes back a null scalar.
    if (v.isNull() && v.isArray())
        EXPECT_EQ(throughParameter(v), CIMValue(v.getType(), false));
    else
        EXPECT_EQ(throughParameter(v), v);
}

INSTANTIATE_TEST_SUITE_P(Codec, ValueRoundTrip, testing::ValuesIn(kValues),
                         [](const testing::TestParamInfo<ValueCase>& info) { return std::string(info.param.name); });

// Qualifiers hold every type but references.
std::vector<ValueCase> qualifierValues() {
    std::vector<ValueCase> out;
    for (const auto& c : kValues)
        if (c.value.getType() != CIMType::Reference) out.push_back(c);
    return out;
}

class QualifierRoundTrip : public testing::TestWithParam<ValueCase> {};

TEST_P(QualifierRoundTrip, AsQualifier) {
    const CIMValue& v = GetParam().value;
    if (v.isNull() && v.isArray())
        EXPECT_EQ(throughQualifier(v), CIMValue(v.getType(), false));
    else
        EXPECT_EQ(throughQualifier(v), v);
}

INSTANTIATE_TEST_SUITE_P(Codec, QualifierRoundTrip, testing::ValuesIn(qualifierValues()),
                         [](const testing::TestParamInfo<ValueCase>& info) { return std::string(info.param.name); });

TEST(CodecValues, NaNStaysNaN) {
    Real64 x = 0;
    throughProperty(CIMValue(std::numeric_limits<Real64>::quiet_NaN())).get(x);
    EXPECT_TRUE(std::isnan(x));
    Real32 y = 0;
    throughProperty(CIMValue(std::numeric_limits<Real32>::quiet_NaN())).get(y);
    EXPECT_TRUE(std::isnan(y));
}

TEST(CodecValues, EmptyArrayIsNotNull) {
    CIMValue empty = throughProperty(CIMValue(Array<Uint8>{}));
    EXPECT_FALSE(empty.isNull());
    EXPECT_TRUE(empty.isArray());
    EXPECT_EQ(empty.getArraySize(), 0u);
    CIMValue null = throughProperty(CIMValue(CIMType::Uint8, true));
    EXPECT_TRUE(null.isNull());
    EXPECT_TRUE(null.isArray());
}

// The same array built in different ways is one value: with or without a
// list of null flags, through the codec or not, element by element.
struct SameArrayCase {
    const char* name;
    CIMValue typed;                                      // from a typed array
    CIMType type;
    std::vector<std::optional<CIMValue::Scalar>> elements;  // the same, for makeArray
    const char* text;                                    // toString
};
void PrintTo(const SameArrayCase& c, std::ostream* os) { *os << c.name; }

const SameArrayCase kSameArrays[] = {
    {"Booleans", CIMValue(Array<Boolean>{true, false, true}), CIMType::Boolean,
     {Scalar(true), Scalar(false), Scalar(true)}, "TRUE FALSE TRUE"},
    {"Uint8s", CIMValue(Array<Uint8>{0, 255}), CIMType::Uint8, {Scalar(Uint8(0)), Scalar(Uint8(255))}, "0 255"},
    {"Strings", CIMValue(Array<String>{"a", ""}), CIMType::String, {Scalar(String("a")), Scalar(String())}, "a "},
    {"References", CIMValue(Array<CIMObjectPath>{CIMObjectPath("X.K=1")}), CIMType::Reference,
     {Scalar(CIMObjectPath("X.K=1"))}, "X.K=1"},
    {"Empty", CIMValue(Array<Sint64>{}), CIMType::Sint64, {}, ""},
};

class SameArray : public testing::TestWithParam<SameArrayCase> {};

TEST_P(SameArray, EqualsWhateverTheRoute) {
    const auto& c = GetParam();
    CIMValue built = CIMValue::makeArray(c.type, c.elements);
    EXPECT_EQ(built, c.typed);
    EXPECT_EQ(throughProperty(built), c.typed);
    EXPECT_EQ(built.toString(), c.text);
    ASSERT_EQ(built.getArraySize(), c.elements.size());
    for (Uint32 i = 0; i < built.getArraySize(); ++i) {
        EXPECT_FALSE(built.isElementNull(i));
        EXPECT_EQ(built.getElement(i), CIMValue(*c.elements[i]));
    }
}

INSTANTIATE_TEST_SUITE_P(Values, SameArray, testing::ValuesIn(kSameArrays),
                         [](const testing::TestParamInfo<SameArrayCase>& info) { return std::string(info.param.name); });

TEST(CodecValues, NullElementsStayApartFromDefaults) {
    CIMValue withNull = CIMValue::makeArray(CIMType::Uint16, {Scalar(Uint16(0)), std::nullopt});
    CIMValue withZero = CIMValue(Array<Uint16>{0, 0});
    EXPECT_NE(withNull, withZero);
    EXPECT_TRUE(withNull.isElementNull(1));
    EXPECT_TRUE(withNull.getElement(1).isNull());
    EXPECT_EQ(withNull.getElement(1).getType(), CIMType::Uint16);
    EXPECT_EQ(withNull.toString(), "0 ");
    EXPECT_EQ(throughProperty(withNull), withNull);
    Array<Uint16> read;
    withNull.get(read);  // a null element reads as the type's default
    EXPECT_EQ(read, (Array<Uint16>{0, 0}));
    EXPECT_THROW(withNull.isElementNull(2), IndexOutOfBoundsException);
    EXPECT_THROW(withNull.getElement(2), IndexOutOfBoundsException);
    // An array of null elements of a given size is not a null value.
    CIMValue allNull(CIMType::String, true, 2);
    EXPECT_FALSE(allNull.isNull());
    EXPECT_TRUE(allNull.isElementNull(0) && allNull.isElementNull(1));
    EXPECT_EQ(allNull, CIMValue::makeArray(CIMType::String, {std::nullopt, std::nullopt}));
}

TEST(CodecValues, TypedReadsRefuseOtherShapes) {
    CIMValue scalar(Uint8(7));
    Uint8 x = 0;
    scalar.get(x);
    EXPECT_EQ(x, 7);
    Uint16 wider = 0;
    EXPECT_THROW(scalar.get(wider), TypeMismatchException);
    Array<Uint8> xs;
    EXPECT_THROW(scalar.get(xs), TypeMismatchException);
    EXPECT_THROW(CIMValue(Array<Uint8>{1}).get(x), TypeMismatchException);
    EXPECT_THROW(CIMValue(CIMType::Uint8, false).get(x), TypeMismatchException);
    EXPECT_THROW(CIMValue(Array<Uint8>{1}).getScalar(), TypeMismatchException);
}

TEST(CodecValues, ReleasedValueLeavesANullOfItsType) {
    CIMProperty p("P", CIMValue(Array<Uint32>{1, 2}));
    CIMValue taken = p.releaseValue();
    EXPECT_EQ(taken, CIMValue(Array<Uint32>{1, 2}));
    EXPECT_TRUE(p.getValue().isNull());
    EXPECT_EQ(p.getType(), CIMType::Uint32);
    EXPECT_TRUE(p.isArray());
}

// ---------------------------------------------------------------------------
// Texts the codec accepts beyond its own output.

struct TextCase {
    const char* name;
    CIMType type;
    const char* text;
    Scalar expected;
};
void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

const TextCase kTexts[] = {
    {"Uint8Padded", CIMType::Uint8, " 7\n", Uint8(7)},
    {"Uint8Plus", CIMType::Uint8, "+7", Uint8(7)},
    {"Uint8LeadingZeros", CIMType::Uint8, "007", Uint8(7)},
    {"Uint16Hex", CIMType::Uint16, "0x1F", Uint16(31)},
    {"Sint8NegativeHex", CIMType::Sint8, "-0x80", Sint8(-128)},
    {"Sint64Min", CIMType::Sint64, "-9223372036854775808", std::numeric_limits<Sint64>::min()},
    {"Real64Exponent", CIMType::Real64, "1.5e3", 1500.0},
    {"Real64UpperExponent", CIMType::Real64, "1E-2", 0.01},
    {"Real64LeadingDot", CIMType::Real64, ".5", 0.5},
    {"Real64TrailingDot", CIMType::Real64, "5.", 5.0},
    {"Real64Plus", CIMType::Real64, "+2.5", 2.5},
    {"Real64MinusInfinity", CIMType::Real64, "-INF", -std::numeric_limits<Real64>::infinity()},
    {"Real32Infinity", CIMType::Real32, "inf", std::numeric_limits<Real32>::infinity()},
    {"BooleanLower", CIMType::Boolean, "true", true},
    {"BooleanMixed", CIMType::Boolean, " False\n", false},
    {"StringKeepsBlanks", CIMType::String, "  keep  ", String("  keep  ")},
    {"StringCdata", CIMType::String, "a<![CDATA[<&>]]>b", String("a<&>b")},
    {"StringOnlyCdata", CIMType::String, "<![CDATA[<&>]]>", String("<&>")},
    {"StringReferencesAroundCdata", CIMType::String, "a&amp;<![CDATA[b]]>&lt;c", String("a&b<c")},
    {"StringOnlyBlanks", CIMType::String, "   ", String("   ")},
    {"StringReferenceOnly", CIMType::String, "&#65;", String("A")},
    {"Uint8Reference", CIMType::Uint8, "&#x37;", Uint8(7)},
    {"StringHexReference", CIMType::String, "&#x263A;&#233;", String("☺é")},
    {"DateTimePadded", CIMType::DateTime, " 20240102030405.******+000 ", CIMDateTime("20240102030405.******+000")},
};

class AcceptedText : public testing::TestWithParam<TextCase> {};

TEST_P(AcceptedText, Decodes) {
    const auto& c = GetParam();
    String body = String("<?xml version=\"1.0\"?><CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE ID=\"1\" ") +
                  "PROTOCOLVERSION=\"1.0\"><SIMPLERSP><IMETHODRESPONSE NAME=\"GetInstance\"><IRETURNVALUE>" +
                  "<INSTANCE CLASSNAME=\"X\"><PROPERTY NAME=\"P\" TYPE=\"" + cimTypeName(c.type) + "\"><VALUE>" +
                  c.text + "</VALUE></PROPERTY></INSTANCE></IRETURNVALUE></IMETHODRESPONSE></SIMPLERSP></MESSAGE></CIM>";
    Response r = decodeResponse(body, Operation::GetInstance);
    ASSERT_EQ(r.instance.getPropertyCount(), 1u);
    EXPECT_EQ(r.instance.getProperty(0).getValue(), CIMValue(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Codec, AcceptedText, testing::ValuesIn(kTexts),
                         [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Key bindings of every kind, through an EnumerateInstanceNames answer and a GetInstance request.

struct KeyCase {
    const char* name;
    CIMKeyBinding key;
};
void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

const KeyCase kKeys[] = {
    {"StringMarkup", {"Name", "rack \"A\" & <B>", CIMKeyBinding::STRING}},
    {"StringBlanks", {"Name", " a  b\t", CIMKeyBinding::STRING}},
    {"StringEmpty", {"Name", "", CIMKeyBinding::STRING}},
    {"StringNonAscii", {"Name", "été", CIMKeyBinding::STRING}},
    {"Numeric", {"ID", "7", CIMKeyBinding::NUMERIC}},
    {"NumericNegative", {"Offset", "-42", CIMKeyBinding::NUMERIC}},
    {"NumericUint64Max", {"Size", "18446744073709551615", CIMKeyBinding::NUMERIC}},
    {"NumericReal", {"Ratio", "1.5", CIMKeyBinding::NUMERIC}},
    {"BooleanTrue", {"On", "TRUE", CIMKeyBinding::BOOLEAN}},
    {"BooleanFalse", {"On", "FALSE", CIMKeyBinding::BOOLEAN}},
    {"ReferenceLocal", {"Part", "root/cimv2/kest:XK_KestPartition.PartitionID=0", CIMKeyBinding::REFERENCE}},
    {"ReferenceWithHost", {"Part", "//mp1/root/x:XK_Tag.Name=\"a,b\"", CIMKeyBinding::REFERENCE}},
    {"ReferenceBare", {"Part", "XK_Cell.SlotID=2", CIMKeyBinding::REFERENCE}},
    {"ReferenceNested", {"Part", "root/x:XK_Assoc.Left=\"root/x:XK_Part.ID=1\"", CIMKeyBinding::REFERENCE}},
};

class KeyRoundTrip : public testing::TestWithParam<KeyCase> {};

void expectSameKey(const CIMKeyBinding& actual, const CIMKeyBinding& expected) {
    EXPECT_EQ(actual.getName().getString(), expected.getName().getString());
    EXPECT_EQ(actual.getType(), expected.getType());
    EXPECT_EQ(actual.getValue(), expected.getValue());
}

TEST_P(KeyRoundTrip, InInstanceName) {
    const auto& key = GetParam().key;
    CIMObjectPath name("", CIMNamespaceName(), "XK_Test", {CIMKeyBinding("Other", "1", CIMKeyBinding::NUMERIC), key});
    Response response;
    response.operation = Operation::EnumerateInstanceNames;
    response.instanceNames = {name};
    Response back = decodeResponse(encodeResponse(response), Operation::EnumerateInstanceNames);
    ASSERT_EQ(back.instanceNames.size(), 1u);
    ASSERT_EQ(back.instanceNames[0].getKeyBindings().size(), 2u);
    expectSameKey(back.instanceNames[0].getKeyBindings()[1], key);
    EXPECT_EQ(back.instanceNames[0], name);

    Request request;
    request.operation = Operation::GetInstance;
    request.nameSpace = "root/test";
    request.instanceName = name;
    Request sent = decodeRequest(encodeRequest(request));
    ASSERT_EQ(sent.instanceName.getKeyBindings().size(), 2u);
    expectSameKey(sent.instanceName.getKeyBindings()[1], key);
}

INSTANTIATE_TEST_SUITE_P(Codec, KeyRoundTrip, testing::ValuesIn(kKeys),
                         [](const testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Requests of every operation.

void expectSameRequest(const Request& a, const Request& b) {
    EXPECT_EQ(a.messageId, b.messageId);
    EXPECT_EQ(a.nameSpace, b.nameSpace);
    EXPECT_EQ(a.operation, b.operation);
    EXPECT_EQ(a.className, b.className);
    EXPECT_EQ(a.instanceName, b.instanceName) << a.instanceName << " vs " << b.instanceName;
    EXPECT_EQ(a.newInstance, b.newInstance) << a.newInstance << " vs " << b.newInstance;
    EXPECT_EQ(a.methodName, b.methodName);
    EXPECT_EQ(a.inParams, b.inParams);
    EXPECT_EQ(a.deepInheritance, b.deepInheritance);
    EXPECT_EQ(a.localOnly, b.localOnly);
    EXPECT_EQ(a.includeQualifiers, b.includeQualifiers);
    EXPECT_EQ(a.includeClassOrigin, b.includeClassOrigin);
    EXPECT_EQ(a.propertyList, b.propertyList);
}

CIMInstance richInstance() {
    CIMInstance instance("XK_KestTag");
    instance.addQualifier(CIMQualifier("Association", CIMValue(true), CIMFlavor{false, true, false, false}, true));
    instance.addProperty(CIMProperty("Name", CIMValue("rack \"A\" & <B>")));
    instance.addProperty(CIMProperty("Label", CIMValue(" two  spaces\tand a tab ")));
    instance.addProperty(CIMProperty("Note", CIMValue(CIMType::String, false), 0, CIMName(), CIMName(), true));
    instance.addProperty(CIMProperty("Sizes", CIMValue(Array<Uint16>{1, 2}), 4, CIMName(), "XK_Base"));
    instance.addProperty(CIMProperty("Owner", CIMValue(path("root/x:XK_Part.ID=1")), 0, "XK_Part"));
    instance.addProperty(CIMProperty("Peers", array(CIMType::Reference, {path("XK_Part.ID=2"), std::nullopt}), 0,
                                     "XK_Part"));
    return instance;
}

Request makeRequest(Operation op, const std::function<void(Request&)>& fill) {
    Request r;
    r.operation = op;
    r.messageId = "1001";
    r.nameSpace = "root/cimv2/kest";
    fill(r);
    return r;
}

struct RequestCase {
    const char* name;
    Request request;
};
void PrintTo(const RequestCase& c, std::ostream* os) { *os << c.name; }

const RequestCase kRequests[] = {
    {"EnumerateInstanceNames",
     makeRequest(Operation::EnumerateInstanceNames, [](Request& r) { r.className = "XK_KestCellSlot"; })},
    {"EnumerateInstancesFlagsFlipped", makeRequest(Operation::EnumerateInstances,
                                                   [](Request& r) {
                                                       r.className = "XK_KestCell";
                                                       r.deepInheritance = false;
                                                       r.localOnly = false;
                                                       r.includeQualifiers = true;
                                                       r.includeClassOrigin = true;
                                                       r.propertyList = CIMPropertyList({"SlotID", "CPUCount"});
                                                   })},
    {"EnumerateInstancesEmptyPropertyList", makeRequest(Operation::EnumerateInstances,
                                                        [](Request& r) {
                                                            r.className = "XK_KestCell";
                                                            r.propertyList = CIMPropertyList(Array<CIMName>{});
                                                        })},
    {"GetInstance", makeRequest(Operation::GetInstance,
                                [](Request& r) {
                                    r.instanceName = path("XK_KestTag.Index=7,Name=\"rack \\\"A\\\" & <B>\"");
                                    r.localOnly = false;
                                })},
    {"GetClassWithQualifiers", makeRequest(Operation::GetClass,
                                           [](Request& r) {
                                               r.className = "XK_KestCell";
                                               r.localOnly = false;
                                               r.includeQualifiers = true;
                                           })},
    {"GetClassWithoutQualifiers", makeRequest(Operation::GetClass,
                                              [](Request& r) {
                                                  r.className = "XK_KestCell";
                                                  r.includeQualifiers = false;
                                                  r.includeClassOrigin = true;
                                              })},
    {"CreateInstance", makeRequest(Operation::CreateInstance, [](Request& r) { r.newInstance = richInstance(); })},
    {"DeleteInstance",
     makeRequest(Operation::DeleteInstance, [](Request& r) { r.instanceName = path("XK_KestRemoteComplex.ID=1"); })},
    {"InvokeMethod", makeRequest(Operation::InvokeMethod,
                                 [](Request& r) {
                                     r.methodName = "MakeID";
                                     r.instanceName = path("XK_KestCellSlot.ID=1");
                                     r.inParams = {CIMParamValue("CabinetID", CIMValue(Uint8(44))),
                                                   CIMParamValue("SlotNumber", CIMValue(Uint8(1))),
                                                   CIMParamValue("Label", CIMValue("<x> & y")),
                                                   CIMParamValue("Target", CIMValue(path("root/x:XK_A.ID=1"))),
                                                   CIMParamValue("List", CIMValue(Array<Sint16>{-1, 2})),
                                                   CIMParamValue("Nothing", CIMValue(CIMType::Uint32, false)),
                                                   CIMParamValue("Untyped", CIMValue("text"), false)};
                                 })},
    {"InvokeMethodNoParameters", makeRequest(Operation::InvokeMethod,
                                             [](Request& r) {
                                                 r.methodName = "NameSpaceName";
                                                 r.instanceName = path("XK_KestRemoteComplex.Address=\"10.1.1.1\"");
                                             })},
    {"MessageIdEscaped",
     makeRequest(Operation::EnumerateInstanceNames, [](Request& r) {
         r.messageId = "id <1> & \"2\"";
         r.className = "XK_KestCell";
     })},
};

class RequestRoundTrip : public testing::TestWithParam<RequestCase> {};

TEST_P(RequestRoundTrip, DecodesToTheSameRequest) {
    const Request& request = GetParam().request;
    expectSameRequest(decodeRequest(encodeRequest(request)), request);
}

TEST_P(RequestRoundTrip, WritesEveryFlagOfTheOperation) {
    const Request& request = GetParam().request;
    String body = encodeRequest(request);
    auto has = [&body](const char* name) { return body.find(String("NAME=\"") + name + "\"") != String::npos; };
    bool flags = request.operation == Operation::EnumerateInstances || request.operation == Operation::GetInstance ||
                 request.operation == Operation::GetClass;
    EXPECT_EQ(has("LocalOnly"), flags);
    EXPECT_EQ(has("IncludeQualifiers"), flags);
    EXPECT_EQ(has("IncludeClassOrigin"), flags);
    EXPECT_EQ(has("DeepInheritance"), request.operation == Operation::EnumerateInstances);
    EXPECT_EQ(has("PropertyList"), !request.propertyList.isNull());
}

INSTANTIATE_TEST_SUITE_P(Codec, RequestRoundTrip, testing::ValuesIn(kRequests),
                         [](const testing::TestParamInfo<RequestCase>& info) { return std::string(info.param.name); });

// Boolean parameters left out take their defaults, which differ by operation.
struct DefaultsCase {
    const char* name;
    const char* call;  // the IMETHODCALL's parameters
    bool deepInheritance, localOnly, includeQualifiers, includeClassOrigin;
};
void PrintTo(const DefaultsCase& c, std::ostream* os) { *os << c.name; }

const DefaultsCase kDefaults[] = {
    {"EnumerateInstances", R"(<IMETHODCALL NAME="EnumerateInstances"><LOCALNAMESPACEPATH><NAMESPACE NAME="root"/></LOCALNAMESPACEPATH><IPARAMVALUE NAME="ClassName"><CLASSNAME NAME="X"/></IPARAMVALUE></IMETHODCALL>)",
     true, true, false, false},
    {"GetInstance", R"(<IMETHODCALL NAME="GetInstance"><LOCALNAMESPACEPATH><NAMESPACE NAME="root"/></LOCALNAMESPACEPATH><IPARAMVALUE NAME="InstanceName"><INSTANCENAME CLASSNAME="X"/></IPARAMVALUE></IMETHODCALL>)",
     true, true, false, false},
    {"GetClass", R"(<IMETHODCALL NAME="GetClass"><LOCALNAMESPACEPATH><NAMESPACE NAME="root"/></LOCALNAMESPACEPATH><IPARAMVALUE NAME="ClassName"><CLASSNAME NAME="X"/></IPARAMVALUE></IMETHODCALL>)",
     true, true, true, false},
    {"GetClassNullFlags", R"(<IMETHODCALL NAME="getclass"><LOCALNAMESPACEPATH><NAMESPACE NAME="root"/></LOCALNAMESPACEPATH><IPARAMVALUE NAME="classname"><CLASSNAME NAME="X"/></IPARAMVALUE><IPARAMVALUE NAME="IncludeQualifiers"/><IPARAMVALUE NAME="LocalOnly"/><IPARAMVALUE NAME="PropertyList"/></IMETHODCALL>)",
     true, true, true, false},
};

class RequestDefaults : public testing::TestWithParam<DefaultsCase> {};

TEST_P(RequestDefaults, AbsentFlagsTakeTheirDefaults) {
    const auto& c = GetParam();
    Request r = decodeRequest(String("<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE ID=\"7\" PROTOCOLVERSION=\"1.0\">") +
                              "<SIMPLEREQ>" + c.call + "</SIMPLEREQ></MESSAGE></CIM>");
    EXPECT_EQ(r.deepInheritance, c.deepInheritance);
    EXPECT_EQ(r.localOnly, c.localOnly);
    EXPECT_EQ(r.includeQualifiers, c.includeQualifiers);
    EXPECT_EQ(r.includeClassOrigin, c.includeClassOrigin);
    EXPECT_TRUE(r.propertyList.isNull());
    EXPECT_EQ(r.messageId, "7");
    EXPECT_EQ(r.nameSpace, CIMNamespaceName("root"));
}

INSTANTIATE_TEST_SUITE_P(Codec, RequestDefaults, testing::ValuesIn(kDefaults),
                         [](const testing::TestParamInfo<DefaultsCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Responses of every operation, and errors.

void expectSameResponse(const Response& a, const Response& b) {
    EXPECT_EQ(a.messageId, b.messageId);
    EXPECT_EQ(a.operation, b.operation);
    EXPECT_EQ(a.methodName, b.methodName);
    EXPECT_EQ(a.errorCode, b.errorCode);
    EXPECT_EQ(a.errorDescription, b.errorDescription);
    EXPECT_EQ(a.instanceNames, b.instanceNames);
    EXPECT_EQ(a.instances, b.instances);
    EXPECT_EQ(a.instance, b.instance) << a.instance << " vs " << b.instance;
    EXPECT_EQ(a.cimClass, b.cimClass) << a.cimClass << " vs " << b.cimClass;
    EXPECT_EQ(a.instanceName, b.instanceName);
    EXPECT_EQ(a.returnValue, b.returnValue) << a.returnValue << " vs " << b.returnValue;
    EXPECT_EQ(a.outParams, b.outParams);
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
    c.addProperty(CIMProperty("Label", CIMValue("default text")));
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

Response makeResponse(Operation op, const std::function<void(Response&)>& fill) {
    Response r;
    r.operation = op;
    r.messageId = "1002";
    fill(r);
    return r;
}

struct ResponseCase {
    const char* name;
    Response response;
};
void PrintTo(const ResponseCase& c, std::ostream* os) { *os << c.name; }

const ResponseCase kResponses[] = {
    {"EnumerateInstanceNames", makeResponse(Operation::EnumerateInstanceNames,
                                            [](Response& r) {
                                                r.instanceNames = {path("XK_KestCellSlot.ID=0"),
                                                                   path("XK_LP.Part=\"root/x:XK_P.PartitionID=0\"")};
                                            })},
    {"EnumerateInstanceNamesEmpty", makeResponse(Operation::EnumerateInstanceNames, [](Response&) {})},
    {"EnumerateInstances", makeResponse(Operation::EnumerateInstances,
                                        [](Response& r) {
                                            CIMInstance a = richInstance();
                                            a.setPath(path("XK_KestTag.Index=7,Name=\"x\""));
                                            CIMInstance b("XK_KestTag");
                                            b.setPath(path("XK_KestTag.Index=8,Name=\"y\""));
                                            r.instances = {a, b};
                                        })},
    {"EnumerateInstancesEmpty", makeResponse(Operation::EnumerateInstances, [](Response&) {})},
    {"GetInstance", makeResponse(Operation::GetInstance, [](Response& r) { r.instance = richInstance(); })},
    {"GetInstanceNoResult", makeResponse(Operation::GetInstance, [](Response&) {})},
    {"GetClass", makeResponse(Operation::GetClass, [](Response& r) { r.cimClass = richClass(); })},
    {"CreateInstance", makeResponse(Operation::CreateInstance,
                                    [](Response& r) { r.instanceName = path("XK_KestTag.Index=7,Name=\"a\""); })},
    {"DeleteInstance", makeResponse(Operation::DeleteInstance, [](Response&) {})},
    {"InvokeMethod", makeResponse(Operation::InvokeMethod,
                                  [](Response& r) {
                                      r.methodName = "MakeID";
                                      r.returnValue = CIMValue(Uint32(17));
                                      r.outParams = {CIMParamValue("NameSpace", CIMValue("root/cimv2/remote")),
                                                     CIMParamValue("Ids", CIMValue(Array<Uint32>{1, 2}))};
                                  })},
    {"InvokeMethodNullReturn", makeResponse(Operation::InvokeMethod,
                                            [](Response& r) {
                                                r.methodName = "Reset";
                                                r.returnValue = CIMValue(CIMType::Uint32, false);
                                            })},
    {"InvokeMethodReferenceReturn", makeResponse(Operation::InvokeMethod,
                                                 [](Response& r) {
                                                     r.methodName = "Find";
                                                     r.returnValue = CIMValue(path("root/x:XK_A.ID=1"));
                                                 })},
    {"ErrorOnEnumerateInstances", makeResponse(Operation::EnumerateInstances,
                                               [](Response& r) {
                                                   r.errorCode = 3;
                                                   r.errorDescription = "CIM_ERR_INVALID_NAMESPACE: root/cimv2/nosuch";
                                               })},
    {"ErrorOnGetInstanceWithMarkup", makeResponse(Operation::GetInstance,
                                                  [](Response& r) {
                                                      r.errorCode = 1;
                                                      r.errorDescription = "lock failed <a & b> \"q\" @22:  busy ";
                                                  })},
    {"ErrorWithoutDescription", makeResponse(Operation::DeleteInstance, [](Response& r) { r.errorCode = 6; })},
    {"ErrorOnInvokeMethod", makeResponse(Operation::InvokeMethod,
                                         [](Response& r) {
                                             r.methodName = "MakeID";
                                             r.errorCode = 16;
                                             r.errorDescription = "CIM_ERR_METHOD_NOT_AVAILABLE: MakeID";
                                         })},
};

class ResponseRoundTrip : public testing::TestWithParam<ResponseCase> {};

TEST_P(ResponseRoundTrip, DecodesToTheSameResponse) {
    const Response& response = GetParam().response;
    expectSameResponse(decodeResponse(encodeResponse(response), response.operation), response);
}

INSTANTIATE_TEST_SUITE_P(Codec, ResponseRoundTrip, testing::ValuesIn(kResponses),
                         [](const testing::TestParamInfo<ResponseCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Exact texts: escaping, element encodings, HTTP headers.

struct TextOut {
    const char* name;
    String actual;
    String expected;
};
void PrintTo(const TextOut& c, std::ostream* os) { *os << c.name; }

Request headersOf(Operation op, const char* ns, const char* method, const char* target) {
    Request r;
    r.operation = op;
    r.nameSpace = ns;
    r.methodName = method;
    if (*target) r.instanceName = path(target);
    return r;
}

const TextOut kTextsOut[] = {
    {"EscapeMarkup", escapeText("<&>\"'"), "&lt;&amp;&gt;&quot;&apos;"},
    {"EscapeBlanks", escapeText(" two  spaces\tand a tab "), "&#32;two &#32;spaces&#9;and a tab&#32;"},
    {"EscapeControls", escapeText("a\nb\rc\x01"), "a&#10;b&#13;c&#1;"},
    {"EscapeNonAsciiRaw", escapeText("été"), "été"},
    {"EscapeNul", escapeText(String("a\0b", 3)), "a\xEF\xBF\xBD" "b"},
    {"EncodeNullValue", encodeValue(CIMValue(CIMType::String, false)), ""},
    {"EncodeArrayWithNull", encodeValue(array(CIMType::Uint8, {Uint8(1), std::nullopt})),
     "<VALUE.ARRAY><VALUE>1</VALUE><VALUE.NULL/></VALUE.ARRAY>"},
    {"EncodeReal", encodeValue(CIMValue(Real32(0.1f))), "<VALUE>0.1</VALUE>"},
    {"EncodeLocalReference", encodeValue(CIMValue(path("root/x:C.K=1"))),
     "<VALUE.REFERENCE><LOCALINSTANCEPATH><LOCALNAMESPACEPATH><NAMESPACE NAME=\"root\"/><NAMESPACE NAME=\"x\"/>"
     "</LOCALNAMESPACEPATH><INSTANCENAME CLASSNAME=\"C\"><KEYBINDING NAME=\"K\"><KEYVALUE VALUETYPE=\"numeric\">1"
     "</KEYVALUE></KEYBINDING></INSTANCENAME></LOCALINSTANCEPATH></VALUE.REFERENCE>"},
    {"EncodeInstanceName", encodeInstanceName(path("C.B=TRUE,S=\"<\"")),
     "<INSTANCENAME CLASSNAME=\"C\"><KEYBINDING NAME=\"B\"><KEYVALUE VALUETYPE=\"boolean\">TRUE</KEYVALUE>"
     "</KEYBINDING><KEYBINDING NAME=\"S\"><KEYVALUE VALUETYPE=\"string\">&lt;</KEYVALUE></KEYBINDING></INSTANCENAME>"},
    {"HeaderMethodIntrinsic", requestHeaders(headersOf(Operation::GetClass, "root/cimv2/kest", "", "")).cimMethod,
     "GetClass"},
    {"HeaderObjectIntrinsic", requestHeaders(headersOf(Operation::GetClass, "root/cimv2/kest", "", "")).cimObject,
     "root/cimv2/kest"},
    {"HeaderMethodExtrinsic",
     requestHeaders(headersOf(Operation::InvokeMethod, "root/cimv2/kest", "MakeID", "XK_KestCellSlot.ID=1")).cimMethod,
     "MakeID"},
    {"HeaderObjectExtrinsic",
     requestHeaders(headersOf(Operation::InvokeMethod, "root/cimv2/kest", "MakeID", "XK_KestCellSlot.ID=1")).cimObject,
     "root/cimv2/kest:XK_KestCellSlot.ID=1"},
    {"HeaderObjectEscaped",
     requestHeaders(headersOf(Operation::InvokeMethod, "root/x", "M", "XK_R.Address=\"10.1.1.1 é%\"")).cimObject,
     "root/x:XK_R.Address=%2210.1.1.1%20%C3%A9%25%22"},
};

class ExactText : public testing::TestWithParam<TextOut> {};

TEST_P(ExactText, Matches) { EXPECT_EQ(GetParam().actual, GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Codec, ExactText, testing::ValuesIn(kTextsOut),
                         [](const testing::TestParamInfo<TextOut>& info) { return std::string(info.param.name); });

}  // namespace
