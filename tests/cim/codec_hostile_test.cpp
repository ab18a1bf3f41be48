// Malformed and hostile documents: each must give a ParseError whose message
// names the problem, never a crash, a hang or a runaway allocation.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cim/Codec.h"
#include "cim/XmlReader.h"

using namespace cim;
using namespace cim::xml;

namespace {

const std::string kHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
const std::string kCim = "<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE ID=\"1\" PROTOCOLVERSION=\"1.0\">";
const std::string kNs = "<LOCALNAMESPACEPATH><NAMESPACE NAME=\"root\"/></LOCALNAMESPACEPATH>";

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string answer(const std::string& op, const std::string& inside) {
    return kHead + kCim + "<SIMPLERSP><IMETHODRESPONSE NAME=\"" + op + "\">" + inside +
           "</IMETHODRESPONSE></SIMPLERSP></MESSAGE></CIM>";
}
std::string property(const std::string& element) {
    return answer("GetInstance", "<IRETURNVALUE><INSTANCE CLASSNAME=\"X\">" + element + "</INSTANCE></IRETURNVALUE>");
}
std::string scalar(const std::string& type, const std::string& text) {
    return property("<PROPERTY NAME=\"P\" TYPE=\"" + type + "\"><VALUE>" + text + "</VALUE></PROPERTY>");
}
std::string instanceName(const std::string& keys) {
    return answer("CreateInstance", "<IRETURNVALUE><INSTANCENAME CLASSNAME=\"X\">" + keys + "</INSTANCENAME></IRETURNVALUE>");
}
std::string key(const std::string& value) { return "<KEYBINDING NAME=\"K\">" + value + "</KEYBINDING>"; }
std::string request(const std::string& call) { return kHead + kCim + "<SIMPLEREQ>" + call + "</SIMPLEREQ></MESSAGE></CIM>"; }

std::string nestedReference(int depth) {
    std::string inner = "<KEYVALUE VALUETYPE=\"numeric\">1</KEYVALUE>";
    for (int i = 0; i < depth; ++i) inner = "<VALUE.REFERENCE><INSTANCENAME CLASSNAME=\"X\">" + key(inner) + "</INSTANCENAME></VALUE.REFERENCE>";
    return instanceName(key(inner));
}

std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        switch (text[++i]) {
            case '0': out += '\0'; break;
            case 'r': out += '\r'; break;
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'x': out += char(std::stoi(text.substr(i + 1, 2), nullptr, 16)), i += 2; break;
            default: out += text[i];
        }
    }
    return out;
}

// The document a line of malformed.txt describes.
std::string document(const std::string& wrapper, const std::string& text) {
    const auto colon = wrapper.find(':');
    const std::string kind = wrapper.substr(0, colon), arg = colon == std::string::npos ? "" : wrapper.substr(colon + 1);
    if (kind == "raw") return text;
    if (kind == "head") return kHead + text;
    if (kind == "answer") return answer(arg, text);
    if (kind == "property") return property(text);
    if (kind == "scalar") return scalar(arg, text);
    if (kind == "name") return instanceName(text);
    if (kind == "key") return instanceName(key(text));
    if (kind == "request") return request(text);
    if (kind == "call") return request("<IMETHODCALL NAME=\"" + arg + "\">" + kNs + text + "</IMETHODCALL>");
    if (kind == "method")
        return request("<METHODCALL NAME=\"M\"><LOCALINSTANCEPATH>" + kNs +
                       "<INSTANCENAME CLASSNAME=\"X\"/></LOCALINSTANCEPATH>" + text + "</METHODCALL>");
    throw std::runtime_error("unknown wrapper " + wrapper);
}

void decode(const std::string& body, const std::string& what) {
    if (what == "request")
        decodeRequest(body);
    else
        decodeResponse(body, what == "InvokeMethod" ? Operation::InvokeMethod : operationFromName(what).value());
}

TEST(CodecHostile, EveryMalformedDocumentGivesAParseErrorNamingTheProblem) {
    std::istringstream table(readFile(CMPLXVIEW_TEST_DIR "/malformed.txt"));
    int cases = 0;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> field;
        for (std::size_t at = 0, bar; field.size() < 4; at = bar + 3) {
            bar = line.find(" | ", at);
            ASSERT_NE(bar, std::string::npos) << line;
            field.push_back(line.substr(at, bar - at));
            if (field.size() == 4) field.push_back(line.substr(bar + 3));
        }
        SCOPED_TRACE(field[0]);
        ++cases;
        try {
            decode(document(field[3], unescape(field[4])), field[1]);
            ADD_FAILURE() << "no ParseError";
        } catch (const ParseError& e) {
            EXPECT_NE(e.getMessage().find(field[2]), String::npos) << e.getMessage();
        }
    }
    EXPECT_GT(cases, 100);
}

TEST(CodecHostile, ReferencesNestToALimit) {
    Response r = decodeResponse(nestedReference(4), Operation::CreateInstance);
    ASSERT_EQ(r.instanceName.getKeyBindings().size(), 1u);
    EXPECT_EQ(r.instanceName.getKeyBindings()[0].getType(), CIMKeyBinding::REFERENCE);
    try {
        decodeResponse(nestedReference(6), Operation::CreateInstance);
        ADD_FAILURE() << "no ParseError";
    } catch (const ParseError& e) {
        EXPECT_NE(e.getMessage().find("nested too deeply"), String::npos) << e.getMessage();
    }
}

// Every prefix of a whole answer or request is refused: the recorded ones
// (those not chunked) and one of our own with arrays and a host reference.
TEST(CodecHostile, EveryTruncatedDocumentIsRefused) {
    Response rich;
    rich.operation = Operation::GetInstance;
    rich.instance = CIMInstance("XK_Test");
    rich.instance.addProperty(CIMProperty("A", CIMValue(Array<String>{" a ", "<&>"})));
    rich.instance.addProperty(CIMProperty("R", CIMValue(CIMObjectPath("//h/root/x:XK_A.K=\"v\",N=1"))));
    std::vector<std::pair<std::string, std::string>> documents = {{encodeResponse(rich), "GetInstance"}};
    for (const auto& entry : std::filesystem::directory_iterator(CMPLXVIEW_INTEROP_DIR)) {
        const std::string name = entry.path().filename().string(), text = readFile(entry.path());
        if (name.ends_with(".request.xml")) documents.emplace_back(text, "request");
        if (!name.ends_with(".response.http")) continue;
        const std::string body = text.substr(text.find("\r\n\r\n") + 4);
        if (body.starts_with("<") && body.find("<METHODRESPONSE") != std::string::npos)
            documents.emplace_back(body, "InvokeMethod");
        else if (body.starts_with("<")) {
            auto at = body.find("IMETHODRESPONSE NAME=\"") + 22;
            documents.emplace_back(body, body.substr(at, body.find('"', at) - at));
        }
    }
    ASSERT_GE(documents.size(), 30u) << "interop corpus folder " << CMPLXVIEW_INTEROP_DIR;
    for (const auto& [body, what] : documents) {
        SCOPED_TRACE(body.substr(0, 300));
        decode(body, what);  // the whole document decodes
        for (std::size_t n = 0, complete = body.rfind("</CIM>") + 6; n < complete; ++n) {
            try {
                decode(body.substr(0, n), what);
                ADD_FAILURE() << "prefix of " << n << " bytes accepted";
                break;
            } catch (const ParseError&) {
            }
        }
    }
}

// The list of an enumeration's answer is read an element at a time when the
// body has the plain shape of one, and whole otherwise (a comment after the
// document is enough). Both ways must give the same instances, or the same
// message, byte offsets included; the instances are handed on in order, and
// read an element at a time, those before a fault are handed on before it.
TEST(CodecHostile, ListsReadAnElementAtATimeAsInTheWholeBody) {
    auto named = [](int i, const std::string& more) {
        const std::string n = std::to_string(i);
        return "<VALUE.NAMEDINSTANCE><INSTANCENAME CLASSNAME=\"X\"><KEYBINDING NAME=\"K\"><KEYVALUE "
               "VALUETYPE=\"numeric\">" + n + "</KEYVALUE></KEYBINDING></INSTANCENAME><INSTANCE CLASSNAME=\"X\">"
               "<PROPERTY NAME=\"K\" TYPE=\"uint32\"><VALUE>" + n + "</VALUE></PROPERTY>" + more +
               "</INSTANCE></VALUE.NAMEDINSTANCE>";
    };
    std::string deep;
    for (int i = 0; i < 300; ++i) deep = "<X>" + deep + "</X>";
    const struct {
        const char* name;
        std::string second;  // the list's second element, with what stands before it
        bool byElement;      // whether the list is read an element at a time
        const char* error;   // part of the message, "" for none
    } cases[] = {
        {"Plain", named(1, ""), true, ""},
        {"MarkupInAttributeValues", named(1, "<PROPERTY NAME=\"S\" TYPE=\"string\" note='a>b/>c\"'/>"), true, ""},
        {"MarkupInCdata", named(1, "<PROPERTY NAME=\"S\" TYPE=\"string\"><VALUE><![CDATA[</INSTANCE>]]></VALUE></PROPERTY>"),
         true, ""},
        {"MarkupInComment", named(1, "<!-- </VALUE.NAMEDINSTANCE> -->"), true, ""},
        {"BlanksInTags", named(1, "<PROPERTY\n NAME=\"S\"\tTYPE=\"string\" ></PROPERTY\n>"), true, ""},
        {"BadValue", named(1, "<PROPERTY NAME=\"S\" TYPE=\"uint8\"><VALUE>300</VALUE></PROPERTY>"), true, "uint8"},
        {"UnquotedAttribute", named(1, "<PROPERTY NAME=S TYPE=\"string\"/>"), true, "not well-formed"},
        {"NotAnInstance", "<INSTANCENAME CLASSNAME=\"X\"/>", true, "unexpected element <INSTANCENAME> in <IRETURNVALUE>"},
        {"MismatchedEndTag", named(1, "<PROPERTY NAME=\"S\" TYPE=\"string\"></VALUE>"), true, "not well-formed"},
        {"DeeplyNested", named(1, deep), true, "unexpected element <X>"},
        {"TextBetween", "text" + named(1, ""), false, "unexpected text"},
        {"CommentBetween", "<!-- c -->" + named(1, ""), false, ""},
    };
    auto byElement = [](const std::string& body) {
        return detail::findList(body, {"CIM", "MESSAGE", "SIMPLERSP", "IMETHODRESPONSE", "IRETURNVALUE"}).has_value();
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string body = answer("EnumerateInstances", "<IRETURNVALUE>\n" + named(0, "") + "\n" + c.second +
                                                                  named(2, "") + "</IRETURNVALUE>\n");
        EXPECT_EQ(byElement(body), c.byElement);
        EXPECT_FALSE(byElement(body + "<!---->"));
        std::string read[2], failed[2];
        int handed[2] = {0, 0};
        for (int whole = 0; whole < 2; ++whole) {
            try {
                Response r = decodeResponse(body + (whole ? "<!---->" : ""), Operation::EnumerateInstances,
                                            [&](const Response& head, CIMInstance&& instance) {
                                                EXPECT_EQ(head.messageId, "1");
                                                EXPECT_EQ(instance.getPath().toString(), "X.K=" + std::to_string(handed[whole]++));
                                                read[whole] += encodeInstance(instance);
                                            });
                EXPECT_TRUE(r.instances.empty());
                EXPECT_EQ(handed[whole], 3);
            } catch (const ParseError& e) {
                failed[whole] = e.getMessage();
            }
        }
        EXPECT_EQ(failed[0], failed[1]);
        EXPECT_NE(failed[0].find(c.error), String::npos) << failed[0];
        EXPECT_EQ(failed[0].empty(), !*c.error) << failed[0];
        if (!*c.error) {
            EXPECT_EQ(read[0], read[1]);
            EXPECT_EQ(decodeResponse(body, Operation::EnumerateInstances).instances.size(), 3u);
        } else if (c.byElement) {
            EXPECT_EQ(handed[0], 1) << "the first instance is handed on before the fault";
        }
    }
    // Names, the other long list, the same way.
    const std::string names = answer("EnumerateInstanceNames", "<IRETURNVALUE><INSTANCENAME CLASSNAME=\"X\"/> "
                                                               "<INSTANCENAME CLASSNAME=\"Y\"/></IRETURNVALUE>");
    ASSERT_TRUE(byElement(names));
    for (const auto& body : {names, names + " <!---->"}) {
        Response r = decodeResponse(body, Operation::EnumerateInstanceNames);
        ASSERT_EQ(r.instanceNames.size(), 2u);
        EXPECT_EQ(r.instanceNames[1].toString(), "Y");
    }
}

// Large inputs are handled in proportion to their size.
TEST(CodecHostile, LargeInputs) {
    const std::string big(10 * 1024 * 1024, 'x');
    String value;
    decodeResponse(scalar("string", big + "&lt;"), Operation::GetInstance).instance.getProperty(0).getValue().get(value);
    EXPECT_EQ(value, big + "<");
    Response r = decodeResponse(property("<PROPERTY NAME=\"" + big + "\" TYPE=\"uint8\"/>"), Operation::GetInstance);
    EXPECT_EQ(r.instance.getProperty(0).getName().getString().size(), big.size());
    std::string values;
    for (int i = 0; i < 200000; ++i) values += "<VALUE>" + std::to_string(i % 256) + "</VALUE>";
    r = decodeResponse(property("<PROPERTY.ARRAY NAME=\"P\" TYPE=\"uint8\"><VALUE.ARRAY>" + values +
                                "</VALUE.ARRAY></PROPERTY.ARRAY>"),
                       Operation::GetInstance);
    EXPECT_EQ(r.instance.getProperty(0).getValue().getArraySize(), 200000u);
    // Past 32 names the duplicate check changes its method; a name repeated
    // in another case is still refused, whichever side of 32 it stands on.
    std::string many;
    for (int i = 0; i < 40; ++i) many += "<PROPERTY NAME=\"P" + std::to_string(i) + "\" TYPE=\"uint8\"/>";
    EXPECT_EQ(decodeResponse(property(many), Operation::GetInstance).instance.getPropertyCount(), 40u);
    for (const char* again : {"p3", "p39"})
        EXPECT_THROW(decodeResponse(property(many + "<PROPERTY NAME=\"" + again + "\" TYPE=\"uint8\"/>"),
                                    Operation::GetInstance),
                     ParseError)
            << again;
    std::string deep, refs;
    for (int i = 0; i < 500000; ++i) deep += "<X>";
    for (int i = 0; i < 500000; ++i) deep += "</X>";
    for (int i = 0; i < 100000; ++i) refs += "&lol9;";
    EXPECT_THROW(decodeResponse(property(deep), Operation::GetInstance), ParseError);
    EXPECT_THROW(decodeResponse(String(1000000, '<'), Operation::GetInstance), ParseError);
    EXPECT_THROW(decodeResponse(scalar("string", refs), Operation::GetInstance), ParseError);
}

}  // namespace
