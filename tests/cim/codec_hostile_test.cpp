// Malformed and hostile documents: each must give a ParseError whose message
// names the problem, never a crash, a hang or a runaway allocation.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <cstring>
#include <random>
#include <sstream>

#include "cim/Codec.h"
#include "http_split.h"

using namespace cim;
using namespace cim::xml;

namespace {

const char* kHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// A response document around the inside of an IMETHODRESPONSE of `op`.
String answer(const char* op, const String& inside) {
    return String(kHead) + "<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE ID=\"1\" PROTOCOLVERSION=\"1.0\">" +
           "<SIMPLERSP><IMETHODRESPONSE NAME=\"" + op + "\">" + inside + "</IMETHODRESPONSE></SIMPLERSP></MESSAGE></CIM>";
}

// A GetInstance answer with one property element.
String property(const String& element) {
    return answer("GetInstance", "<IRETURNVALUE><INSTANCE CLASSNAME=\"X\">" + element + "</INSTANCE></IRETURNVALUE>");
}

String scalar(const char* type, const String& text) {
    return property(String("<PROPERTY NAME=\"P\" TYPE=\"") + type + "\"><VALUE>" + text + "</VALUE></PROPERTY>");
}

// A CreateInstance answer with the given INSTANCENAME content.
String instanceName(const String& keys) {
    return answer("CreateInstance", "<IRETURNVALUE><INSTANCENAME CLASSNAME=\"X\">" + keys + "</INSTANCENAME></IRETURNVALUE>");
}

String key(const String& keyValue) { return "<KEYBINDING NAME=\"K\">" + keyValue + "</KEYBINDING>"; }

String nestedReference(int depth) {
    String inner = "<KEYVALUE VALUETYPE=\"numeric\">1</KEYVALUE>";
    for (int i = 0; i < depth; ++i)
        inner = "<VALUE.REFERENCE><INSTANCENAME CLASSNAME=\"X\"><KEYBINDING NAME=\"K\">" + inner +
                "</KEYBINDING></INSTANCENAME></VALUE.REFERENCE>";
    return instanceName("<KEYBINDING NAME=\"K\">" + inner + "</KEYBINDING>");
}

String request(const String& call) {
    return String(kHead) + "<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE ID=\"1\" PROTOCOLVERSION=\"1.0\">" +
           "<SIMPLEREQ>" + call + "</SIMPLEREQ></MESSAGE></CIM>";
}

const char* kNs = "<LOCALNAMESPACEPATH><NAMESPACE NAME=\"root\"/></LOCALNAMESPACEPATH>";

String intrinsic(const char* op, const String& params) {
    return request(String("<IMETHODCALL NAME=\"") + op + "\">" + kNs + params + "</IMETHODCALL>");
}

String method(const String& params) {
    return request("<METHODCALL NAME=\"M\"><LOCALINSTANCEPATH>" + String(kNs) +
                   "<INSTANCENAME CLASSNAME=\"X\"/></LOCALINSTANCEPATH>" + params + "</METHODCALL>");
}

struct BadCase {
    const char* name;
    String body;
    const char* message;     // a part of the ParseError's message
    bool isRequest = false;  // decodeRequest rather than decodeResponse(GetInstance-like)
    Operation op = Operation::GetInstance;
};
void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

const BadCase kBad[] = {
    // Not CIM-XML at all.
    {"Empty", "", "empty document"},
    {"Blank", " \r\n\t", "empty document"},
    {"NotXml", "hello, world", "text outside the document element"},
    {"HttpInsteadOfXml", "HTTP/1.1 200 OK\r\n\r\n<CIM/>", "text outside the document element"},
    {"Truncated", String(kHead) + "<CIM CIMVERSION=\"2.0\"", "not well-formed"},
    {"Mismatched", String(kHead) + "<CIM><MESSAGE></CIM>", "not well-formed"},
    {"WrongRoot", String(kHead) + "<HTML/>", "expected <CIM>"},
    {"SecondRoot", answer("GetInstance", "") + "<CIM/>", "second document element"},
    {"TextAfterRoot", answer("GetInstance", "") + "trailing", "text outside"},
    {"NulByte", String("<CIM>\0</CIM>", 13), "NUL byte"},
    {"Latin1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><CIM/>", "unsupported encoding"},
    {"BillionLaughs",
     "<?xml version=\"1.0\"?><!DOCTYPE CIM [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
     "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]><CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">&c;</CIM>",
     "internal DTD subset"},
    {"UndefinedEntity", scalar("string", "&c;&c;&c;"), "undefined entity \"&c;\""},
    {"UnterminatedReference", scalar("string", "a & b"), "unterminated reference"},
    {"ReferenceToNul", scalar("string", "&#0;"), "cannot carry"},
    {"ReferenceBeyondUnicode", scalar("string", "&#x110000;"), "cannot carry"},
    {"BadCharacterReference", scalar("string", "&#12a;"), "bad character reference"},
    // The envelope.
    {"MissingCimVersion", String(kHead) + "<CIM DTDVERSION=\"2.0\"/>", "missing attribute CIMVERSION"},
    {"CimVersion3", String(kHead) + "<CIM CIMVERSION=\"3.0\" DTDVERSION=\"2.0\"/>", "unsupported CIMVERSION"},
    {"NoMessage", String(kHead) + "<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"/>", "missing <MESSAGE>"},
    {"MessageWithoutId",
     String(kHead) + "<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE PROTOCOLVERSION=\"1.0\"/></CIM>",
     "missing attribute ID"},
    {"DuplicateAttribute",
     String(kHead) + "<CIM CIMVERSION=\"2.0\" CIMVERSION=\"2.1\" DTDVERSION=\"2.0\"/>", "duplicate attribute CIMVERSION"},
    {"MultipleResponses",
     String(kHead) + "<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE ID=\"1\" PROTOCOLVERSION=\"1.0\"><MULTIRSP/>"
                     "</MESSAGE></CIM>",
     "is not supported"},
    {"AnswerToAnotherOperation", answer("GetClass", ""), "where GetInstance was asked"},
    {"MethodResponseToIntrinsic",
     String(kHead) + "<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE ID=\"1\" PROTOCOLVERSION=\"1.0\"><SIMPLERSP>"
                     "<METHODRESPONSE NAME=\"GetInstance\"/></SIMPLERSP></MESSAGE></CIM>",
     "expected <IMETHODRESPONSE>"},
    {"IntrinsicResponseToMethod", answer("MakeID", ""), "expected <METHODRESPONSE>", false, Operation::InvokeMethod},
    {"ErrorWithResult", answer("GetInstance", "<ERROR CODE=\"6\"/><IRETURNVALUE/>"), "unexpected element <IRETURNVALUE>"},
    {"ErrorCodeNotANumber", answer("GetInstance", "<ERROR CODE=\"six\"/>"), "CODE"},
    {"ErrorWithoutCode", answer("GetInstance", "<ERROR DESCRIPTION=\"x\"/>"), "missing attribute CODE"},
    {"ErrorWithBadInstance", answer("GetInstance", "<ERROR CODE=\"1\"><INSTANCE/></ERROR>"), "missing attribute CLASSNAME"},
    {"TwoReturnValues", answer("GetInstance", "<IRETURNVALUE/><IRETURNVALUE/>"), "unexpected element <IRETURNVALUE>"},
    // Results of the wrong shape.
    {"GetInstanceEmptyResult", answer("GetInstance", "<IRETURNVALUE/>"), "missing <INSTANCE>"},
    {"GetInstanceTwoInstances",
     answer("GetInstance", "<IRETURNVALUE><INSTANCE CLASSNAME=\"X\"/><INSTANCE CLASSNAME=\"X\"/></IRETURNVALUE>"),
     "unexpected element <INSTANCE>"},
    {"UnknownElementInResult", answer("EnumerateInstanceNames", "<IRETURNVALUE><FOO/></IRETURNVALUE>"),
     "unexpected element <FOO>", false, Operation::EnumerateInstanceNames},
    {"NamedInstanceWithoutInstance",
     answer("EnumerateInstances", "<IRETURNVALUE><VALUE.NAMEDINSTANCE><INSTANCENAME CLASSNAME=\"X\"/>"
                                  "</VALUE.NAMEDINSTANCE></IRETURNVALUE>"),
     "missing <INSTANCE>", false, Operation::EnumerateInstances},
    {"DeleteWithResult", answer("DeleteInstance", "<IRETURNVALUE><INSTANCENAME CLASSNAME=\"X\"/></IRETURNVALUE>"),
     "unexpected element <INSTANCENAME>", false, Operation::DeleteInstance},
    {"TextInInstance", property("stray text"), "unexpected text"},
    {"TextBeforeProperty", property("stray<PROPERTY NAME=\"P\" TYPE=\"string\"/>"), "unexpected text"},
    {"TextAfterProperty", property("<PROPERTY NAME=\"P\" TYPE=\"string\"/>stray"), "unexpected text"},
    {"ElementInValue", scalar("string", "a<B/>"), "unexpected element <B>"},
    {"ElementBeforeText", scalar("string", "<B/>a"), "unexpected element <B>"},
    {"BadReferenceInFirstText", scalar("string", "a&bogus;<![CDATA[b]]>"), "undefined entity"},
    {"BadReferenceAfterCdata", scalar("string", "<![CDATA[b]]>a&bogus;"), "undefined entity"},
    // Attributes read together in one pass still refuse a duplicate of any of them.
    {"DuplicateQualifierFlavor",
     property("<PROPERTY NAME=\"P\" TYPE=\"uint8\"><QUALIFIER NAME=\"Q\" TYPE=\"boolean\" TOINSTANCE=\"true\" "
              "TOINSTANCE=\"false\"><VALUE>TRUE</VALUE></QUALIFIER></PROPERTY>"),
     "duplicate attribute TOINSTANCE"},
    {"DuplicatePropertyType", property("<PROPERTY NAME=\"P\" TYPE=\"uint8\" TYPE=\"string\"/>"),
     "duplicate attribute TYPE"},
    {"BadQualifierFlavor",
     property("<PROPERTY NAME=\"P\" TYPE=\"uint8\"><QUALIFIER NAME=\"Q\" TYPE=\"boolean\" TRANSLATABLE=\"1\">"
              "<VALUE>TRUE</VALUE></QUALIFIER></PROPERTY>"),
     "attribute TRANSLATABLE must be true or false"},
    {"ReferenceInName", property("<PROPERTY NAME=\"P&#45;\" TYPE=\"uint8\"/>"), "not a CIM name"},
    // Properties and values.
    {"PropertyWithoutName", property("<PROPERTY TYPE=\"string\"/>"), "missing attribute NAME"},
    {"PropertyWithoutType", property("<PROPERTY NAME=\"P\"/>"), "missing attribute TYPE"},
    {"UnknownType", property("<PROPERTY NAME=\"P\" TYPE=\"int\"/>"), "unknown TYPE"},
    {"DuplicateProperty", property("<PROPERTY NAME=\"P\" TYPE=\"string\"/><PROPERTY NAME=\"p\" TYPE=\"uint8\"/>"),
     "duplicate property"},
    {"TwoValues", property("<PROPERTY NAME=\"P\" TYPE=\"string\"><VALUE>a</VALUE><VALUE>b</VALUE></PROPERTY>"),
     "unexpected element <VALUE>"},
    {"ArrayInScalarProperty",
     property("<PROPERTY NAME=\"P\" TYPE=\"uint8\"><VALUE.ARRAY><VALUE>1</VALUE></VALUE.ARRAY></PROPERTY>"),
     "an array value"},
    {"ScalarInArrayProperty", property("<PROPERTY.ARRAY NAME=\"P\" TYPE=\"uint8\"><VALUE>1</VALUE></PROPERTY.ARRAY>"),
     "a scalar value"},
    {"ValueForReference", property("<PROPERTY.REFERENCE NAME=\"P\"><VALUE>X.K=1</VALUE></PROPERTY.REFERENCE>"),
     "must be a VALUE.REFERENCE"},
    {"ReferenceForUint8",
     property("<PROPERTY NAME=\"P\" TYPE=\"uint8\"><VALUE.REFERENCE><INSTANCENAME CLASSNAME=\"X\"/></VALUE.REFERENCE>"
              "</PROPERTY>"),
     "for a value of type uint8"},
    {"BadArraySize", property("<PROPERTY.ARRAY NAME=\"P\" TYPE=\"uint8\" ARRAYSIZE=\"-1\"/>"), "ARRAYSIZE"},
    {"BadPropagated", property("<PROPERTY NAME=\"P\" TYPE=\"uint8\" PROPAGATED=\"yes\"/>"), "must be true or false"},
    {"NullWithContent",
     property("<PROPERTY.ARRAY NAME=\"P\" TYPE=\"uint8\"><VALUE.ARRAY><VALUE.NULL>1</VALUE.NULL></VALUE.ARRAY>"
              "</PROPERTY.ARRAY>"),
     "unexpected text"},
    {"Uint8TooLarge", scalar("uint8", "300"), "out of range"},
    {"Uint8Negative", scalar("uint8", "-1"), "negative value for an unsigned type"},
    {"Uint8Trailing", scalar("uint8", "12abc"), "not a number"},
    {"Uint8Empty", scalar("uint8", ""), "no digits"},
    {"Uint8Sign", scalar("uint8", "+"), "no digits"},
    {"Uint32InnerBlank", scalar("uint32", "1 2"), "not a number"},
    {"Uint32Real", scalar("uint32", "1.0"), "not a number"},
    {"Uint16HexTooLarge", scalar("uint16", "0x10000"), "out of range"},
    {"Uint64TooLarge", scalar("uint64", "18446744073709551616"), "out of range"},
    {"Uint64Huge", scalar("uint64", String(400, '9')), "out of range"},
    {"Sint8TooLarge", scalar("sint8", "128"), "out of range"},
    {"Sint64TooSmall", scalar("sint64", "-9223372036854775809"), "out of range"},
    {"Sint32DoubleSign", scalar("sint32", "--1"), "not a number"},
    {"BooleanYes", scalar("boolean", "yes"), "expected TRUE or FALSE"},
    {"BooleanEmpty", scalar("boolean", ""), "expected TRUE or FALSE"},
    {"Real64TwoDots", scalar("real64", "1.5.2"), "not a number"},
    {"Real64Overflow", scalar("real64", "1e999"), "out of range"},
    {"Real32Overflow", scalar("real32", "1e39"), "out of range"},
    {"Real64Hex", scalar("real64", "0x1p3"), "not a number"},
    {"Real64DoubleSign", scalar("real64", "+-1"), "not a number"},
    {"Char16TwoCharacters", scalar("char16", "ab"), "more than one character"},
    {"Char16OutsideBmp", scalar("char16", "😀"), "outside the 16-bit range"},
    {"Char16BadUtf8", scalar("char16", "\xC3"), "not UTF-8"},
    {"DateTimeShort", scalar("datetime", "2024"), "datetime"},
    {"DateTimeLetters", scalar("datetime", "2024010203040x.000000+000"), "datetime"},
    {"QualifierWithoutType", property("<PROPERTY NAME=\"P\" TYPE=\"uint8\"><QUALIFIER NAME=\"Key\"/></PROPERTY>"),
     "missing attribute TYPE"},
    {"QualifierBadFlavor",
     property("<PROPERTY NAME=\"P\" TYPE=\"uint8\"><QUALIFIER NAME=\"Key\" TYPE=\"boolean\" OVERRIDABLE=\"no\"/></PROPERTY>"),
     "must be true or false"},
    {"QualifierBadValue",
     property("<PROPERTY NAME=\"P\" TYPE=\"uint8\"><QUALIFIER NAME=\"Key\" TYPE=\"boolean\"><VALUE>1</VALUE></QUALIFIER>"
              "</PROPERTY>"),
     "expected TRUE or FALSE"},
    // Instance names and references.
    {"InstanceNameWithoutClass", answer("CreateInstance", "<IRETURNVALUE><INSTANCENAME/></IRETURNVALUE>"),
     "missing attribute CLASSNAME", false, Operation::CreateInstance},
    {"KeyWithoutValue", instanceName("<KEYBINDING NAME=\"K\"/>"), "missing <KEYVALUE> or <VALUE.REFERENCE>", false,
     Operation::CreateInstance},
    {"DuplicateKey",
     instanceName(key("<KEYVALUE>a</KEYVALUE>") + "<KEYBINDING NAME=\"k\"><KEYVALUE>b</KEYVALUE></KEYBINDING>"),
     "duplicate key", false, Operation::CreateInstance},
    {"UnnamedKey", instanceName("<KEYVALUE>a</KEYVALUE>"), "without a KEYBINDING name", false, Operation::CreateInstance},
    {"NumericKeyNotANumber", instanceName(key("<KEYVALUE VALUETYPE=\"numeric\">abc</KEYVALUE>")), "bad numeric key",
     false, Operation::CreateInstance},
    {"NumericKeyOutOfType", instanceName(key("<KEYVALUE VALUETYPE=\"numeric\" TYPE=\"uint8\">300</KEYVALUE>")),
     "out of range", false, Operation::CreateInstance},
    {"KeyTypeMismatch", instanceName(key("<KEYVALUE VALUETYPE=\"string\" TYPE=\"uint8\">1</KEYVALUE>")),
     "does not suit", false, Operation::CreateInstance},
    {"BooleanKeyBad", instanceName(key("<KEYVALUE VALUETYPE=\"boolean\">on</KEYVALUE>")), "expected TRUE or FALSE",
     false, Operation::CreateInstance},
    {"UnknownValueType", instanceName(key("<KEYVALUE VALUETYPE=\"date\">1</KEYVALUE>")), "bad VALUETYPE", false,
     Operation::CreateInstance},
    {"EmptyNamespacePath",
     instanceName(key("<VALUE.REFERENCE><LOCALINSTANCEPATH><LOCALNAMESPACEPATH/><INSTANCENAME CLASSNAME=\"Y\"/>"
                      "</LOCALINSTANCEPATH></VALUE.REFERENCE>")),
     "missing <NAMESPACE>", false, Operation::CreateInstance},
    {"InstancePathWithoutHost",
     instanceName(key("<VALUE.REFERENCE><INSTANCEPATH><NAMESPACEPATH>" + String(kNs) +
                      "</NAMESPACEPATH><INSTANCENAME CLASSNAME=\"Y\"/></INSTANCEPATH></VALUE.REFERENCE>")),
     "expected <HOST>", false, Operation::CreateInstance},
    {"ReferencesTooDeep", nestedReference(6), "nested too deeply", false, Operation::CreateInstance},
    {"ClassNameNotAName", answer("CreateInstance", "<IRETURNVALUE><INSTANCENAME CLASSNAME=\"X.K=1\"/></IRETURNVALUE>"),
     "not a CIM name", false, Operation::CreateInstance},
    {"PropertyNameWithBlank", property("<PROPERTY NAME=\"a b\" TYPE=\"uint8\"/>"), "not a CIM name"},
    {"NamespaceWithColon",
     instanceName(key("<VALUE.REFERENCE><LOCALINSTANCEPATH><LOCALNAMESPACEPATH><NAMESPACE NAME=\"a:b\"/>"
                      "</LOCALNAMESPACEPATH><INSTANCENAME CLASSNAME=\"Y\"/></LOCALINSTANCEPATH></VALUE.REFERENCE>")),
     "bad namespace name", false, Operation::CreateInstance},
    {"HostWithSlash",
     instanceName(key("<VALUE.REFERENCE><INSTANCEPATH><NAMESPACEPATH><HOST>a/b</HOST>" + String(kNs) +
                      "</NAMESPACEPATH><INSTANCENAME CLASSNAME=\"Y\"/></INSTANCEPATH></VALUE.REFERENCE>")),
     "bad HOST", false, Operation::CreateInstance},
    // Requests.
    {"UnknownOperation", intrinsic("ModifyInstance", ""), "unsupported operation", true},
    {"MissingNamespace", request("<IMETHODCALL NAME=\"GetClass\"/>"), "missing <LOCALNAMESPACEPATH>", true},
    {"MissingClassName", intrinsic("GetClass", ""), "missing parameter ClassName", true},
    {"MissingInstanceName", intrinsic("DeleteInstance", ""), "missing parameter InstanceName", true},
    {"MissingNewInstance", intrinsic("CreateInstance", ""), "missing parameter NewInstance", true},
    {"ParameterOfAnotherOperation",
     intrinsic("EnumerateInstanceNames", "<IPARAMVALUE NAME=\"LocalOnly\"><VALUE>TRUE</VALUE></IPARAMVALUE>"),
     "is not a parameter of EnumerateInstanceNames", true},
    {"DuplicateParameter",
     intrinsic("GetClass", "<IPARAMVALUE NAME=\"ClassName\"><CLASSNAME NAME=\"X\"/></IPARAMVALUE>"
                           "<IPARAMVALUE NAME=\"ClassName\"><CLASSNAME NAME=\"Y\"/></IPARAMVALUE>"),
     "duplicate parameter", true},
    {"FlagNotBoolean",
     intrinsic("GetClass", "<IPARAMVALUE NAME=\"ClassName\"><CLASSNAME NAME=\"X\"/></IPARAMVALUE>"
                           "<IPARAMVALUE NAME=\"LocalOnly\"><VALUE>maybe</VALUE></IPARAMVALUE>"),
     "expected TRUE or FALSE", true},
    {"ClassNameAsValue", intrinsic("GetClass", "<IPARAMVALUE NAME=\"ClassName\"><VALUE>X</VALUE></IPARAMVALUE>"),
     "expected <CLASSNAME>", true},
    {"PropertyListWithNull",
     intrinsic("GetClass", "<IPARAMVALUE NAME=\"ClassName\"><CLASSNAME NAME=\"X\"/></IPARAMVALUE>"
                           "<IPARAMVALUE NAME=\"PropertyList\"><VALUE.ARRAY><VALUE.NULL/></VALUE.ARRAY></IPARAMVALUE>"),
     "property names only", true},
    {"ResponseAsRequest", answer("GetInstance", ""), "expected <SIMPLEREQ> or <MULTIREQ>", true},
    {"MethodWithoutPath", request("<METHODCALL NAME=\"M\"/>"), "missing <LOCALINSTANCEPATH>", true},
    {"MethodParameterOutOfRange", method("<PARAMVALUE NAME=\"p\" PARAMTYPE=\"uint8\"><VALUE>256</VALUE></PARAMVALUE>"),
     "out of range", true},
    {"MethodParameterInstance",
     method("<PARAMVALUE NAME=\"p\"><INSTANCE CLASSNAME=\"X\"/></PARAMVALUE>"), "unsupported value element", true},
    {"MethodReferenceWithOtherType",
     method("<PARAMVALUE NAME=\"p\" PARAMTYPE=\"uint8\"><VALUE.REFERENCE><INSTANCENAME CLASSNAME=\"X\"/>"
            "</VALUE.REFERENCE></PARAMVALUE>"),
     "a reference value with PARAMTYPE uint8", true},
    {"MethodDuplicateParameter",
     method("<PARAMVALUE NAME=\"p\"/><PARAMVALUE NAME=\"P\"/>"), "duplicate parameter", true},
};

class Malformed : public testing::TestWithParam<BadCase> {};

TEST_P(Malformed, GivesAParseErrorNamingTheProblem) {
    const auto& c = GetParam();
    try {
        if (c.isRequest)
            decodeRequest(c.body);
        else
            decodeResponse(c.body, c.op);
        FAIL() << "no ParseError";
    } catch (const ParseError& e) {
        EXPECT_NE(e.getMessage().find(c.message), String::npos) << e.getMessage();
    }
}

INSTANTIATE_TEST_SUITE_P(Codec, Malformed, testing::ValuesIn(kBad),
                         [](const testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

// The limit on nested references lets the deepest allowed nesting through.
TEST(CodecHostile, ReferencesNestedToTheLimitDecode) {
    Response r = decodeResponse(nestedReference(4), Operation::CreateInstance);
    ASSERT_EQ(r.instanceName.getKeyBindings().size(), 1u);
    EXPECT_EQ(r.instanceName.getKeyBindings()[0].getType(), CIMKeyBinding::REFERENCE);
}

// ---------------------------------------------------------------------------
// Every prefix of a real answer and request is refused.

std::vector<std::string> corpusBodies(const char* suffix) {
    std::vector<std::string> bodies;
    const std::filesystem::path dir = CMPLXVIEW_INTEROP_DIR;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        std::string name = entry.path().filename().string();
        if (name.size() < std::strlen(suffix) || name.compare(name.size() - std::strlen(suffix), String::npos, suffix))
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        bodies.push_back(std::string(suffix) == ".response.http" ? cimtest::splitHttpResponse(s.str()).body : s.str());
    }
    return bodies;
}

Operation operationOfBody(const std::string& body) {
    if (body.find("<METHODRESPONSE") != std::string::npos) return Operation::InvokeMethod;
    auto at = body.find("IMETHODRESPONSE NAME=\"") + 22;
    return *operationFromName(body.substr(at, body.find('"', at) - at));
}

TEST(CodecHostile, EveryTruncatedResponseIsRefused) {
    auto bodies = corpusBodies(".response.http");
    ASSERT_EQ(bodies.size(), 18u) << "interop corpus folder " << CMPLXVIEW_INTEROP_DIR;
    Response rich;
    rich.operation = Operation::GetInstance;
    rich.instance = CIMInstance("XK_Test");
    rich.instance.addProperty(CIMProperty("A", CIMValue(Array<String>{" a ", "<&>"})));
    rich.instance.addProperty(CIMProperty("R", CIMValue(CIMObjectPath("//h/root/x:XK_A.K=\"v\",N=1"))));
    bodies.push_back(encodeResponse(rich));
    for (const auto& body : bodies) {
        Operation op = operationOfBody(body);
        decodeResponse(body, op);  // the whole answer decodes
        const std::size_t complete = body.rfind("</CIM>") + 6;
        for (std::size_t n = 0; n < complete; ++n) {
            try {
                decodeResponse(std::string_view(body).substr(0, n), op);
                ADD_FAILURE() << "prefix of " << n << " bytes accepted:\n" << body.substr(0, n);
                break;
            } catch (const ParseError&) {
            }
        }
    }
}

TEST(CodecHostile, EveryTruncatedRequestIsRefused) {
    auto bodies = corpusBodies(".request.xml");
    ASSERT_EQ(bodies.size(), 18u) << "interop corpus folder " << CMPLXVIEW_INTEROP_DIR;
    for (const auto& body : bodies) {
        decodeRequest(body);
        const std::size_t complete = body.rfind("</CIM>") + 6;
        for (std::size_t n = 0; n < complete; ++n) {
            try {
                decodeRequest(std::string_view(body).substr(0, n));
                ADD_FAILURE() << "prefix of " << n << " bytes accepted:\n" << body.substr(0, n);
                break;
            } catch (const ParseError&) {
            }
        }
    }
}

// Random byte changes to real answers: either they still decode or they give a ParseError.
TEST(CodecHostile, MutatedResponsesFailCleanly) {
    std::mt19937 random(20240601);
    const char alphabet[] = "<>/=\"'&;#x0123456789 \n\t\x80\xC3\xFF" "ABCDEFGHIJKLMNOPQRSTUVWXYZ.[]!-?";
    const auto originals = corpusBodies(".response.http");
    ASSERT_FALSE(originals.empty()) << "interop corpus folder " << CMPLXVIEW_INTEROP_DIR;
    for (const auto& original : originals) {
        Operation op = operationOfBody(original);
        for (int round = 0; round < 300; ++round) {
            std::string body = original;
            int changes = 1 + int(random() % 4);
            for (int i = 0; i < changes; ++i) {
                std::size_t at = random() % body.size();
                switch (random() % 3) {
                    case 0: body[at] = alphabet[random() % (sizeof alphabet - 1)]; break;
                    case 1: body.erase(at, 1 + random() % 8); break;
                    default: body.insert(at, body.substr(random() % body.size(), random() % 32)); break;
                }
                if (body.empty()) body = "<";
            }
            try {
                decodeResponse(body, op);
            } catch (const ParseError&) {
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Large inputs are handled in proportion to their size.

TEST(CodecHostile, TenMegabyteStringDecodes) {
    const std::string big(10 * 1024 * 1024, 'x');
    Response r = decodeResponse(scalar("string", big + "&lt;"), Operation::GetInstance);
    String value;
    r.instance.getProperty(0).getValue().get(value);
    EXPECT_EQ(value.size(), big.size() + 1);
    EXPECT_EQ(value.back(), '<');
}

TEST(CodecHostile, TenMegabyteAttributeDecodes) {
    const std::string big(10 * 1024 * 1024, 'n');
    Response r = decodeResponse(property("<PROPERTY NAME=\"" + big + "\" TYPE=\"uint8\"/>"), Operation::GetInstance);
    EXPECT_EQ(r.instance.getProperty(0).getName().getString().size(), big.size());
}

TEST(CodecHostile, DeeplyNestedElementsAreRefused) {
    std::string deep;
    for (int i = 0; i < 500000; ++i) deep += "<X>";
    for (int i = 0; i < 500000; ++i) deep += "</X>";
    EXPECT_THROW(decodeResponse(property(deep), Operation::GetInstance), ParseError);
    EXPECT_THROW(decodeResponse(String(1000000, '<'), Operation::GetInstance), ParseError);
}

TEST(CodecHostile, LargeArrayDecodes) {
    std::string values;
    for (int i = 0; i < 200000; ++i) values += "<VALUE>" + std::to_string(i % 256) + "</VALUE>";
    Response r = decodeResponse(
        property("<PROPERTY.ARRAY NAME=\"P\" TYPE=\"uint8\"><VALUE.ARRAY>" + values + "</VALUE.ARRAY></PROPERTY.ARRAY>"),
        Operation::GetInstance);
    EXPECT_EQ(r.instance.getProperty(0).getValue().getArraySize(), 200000u);
}

TEST(CodecHostile, ManyUndefinedEntitiesAreRefused) {
    std::string refs;
    for (int i = 0; i < 100000; ++i) refs += "&lol9;";
    EXPECT_THROW(decodeResponse(scalar("string", refs), Operation::GetInstance), ParseError);
}

}  // namespace
