#include "Mof.h"

#include <cstdio>

namespace kest {

std::string mofString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\x%04X", c);
                    out += buf;
                } else {
                    out += char(c);
                }
        }
    }
    return out + "\"";
}

namespace {

std::string typeText(cim::CIMType type, const std::string& referenceClass) {
    if (type == cim::CIMType::Reference) return (referenceClass.empty() ? std::string("object") : referenceClass) + " REF";
    return cim::cimTypeName(type);
}

std::string qualifierBlock(const std::vector<std::string>& qualifiers) {
    if (qualifiers.empty()) return {};
    std::string out = "[";
    for (std::size_t i = 0; i < qualifiers.size(); ++i) out += (i ? ", " : "") + qualifiers[i];
    return out + "]";
}

std::string listQualifier(const char* name, const std::vector<std::string>& texts) {
    std::string out = std::string(name) + " {";
    for (std::size_t i = 0; i < texts.size(); ++i) out += (i ? ", " : "") + mofString(texts[i]);
    return out + "}";
}

}  // namespace

std::string printMof(const Schema& schema) {
    std::string out = "// Classes published by kest-provider.\n";
    for (const auto& c : schema.classes()) {
        out += "\n";
        if (!c.description.empty()) out += qualifierBlock({"Description(" + mofString(c.description) + ")"}) + "\n";
        out += "class " + c.name;
        if (!c.superclass.empty()) out += " : " + c.superclass;
        out += "\n{\n";
        for (const auto& p : c.properties) {
            if (p.propagated) continue;  // declared by the superclass
            std::vector<std::string> qualifiers;
            if (p.key) qualifiers.push_back("Key");
            if (!p.description.empty()) qualifiers.push_back("Description(" + mofString(p.description) + ")");
            if (p.hasValueMap) qualifiers.push_back(listQualifier("ValueMap", p.valueMap));
            if (p.hasValues) qualifiers.push_back(listQualifier("Values", p.values));
            out += "    ";
            if (!qualifiers.empty()) out += qualifierBlock(qualifiers) + " ";
            out += typeText(p.type, p.referenceClass) + " " + p.name + (p.isArray ? "[]" : "") + ";\n";
        }
        for (const auto& m : c.methods) {
            if (m.propagated) continue;
            out += "\n    ";
            if (!m.description.empty()) out += qualifierBlock({"Description(" + mofString(m.description) + ")"}) + " ";
            out += typeText(m.returnType, "") + " " + m.name + "(";
            for (std::size_t i = 0; i < m.parameters.size(); ++i) {
                const auto& p = m.parameters[i];
                std::vector<std::string> qualifiers{"IN"};
                if (!p.description.empty()) qualifiers.push_back("Description(" + mofString(p.description) + ")");
                out += i ? ",\n        " : "\n        ";
                out += qualifierBlock(qualifiers) + " " + typeText(p.type, p.referenceClass) + " " + p.name +
                       (p.isArray ? "[]" : "");
            }
            out += ");\n";
        }
        out += "};\n";
    }
    return out;
}

}  // namespace kest
