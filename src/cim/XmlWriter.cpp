#include "cim/XmlWriter.h"

#include "cim/XmlText.h"

namespace cim::xml::detail {

namespace {

void writeQualifiers(String& out, const QualifierList& list) {
    for (const auto& q : list.qualifiers()) writeQualifier(out, q);
}

void writeOrigin(String& out, const CIMName& classOrigin, bool propagated) {
    if (!classOrigin.isNull()) writeAttribute(out, "CLASSORIGIN", classOrigin.getString());
    if (propagated) out += " PROPAGATED=\"true\"";
}

void writeKeyBinding(String& out, const CIMKeyBinding& key) {
    out += "<KEYBINDING";
    writeAttribute(out, "NAME", key.getName().getString());
    out += '>';
    const char* valueType = "string";
    switch (key.getType()) {
        case CIMKeyBinding::REFERENCE:
            writeReference(out, CIMObjectPath(key.getValue()));
            out += "</KEYBINDING>";
            return;
        case CIMKeyBinding::BOOLEAN: valueType = "boolean"; break;
        case CIMKeyBinding::NUMERIC: valueType = "numeric"; break;
        case CIMKeyBinding::STRING: break;
    }
    out += "<KEYVALUE VALUETYPE=\"";
    out += valueType;
    out += "\">";
    appendEscaped(out, key.getValue());
    out += "</KEYVALUE></KEYBINDING>";
}

void writeParameter(String& out, const CIMParameter& parameter) {
    const bool reference = parameter.getType() == CIMType::Reference;
    const char* element = reference ? (parameter.isArray() ? "PARAMETER.REFARRAY" : "PARAMETER.REFERENCE")
                                    : (parameter.isArray() ? "PARAMETER.ARRAY" : "PARAMETER");
    out += '<';
    out += element;
    writeAttribute(out, "NAME", parameter.getName().getString());
    if (reference) {
        if (!parameter.getReferenceClassName().isNull())
            writeAttribute(out, "REFERENCECLASS", parameter.getReferenceClassName().getString());
    } else {
        writeAttribute(out, "TYPE", cimTypeName(parameter.getType()));
    }
    if (parameter.isArray() && parameter.getArraySize() > 0)
        writeAttribute(out, "ARRAYSIZE", std::to_string(parameter.getArraySize()));
    out += '>';
    writeQualifiers(out, parameter);
    out += "</";
    out += element;
    out += '>';
}

void writeMethod(String& out, const CIMMethod& method) {
    out += "<METHOD";
    writeAttribute(out, "NAME", method.getName().getString());
    writeAttribute(out, "TYPE", cimTypeName(method.getType()));
    writeOrigin(out, method.getClassOrigin(), method.getPropagated());
    out += '>';
    writeQualifiers(out, method);
    for (const auto& p : method.parameters()) writeParameter(out, p);
    out += "</METHOD>";
}

}  // namespace

void writeAttribute(String& out, const char* name, std::string_view value) {
    out += ' ';
    out += name;
    out += "=\"";
    appendEscaped(out, value);
    out += '"';
}

void writeValue(String& out, const CIMValue& value) {
    if (value.isNull()) return;
    const bool reference = value.getType() == CIMType::Reference;
    if (!value.isArray()) {
        if (reference) {
            writeReference(out, std::get<CIMObjectPath>(value.getScalar()));
        } else {
            out += "<VALUE>";
            appendScalar(out, value.getScalar());
            out += "</VALUE>";
        }
        return;
    }
    out += reference ? "<VALUE.REFARRAY>" : "<VALUE.ARRAY>";
    for (Uint32 i = 0; i < value.getArraySize(); ++i) {
        if (value.isElementNull(i)) {
            out += "<VALUE.NULL/>";
            continue;
        }
        CIMValue element = value.getElement(i);
        if (reference) {
            writeReference(out, std::get<CIMObjectPath>(element.getScalar()));
        } else {
            out += "<VALUE>";
            appendScalar(out, element.getScalar());
            out += "</VALUE>";
        }
    }
    out += reference ? "</VALUE.REFARRAY>" : "</VALUE.ARRAY>";
}

void writeLocalNamespacePath(String& out, const CIMNamespaceName& nameSpace) {
    out += "<LOCALNAMESPACEPATH>";
    const String& ns = nameSpace.getString();
    std::size_t start = 0;
    while (start <= ns.size()) {
        std::size_t slash = ns.find('/', start);
        if (slash == String::npos) slash = ns.size();
        if (slash > start) {
            out += "<NAMESPACE";
            writeAttribute(out, "NAME", std::string_view(ns).substr(start, slash - start));
            out += "/>";
        }
        start = slash + 1;
    }
    out += "</LOCALNAMESPACEPATH>";
}

void writeInstanceName(String& out, const CIMObjectPath& path) {
    out += "<INSTANCENAME";
    writeAttribute(out, "CLASSNAME", path.getClassName().getString());
    out += '>';
    for (const auto& key : path.getKeyBindings()) writeKeyBinding(out, key);
    out += "</INSTANCENAME>";
}

void writeReference(String& out, const CIMObjectPath& path) {
    out += "<VALUE.REFERENCE>";
    // A host alone cannot be written: an INSTANCEPATH needs a namespace too.
    if (!path.getNameSpace().isNull() && !path.getHost().empty()) {
        out += "<INSTANCEPATH><NAMESPACEPATH><HOST>";
        appendEscaped(out, path.getHost());
        out += "</HOST>";
        writeLocalNamespacePath(out, path.getNameSpace());
        out += "</NAMESPACEPATH>";
        writeInstanceName(out, path);
        out += "</INSTANCEPATH>";
    } else if (!path.getNameSpace().isNull()) {
        out += "<LOCALINSTANCEPATH>";
        writeLocalNamespacePath(out, path.getNameSpace());
        writeInstanceName(out, path);
        out += "</LOCALINSTANCEPATH>";
    } else {
        writeInstanceName(out, path);
    }
    out += "</VALUE.REFERENCE>";
}

void writeQualifier(String& out, const CIMQualifier& qualifier) {
    out += "<QUALIFIER";
    writeAttribute(out, "NAME", qualifier.getName().getString());
    writeAttribute(out, "TYPE", cimTypeName(qualifier.getType()));
    if (qualifier.getPropagated()) out += " PROPAGATED=\"true\"";
    // Only flavors that differ from the defaults are written.
    const CIMFlavor& f = qualifier.getFlavor();
    if (!f.overridable) out += " OVERRIDABLE=\"false\"";
    if (!f.toSubclass) out += " TOSUBCLASS=\"false\"";
    if (f.toInstance) out += " TOINSTANCE=\"true\"";
    if (f.translatable) out += " TRANSLATABLE=\"true\"";
    out += '>';
    writeValue(out, qualifier.getValue());
    out += "</QUALIFIER>";
}

void writeProperty(String& out, const CIMProperty& property) {
    const CIMValue& value = property.getValue();
    const bool reference = value.getType() == CIMType::Reference;
    // Arrays of references have no element of their own: they are written as
    // PROPERTY.ARRAY of type reference holding a VALUE.REFARRAY.
    const char* element = value.isArray() ? "PROPERTY.ARRAY" : reference ? "PROPERTY.REFERENCE" : "PROPERTY";
    out += '<';
    out += element;
    writeAttribute(out, "NAME", property.getName().getString());
    if (!reference || value.isArray()) writeAttribute(out, "TYPE", cimTypeName(value.getType()));
    if (reference && !property.getReferenceClassName().isNull())
        writeAttribute(out, "REFERENCECLASS", property.getReferenceClassName().getString());
    if (value.isArray() && property.getArraySize() > 0)
        writeAttribute(out, "ARRAYSIZE", std::to_string(property.getArraySize()));
    writeOrigin(out, property.getClassOrigin(), property.getPropagated());
    out += '>';
    writeQualifiers(out, property);
    writeValue(out, value);
    out += "</";
    out += element;
    out += '>';
}

void writeInstance(String& out, const CIMInstance& instance) {
    out += "<INSTANCE";
    writeAttribute(out, "CLASSNAME", instance.getClassName().getString());
    out += '>';
    writeQualifiers(out, instance);
    for (const auto& p : instance.properties()) writeProperty(out, p);
    out += "</INSTANCE>";
}

void writeClass(String& out, const CIMClass& cimClass) {
    out += "<CLASS";
    writeAttribute(out, "NAME", cimClass.getClassName().getString());
    if (!cimClass.getSuperClassName().isNull())
        writeAttribute(out, "SUPERCLASS", cimClass.getSuperClassName().getString());
    out += '>';
    writeQualifiers(out, cimClass);
    for (const auto& p : cimClass.properties()) writeProperty(out, p);
    for (const auto& m : cimClass.methods()) writeMethod(out, m);
    out += "</CLASS>";
}

}  // namespace cim::xml::detail
