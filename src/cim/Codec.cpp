// The CIM-XML messages: SIMPLEREQ with IMETHODCALL or METHODCALL going out,
// SIMPLERSP with IMETHODRESPONSE or METHODRESPONSE coming back. The element
// readers and writers they are built from live in XmlReader/XmlWriter.
#include "cim/Codec.h"

#include <array>

#include "cim/XmlReader.h"
#include "cim/XmlText.h"
#include "cim/XmlWriter.h"

namespace cim::xml {

using namespace detail;

namespace {

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n";

struct OperationName {
    Operation operation;
    const char* name;
};
constexpr std::array<OperationName, 7> kOperations{{
    {Operation::EnumerateInstanceNames, "EnumerateInstanceNames"},
    {Operation::EnumerateInstances, "EnumerateInstances"},
    {Operation::GetInstance, "GetInstance"},
    {Operation::GetClass, "GetClass"},
    {Operation::CreateInstance, "CreateInstance"},
    {Operation::DeleteInstance, "DeleteInstance"},
    {Operation::InvokeMethod, "InvokeMethod"},
}};

// ---------------------------------------------------------------------------
// Intrinsic parameters

enum class Param { ClassName, InstanceName, NewInstance, DeepInheritance, LocalOnly, IncludeQualifiers,
                   IncludeClassOrigin, PropertyList };

struct ParamName {
    Param param;
    const char* name;
};
constexpr std::array<ParamName, 8> kParams{{
    {Param::ClassName, "ClassName"},
    {Param::InstanceName, "InstanceName"},
    {Param::NewInstance, "NewInstance"},
    {Param::DeepInheritance, "DeepInheritance"},
    {Param::LocalOnly, "LocalOnly"},
    {Param::IncludeQualifiers, "IncludeQualifiers"},
    {Param::IncludeClassOrigin, "IncludeClassOrigin"},
    {Param::PropertyList, "PropertyList"},
}};

const char* paramName(Param p) {
    for (const auto& entry : kParams)
        if (entry.param == p) return entry.name;
    return "";
}

// The parameters of each intrinsic operation, in the order they are written.
std::vector<Param> paramsOf(Operation op) {
    switch (op) {
        case Operation::EnumerateInstanceNames: return {Param::ClassName};
        case Operation::EnumerateInstances:
            return {Param::ClassName, Param::DeepInheritance, Param::LocalOnly, Param::IncludeQualifiers,
                    Param::IncludeClassOrigin, Param::PropertyList};
        case Operation::GetInstance:
            return {Param::InstanceName, Param::LocalOnly, Param::IncludeQualifiers, Param::IncludeClassOrigin,
                    Param::PropertyList};
        case Operation::GetClass:
            return {Param::ClassName, Param::LocalOnly, Param::IncludeQualifiers, Param::IncludeClassOrigin,
                    Param::PropertyList};
        case Operation::CreateInstance: return {Param::NewInstance};
        case Operation::DeleteInstance: return {Param::InstanceName};
        case Operation::InvokeMethod: break;
    }
    return {};
}

// The boolean field behind a flag parameter.
template <class R>
auto& flagOf(R& r, Param p) {
    switch (p) {
        case Param::DeepInheritance: return r.deepInheritance;
        case Param::LocalOnly: return r.localOnly;
        case Param::IncludeQualifiers: return r.includeQualifiers;
        default: return r.includeClassOrigin;
    }
}

void writeParam(String& out, const Request& r, Param p) {
    if (p == Param::PropertyList && r.propertyList.isNull()) return;  // null: all properties
    out += "<IPARAMVALUE";
    writeAttribute(out, "NAME", paramName(p));
    out += '>';
    switch (p) {
        case Param::ClassName:
            out += "<CLASSNAME";
            writeAttribute(out, "NAME", r.className.getString());
            out += "/>";
            break;
        case Param::InstanceName: writeInstanceName(out, r.instanceName); break;
        case Param::NewInstance: writeInstance(out, r.newInstance); break;
        case Param::PropertyList:
            out += "<VALUE.ARRAY>";
            for (const auto& name : r.propertyList.names()) {
                out += "<VALUE>";
                appendEscaped(out, name.getString());
                out += "</VALUE>";
            }
            out += "</VALUE.ARRAY>";
            break;
        default: out += flagOf(r, p) ? "<VALUE>TRUE</VALUE>" : "<VALUE>FALSE</VALUE>"; break;
    }
    out += "</IPARAMVALUE>";
}

void readParam(Request& r, Param p, const Element& e) {
    switch (p) {
        case Param::ClassName: r.className = readClassName(e.onlyChild({"CLASSNAME"})); return;
        case Param::InstanceName: r.instanceName = readInstanceName(e.onlyChild({"INSTANCENAME"})); return;
        case Param::NewInstance: r.newInstance = readInstance(e.onlyChild({"INSTANCE"})); return;
        case Param::PropertyList: {
            if (e.children().empty()) {  // a null list: all properties
                r.propertyList = CIMPropertyList();
                return;
            }
            Array<CIMName> names;
            for (const auto& k : e.onlyChild({"VALUE.ARRAY"}).children()) {
                if (!k.is("VALUE")) k.fail("a property list holds property names only");
                String name(trimSpace(k.text()));
                if (!isCimName(name)) k.fail("bad property name " + excerpt(name));
                names.emplace_back(name);
            }
            r.propertyList = CIMPropertyList(names);
            return;
        }
        default: {
            if (e.children().empty()) return;  // a null boolean: the default stands
            Element v = e.onlyChild({"VALUE"});
            String text = v.text();
            try {
                flagOf(r, p) = std::get<Boolean>(parseScalar(CIMType::Boolean, text));
            } catch (const ParseError& err) {
                v.fail(err.getMessage());
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Extrinsic parameters and return values

// PARAMVALUE (named) or RETURNVALUE (name null).
void writeParamValue(String& out, const char* element, const String* name, const CIMValue& value, bool typed) {
    out += '<';
    out += element;
    if (name) writeAttribute(out, "NAME", *name);
    if (typed) writeAttribute(out, "PARAMTYPE", cimTypeName(value.getType()));
    out += '>';
    writeValue(out, value);
    out += "</";
    out += element;
    out += '>';
}

// A PARAMVALUE or RETURNVALUE. Without PARAMTYPE, values are read as
// strings (references are recognised by their element); a null value keeps
// its PARAMTYPE and is read as a scalar, as nothing on the wire says more.
CIMValue readTypedValue(const Element& e, bool arraysAllowed) {
    auto type = e.optionalTypeAttribute("PARAMTYPE");
    auto kids = e.children();
    if (kids.empty()) return CIMValue(type.value_or(CIMType::String), false);
    if (kids.size() > 1) e.unexpected(kids[1]);
    const Element& v = kids[0];
    bool array = v.is("VALUE.ARRAY") || v.is("VALUE.REFARRAY");
    if (!isValueElement(v) || (array && !arraysAllowed))
        v.fail("unsupported value element <" + String(v.name()) + "> in <" + String(e.name()) + ">");
    bool reference = v.is("VALUE.REFERENCE") || v.is("VALUE.REFARRAY");
    if (reference && type && *type != CIMType::Reference)
        v.fail(String("a reference value with PARAMTYPE ") + cimTypeName(*type));
    return readValue(v, reference ? CIMType::Reference : type.value_or(CIMType::String));
}

CIMParamValue readParamValue(const Element& e) {
    String name = e.nameAttribute("NAME");
    bool typed = e.optionalAttribute("PARAMTYPE").has_value();
    return CIMParamValue(name, readTypedValue(e, true), typed);
}

void readParamValues(const Elements& kids, std::size_t from, Array<CIMParamValue>& out,
                     const Element& parent) {
    for (std::size_t i = from; i < kids.size(); ++i) {
        if (!kids[i].is("PARAMVALUE")) parent.unexpected(kids[i]);
        auto p = readParamValue(kids[i]);
        for (const auto& seen : out)
            if (CIMName(seen.getParameterName()) == CIMName(p.getParameterName()))
                kids[i].fail("duplicate parameter " + excerpt(p.getParameterName()));
        out.push_back(p);
    }
}

// ---------------------------------------------------------------------------
// Envelope

void openMessage(String& out, const String& messageId, const char* kind) {
    out += kDeclaration;
    out += "<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE";
    writeAttribute(out, "ID", messageId);
    out += " PROTOCOLVERSION=\"1.0\"><";
    out += kind;
    out += '>';
}

void closeMessage(String& out, const char* kind) {
    out += "</";
    out += kind;
    out += "></MESSAGE></CIM>";
}

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// Checks <CIM> and <MESSAGE>, returns MESSAGE's only child (which must be
// `simple`; the multiple form is refused by name).
Element readEnvelope(const Element& cim, String& messageId, const char* simple, const char* multiple) {
    String cimVersion = cim.attribute("CIMVERSION");
    if (!startsWith(cimVersion, "2.")) cim.fail("unsupported CIMVERSION " + excerpt(cimVersion));
    String dtdVersion = cim.attribute("DTDVERSION");
    if (!startsWith(dtdVersion, "2.")) cim.fail("unsupported DTDVERSION " + excerpt(dtdVersion));
    Element message = cim.onlyChild({"MESSAGE"});
    messageId = message.attribute("ID");
    String protocol = message.attribute("PROTOCOLVERSION");
    if (!startsWith(protocol, "1.")) message.fail("unsupported PROTOCOLVERSION " + excerpt(protocol));
    Element body = message.onlyChild({simple, multiple});
    if (body.is(multiple)) body.fail(String("<") + multiple + "> (several operations in one message) is not supported");
    return body;
}

// Whether an intrinsic answer has an IRETURNVALUE. DeleteInstance has none;
// a single result without a class name stands for no result, which is written
// (and read back) as no IRETURNVALUE.
bool hasReturnValue(const Response& r) {
    switch (r.operation) {
        case Operation::GetInstance: return !r.instance.getClassName().isNull();
        case Operation::GetClass: return !r.cimClass.getClassName().isNull();
        case Operation::CreateInstance: return !r.instanceName.getClassName().isNull();
        case Operation::DeleteInstance:
        case Operation::InvokeMethod: return false;
        default: return true;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Names and headers

const char* operationName(Operation op) {
    for (const auto& entry : kOperations)
        if (entry.operation == op) return entry.name;
    return "";
}

std::optional<Operation> operationFromName(std::string_view name) {
    for (const auto& entry : kOperations)
        if (entry.operation != Operation::InvokeMethod && equalNoCase(name, entry.name)) return entry.operation;
    return std::nullopt;
}

RequestHeaders requestHeaders(const Request& request) {
    RequestHeaders h;
    if (request.operation == Operation::InvokeMethod) {
        h.cimMethod = uriEscape(request.methodName);
        CIMObjectPath target("", CIMNamespaceName(), request.instanceName.getClassName(),
                             request.instanceName.getKeyBindings());
        h.cimObject = uriEscape(request.nameSpace.getString() + ":" + target.toString());
    } else {
        h.cimMethod = operationName(request.operation);
        h.cimObject = uriEscape(request.nameSpace.getString());
    }
    return h;
}

// ---------------------------------------------------------------------------
// Requests

String encodeRequest(const Request& request) {
    String out;
    openMessage(out, request.messageId, "SIMPLEREQ");
    if (request.operation == Operation::InvokeMethod) {
        out += "<METHODCALL";
        writeAttribute(out, "NAME", request.methodName);
        out += "><LOCALINSTANCEPATH>";
        writeLocalNamespacePath(out, request.nameSpace);
        writeInstanceName(out, request.instanceName);
        out += "</LOCALINSTANCEPATH>";
        for (const auto& p : request.inParams)
            writeParamValue(out, "PARAMVALUE", &p.getParameterName(), p.getValue(), p.isTyped());
        out += "</METHODCALL>";
    } else {
        out += "<IMETHODCALL";
        writeAttribute(out, "NAME", operationName(request.operation));
        out += '>';
        writeLocalNamespacePath(out, request.nameSpace);
        for (Param p : paramsOf(request.operation)) writeParam(out, request, p);
        out += "</IMETHODCALL>";
    }
    closeMessage(out, "SIMPLEREQ");
    return out;
}

Request decodeRequest(std::string_view body) {
    Document doc(body);
    Request r;
    Element call = readEnvelope(doc.root(), r.messageId, "SIMPLEREQ", "MULTIREQ").onlyChild({"IMETHODCALL", "METHODCALL"});
    auto kids = call.children();

    if (call.is("METHODCALL")) {
        r.operation = Operation::InvokeMethod;
        r.methodName = call.nameAttribute("NAME");
        if (kids.empty()) call.fail("missing <LOCALINSTANCEPATH>");
        if (kids[0].is("LOCALINSTANCEPATH")) {
            r.instanceName = readLocalInstancePath(kids[0]);
        } else if (kids[0].is("LOCALCLASSPATH")) {  // a static method: the target is the class
            auto parts = kids[0].expectChildren({"LOCALNAMESPACEPATH", "CLASSNAME"});
            r.instanceName.setNameSpace(readLocalNamespacePath(parts[0]));
            r.instanceName.setClassName(readClassName(parts[1]));
        } else {
            kids[0].fail("expected <LOCALINSTANCEPATH> or <LOCALCLASSPATH>, found <" + String(kids[0].name()) + ">");
        }
        r.nameSpace = r.instanceName.getNameSpace();
        r.instanceName.setNameSpace(CIMNamespaceName());
        readParamValues(kids, 1, r.inParams, call);
        return r;
    }

    String name = call.attribute("NAME");
    auto op = operationFromName(name);
    if (!op) call.fail("unsupported operation " + excerpt(name));
    r.operation = *op;
    if (r.operation == Operation::GetClass) r.includeQualifiers = true;
    if (kids.empty() || !kids[0].is("LOCALNAMESPACEPATH")) call.fail("missing <LOCALNAMESPACEPATH>");
    r.nameSpace = readLocalNamespacePath(kids[0]);

    const auto allowed = paramsOf(r.operation);
    std::vector<Param> seen;
    for (std::size_t i = 1; i < kids.size(); ++i) {
        const Element& k = kids[i];
        if (!k.is("IPARAMVALUE")) call.unexpected(k);
        String pname = k.attribute("NAME");
        const Param* match = nullptr;
        for (const auto& p : allowed)
            if (equalNoCase(pname, paramName(p))) match = &p;
        if (!match) k.fail("parameter " + excerpt(pname) + " is not a parameter of " + name);
        for (Param s : seen)
            if (s == *match) k.fail("duplicate parameter " + excerpt(pname));
        seen.push_back(*match);
        readParam(r, *match, k);
    }
    auto required = [&](Param p) {
        for (Param s : seen)
            if (s == p) return;
        call.fail(String("missing parameter ") + paramName(p));
    };
    switch (r.operation) {
        case Operation::EnumerateInstanceNames:
        case Operation::EnumerateInstances:
        case Operation::GetClass: required(Param::ClassName); break;
        case Operation::GetInstance:
        case Operation::DeleteInstance: required(Param::InstanceName); break;
        case Operation::CreateInstance: required(Param::NewInstance); break;
        case Operation::InvokeMethod: break;
    }
    return r;
}

// ---------------------------------------------------------------------------
// Responses

String encodeResponse(const Response& response) {
    String out;
    openMessage(out, response.messageId, "SIMPLERSP");
    const bool extrinsic = response.operation == Operation::InvokeMethod;
    const char* element = extrinsic ? "METHODRESPONSE" : "IMETHODRESPONSE";
    out += '<';
    out += element;
    writeAttribute(out, "NAME", extrinsic ? response.methodName : String(operationName(response.operation)));
    out += '>';
    if (response.errorCode) {
        out += "<ERROR";
        writeAttribute(out, "CODE", std::to_string(*response.errorCode));
        if (!response.errorDescription.empty()) writeAttribute(out, "DESCRIPTION", response.errorDescription);
        out += "/>";
    } else if (extrinsic) {
        writeParamValue(out, "RETURNVALUE", nullptr, response.returnValue, true);
        for (const auto& p : response.outParams)
            writeParamValue(out, "PARAMVALUE", &p.getParameterName(), p.getValue(), p.isTyped());
    } else if (hasReturnValue(response)) {
        out += "<IRETURNVALUE>";
        switch (response.operation) {
            case Operation::EnumerateInstanceNames:
                for (const auto& path : response.instanceNames) writeInstanceName(out, path);
                break;
            case Operation::EnumerateInstances:
                for (const auto& instance : response.instances) {
                    out += "<VALUE.NAMEDINSTANCE>";
                    writeInstanceName(out, instance.getPath());
                    writeInstance(out, instance);
                    out += "</VALUE.NAMEDINSTANCE>";
                }
                break;
            case Operation::GetInstance: writeInstance(out, response.instance); break;
            case Operation::GetClass: writeClass(out, response.cimClass); break;
            case Operation::CreateInstance: writeInstanceName(out, response.instanceName); break;
            default: break;
        }
        out += "</IRETURNVALUE>";
    }
    out += "</";
    out += element;
    out += '>';
    closeMessage(out, "SIMPLERSP");
    return out;
}

namespace {

// One element of the list in the answer to an enumeration.
void readListElement(const Element& k, Response& r, const InstanceSink& each) {
    auto unexpected = [&k] { k.fail("unexpected element <" + String(k.name()) + "> in <IRETURNVALUE>"); };
    if (r.operation == Operation::EnumerateInstanceNames) {
        if (!k.is("INSTANCENAME")) unexpected();
        r.instanceNames.push_back(readInstanceName(k));
        return;
    }
    if (!k.is("VALUE.NAMEDINSTANCE")) unexpected();
    auto parts = k.expectChildren({"INSTANCENAME", "INSTANCE"});
    CIMInstance instance = readInstance(parts[1]);
    instance.setPath(readInstanceName(parts[0]));
    if (each) {
        each(r, std::move(instance));
    } else {
        r.instances.push_back(std::move(instance));
    }
}

Response decodeResponseDocument(const Document& doc, Operation expected, const InstanceSink& each) {
    Response r;
    r.operation = expected;
    Element answer =
        readEnvelope(doc.root(), r.messageId, "SIMPLERSP", "MULTIRSP").onlyChild({"IMETHODRESPONSE", "METHODRESPONSE"});
    const bool extrinsic = expected == Operation::InvokeMethod;
    String name = answer.attribute("NAME");
    if (extrinsic) {
        if (!answer.is("METHODRESPONSE")) answer.fail("expected <METHODRESPONSE> to a method call");
        r.methodName = answer.nameAttribute("NAME");
    } else {
        if (!answer.is("IMETHODRESPONSE"))
            answer.fail(String("expected <IMETHODRESPONSE> to ") + operationName(expected));
        if (!equalNoCase(name, operationName(expected)))
            answer.fail("answer to " + excerpt(name) + " where " + operationName(expected) + " was asked");
    }

    auto kids = answer.children();
    for (std::size_t i = 0; i < kids.size(); ++i) {
        if (!kids[i].is("ERROR")) continue;
        if (kids.size() > 1) answer.unexpected(kids[i == 0 ? 1 : 0]);
        const Element& error = kids[i];
        String code = error.attribute("CODE");
        try {
            r.errorCode = std::get<Uint32>(parseScalar(CIMType::Uint32, code));
        } catch (const ParseError& err) {
            error.fail("CODE: " + err.getMessage());
        }
        r.errorDescription = error.optionalAttribute("DESCRIPTION").value_or("");
        // Instances that describe the error in detail are checked but not kept.
        for (const auto& k : error.children()) {
            if (!k.is("INSTANCE")) error.unexpected(k);
            readInstance(k);
        }
        return r;
    }

    if (extrinsic) {
        std::size_t first = 0;
        if (!kids.empty() && kids[0].is("RETURNVALUE")) {
            r.returnValue = readTypedValue(kids[0], false);
            first = 1;
        }
        readParamValues(kids, first, r.outParams, answer);
        return r;
    }

    if (kids.empty()) return r;  // no IRETURNVALUE: an empty result
    if (kids.size() > 1) answer.unexpected(kids[1]);
    const Element& value = kids[0];
    if (!value.is("IRETURNVALUE")) answer.unexpected(value);
    switch (expected) {
        // The elements of a long list are released as they are read: the
        // decoded objects then take the place of the nodes they came from,
        // rather than adding to them.
        case Operation::EnumerateInstanceNames:
        case Operation::EnumerateInstances:
            for (const auto& k : value.children()) {
                readListElement(k, r, each);
                k.release();
            }
            break;
        case Operation::GetInstance: r.instance = readInstance(value.onlyChild({"INSTANCE"})); break;
        case Operation::GetClass: r.cimClass = readClass(value.onlyChild({"CLASS"})); break;
        case Operation::CreateInstance: r.instanceName = readInstanceName(value.onlyChild({"INSTANCENAME"})); break;
        case Operation::DeleteInstance: value.expectEmpty(); break;
        case Operation::InvokeMethod: break;
    }
    return r;
}

}  // namespace

Response decodeResponse(std::string_view body, Operation expected) { return decodeResponse(String(body), expected); }

Response decodeResponse(String&& body, Operation expected, const InstanceSink& each) {
    // The answer to an enumeration is read as its envelope, then its list an
    // element at a time. An envelope that fails is read again with the whole
    // body, which finds the same fault or an earlier one, placed in the body.
    if (expected == Operation::EnumerateInstances || expected == Operation::EnumerateInstanceNames) {
        if (auto list = findList(body, {"CIM", "MESSAGE", "SIMPLERSP", "IMETHODRESPONSE", "IRETURNVALUE"})) {
            std::optional<Response> head;
            try {
                String envelope = body.substr(0, list->begin);
                envelope.append(body, list->end);
                head = decodeResponseDocument(Document(std::move(envelope)), expected, each);
            } catch (const ParseError&) {
            }
            if (head) {
                ListReader reader(body, *list);
                while (auto k = reader.next()) readListElement(*k, *head, each);
                return std::move(*head);
            }
        }
    }
    return decodeResponseDocument(Document(std::move(body)), expected, each);
}

// ---------------------------------------------------------------------------
// Element-level pieces

String escapeText(std::string_view text) {
    String out;
    out.reserve(text.size());
    appendEscaped(out, text);
    return out;
}

String encodeValue(const CIMValue& value) {
    String out;
    writeValue(out, value);
    return out;
}

String encodeInstance(const CIMInstance& instance) {
    String out;
    writeInstance(out, instance);
    return out;
}

String encodeClass(const CIMClass& cimClass) {
    String out;
    writeClass(out, cimClass);
    return out;
}

String encodeInstanceName(const CIMObjectPath& path) {
    String out;
    writeInstanceName(out, path);
    return out;
}

}  // namespace cim::xml
