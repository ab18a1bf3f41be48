// Reading CIM-XML: a parsed document that refuses what a CIM-XML message
// cannot be, a checked view of its elements, and readers for the CIM
// elements (values, object paths, qualifiers, properties, instances,
// classes). Every failure is a ParseError whose message names the problem
// and the element and byte offset where it was found. Private to src/cim.
#pragma once

#include <array>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <boost/container/small_vector.hpp>
#include <pugixml.hpp>

#include "cim/Object.h"

namespace cim::xml::detail {

class Element;
// The child elements of one element. Most elements have a few, so they are
// kept on the stack rather than in an allocation of their own.
using Elements = boost::container::small_vector<Element, 16>;

// One element of a parsed document, with checked access to its attributes,
// child elements and character content.
class Element {
public:
    explicit Element(pugi::xml_node node) : node_(node), name_(node.name()) {}

    std::string_view name() const { return name_; }
    bool is(std::string_view elementName) const { return name() == elementName; }

    // Throws ParseError: "what (in <NAME> at byte N)".
    [[noreturn]] void fail(const String& what) const;

    // An attribute looked up by name: empty when absent. The name is kept
    // for messages.
    struct Attribute {
        pugi::xml_attribute node;
        const char* name;
    };
    // Looks up one attribute, or several in one pass over the element's
    // attributes (in the order of the names). A duplicate attribute fails.
    Attribute find(const char* attributeName) const;
    template <std::size_t N>
    std::array<Attribute, N> find(const char* const (&names)[N]) const {
        std::array<Attribute, N> found;
        for (std::size_t i = 0; i < N; ++i) found[i] = {pugi::xml_attribute(), names[i]};
        findAll(found.data(), N);
        return found;
    }

    // Attribute values with references decoded.
    std::optional<String> optionalAttribute(const Attribute& a) const;
    String attribute(const Attribute& a) const;  // fails when absent
    // A CIM name attribute (class, property, qualifier, key, method or
    // parameter name): fails when absent or not a name. The optional form
    // gives "" when absent.
    String nameAttribute(const Attribute& a) const;
    String optionalNameAttribute(const Attribute& a) const;
    // A true/false attribute (any case); fallback when absent.
    bool flagAttribute(const Attribute& a, bool fallback) const;
    // A TYPE or PARAMTYPE attribute: a CIM type name.
    CIMType typeAttribute(const Attribute& a) const;
    std::optional<CIMType> optionalTypeAttribute(const Attribute& a) const;

    // The same, each looking up its attribute by name.
    std::optional<String> optionalAttribute(const char* n) const { return optionalAttribute(find(n)); }
    String attribute(const char* n) const { return attribute(find(n)); }
    String nameAttribute(const char* n) const { return nameAttribute(find(n)); }
    String optionalNameAttribute(const char* n) const { return optionalNameAttribute(find(n)); }
    bool flagAttribute(const char* n, bool fallback) const { return flagAttribute(find(n), fallback); }
    CIMType typeAttribute(const char* n) const { return typeAttribute(find(n)); }
    std::optional<CIMType> optionalTypeAttribute(const char* n) const { return optionalTypeAttribute(find(n)); }

    // The child elements in document order. Character content other than
    // white space fails: these elements hold only elements.
    Elements children() const;
    // The child elements, which must be exactly these, in this order.
    Elements expectChildren(std::initializer_list<std::string_view> names) const;
    // The only child element, which must be one of the names given.
    Element onlyChild(std::initializer_list<std::string_view> names) const;
    // The character content (text and CDATA, references decoded); a child element fails.
    String text() const;
    // The same, without a copy when the text is one run without references:
    // the view then points into the document, otherwise into scratch.
    std::string_view textView(String& scratch) const;
    // Fails unless the element has neither children nor text other than white space.
    void expectEmpty() const;

    [[noreturn]] void unexpected(const Element& child) const;

    // Removes the element, once read, from its document, so that the memory
    // of its nodes serves what is decoded next. The element and every
    // element taken from it must not be used afterwards.
    void release() const { node_.parent().remove_child(node_); }

private:
    void findAll(Attribute* wanted, std::size_t count) const;
    // Sets out to an attribute's text with references decoded; false when absent.
    bool attributeText(const Attribute& a, String& out) const;
    // An attribute's text with references decoded, or nothing when absent;
    // the view points into the document, or into scratch when decoded.
    std::optional<std::string_view> attributeView(const Attribute& a, String& scratch) const;

    pugi::xml_node node_;
    std::string_view name_;  // the element's name, looked at many times
};

// A parsed CIM-XML document. The constructor throws ParseError for an empty
// body, a NUL byte, XML that is not well-formed, a declared encoding other
// than UTF-8, an internal DTD subset, text or a second element outside the
// document element, or a document element other than <CIM>.
//
// The document is parsed in place: it keeps the body it was given (a view is
// copied first) and its nodes point into it, so a large answer is held once,
// not twice. The text of an element that starts with text is kept in the
// element itself rather than in a node of its own.
class Document {
public:
    explicit Document(String&& body);
    explicit Document(std::string_view body) : Document(String(body)) {}
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;
    Element root() const { return Element(root_); }

private:
    String text_;
    std::unique_ptr<pugi::xml_document> doc_;
    pugi::xml_node root_;
};

// A large answer is a short envelope around a long list: the elements in one
// element reached by a fixed path from the document element (IRETURNVALUE,
// under CIM, MESSAGE, SIMPLERSP and IMETHODRESPONSE). findList locates that
// list by reading the markup alone, so that the envelope and each element of
// the list can be parsed on their own, and the parsed form of the whole list
// is never in memory at once. It finds nothing unless the body has plainly
// that shape: the path's start tags in order (with nothing but white space,
// comments and processing instructions before and between them), the list's
// elements apart by white space only, then the path's end tags and white
// space to the end. The caller then parses the body whole.
struct ListSpan {
    std::size_t begin = 0;          // the list's first element
    std::size_t end = 0;            // just past its last one
    std::vector<std::size_t> ends;  // just past each element
};
std::optional<ListSpan> findList(const String& body, std::initializer_list<std::string_view> path);

// Parses the elements of a list found by findList in the same body, one by
// one and in place: the text of each becomes its parsed form, which is freed
// when the next one is parsed. Failures, of the parse or of an element read
// from it, give byte offsets in the whole body.
class ListReader {
public:
    ListReader(String& body, const ListSpan& list);
    ~ListReader();
    ListReader(const ListReader&) = delete;
    ListReader& operator=(const ListReader&) = delete;
    // The next element, or nothing past the last one.
    std::optional<Element> next();

private:
    String& body_;
    const ListSpan& list_;
    std::size_t at_;        // where the next element starts
    std::size_t next_ = 0;  // its number in the list
    pugi::xml_document doc_;
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
