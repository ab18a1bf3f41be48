#include "Schema.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

namespace kest {

using Json = nlohmann::ordered_json;

namespace {

// Reads the fields of one JSON object, rejecting fields it does not know so
// that a misspelt field is an error instead of being silently ignored.
class Fields {
public:
    Fields(const Json& object, std::string where, std::initializer_list<const char*> allowed)
        : object_(object), where_(std::move(where)) {
        if (!object.is_object()) fail("is not an object");
        for (const auto& [name, value] : object.items()) {
            (void)value;
            if (std::find_if(allowed.begin(), allowed.end(), [&](const char* a) { return name == a; }) ==
                allowed.end())
                fail("has an unknown field \"" + name + "\"");
        }
    }
    [[noreturn]] void fail(const std::string& what) const { throw LoadError(where_ + " " + what); }
    const std::string& where() const { return where_; }

    std::string string(const char* name, bool required) const {
        auto it = object_.find(name);
        if (it == object_.end() || it->is_null()) {
            if (required) fail(std::string("lacks \"") + name + "\"");
            return {};
        }
        if (!it->is_string()) fail(std::string("field \"") + name + "\" is not a string");
        return it->get<std::string>();
    }
    bool boolean(const char* name) const {
        auto it = object_.find(name);
        if (it == object_.end() || it->is_null()) return false;
        if (!it->is_boolean()) fail(std::string("field \"") + name + "\" is not true or false");
        return it->get<bool>();
    }
    const Json* array(const char* name) const {
        auto it = object_.find(name);
        if (it == object_.end() || it->is_null()) return nullptr;
        if (!it->is_array()) fail(std::string("field \"") + name + "\" is not an array");
        return &*it;
    }
    bool has(const char* name) const { return object_.contains(name) && !object_.at(name).is_null(); }

private:
    const Json& object_;
    std::string where_;
};

cim::CIMType typeField(const Fields& f) {
    const std::string text = f.string("type", true);
    auto type = cim::cimTypeFromName(text);
    if (!type) f.fail("has an unknown CIM type \"" + text + "\"");
    return *type;
}

// A list of texts (valueMap, values); false when the field is absent.
bool textList(const Fields& f, const char* name, std::vector<std::string>& texts) {
    const Json* list = f.array(name);
    if (!list) return false;
    for (const auto& entry : *list) {
        if (!entry.is_string()) f.fail(std::string("has a ") + name + " entry that is not a string");
        texts.push_back(entry.get<std::string>());
    }
    return true;
}

PropertyDef parseProperty(const Json& j, const std::string& where) {
    Fields f(j, where, {"name", "type", "array", "key", "valueMap", "values", "referenceClass", "description"});
    PropertyDef p;
    p.name = f.string("name", true);
    if (p.name.empty()) f.fail("has an empty name");
    p.type = typeField(f);
    p.isArray = f.boolean("array");
    p.key = f.boolean("key");
    if (p.key && p.isArray) f.fail("is an array and cannot be a key");
    p.referenceClass = f.string("referenceClass", false);
    if (!p.referenceClass.empty() && p.type != cim::CIMType::Reference) f.fail("has a referenceClass but is not a reference");
    p.description = f.string("description", false);
    p.hasValueMap = textList(f, "valueMap", p.valueMap);
    p.hasValues = textList(f, "values", p.values);
    return p;
}

MethodDef parseMethod(const Json& j, const std::string& where) {
    Fields f(j, where, {"name", "type", "parameters", "description"});
    MethodDef m;
    m.name = f.string("name", true);
    if (m.name.empty()) f.fail("has an empty name");
    m.returnType = typeField(f);
    m.description = f.string("description", false);
    if (const Json* params = f.array("parameters")) {
        std::set<std::string> seen;
        for (std::size_t i = 0; i < params->size(); ++i) {
            const std::string pw = where + " parameter " + std::to_string(i);
            Fields pf((*params)[i], pw, {"name", "type", "array", "referenceClass", "description"});
            ParameterDef p;
            p.name = pf.string("name", true);
            p.type = typeField(pf);
            p.isArray = pf.boolean("array");
            p.referenceClass = pf.string("referenceClass", false);
            p.description = pf.string("description", false);
            if (!seen.insert(cim::lowerCase(p.name)).second) pf.fail("repeats the parameter name \"" + p.name + "\"");
            m.parameters.push_back(std::move(p));
        }
    }
    return m;
}

cim::CIMValue stringArray(const std::vector<std::string>& texts) {
    return cim::CIMValue(cim::Array<cim::String>(texts.begin(), texts.end()));
}

// The Key qualifier may not be overridden; the others take the default flavor.
cim::CIMQualifier keyQualifier() {
    cim::CIMFlavor flavor;
    flavor.overridable = false;
    return cim::CIMQualifier("Key", cim::CIMValue(true), flavor);
}

void buildCimClass(ClassDef& c) {
    c.cimClass = cim::CIMClass(c.name, c.superclass);
    if (!c.description.empty()) c.cimClass.addQualifier(cim::CIMQualifier("Description", cim::CIMValue(c.description)));
    for (const auto& p : c.properties) {
        cim::CIMProperty prop(p.name, cim::CIMValue(p.type, p.isArray), 0, p.referenceClass, p.originClass, p.propagated);
        if (p.key) prop.addQualifier(keyQualifier());
        if (!p.description.empty()) prop.addQualifier(cim::CIMQualifier("Description", cim::CIMValue(p.description)));
        if (p.hasValueMap) prop.addQualifier(cim::CIMQualifier("ValueMap", stringArray(p.valueMap)));
        if (p.hasValues) prop.addQualifier(cim::CIMQualifier("Values", stringArray(p.values)));
        c.cimClass.addProperty(prop);
    }
    for (const auto& m : c.methods) {
        cim::CIMMethod method(m.name, m.returnType, m.originClass, m.propagated);
        if (!m.description.empty()) method.addQualifier(cim::CIMQualifier("Description", cim::CIMValue(m.description)));
        for (const auto& p : m.parameters) {
            cim::CIMParameter param(p.name, p.type, p.isArray, 0, p.referenceClass);
            param.addQualifier(cim::CIMQualifier("IN", cim::CIMValue(true)));
            if (!p.description.empty()) param.addQualifier(cim::CIMQualifier("Description", cim::CIMValue(p.description)));
            method.addParameter(param);
        }
        c.cimClass.addMethod(method);
    }
}

}  // namespace

const PropertyDef* ClassDef::findProperty(std::string_view n) const {
    for (const auto& p : properties)
        if (equalNoCase(p.name, n)) return &p;
    return nullptr;
}

const MethodDef* ClassDef::findMethod(std::string_view n) const {
    for (const auto& m : methods)
        if (equalNoCase(m.name, n)) return &m;
    return nullptr;
}

std::vector<const PropertyDef*> ClassDef::keys() const {
    std::vector<const PropertyDef*> out;
    for (const auto& p : properties)
        if (p.key) out.push_back(&p);
    return out;
}

const ClassDef* Schema::find(std::string_view className) const {
    for (const auto& c : classes_)
        if (equalNoCase(c.name, className)) return &c;
    return nullptr;
}

bool Schema::derivesFrom(const ClassDef& cls, const ClassDef& base) const {
    const ClassDef* c = &cls;
    while (c) {
        if (equalNoCase(c->name, base.name)) return true;
        c = c->superclass.empty() ? nullptr : find(c->superclass);
    }
    return false;
}

Schema Schema::parse(std::string_view text, const std::string& source) {
    Json root;
    try {
        root = Json::parse(text);
    } catch (const Json::exception& e) {
        throw LoadError(source + ": not valid JSON: " + e.what());
    }
    Fields top(root, source + ":", {"classes", "description"});
    const Json* classes = top.array("classes");
    if (!classes) top.fail("lacks \"classes\"");

    Schema schema;
    for (std::size_t i = 0; i < classes->size(); ++i) {
        const Json& cj = (*classes)[i];
        const std::string where = source + ": class " + std::to_string(i);
        Fields f(cj, where, {"name", "superclass", "properties", "methods", "description"});
        ClassDef c;
        c.name = f.string("name", true);
        if (c.name.empty()) f.fail("has an empty name");
        const std::string cw = source + ": class " + c.name;
        if (schema.find(c.name)) throw LoadError(cw + " is defined twice");
        c.superclass = f.string("superclass", false);
        c.description = f.string("description", false);
        if (!c.superclass.empty()) {
            const ClassDef* base = schema.find(c.superclass);
            if (!base) throw LoadError(cw + ": superclass " + c.superclass + " must be defined before it");
            for (auto p : base->properties) {
                p.propagated = true;
                c.properties.push_back(std::move(p));
            }
            for (auto m : base->methods) {
                m.propagated = true;
                c.methods.push_back(std::move(m));
            }
        }
        if (const Json* props = f.array("properties")) {
            for (std::size_t k = 0; k < props->size(); ++k) {
                PropertyDef p = parseProperty((*props)[k], cw + " property " + std::to_string(k));
                p.originClass = c.name;
                auto same = std::find_if(c.properties.begin(), c.properties.end(),
                                         [&](const PropertyDef& q) { return equalNoCase(q.name, p.name); });
                if (same != c.properties.end()) {
                    if (!same->propagated) throw LoadError(cw + " declares the property " + p.name + " twice");
                    *same = std::move(p);  // an override of the inherited property
                } else {
                    c.properties.push_back(std::move(p));
                }
            }
        }
        if (const Json* methods = f.array("methods")) {
            for (std::size_t k = 0; k < methods->size(); ++k) {
                MethodDef m = parseMethod((*methods)[k], cw + " method " + std::to_string(k));
                m.originClass = c.name;
                auto same = std::find_if(c.methods.begin(), c.methods.end(),
                                         [&](const MethodDef& q) { return equalNoCase(q.name, m.name); });
                if (same != c.methods.end()) {
                    if (!same->propagated) throw LoadError(cw + " declares the method " + m.name + " twice");
                    *same = std::move(m);
                } else {
                    c.methods.push_back(std::move(m));
                }
            }
        }
        buildCimClass(c);
        schema.classes_.push_back(std::move(c));
    }
    return schema;
}

Schema Schema::load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw LoadError(path + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    return parse(text.str(), path);
}

}  // namespace kest
