// Writing CIM-XML elements. Each function appends one element (and what it
// contains) to `out`, compactly, with every text and attribute escaped.
// Private to src/cim.
#pragma once

#include <string_view>

#include "cim/Object.h"

namespace cim::xml::detail {

// ` NAME="value"` with the value escaped.
void writeAttribute(String& out, const char* name, std::string_view value);

// VALUE, VALUE.ARRAY (VALUE.NULL for null elements), VALUE.REFERENCE or
// VALUE.REFARRAY; nothing for a null value.
void writeValue(String& out, const CIMValue& value);

// VALUE.REFERENCE: INSTANCEPATH when the path has a host and a namespace,
// LOCALINSTANCEPATH when it has a namespace, INSTANCENAME otherwise.
void writeReference(String& out, const CIMObjectPath& path);

// INSTANCENAME with one KEYBINDING per key (host and namespace not written).
// A REFERENCE key's text must parse as an object path (ParseError otherwise).
void writeInstanceName(String& out, const CIMObjectPath& path);

// LOCALNAMESPACEPATH with one NAMESPACE per '/'-separated part.
void writeLocalNamespacePath(String& out, const CIMNamespaceName& nameSpace);

void writeQualifier(String& out, const CIMQualifier& qualifier);
void writeProperty(String& out, const CIMProperty& property);
void writeInstance(String& out, const CIMInstance& instance);
void writeClass(String& out, const CIMClass& cimClass);

}  // namespace cim::xml::detail
