#include "Complex.h"

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>


namespace kest {

using Json = nlohmann::ordered_json;

namespace {

std::string_view trimSlashes(std::string_view ns) {
    while (!ns.empty() && ns.front() == '/') ns.remove_prefix(1);
    while (!ns.empty() && ns.back() == '/') ns.remove_suffix(1);
    return ns;
}

[[noreturn]] void fail(const std::string& where, const std::string& what) { throw LoadError(where + ": " + what); }

template <class T>
cim::CIMValue::Scalar integer(const Json& j, const std::string& where) {
    if (j.is_number_unsigned()) {
        auto v = j.get<std::uint64_t>();
        if (v > std::uint64_t(std::numeric_limits<T>::max())) fail(where, "value " + j.dump() + " out of range");
        return T(v);
    }
    if (j.is_number_integer()) {
        auto v = j.get<std::int64_t>();
        if (v < std::int64_t(std::numeric_limits<T>::min()) ||
            (v > 0 && std::uint64_t(v) > std::uint64_t(std::numeric_limits<T>::max())))
            fail(where, "value " + j.dump() + " out of range");
        return T(v);
    }
    fail(where, "expected an integer, found " + j.dump());
}

cim::CIMValue::Scalar scalar(const Json& j, cim::CIMType type, const std::string& where) {
    using cim::CIMType;
    switch (type) {
        case CIMType::Boolean:
            if (!j.is_boolean()) fail(where, "expected true or false, found " + j.dump());
            return j.get<bool>();
        case CIMType::Uint8: return integer<cim::Uint8>(j, where);
        case CIMType::Sint8: return integer<cim::Sint8>(j, where);
        case CIMType::Uint16: return integer<cim::Uint16>(j, where);
        case CIMType::Sint16: return integer<cim::Sint16>(j, where);
        case CIMType::Uint32: return integer<cim::Uint32>(j, where);
        case CIMType::Sint32: return integer<cim::Sint32>(j, where);
        case CIMType::Uint64: return integer<cim::Uint64>(j, where);
        case CIMType::Sint64: return integer<cim::Sint64>(j, where);
        case CIMType::Real32:
            if (!j.is_number()) fail(where, "expected a number, found " + j.dump());
            return cim::Real32(j.get<double>());
        case CIMType::Real64:
            if (!j.is_number()) fail(where, "expected a number, found " + j.dump());
            return j.get<double>();
        case CIMType::Char16: {
            if (j.is_number_unsigned() && j.get<std::uint64_t>() <= 0xFFFF) return cim::Char16{cim::Uint16(j.get<std::uint64_t>())};
            if (j.is_string() && j.get<std::string>().size() == 1)
                return cim::Char16{cim::Uint16(static_cast<unsigned char>(j.get<std::string>()[0]))};
            fail(where, "expected one ASCII character or a code up to 65535, found " + j.dump());
        }
        case CIMType::String:
            if (!j.is_string()) fail(where, "expected a string, found " + j.dump());
            return j.get<std::string>();
        case CIMType::DateTime:
            if (!j.is_string()) fail(where, "expected a datetime text, found " + j.dump());
            return cim::CIMDateTime(j.get<std::string>());
        case CIMType::Reference:
            if (!j.is_string()) fail(where, "expected an object path text, found " + j.dump());
            try {
                return cim::CIMObjectPath(j.get<std::string>());
            } catch (const cim::Exception& e) {
                fail(where, "bad object path " + j.dump() + ": " + e.getMessage());
            }
    }
    fail(where, "unsupported type");
}

cim::CIMValue valueOfType(const Json& j, cim::CIMType type, bool isArray, const std::string& where) {
    if (j.is_null()) return cim::CIMValue(type, isArray);
    if (!isArray) {
        if (j.is_array()) fail(where, "an array where a single value belongs");
        return cim::CIMValue(scalar(j, type, where));
    }
    if (!j.is_array()) fail(where, "a single value where an array belongs");
    std::vector<std::optional<cim::CIMValue::Scalar>> elements;
    for (std::size_t i = 0; i < j.size(); ++i) {
        if (j[i].is_null())
            elements.emplace_back(std::nullopt);
        else
            elements.emplace_back(scalar(j[i], type, where + "[" + std::to_string(i) + "]"));
    }
    return cim::CIMValue::makeArray(type, std::move(elements));
}

bool isForced(const Json& j) { return j.is_object() && j.contains("$type"); }

std::optional<std::string> optionalText(const Json& rule, const char* name, const std::string& where) {
    auto it = rule.find(name);
    if (it == rule.end() || it->is_null()) return std::nullopt;
    if (it->is_string()) return it->get<std::string>();
    if (it->is_number_integer()) return it->dump();
    fail(where, std::string("field \"") + name + "\" must be a string");
}

std::optional<std::uint64_t> optionalCount(const Json& rule, const char* name, const std::string& where) {
    auto it = rule.find(name);
    if (it == rule.end() || it->is_null()) return std::nullopt;
    if (!it->is_number_unsigned() || it->get<std::uint64_t>() == 0)
        fail(where, std::string("field \"") + name + "\" must be a positive integer");
    return it->get<std::uint64_t>();
}

std::uint64_t requiredNumber(const Json& rule, const char* name, const std::string& where, std::uint64_t max) {
    auto it = rule.find(name);
    if (it == rule.end() || !it->is_number_unsigned() || it->get<std::uint64_t>() > max)
        fail(where, std::string("needs \"") + name + "\", an integer from 0 to " + std::to_string(max));
    return it->get<std::uint64_t>();
}

const char* const kOperations[] = {"EnumerateInstanceNames", "EnumerateInstances", "GetInstance", "GetClass",
                                   "CreateInstance", "DeleteInstance", "InvokeMethod"};

FaultRule parseFault(const Json& j, const std::string& where) {
    if (!j.is_object()) fail(where, "is not an object");
    static const char* const allowed[] = {"operation", "namespace", "class", "key", "method", "request", "nth",
                                          "action", "code", "description", "status", "ms", "value", "comment"};
    for (const auto& [name, value] : j.items()) {
        (void)value;
        bool known = false;
        for (const char* a : allowed) known = known || name == a;
        if (!known) fail(where, "unknown field \"" + name + "\"");
    }
    FaultRule rule;
    rule.operation = optionalText(j, "operation", where);
    if (rule.operation) {
        bool known = false;
        for (const char* op : kOperations) known = known || equalNoCase(*rule.operation, op);
        if (!known) fail(where, "unknown operation \"" + *rule.operation + "\"");
    }
    rule.nameSpace = optionalText(j, "namespace", where);
    rule.className = optionalText(j, "class", where);
    rule.key = optionalText(j, "key", where);
    rule.method = optionalText(j, "method", where);
    rule.request = optionalCount(j, "request", where);
    rule.nth = optionalCount(j, "nth", where);
    auto actionText = optionalText(j, "action", where);
    if (!actionText) fail(where, "needs an \"action\"");
    auto action = faultActionFromName(*actionText);
    if (!action) fail(where, "unknown action \"" + *actionText + "\"");
    rule.action = *action;
    switch (rule.action) {
        case FaultAction::CimError:
            rule.code = cim::Uint32(requiredNumber(j, "code", where, 0xFFFFFFFFu));
            rule.description = optionalText(j, "description", where).value_or("");
            break;
        case FaultAction::HttpStatus:
            rule.status = unsigned(requiredNumber(j, "status", where, 599));
            if (rule.status < 100) fail(where, "\"status\" must be an HTTP status from 100 to 599");
            break;
        case FaultAction::Delay: rule.ms = unsigned(requiredNumber(j, "ms", where, 3600000)); break;
        case FaultAction::ReturnValue:
            if (!j.contains("value")) fail(where, "needs a \"value\"");
            if (!isForced(j.at("value")) && !j.at("value").is_null())
                fail(where, "\"value\" needs its type: {\"$type\": ..., \"value\": ...}");
            rule.value = typedValue(j.at("value"), nullptr, where + " value");
            break;
        default: break;
    }
    return rule;
}

void parseInstances(NamespaceData& ns, const Json& classes, const Schema& schema, const std::string& where) {
    if (!classes.is_object()) fail(where, "must map class names to instance lists");
    for (const auto& [className, list] : classes.items()) {
        const std::string cw = where + "/" + className;
        const ClassDef* cls = schema.find(className);
        if (!cls) fail(cw, "class not in the schema");
        if (!list.is_array()) fail(cw, "must be a list of instances");
        for (const auto& existing : ns.classes)
            if (equalNoCase(existing.first, cls->name)) fail(cw, "class listed twice");
        std::vector<cim::CIMInstance> instances;
        for (std::size_t i = 0; i < list.size(); ++i) {
            const std::string iw = cw + "[" + std::to_string(i) + "]";
            const Json& ij = list[i];
            if (!ij.is_object()) fail(iw, "an instance must be an object");
            cim::CIMInstance instance(cls->name);
            // Schema order first, then the extra properties in file order.
            for (const auto& def : cls->properties) {
                bool seen = false;
                for (const auto& [name, value] : ij.items()) {
                    if (!equalNoCase(name, def.name)) continue;
                    if (seen) fail(iw + "." + name, "property given twice");
                    seen = true;
                    instance.addProperty(
                        cim::CIMProperty(def.name, typedValue(value, &def, iw + "." + name), 0, def.referenceClass));
                }
            }
            for (const auto& [name, value] : ij.items()) {
                if (cls->findProperty(name)) continue;
                if (instance.findProperty(name) != cim::PEG_NOT_FOUND) fail(iw + "." + name, "property given twice");
                PropertyDef extra;
                extra.name = name;
                if (equalNoCase(name, "errorCode")) {
                    extra.type = cim::CIMType::Uint32;
                } else if (equalNoCase(name, "errorMsg")) {
                    extra.type = cim::CIMType::String;
                } else if (!isForced(value)) {
                    fail(iw + "." + name, "not a property of " + cls->name + " (give it a \"$type\" to send it anyway)");
                }
                instance.addProperty(cim::CIMProperty(name, typedValue(value, &extra, iw + "." + name)));
            }
            instance.setPath(instanceNameOf(*cls, instance));
            instances.push_back(std::move(instance));
        }
        ns.classes.emplace_back(cls->name, std::move(instances));
    }
}

}  // namespace

bool sameNamespace(std::string_view a, std::string_view b) { return equalNoCase(trimSlashes(a), trimSlashes(b)); }

cim::CIMValue typedValue(const Json& json, const PropertyDef* def, const std::string& where) {
    if (isForced(json)) {
        for (const auto& [name, value] : json.items()) {
            (void)value;
            if (name != "$type" && name != "value" && name != "array") fail(where, "unknown field \"" + name + "\"");
        }
        const Json& t = json.at("$type");
        auto type = t.is_string() ? cim::cimTypeFromName(t.get<std::string>()) : std::nullopt;
        if (!type) fail(where, "unknown \"$type\" " + t.dump());
        bool isArray = false;
        if (json.contains("array")) {
            if (!json.at("array").is_boolean()) fail(where, "\"array\" must be true or false");
            isArray = json.at("array").get<bool>();
        }
        return valueOfType(json.contains("value") ? json.at("value") : Json(), *type, isArray, where);
    }
    if (!def) fail(where, "a value without a type needs {\"$type\": ..., \"value\": ...}");
    return valueOfType(json, def->type, def->isArray, where);
}

cim::CIMObjectPath instanceNameOf(const ClassDef& cls, const cim::CIMInstance& instance) {
    cim::Array<cim::CIMKeyBinding> keys;
    for (const PropertyDef* key : cls.keys()) {
        cim::Uint32 i = instance.findProperty(key->name);
        if (i == cim::PEG_NOT_FOUND) continue;
        const cim::CIMValue& v = instance.getProperty(i).getValue();
        if (v.isNull() || v.isArray()) continue;
        keys.emplace_back(key->name, v);
    }
    return cim::CIMObjectPath("", cim::CIMNamespaceName(), cls.name, keys);
}

const std::vector<cim::CIMInstance>* NamespaceData::instancesOf(std::string_view className) const {
    for (const auto& [name, list] : classes)
        if (equalNoCase(name, className)) return &list;
    return nullptr;
}

const NamespaceData* Complex::findNamespace(std::string_view name) const {
    for (const auto& ns : namespaces)
        if (sameNamespace(ns.name, name)) return &ns;
    return nullptr;
}

Complex Complex::parse(std::string_view text, const Schema& schema, const std::string& source) {
    Json root;
    try {
        root = Json::parse(text);
    } catch (const Json::exception& e) {
        throw LoadError(source + ": not valid JSON: " + e.what());
    }
    if (!root.is_object()) fail(source, "must be a JSON object");
    for (const auto& [name, value] : root.items()) {
        (void)value;
        if (name != "namespaces" && name != "users" && name != "remoteComplexes" && name != "faults" &&
            name != "description" && name != "schema")
            fail(source, "unknown field \"" + name + "\"");
    }
    Complex complex;
    if (!root.contains("namespaces") || !root.at("namespaces").is_object())
        fail(source, "needs \"namespaces\", an object");
    for (const auto& [name, classes] : root.at("namespaces").items()) {
        const std::string where = source + ": namespaces/" + name;
        if (trimSlashes(name).empty()) fail(where, "empty namespace name");
        if (complex.findNamespace(name)) fail(where, "namespace listed twice");
        NamespaceData ns;
        ns.name = std::string(trimSlashes(name));
        parseInstances(ns, classes, schema, where);
        complex.namespaces.push_back(std::move(ns));
    }
    if (root.contains("users")) {
        const Json& users = root.at("users");
        if (!users.is_array()) fail(source, "\"users\" must be a list");
        for (std::size_t i = 0; i < users.size(); ++i) {
            const std::string where = source + ": users[" + std::to_string(i) + "]";
            const Json& u = users[i];
            if (!u.is_object() || !u.contains("name") || !u.at("name").is_string() || !u.contains("password") ||
                !u.at("password").is_string())
                fail(where, "needs \"name\" and \"password\" strings");
            if (u.at("name").get<std::string>().find(':') != std::string::npos)
                fail(where, "a user name cannot contain ':'");
            complex.users.push_back({u.at("name").get<std::string>(), u.at("password").get<std::string>()});
        }
    }
    if (root.contains("remoteComplexes")) {
        const Json& remotes = root.at("remoteComplexes");
        if (!remotes.is_array()) fail(source, "\"remoteComplexes\" must be a list");
        for (std::size_t i = 0; i < remotes.size(); ++i) {
            const std::string where = source + ": remoteComplexes[" + std::to_string(i) + "]";
            const Json& r = remotes[i];
            for (const char* field : {"address", "password", "namespace"})
                if (!r.is_object() || !r.contains(field) || !r.at(field).is_string())
                    fail(where, std::string("needs \"") + field + "\", a string");
            RemoteComplexDef def{r.at("address").get<std::string>(), r.at("password").get<std::string>(),
                                 std::string(trimSlashes(r.at("namespace").get<std::string>()))};
            if (!def.nameSpace.empty() && !complex.findNamespace(def.nameSpace))
                fail(where, "namespace \"" + def.nameSpace + "\" is not listed in \"namespaces\"");
            for (const auto& other : complex.remoteComplexes)
                if (other.address == def.address) fail(where, "address \"" + def.address + "\" listed twice");
            complex.remoteComplexes.push_back(std::move(def));
        }
    }
    if (root.contains("faults")) {
        const Json& faults = root.at("faults");
        if (!faults.is_array()) fail(source, "\"faults\" must be a list");
        for (std::size_t i = 0; i < faults.size(); ++i)
            complex.faults.push_back(parseFault(faults[i], source + ": faults[" + std::to_string(i) + "]"));
    }
    return complex;
}

Complex Complex::load(const std::string& path, const Schema& schema) {
    return parse(readComplexFile(path), schema, path);
}

std::string Complex::readComplexFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw LoadError(path + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<Schema> Complex::embeddedSchema(std::string_view text, const std::string& source) {
    Json root;
    try {
        root = Json::parse(text);
    } catch (const Json::exception& e) {
        throw LoadError(source + ": not valid JSON: " + e.what());
    }
    if (!root.is_object() || !root.contains("schema")) return std::nullopt;
    if (!root.at("schema").is_object()) fail(source, "\"schema\" must be an object, the content of a schema file");
    return Schema::parse(root.at("schema").dump(), source + ": schema");
}

}  // namespace kest
