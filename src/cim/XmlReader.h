// Reading CIM-XML: a parsed document that refuses what a CIM-XML message
// cannot be, a checked view of its elements, and readers for the CIM
// elements (values, object paths, qualifiers, properties, instances,
// classes). Every failure is a ParseError whose message names the problem
// and the element and byte offset where it was found. Private to src/cim.
#pragma once

#include <initializer_list>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "cim/Object.h"

namespace cim::xml::detail {

// One element of a parsed document, with checked access to its attributes,
// child elements and character content.
class Element {
public:
    explicit Element(pugi::xml_node node) : node_(node) {}

    std::string_view name() const { return node_.name(); }
    bool is(std::string_view elementName) const { return name() == elementName; }

    // Throws ParseError: "what (in <NAME> at byte N)".
    [[noreturn]] void fail(const String& what) const;

    // Attribute values with references decoded. A duplicate attribute fails.
    std::optional<String> optionalAttribute(const char* attributeName) const;
    String attribute(const char* attributeName) const;  // fails when absent
    // A CIM name attribute (class, property, qualifier, key, method or
    // parameter name): fails when absent or not a name. The optional form
    // gives "" when absent.
    String nameAttribute(const char* attributeName) const;
    String optionalNameAttribute(const char* attributeName) const;
    // A true/false attribute (any case); fallback when absent.
    bool flagAttribute(const char* attributeName, bool fallback) const;
    // A TYPE or PARAMTYPE attribute: a CIM type name.
    CIMType typeAttribute(const char* attributeName) const;
    std::optional<CIMType> optionalTypeAttribute(const char* attributeName) const;

    // The child elements in document order. Character content other than
    // white space fails: these elements hold only elements.
    std::vector<Element> children() const;
    // The child elements, which must be exactly these, in this order.
    std::vector<Element> expectChildren(std::initializer_list<std::string_view> names) const;
    // The only child element, which must be one of the names given.
    Element onlyChild(std::initializer_list<std::string_view> names) const;
    // The character content (text and CDATA, references decoded); a child element fails.
    String text() const;
    // Fails unless the element has neither children nor text other than white space.
    void expectEmpty() const;

    [[noreturn]] void unexpected(const Element& child) const;

private:
    pugi::xml_attribute findAttribute(const char* attributeName) const;

    pugi::xml_node node_;
};

// A parsed CIM-XML document. The constructor throws ParseError for an empty
// body, a NUL byte, XML that is not well-formed, a declared encoding other
// than UTF-8, an internal DTD subset, text or a second element outside the
// document element, or a document element other than <CIM>.
class Document {
public:
    explicit Document(std::string_view body);
    Element root() const { return Element(root_); }

private:
    std::unique_ptr<pugi::xml_document> doc_;
    pugi::xml_node root_;
};

// Readers of CIM elements. `depth` counts references nested in key bindings.
CIMNamespaceName readLocalNamespacePath(const Element& e);     // LOCALNAMESPACEPATH
CIMObjectPath readInstanceName(const Element& e, int depth = 0);  // INSTANCENAME
CIMObjectPath readLocalInstancePath(const Element& e, int depth = 0);  // LOCALINSTANCEPATH
CIMObjectPath readReference(const Element& e, int depth = 0);  // VALUE.REFERENCE
CIMName readClassName(const Element& e);                          // CLASSNAME

// A value element of the given type: VALUE, VALUE.ARRAY, VALUE.REFERENCE or
// VALUE.REFARRAY; the element must suit the type (references for reference).
CIMValue readValue(const Element& e, CIMType type);
bool isValueElement(const Element& e);

CIMQualifier readQualifier(const Element& e);
bool isPropertyElement(const Element& e);
CIMProperty readProperty(const Element& e);  // PROPERTY, PROPERTY.ARRAY, PROPERTY.REFERENCE
CIMInstance readInstance(const Element& e);  // INSTANCE
CIMClass readClass(const Element& e);        // CLASS

// How deeply references may nest inside key bindings. Each level quotes the
// one inside it in the key's text form, so the limit also bounds how much
// larger than the document the decoded paths can get.
inline constexpr int kMaxReferenceDepth = 4;

}  // namespace cim::xml::detail
