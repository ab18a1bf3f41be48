#include "snapshot/Capture.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <variant>

#include "access/Schema.h"

namespace kestsnapshot {

using namespace cim;

namespace {

Json scalarJson(const CIMValue::Scalar& scalar) {
    return std::visit(
        [](const auto& x) -> Json {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, Real32> || std::is_same_v<T, Real64>) {
                // JSON has no text for them; a replay would serve null instead.
                if (!std::isfinite(x)) throw CaptureError("a real value that is not finite cannot be written");
                return double(x);
            } else if constexpr (std::is_same_v<T, Char16>) {
                return x.code;
            } else if constexpr (std::is_same_v<T, CIMDateTime> || std::is_same_v<T, CIMObjectPath>) {
                return x.toString();
            } else {
                return x;
            }
        },
        scalar);
}

Json valueJson(const CIMValue& value) {
    if (value.isNull()) return nullptr;
    if (!value.isArray()) return scalarJson(value.getScalar());
    Json elements = Json::array();
    for (Uint32 i = 0; i < value.getArraySize(); ++i)
        elements.push_back(value.isElementNull(i) ? Json() : scalarJson(value.getElement(i).getScalar()));
    return elements;
}

const CIMQualifier* qualifier(const QualifierList& list, const char* name) {
    Uint32 i = list.findQualifier(CIMName(name));
    return i == PEG_NOT_FOUND ? nullptr : &list.getQualifier(i);
}

// A Description qualifier, when there is one with a text.
void addDescription(Json& entry, const QualifierList& list) {
    const CIMQualifier* q = qualifier(list, "Description");
    if (!q || q->getValue().isNull() || q->isArray() || q->getType() != CIMType::String) return;
    String text;
    q->getValue().get(text);
    entry["description"] = text;
}

Json propertyJson(const CIMProperty& property, const std::string& className) {
    const std::string where = className + "." + property.getName().getString();
    Json entry = {{"name", property.getName().getString()}, {"type", cimTypeName(property.getType())}};
    if (property.isArray()) entry["array"] = true;
    if (const CIMQualifier* key = qualifier(property, "Key")) {
        bool isKey = false;
        if (!key->getValue().isNull() && !key->isArray() && key->getType() == CIMType::Boolean)
            key->getValue().get(isKey);
        if (isKey) entry["key"] = true;
    }
    if (!property.getReferenceClassName().isNull())
        entry["referenceClass"] = property.getReferenceClassName().getString();
    // The schema file keeps ValueMap and Values as lists of texts.
    for (const auto& [name, field] : {std::pair{"ValueMap", "valueMap"}, std::pair{"Values", "values"}}) {
        const CIMQualifier* list = qualifier(property, name);
        if (!list) continue;
        const CIMValue& v = list->getValue();
        if (v.isNull() || !v.isArray() || v.getType() != CIMType::String)
            throw CaptureError(where + ": its " + name + " is not a list of texts and cannot be written");
        Json texts = valueJson(v);
        for (const Json& t : texts)
            if (t.is_null()) throw CaptureError(where + ": its " + name + " has a null entry and cannot be written");
        entry[field] = std::move(texts);
    }
    addDescription(entry, property);
    return entry;
}

Json parameterJson(const CIMParameter& parameter) {
    Json entry = {{"name", parameter.getName().getString()}, {"type", cimTypeName(parameter.getType())}};
    if (parameter.isArray()) entry["array"] = true;
    if (!parameter.getReferenceClassName().isNull())
        entry["referenceClass"] = parameter.getReferenceClassName().getString();
    addDescription(entry, parameter);
    return entry;
}

bool isPlainExtra(const CIMProperty& property) {
    const CIMName& name = property.getName();
    if (property.isArray()) return false;
    return (name == CIMName("errorCode") && property.getType() == CIMType::Uint32) ||
           (name == CIMName("errorMsg") && property.getType() == CIMType::String);
}

// --- layout ---

bool isPlain(const Json& j) { return !j.is_object() && !j.is_array(); }

bool isLeaf(const Json& j) {
    for (const auto& member : j) {
        if (isPlain(member)) continue;
        if (!member.is_array()) return false;
        for (const auto& element : member)
            if (!isPlain(element)) return false;
    }
    return true;
}

std::string plainText(const Json& j) {
    try {
        return j.dump();
    } catch (const Json::exception& e) {
        throw CaptureError(std::string("a text that is not UTF-8 cannot be written: ") + e.what());
    }
}

// Objects with a "$type" member always sit on one line; with leafObjectsInline,
// every object of plain members (schema properties, parameters) does too.
void layout(const Json& j, int indent, bool leafObjectsInline, std::string& out) {
    if (isPlain(j)) {
        out += plainText(j);
        return;
    }
    const bool object = j.is_object();
    if (j.empty()) {
        out += object ? "{}" : "[]";
        return;
    }
    const bool oneLine = object ? (isLeaf(j) && (leafObjectsInline || j.contains("$type")))
                                : std::all_of(j.begin(), j.end(), isPlain);
    out += object ? '{' : '[';
    const std::string inner(std::size_t(indent + 2), ' ');
    bool first = true;
    auto member = [&](const std::string* key, const Json& value) {
        if (!first) out += ',';
        first = false;
        if (oneLine) {
            if (out.back() == ',') out += ' ';
        } else {
            out += '\n';
            out += inner;
        }
        if (key) out += plainText(*key) + ": ";
        layout(value, indent + 2, leafObjectsInline, out);
    };
    if (object)
        for (const auto& [key, value] : j.items()) member(&key, value);
    else
        for (const auto& value : j) member(nullptr, value);
    if (!oneLine) out += '\n' + std::string(std::size_t(indent), ' ');
    out += object ? '}' : ']';
}

std::string document(const Json& j, bool leafObjectsInline) {
    std::string out;
    layout(j, 0, leafObjectsInline, out);
    return out + '\n';
}

}  // namespace

const std::vector<std::string>& capturedClasses() {
    using cmplxview::RecordKind;
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (RecordKind kind :
             {RecordKind::Complex, RecordKind::Cabinet, RecordKind::PowerCoolingDomain, RecordKind::CellSlot,
              RecordKind::Cell, RecordKind::IOChassisSlot, RecordKind::IOChassis, RecordKind::Partition,
              RecordKind::LocalPartition})
            out.emplace_back(cmplxview::kindInfo(kind).className);
        return out;
    }();
    return names;
}

Json classJson(const CIMClass& cimClass) {
    const std::string name = cimClass.getClassName().getString();
    // Inherited members come flattened into the class, so no superclass is named.
    Json entry = {{"name", name}, {"superclass", nullptr}};
    addDescription(entry, cimClass);
    Json properties = Json::array();
    for (const CIMProperty& p : cimClass.properties()) properties.push_back(propertyJson(p, name));
    entry["properties"] = std::move(properties);
    Json methods = Json::array();
    for (const CIMMethod& m : cimClass.methods()) {
        Json method = {{"name", m.getName().getString()}, {"type", cimTypeName(m.getType())}};
        addDescription(method, m);
        Json parameters = Json::array();
        for (const CIMParameter& p : m.parameters()) parameters.push_back(parameterJson(p));
        method["parameters"] = std::move(parameters);
        methods.push_back(std::move(method));
    }
    entry["methods"] = std::move(methods);
    return entry;
}

Json instanceJson(const CIMInstance& instance, const CIMClass& cimClass) {
    Json entry = Json::object();
    for (const CIMProperty& p : instance.properties()) {
        const std::string name = p.getName().getString();
        if (entry.contains(name))
            throw CaptureError(cimClass.getClassName().getString() + ": an instance carries " + name + " twice");
        const Uint32 declared = cimClass.findProperty(p.getName());
        const bool asDeclared = declared != PEG_NOT_FOUND &&
                                cimClass.getProperty(declared).getType() == p.getType() &&
                                cimClass.getProperty(declared).isArray() == p.isArray();
        if (asDeclared || (declared == PEG_NOT_FOUND && isPlainExtra(p))) {
            entry[name] = valueJson(p.getValue());
        } else {
            Json typed = {{"$type", cimTypeName(p.getType())}};
            if (p.isArray()) typed["array"] = true;
            typed["value"] = valueJson(p.getValue());
            entry[name] = std::move(typed);
        }
    }
    return entry;
}

Snapshot capture(CIMClient& client, const CIMNamespaceName& nameSpace, const std::set<std::string>& allowMissing,
                 std::ostream& notes) {
    std::set<std::string> allowed;
    for (const auto& name : allowMissing) allowed.insert(lowerCase(name));
    Snapshot snapshot;
    Json classes = Json::object();
    snapshot.schema = {{"classes", Json::array()}};
    for (const std::string& className : capturedClasses()) {
        CIMClass cimClass;
        Array<CIMInstance> instances;
        try {
            cimClass = client.getClass(nameSpace, CIMName(className), false, true, false);
            instances = client.enumerateInstances(nameSpace, CIMName(className), true, false, false, false);
        } catch (const CIMException& e) {
            if (!allowed.count(lowerCase(className)))
                throw CaptureError(className + ": the provider refused it (--allow-missing " + className +
                                   " captures without it): " + e.getMessage());
            notes << "kest-snapshot: " << className << ": left out, the provider refused it: " << e.getMessage()
                  << "\n";
            continue;
        } catch (const Exception& e) {
            throw CaptureError(className + ": " + e.getMessage());
        }
        Json list = Json::array();
        for (const CIMInstance& instance : instances) list.push_back(instanceJson(instance, cimClass));
        classes[className] = std::move(list);
        snapshot.schema["classes"].push_back(classJson(cimClass));
    }
    snapshot.complex = {{"namespaces", {{nameSpace.getString(), std::move(classes)}}}};
    return snapshot;
}

std::string formatComplex(const Json& complex) { return document(complex, false); }

std::string formatSchema(const Json& schema) { return document(schema, true); }

std::string formatOneDocument(const Snapshot& snapshot) {
    std::string out = formatComplex(snapshot.complex);
    // The complex document ends in "\n}\n": the schema joins it as its last member.
    out.resize(out.size() - 3);
    std::string schema = formatSchema(snapshot.schema);
    schema.pop_back();
    // Indent the schema one level, as a member of the outer object.
    std::string indented;
    for (char c : schema) {
        indented += c;
        if (c == '\n') indented += "  ";
    }
    return out + ",\n  \"schema\": " + indented + "\n}\n";
}

}  // namespace kestsnapshot
