// Text-level pieces of the CIM-XML codec: character escaping and entity
// decoding, the wire text of scalar values in both directions, and the
// URI escaping of HTTP header values. Private to src/cim.
#pragma once

#include <string_view>

#include "cim/Value.h"

namespace cim::xml::detail {

// Appends text with markup characters, control characters and blanks that a
// reader could lose (leading, trailing, doubled) written as references.
void appendEscaped(String& out, std::string_view text);

// Decodes the entity and character references of raw element or attribute
// text: the five predefined entities and &#N; / &#xN;. Anything else after
// '&' throws ParseError; so does a reference to NUL or past U+10FFFF.
String decodeReferences(std::string_view raw);

// Removes the XML white space (blank, tab, CR, LF) around a text.
std::string_view trimSpace(std::string_view text);

// Appends the escaped wire text of one scalar (not a reference: those are
// elements). Reals are written in their shortest exact form, INF, -INF and
// NaN included; a char16 of code 0 is an empty text, and a surrogate code,
// which has no UTF-8 form, a character reference.
void appendScalar(String& out, const CIMValue::Scalar& scalar);

// Parses the text of a VALUE element as the given type. Integers are decimal
// (or 0x hexadecimal) with an optional sign and must fit the type; reals take
// the usual decimal and exponent forms plus INF/NaN; booleans are TRUE/FALSE
// in any case; numbers and booleans may have white space around them.
// Throws ParseError with a message naming the type and the text.
CIMValue::Scalar parseScalar(CIMType type, std::string_view text);

// Checks that a text is a whole number (signed or not, any width) or a real
// number, as a NUMERIC key binding carries; throws ParseError otherwise.
void checkNumericText(std::string_view text);

// A CIM name: a letter or '_', then letters, digits and '_'; bytes of
// non-ASCII UTF-8 characters count as letters.
bool isCimName(std::string_view text);

// Percent-escapes a header value: letters, digits and -_.~/:=,!$'()*+;@
// stay as they are, every other byte becomes %XX.
String uriEscape(std::string_view text);

// A short, printable excerpt of untrusted text for error messages.
String excerpt(std::string_view text);

}  // namespace cim::xml::detail
