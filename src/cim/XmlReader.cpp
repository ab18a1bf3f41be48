#include "cim/XmlReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <unordered_set>

#include "cim/XmlText.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cim::xml::detail {

namespace {

bool isBlank(std::string_view s) { return trimSpace(s).empty(); }

// Names seen so far in one list (keys, properties, qualifiers, ...), without
// regard to case. Lists are short, so their names are kept one after another
// in one buffer and searched in turn; a long one (only a hostile answer has
// hundreds of properties) moves to a hash set of lower-cased names so that
// checking stays linear in the size of the answer.
class NameSet {
public:
    bool insert(std::string_view name) {
        if (hashed_.empty()) {
            std::string_view pool = pool_;
            for (auto [offset, size] : listed_)
                if (size == name.size() && equalNoCase(pool.substr(offset, size), name)) return false;
            if (listed_.size() < kListedMax) {
                if (pool_.empty()) pool_.reserve(kPoolStart);
                listed_.emplace_back(pool_.size(), name.size());
                pool_.append(name);
                return true;
            }
            for (auto [offset, size] : listed_) hashed_.insert(lowerCase(pool.substr(offset, size)));
            listed_.clear();
            pool_.clear();
        }
        return hashed_.insert(lowerCase(name)).second;
    }

private:
    static constexpr std::size_t kListedMax = 32;
    static constexpr std::size_t kPoolStart = 512;
    boost::container::small_vector<std::pair<std::size_t, std::size_t>, kListedMax> listed_;
    String pool_;
    std::unordered_set<String> hashed_;
};

// Where the buffer being read starts in the body, for the byte offsets in
// messages: not 0 while a ListReader reads an element of a list.
thread_local std::size_t bufferOffset = 0;

// The options every parse uses. References are decoded by Element (strictly:
// pugixml would keep unknown entities as text); fragments are parsed so that
// text outside the document element is seen and refused rather than silently
// dropped.
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_wconv_attribute | pugi::parse_eol |
                                   pugi::parse_ws_pcdata_single | pugi::parse_declaration | pugi::parse_doctype |
                                   pugi::parse_fragment | pugi::parse_embed_pcdata;

// Parses text in place, `offset` bytes into the body.
void parseInPlace(pugi::xml_document& doc, char* text, std::size_t size, std::size_t offset) {
    auto result = doc.load_buffer_inplace(text, size, kParseOptions, pugi::encoding_utf8);
    if (!result)
        throw ParseError(String("CIM-XML: not well-formed XML: ") + result.description() + " at byte " +
                         std::to_string(offset + static_cast<std::size_t>(result.offset)));
}

// ---------------------------------------------------------------------------
// Markup, read without parsing: enough to find where an element ends.

constexpr std::size_t npos = std::string_view::npos;

// The characters that end a run of a tag's name or attributes.
enum CharClass : unsigned char { Plain, Space, Close, Slash, Quote, Open, Equals };
constexpr std::array<CharClass, 256> kCharClass = [] {
    std::array<CharClass, 256> table{};
    for (unsigned char c : {' ', '\t', '\n', '\r'}) table[c] = Space;
    table['>'] = Close;
    table['/'] = Slash;
    table['"'] = table['\''] = Quote;
    table['<'] = Open;
    table['='] = Equals;
    return table;
}();
CharClass classOf(char c) { return kCharClass[static_cast<unsigned char>(c)]; }

std::size_t skipSpace(std::string_view s, std::size_t i) {
    while (i < s.size() && classOf(s[i]) == Space) ++i;
    return i;
}

// One piece of markup, read from its '<'. Bad is markup this reading is not
// sure of; the body is then left to the parser.
struct Markup {
    enum Kind { Start, Empty, End, Other, Bad } kind;
    std::string_view name;  // of a tag
    std::size_t end;        // just past the markup
};

// Comments, CDATA sections, processing instructions and a document type
// declaration (one without an internal subset).
Markup readOtherMarkup(std::string_view s, std::size_t i) {
    constexpr Markup bad{Markup::Bad, {}, npos};
    auto through = [&](std::string_view closer, std::size_t from) {
        std::size_t at = s.find(closer, from);
        return at == npos ? bad : Markup{Markup::Other, {}, at + closer.size()};
    };
    std::string_view rest = s.substr(i);
    if (rest.starts_with("<!--")) return through("-->", i + 4);
    if (rest.starts_with("<![CDATA[")) return through("]]>", i + 9);
    if (rest.starts_with("<?")) return through("?>", i + 2);
    std::size_t close = s.find('>', i);
    if (close == npos || s.substr(i, close - i).find('[') != npos) return bad;
    return {Markup::Other, {}, close + 1};
}

Markup readMarkup(std::string_view s, std::size_t i) {
    constexpr Markup bad{Markup::Bad, {}, npos};
    const std::size_t size = s.size();
    if (i + 1 >= size) return bad;
    if (s[i + 1] == '!' || s[i + 1] == '?') return readOtherMarkup(s, i);
    const bool endTag = s[i + 1] == '/';
    std::size_t j = i + (endTag ? 2 : 1);
    const std::size_t nameStart = j;
    while (j < size && classOf(s[j]) == Plain) ++j;
    if (j == nameStart || j >= size) return bad;
    std::string_view name = s.substr(nameStart, j - nameStart);
    if (endTag) {
        j = skipSpace(s, j);
        return j < size && s[j] == '>' ? Markup{Markup::End, name, j + 1} : bad;
    }
    // Attribute values may hold '>' and '/': they are skipped whole.
    for (;;) {
        switch (classOf(s[j])) {
            case Plain: case Space: case Equals: ++j; break;
            case Quote:
                j = s.find(s[j], j + 1);
                if (j == npos) return bad;
                ++j;
                break;
            case Close: return {Markup::Start, name, j + 1};
            case Slash: return j + 1 < size && s[j + 1] == '>' ? Markup{Markup::Empty, name, j + 2} : bad;
            case Open: return bad;
        }
        if (j >= size) return bad;
    }
}

// Finds, in a body that holds no NUL, the characters that matter to where
// its elements end: '<', '>', the quotes, and the NUL that ends a String.
// They are found 64 bytes at a time, as a mask.
class MarkupScan {
public:
    explicit MarkupScan(const String& body) : s_(body.c_str()), size_(body.size() + 1) {}

    // The first of those characters at or after p (at most the body's size).
    std::size_t next(std::size_t p) {
        if (std::size_t offset = p - block_; offset < 64)
            if (std::uint64_t m = mask_ >> offset) return p + static_cast<std::size_t>(__builtin_ctzll(m));
        return nextInBlocks(p);
    }
    char operator[](std::size_t p) const { return s_[p]; }

private:
    [[gnu::noinline]] std::size_t nextInBlocks(std::size_t p) {
        block_ = p & ~std::size_t{63};
        for (std::uint64_t m = maskOf(block_) & (~std::uint64_t{0} << (p & 63));; m = maskOf(block_)) {
            if (m) {
                mask_ = m;
                return block_ + static_cast<std::size_t>(__builtin_ctzll(m));
            }
            block_ += 64;  // the terminating NUL ends this
        }
    }

    static bool isMarked(char c) { return c == '<' || c == '>' || c == '"' || c == '\'' || c == '\0'; }

    std::uint64_t maskOf(std::size_t block) const {
        std::uint64_t mask = 0;
#if defined(__SSE2__)
        if (block + 64 < size_) {  // a whole block of the body, before its NUL
            const __m128i lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>'), dq = _mm_set1_epi8('"'),
                          sq = _mm_set1_epi8('\'');
            auto part = [&](int n) {
                __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s_ + block + 16 * n));
                __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, lt), _mm_cmpeq_epi8(bytes, gt)),
                                            _mm_or_si128(_mm_cmpeq_epi8(bytes, dq), _mm_cmpeq_epi8(bytes, sq)));
                return static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(hits))) << (16 * n);
            };
            return part(0) | part(1) | part(2) | part(3);
        }
#endif
        for (std::size_t i = 0; i < 64 && block + i < size_; ++i)
            if (isMarked(s_[block + i])) mask |= std::uint64_t{1} << i;
        return mask;
    }

    const char* s_;
    std::size_t size_;  // with the NUL
    std::size_t block_ = 0;
    std::uint64_t mask_ = 0;  // of the block from block_; bits below a position already passed may be cleared
};

// Just past the end tag of the element whose start tag is at `at`, found by
// counting start and end tags; npos when the markup ends first or is not
// plainly that of one element. The parser checks what the count takes on
// trust (names, attributes), so a body whose elements it finds wrongly cannot
// read as another: it is refused one way or the other.
std::size_t elementEnd(const String& body, MarkupScan& scan, std::size_t at) {
    std::size_t depth = 0;
    for (std::size_t i = at;;) {  // body[i] is '<'
        const char kind = body[i + 1];
        if (kind == '/') {
            i = scan.next(i + 2);
            if (depth == 0 || scan[i] != '>') return npos;
            ++i;
            if (--depth == 0) return i;
        } else if (kind == '!' || kind == '?') {
            Markup m = readOtherMarkup(body, i);
            if (depth == 0 || m.kind == Markup::Bad) return npos;
            i = m.end;
        } else {
            std::size_t j = scan.next(i + 1);
            for (char quote; (quote = scan[j]) == '"' || quote == '\'';) {
                // A quoted value, which may hold '>' and '/'.
                do j = scan.next(j + 1);
                while (scan[j] != quote && scan[j] != '\0');
                if (scan[j] == '\0') return npos;
                j = scan.next(j + 1);
            }
            if (scan[j] != '>') return npos;
            const bool empty = body[j - 1] == '/';
            i = j + 1;
            if (!empty) {
                ++depth;
            } else if (depth == 0) {
                return i;
            }
        }
        // The text up to the next markup.
        while ((i = scan.next(i)), scan[i] != '<') {
            if (scan[i] == '\0') return npos;
            ++i;
        }
    }
}

String elementList(std::initializer_list<std::string_view> names) {
    String out;
    std::size_t i = 0;
    for (auto n : names) {
        if (i) out += i + 1 == names.size() ? " or " : ", ";
        out += '<';
        out.append(n);
        out += '>';
        ++i;
    }
    return out;
}


Uint32 uint32Attribute(const Element& e, const char* name, Uint32 fallback) {
    auto text = e.optionalAttribute(name);
    if (!text) return fallback;
    try {
        return std::get<Uint32>(parseScalar(CIMType::Uint32, *text));
    } catch (const ParseError& err) {
        e.fail(String(name) + ": " + err.getMessage());
    }
}

CIMValue::Scalar scalarOf(const Element& value, CIMType type) {
    String scratch;
    std::string_view text = value.textView(scratch);
    try {
        return parseScalar(type, text);
    } catch (const ParseError& err) {
        value.fail(err.getMessage());
    }
}

template <class T>
CIMValue typedArray(const Elements& values, CIMType type) {
    Array<T> xs;
    xs.reserve(values.size());
    for (const auto& v : values) xs.push_back(std::get<T>(scalarOf(v, type)));
    return CIMValue(std::move(xs));
}

// An array of VALUE elements, none of them null. Going through a typed array
// rather than through makeArray keeps the peak memory of large arrays low.
CIMValue arrayWithoutNulls(const Elements& values, CIMType type) {
    switch (type) {
        case CIMType::Boolean: return typedArray<Boolean>(values, type);
        case CIMType::Uint8: return typedArray<Uint8>(values, type);
        case CIMType::Sint8: return typedArray<Sint8>(values, type);
        case CIMType::Uint16: return typedArray<Uint16>(values, type);
        case CIMType::Sint16: return typedArray<Sint16>(values, type);
        case CIMType::Uint32: return typedArray<Uint32>(values, type);
        case CIMType::Sint32: return typedArray<Sint32>(values, type);
        case CIMType::Uint64: return typedArray<Uint64>(values, type);
        case CIMType::Sint64: return typedArray<Sint64>(values, type);
        case CIMType::Real32: return typedArray<Real32>(values, type);
        case CIMType::Real64: return typedArray<Real64>(values, type);
        case CIMType::Char16: return typedArray<Char16>(values, type);
        case CIMType::String: return typedArray<String>(values, type);
        case CIMType::DateTime: return typedArray<CIMDateTime>(values, type);
        case CIMType::Reference: break;
    }
    throw ParseError("a reference array must be a VALUE.REFARRAY");
}

bool isIntegerOrReal(CIMType t) { return t >= CIMType::Uint8 && t <= CIMType::Real64; }

CIMKeyBinding readKeyValue(const String& name, const Element& kv) {
    String valueType = kv.optionalAttribute("VALUETYPE").value_or("string");
    auto type = kv.optionalTypeAttribute("TYPE");
    String text = kv.text();
    auto typeMismatch = [&]() {
        kv.fail(String("TYPE ") + cimTypeName(*type) + " does not suit VALUETYPE " + excerpt(valueType));
    };
    try {
        if (equalNoCase(valueType, "string")) {
            if (type) {
                if (*type != CIMType::String && *type != CIMType::Char16 && *type != CIMType::DateTime) typeMismatch();
                parseScalar(*type, text);
            }
            return CIMKeyBinding(name, text, CIMKeyBinding::STRING);
        }
        if (equalNoCase(valueType, "boolean")) {
            if (type && *type != CIMType::Boolean) typeMismatch();
            bool b = std::get<Boolean>(parseScalar(CIMType::Boolean, text));
            return CIMKeyBinding(name, b ? "TRUE" : "FALSE", CIMKeyBinding::BOOLEAN);
        }
        if (equalNoCase(valueType, "numeric")) {
            if (type) {
                if (!isIntegerOrReal(*type)) typeMismatch();
                parseScalar(*type, text);
            } else {
                checkNumericText(text);
            }
            return CIMKeyBinding(name, String(trimSpace(text)), CIMKeyBinding::NUMERIC);
        }
    } catch (const ParseError& err) {
        kv.fail(err.getMessage());
    }
    kv.fail("bad VALUETYPE " + excerpt(valueType));
}

void readNamespacePath(const Element& e, String& host, CIMNamespaceName& ns) {  // NAMESPACEPATH
    auto kids = e.expectChildren({"HOST", "LOCALNAMESPACEPATH"});
    host = String(trimSpace(kids[0].text()));
    if (host.empty()) kids[0].fail("empty HOST");
    for (char c : host)
        if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '"' || c == '\\')
            kids[0].fail("bad HOST " + excerpt(host));
    ns = readLocalNamespacePath(kids[1]);
}

CIMValue nullValue(CIMType type, bool isArray) { return CIMValue(type, isArray); }

// Reads a QUALIFIER, PROPERTY... or METHOD element into its list; a name the
// list has already (in any case) fails.
void readQualifierInto(const Element& k, NameSet& seen, QualifierList& list) {
    auto q = readQualifier(k);
    if (!seen.insert(q.getName().getString())) k.fail("duplicate qualifier " + q.getName().getString());
    list.addQualifier(std::move(q));
}

void readPropertyInto(const Element& k, NameSet& seen, PropertyList& list) {
    auto p = readProperty(k);
    if (!seen.insert(p.getName().getString())) k.fail("duplicate property " + p.getName().getString());
    list.addProperty(std::move(p));
}

CIMMethod readMethod(const Element& e);

void readMethodInto(const Element& k, NameSet& seen, CIMClass& cimClass) {
    auto m = readMethod(k);
    if (!seen.insert(m.getName().getString())) k.fail("duplicate method " + m.getName().getString());
    cimClass.addMethod(std::move(m));
}

CIMParameter readParameter(const Element& e) {
    String name = e.nameAttribute("NAME");
    CIMParameter parameter;
    if (e.is("PARAMETER")) {
        parameter = CIMParameter(name, e.typeAttribute("TYPE"));
    } else if (e.is("PARAMETER.ARRAY")) {
        parameter = CIMParameter(name, e.typeAttribute("TYPE"), true, uint32Attribute(e, "ARRAYSIZE", 0));
    } else if (e.is("PARAMETER.REFERENCE")) {
        parameter = CIMParameter(name, CIMType::Reference, false, 0, e.optionalNameAttribute("REFERENCECLASS"));
    } else {  // PARAMETER.REFARRAY
        parameter = CIMParameter(name, CIMType::Reference, true, uint32Attribute(e, "ARRAYSIZE", 0),
                                 e.optionalNameAttribute("REFERENCECLASS"));
    }
    NameSet seen;
    for (const auto& k : e.children()) {
        if (!k.is("QUALIFIER")) e.unexpected(k);
        readQualifierInto(k, seen, parameter);
    }
    return parameter;
}

bool isParameterElement(const Element& e) {
    return e.is("PARAMETER") || e.is("PARAMETER.ARRAY") || e.is("PARAMETER.REFERENCE") || e.is("PARAMETER.REFARRAY");
}

CIMMethod readMethod(const Element& e) {
    String name = e.nameAttribute("NAME");
    // TYPE may be left out; such a method is read as returning uint32, the usual return type.
    CIMType type = e.optionalTypeAttribute("TYPE").value_or(CIMType::Uint32);
    CIMMethod method(name, type, e.optionalNameAttribute("CLASSORIGIN"), e.flagAttribute("PROPAGATED", false));
    NameSet qualifiers, parameters;
    for (const auto& k : e.children()) {
        if (k.is("QUALIFIER")) {
            readQualifierInto(k, qualifiers, method);
        } else if (isParameterElement(k)) {
            auto p = readParameter(k);
            if (!parameters.insert(p.getName().getString())) k.fail("duplicate parameter " + p.getName().getString());
            method.addParameter(std::move(p));
        } else {
            e.unexpected(k);
        }
    }
    return method;
}

}  // namespace

// ---------------------------------------------------------------------------
// Element

void Element::fail(const String& what) const {
    String message = "CIM-XML: " + what + " (in <" + String(name()) + ">";
    auto offset = node_.offset_debug();
    if (offset >= 0) message += " at byte " + std::to_string(bufferOffset + static_cast<std::size_t>(offset));
    message += ")";
    throw ParseError(message);
}

void Element::unexpected(const Element& child) const {
    child.fail("unexpected element <" + String(child.name()) + "> in <" + String(name()) + ">");
}

Element::Attribute Element::find(const char* attributeName) const {
    Attribute found{pugi::xml_attribute(), attributeName};
    findAll(&found, 1);
    return found;
}

void Element::findAll(Attribute* wanted, std::size_t count) const {
    for (auto a = node_.first_attribute(); a; a = a.next_attribute()) {
        const char* name = a.name();
        for (std::size_t i = 0; i < count; ++i) {
            if (std::strcmp(name, wanted[i].name) != 0) continue;
            if (wanted[i].node) fail(String("duplicate attribute ") + name);
            wanted[i].node = a;
            break;
        }
    }
}

std::optional<std::string_view> Element::attributeView(const Attribute& a, String& scratch) const {
    if (!a.node) return std::nullopt;
    std::string_view raw = a.node.value();
    if (raw.find('&') == std::string_view::npos) return raw;
    try {
        scratch = decodeReferences(raw);
    } catch (const ParseError& err) {
        fail(String("attribute ") + a.name + ": " + err.getMessage());
    }
    return std::string_view(scratch);
}

bool Element::attributeText(const Attribute& a, String& out) const {
    String scratch;
    auto value = attributeView(a, scratch);
    if (!value) return false;
    if (value->data() == scratch.data()) out = std::move(scratch);
    else out.assign(*value);
    return true;
}

std::optional<String> Element::optionalAttribute(const Attribute& a) const {
    std::optional<String> out(std::in_place);
    if (!attributeText(a, *out)) out.reset();
    return out;
}

String Element::attribute(const Attribute& a) const {
    String out;
    if (!attributeText(a, out)) fail(String("missing attribute ") + a.name);
    return out;
}

String Element::nameAttribute(const Attribute& a) const {
    String out = attribute(a);
    if (!isCimName(out)) fail(String("bad ") + a.name + " " + excerpt(out) + ": not a CIM name");
    return out;
}

String Element::optionalNameAttribute(const Attribute& a) const {
    String out;
    if (attributeText(a, out) && !isCimName(out))
        fail(String("bad ") + a.name + " " + excerpt(out) + ": not a CIM name");
    return out;
}

bool Element::flagAttribute(const Attribute& a, bool fallback) const {
    String scratch;
    auto value = attributeView(a, scratch);
    if (!value) return fallback;
    if (equalNoCase(*value, "true")) return true;
    if (equalNoCase(*value, "false")) return false;
    fail(String("attribute ") + a.name + " must be true or false, not " + excerpt(*value));
}

std::optional<CIMType> Element::optionalTypeAttribute(const Attribute& a) const {
    String scratch;
    auto value = attributeView(a, scratch);
    if (!value) return std::nullopt;
    auto type = cimTypeFromName(*value);
    if (!type) fail(String("unknown ") + a.name + " " + excerpt(*value));
    return type;
}

CIMType Element::typeAttribute(const Attribute& a) const {
    auto type = optionalTypeAttribute(a);
    if (!type) fail(String("missing attribute ") + a.name);
    return *type;
}

Elements Element::children() const {
    Elements out;
    if (!isBlank(node_.value())) fail("unexpected text " + excerpt(trimSpace(node_.value())));
    for (auto c = node_.first_child(); c; c = c.next_sibling()) {
        switch (c.type()) {
            case pugi::node_element: out.emplace_back(c); break;
            case pugi::node_pcdata:
            case pugi::node_cdata:
                if (!isBlank(c.value())) fail("unexpected text " + excerpt(trimSpace(c.value())));
                break;
            default: break;
        }
    }
    return out;
}

Elements Element::expectChildren(std::initializer_list<std::string_view> names) const {
    auto kids = children();
    std::size_t i = 0;
    for (auto n : names) {
        if (i >= kids.size()) fail("missing <" + String(n) + ">");
        if (!kids[i].is(n)) kids[i].fail("expected <" + String(n) + ">, found <" + String(kids[i].name()) + ">");
        ++i;
    }
    if (kids.size() > names.size()) unexpected(kids[names.size()]);
    return kids;
}

Element Element::onlyChild(std::initializer_list<std::string_view> names) const {
    auto kids = children();
    if (kids.empty()) fail("missing " + elementList(names));
    if (kids.size() > 1) unexpected(kids[1]);
    for (auto n : names)
        if (kids[0].is(n)) return kids[0];
    kids[0].fail("expected " + elementList(names) + ", found <" + String(kids[0].name()) + ">");
}

String Element::text() const {
    String out;
    // Text that comes first is kept in the element itself.
    try {
        out = decodeReferences(node_.value());
    } catch (const ParseError& err) {
        fail(err.getMessage());
    }
    for (auto c = node_.first_child(); c; c = c.next_sibling()) {
        switch (c.type()) {
            case pugi::node_element:
                Element(c).fail("unexpected element <" + String(c.name()) + "> in the text of <" + String(name()) + ">");
            case pugi::node_pcdata:
                try {
                    out += decodeReferences(c.value());
                } catch (const ParseError& err) {
                    fail(err.getMessage());
                }
                break;
            case pugi::node_cdata: out += c.value(); break;
            default: break;
        }
    }
    return out;
}

std::string_view Element::textView(String& scratch) const {
    std::string_view own = node_.value();
    if (!node_.first_child() && own.find('&') == std::string_view::npos) return own;
    scratch = text();
    return scratch;
}

void Element::expectEmpty() const {
    auto kids = children();
    if (!kids.empty()) unexpected(kids[0]);
}

// ---------------------------------------------------------------------------
// Document

Document::Document(String&& text) : text_(std::move(text)), doc_(std::make_unique<pugi::xml_document>()) {
    std::string_view body = text_;
    if (isBlank(body)) throw ParseError("CIM-XML: empty document");
    if (auto nul = body.find('\0'); nul != std::string_view::npos)
        throw ParseError("CIM-XML: NUL byte at byte " + std::to_string(nul));
    // The String's terminating NUL is parsed with it: pugixml takes the last
    // byte of the buffer as its own end mark, and a fragment's text that
    // ends on it would lose that byte ("</CIM>x" would read as "</CIM>").
    parseInPlace(*doc_, text_.data(), text_.size() + 1, 0);
    bool first = true;
    for (auto n = doc_->first_child(); n; n = n.next_sibling(), first = false) {
        auto where = [&n]() { return " at byte " + std::to_string(n.offset_debug()); };
        switch (n.type()) {
            case pugi::node_declaration: {
                if (!first) throw ParseError("CIM-XML: XML declaration after the start of the document" + where());
                auto encoding = n.attribute("encoding");
                if (encoding && !equalNoCase(encoding.value(), "utf-8") && !equalNoCase(encoding.value(), "utf8"))
                    throw ParseError("CIM-XML: unsupported encoding " + excerpt(encoding.value()) + where());
                break;
            }
            case pugi::node_doctype:
                if (std::string_view(n.value()).find('[') != std::string_view::npos)
                    throw ParseError("CIM-XML: internal DTD subsets (entity declarations) are not accepted" + where());
                break;
            case pugi::node_pcdata:
            case pugi::node_cdata:
                if (!isBlank(n.value())) throw ParseError("CIM-XML: text outside the document element" + where());
                break;
            case pugi::node_element:
                if (root_) throw ParseError("CIM-XML: second document element <" + String(n.name()) + ">" + where());
                root_ = n;
                break;
            default: break;
        }
    }
    if (!root_) throw ParseError("CIM-XML: no document element");
    if (std::string_view(root_.name()) != "CIM")
        Element(root_).fail("expected <CIM> as the document element, found <" + String(root_.name()) + ">");
}

// ---------------------------------------------------------------------------
// Lists

std::optional<ListSpan> findList(const String& body, std::initializer_list<std::string_view> path) {
    if (body.find('\0') != String::npos) return std::nullopt;
    std::size_t i = 0;
    // The prolog and the path's start tags.
    for (auto step = path.begin(); step != path.end();) {
        i = skipSpace(body, i);
        if (i >= body.size() || body[i] != '<') return std::nullopt;
        Markup m = readMarkup(body, i);
        if (m.kind == Markup::Start && m.name == *step) {
            ++step;
        } else if (m.kind != Markup::Other) {
            return std::nullopt;
        }
        i = m.end;
    }
    // The list.
    ListSpan list;
    list.begin = skipSpace(body, i);
    MarkupScan scan(body);
    for (i = list.begin; i + 1 < body.size() && body[i] == '<' && body[i + 1] != '/';) {
        std::size_t end = elementEnd(body, scan, i);
        if (end == npos) return std::nullopt;
        list.ends.push_back(end);
        i = skipSpace(body, end);
    }
    if (list.ends.empty()) return std::nullopt;
    list.end = list.ends.back();
    // The path's end tags, and nothing else.
    for (auto step = std::rbegin(path); step != std::rend(path); ++step) {
        i = skipSpace(body, i);
        if (i >= body.size() || body[i] != '<') return std::nullopt;
        Markup m = readMarkup(body, i);
        if (m.kind != Markup::End || m.name != *step) return std::nullopt;
        i = m.end;
    }
    if (skipSpace(body, i) != body.size()) return std::nullopt;
    return list;
}

ListReader::ListReader(String& body, const ListSpan& list) : body_(body), list_(list), at_(list.begin) {}

ListReader::~ListReader() { bufferOffset = 0; }

std::optional<Element> ListReader::next() {
    if (next_ >= list_.ends.size()) return std::nullopt;
    const std::size_t begin = at_, end = list_.ends[next_++];
    at_ = skipSpace(body_, end);
    bufferOffset = 0;
    parseInPlace(doc_, body_.data() + begin, end - begin, begin);
    bufferOffset = begin;
    pugi::xml_node node = doc_.first_child();
    if (node.type() != pugi::node_element || node.next_sibling())
        throw ParseError("CIM-XML: not one element at byte " + std::to_string(begin));
    return Element(node);
}

// ---------------------------------------------------------------------------
// Names and paths

CIMNamespaceName readLocalNamespacePath(const Element& e) {
    auto kids = e.children();
    if (kids.empty()) e.fail("missing <NAMESPACE>");
    String ns;
    for (const auto& k : kids) {
        if (!k.is("NAMESPACE")) e.unexpected(k);
        k.expectEmpty();
        String part = k.attribute("NAME");
        // Parts are names, and '-' is common in them; what would break the
        // path text form (':', '.', '/', quotes, blanks) is refused.
        for (char c : part) {
            bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                      c == '-' || static_cast<unsigned char>(c) >= 0x80;
            if (!ok) k.fail("bad namespace name " + excerpt(part));
        }
        if (part.empty()) k.fail("empty namespace name");
        if (!ns.empty()) ns += '/';
        ns += part;
    }
    return CIMNamespaceName(ns);
}

CIMName readClassName(const Element& e) {
    e.expectEmpty();
    return CIMName(e.nameAttribute("NAME"));
}

CIMObjectPath readInstanceName(const Element& e, int depth) {
    CIMObjectPath path;
    path.setClassName(e.nameAttribute("CLASSNAME"));
    Array<CIMKeyBinding> keys;
    NameSet seen;
    for (const auto& k : e.children()) {
        if (k.is("KEYVALUE") || k.is("VALUE.REFERENCE")) k.fail("a key without a KEYBINDING name is not supported");
        if (!k.is("KEYBINDING")) e.unexpected(k);
        String name = k.nameAttribute("NAME");
        if (!seen.insert(name)) k.fail("duplicate key " + excerpt(name));
        Element v = k.onlyChild({"KEYVALUE", "VALUE.REFERENCE"});
        if (v.is("KEYVALUE")) {
            keys.push_back(readKeyValue(name, v));
        } else {
            if (depth >= kMaxReferenceDepth) v.fail("references nested too deeply in key bindings");
            keys.emplace_back(name, readReference(v, depth + 1).toString(), CIMKeyBinding::REFERENCE);
        }
    }
    path.setKeyBindings(keys);
    return path;
}

CIMObjectPath readLocalInstancePath(const Element& e, int depth) {
    auto kids = e.expectChildren({"LOCALNAMESPACEPATH", "INSTANCENAME"});
    auto ns = readLocalNamespacePath(kids[0]);
    CIMObjectPath path = readInstanceName(kids[1], depth);
    path.setNameSpace(ns);
    return path;
}

CIMObjectPath readReference(const Element& e, int depth) {
    Element target =
        e.onlyChild({"INSTANCEPATH", "LOCALINSTANCEPATH", "INSTANCENAME", "CLASSPATH", "LOCALCLASSPATH", "CLASSNAME"});
    String host;
    CIMNamespaceName ns;
    CIMObjectPath path;
    if (target.is("INSTANCEPATH")) {
        auto kids = target.expectChildren({"NAMESPACEPATH", "INSTANCENAME"});
        readNamespacePath(kids[0], host, ns);
        path = readInstanceName(kids[1], depth);
    } else if (target.is("LOCALINSTANCEPATH")) {
        return readLocalInstancePath(target, depth);
    } else if (target.is("INSTANCENAME")) {
        return readInstanceName(target, depth);
    } else if (target.is("CLASSPATH")) {
        auto kids = target.expectChildren({"NAMESPACEPATH", "CLASSNAME"});
        readNamespacePath(kids[0], host, ns);
        path.setClassName(readClassName(kids[1]));
    } else if (target.is("LOCALCLASSPATH")) {
        auto kids = target.expectChildren({"LOCALNAMESPACEPATH", "CLASSNAME"});
        ns = readLocalNamespacePath(kids[0]);
        path.setClassName(readClassName(kids[1]));
    } else {
        path.setClassName(readClassName(target));
    }
    path.setHost(host);
    path.setNameSpace(ns);
    return path;
}

// ---------------------------------------------------------------------------
// Values

bool isValueElement(const Element& e) {
    return e.is("VALUE") || e.is("VALUE.ARRAY") || e.is("VALUE.REFERENCE") || e.is("VALUE.REFARRAY");
}

CIMValue readValue(const Element& e, CIMType type) {
    const bool reference = type == CIMType::Reference;
    if (e.is("VALUE") || e.is("VALUE.ARRAY")) {
        if (reference) e.fail("a reference value must be a VALUE.REFERENCE or VALUE.REFARRAY");
        if (e.is("VALUE")) return CIMValue(scalarOf(e, type));
        auto kids = e.children();
        bool hasNull = false;
        for (const auto& k : kids) {
            if (k.is("VALUE.NULL")) hasNull = true;
            else if (!k.is("VALUE")) e.unexpected(k);
        }
        if (!hasNull) return arrayWithoutNulls(kids, type);
        std::vector<std::optional<CIMValue::Scalar>> elements;
        elements.reserve(kids.size());
        for (const auto& k : kids) {
            if (k.is("VALUE")) {
                elements.emplace_back(scalarOf(k, type));
            } else if (k.is("VALUE.NULL")) {
                k.expectEmpty();
                elements.emplace_back(std::nullopt);
            } else {
                e.unexpected(k);
            }
        }
        return CIMValue::makeArray(type, std::move(elements));
    }
    if (e.is("VALUE.REFERENCE") || e.is("VALUE.REFARRAY")) {
        if (!reference) e.fail(String("<") + String(e.name()) + "> for a value of type " + cimTypeName(type));
        if (e.is("VALUE.REFERENCE")) return CIMValue(readReference(e));
        auto kids = e.children();
        std::vector<std::optional<CIMValue::Scalar>> elements;
        elements.reserve(kids.size());
        for (const auto& k : kids) {
            if (k.is("VALUE.REFERENCE")) {
                elements.emplace_back(readReference(k));
            } else if (k.is("VALUE.NULL")) {
                k.expectEmpty();
                elements.emplace_back(std::nullopt);
            } else {
                e.unexpected(k);
            }
        }
        return CIMValue::makeArray(type, std::move(elements));
    }
    e.fail("not a value element");
}

// ---------------------------------------------------------------------------
// Qualifiers, properties, instances, classes

CIMQualifier readQualifier(const Element& e) {
    static constexpr const char* names[] = {"NAME",       "TYPE",       "PROPAGATED",  "OVERRIDABLE",
                                            "TOSUBCLASS", "TOINSTANCE", "TRANSLATABLE"};
    auto a = e.find(names);
    String name = e.nameAttribute(a[0]);
    CIMType type = e.typeAttribute(a[1]);
    bool propagated = e.flagAttribute(a[2], false);
    CIMFlavor flavor;
    flavor.overridable = e.flagAttribute(a[3], true);
    flavor.toSubclass = e.flagAttribute(a[4], true);
    flavor.toInstance = e.flagAttribute(a[5], false);
    flavor.translatable = e.flagAttribute(a[6], false);
    auto kids = e.children();
    CIMValue value = nullValue(type, false);
    if (!kids.empty()) {
        if (kids.size() > 1) e.unexpected(kids[1]);
        if (!kids[0].is("VALUE") && !kids[0].is("VALUE.ARRAY")) e.unexpected(kids[0]);
        value = readValue(kids[0], type);
    }
    return CIMQualifier(std::move(name), std::move(value), flavor, propagated);
}

bool isPropertyElement(const Element& e) {
    return e.is("PROPERTY") || e.is("PROPERTY.ARRAY") || e.is("PROPERTY.REFERENCE");
}

namespace {

// Room to make for the properties of an instance or class: as many as its
// property elements, up to a bound, so that an answer of empty elements
// cannot make the reader set aside far more memory than it has bytes.
std::size_t propertyRoom(const Elements& kids) {
    constexpr std::ptrdiff_t kMaxRoom = 256;
    return std::size_t(std::min(std::count_if(kids.begin(), kids.end(), isPropertyElement), kMaxRoom));
}

}  // namespace

CIMProperty readProperty(const Element& e) {
    static constexpr const char* names[] = {"NAME", "CLASSORIGIN", "PROPAGATED", "TYPE", "REFERENCECLASS"};
    auto a = e.find(names);
    String name = e.nameAttribute(a[0]);
    CIMName classOrigin(e.optionalNameAttribute(a[1]));
    bool propagated = e.flagAttribute(a[2], false);
    CIMType type = CIMType::Reference;
    bool isArray = false;
    Uint32 arraySize = 0;
    CIMName referenceClass;
    if (e.is("PROPERTY")) {
        type = e.typeAttribute(a[3]);
    } else if (e.is("PROPERTY.ARRAY")) {
        type = e.typeAttribute(a[3]);
        isArray = true;
        arraySize = uint32Attribute(e, "ARRAYSIZE", 0);
        if (type == CIMType::Reference) referenceClass = CIMName(e.optionalNameAttribute(a[4]));
    } else {  // PROPERTY.REFERENCE
        referenceClass = CIMName(e.optionalNameAttribute(a[4]));
    }
    CIMProperty property(std::move(name), nullValue(type, isArray), arraySize, std::move(referenceClass),
                         std::move(classOrigin), propagated);
    bool hasValue = false;
    NameSet seen;
    for (const auto& k : e.children()) {
        if (k.is("QUALIFIER")) {
            readQualifierInto(k, seen, property);
        } else if (isValueElement(k)) {
            if (hasValue) e.unexpected(k);
            bool arrayElement = k.is("VALUE.ARRAY") || k.is("VALUE.REFARRAY");
            if (arrayElement != isArray)
                k.fail(String(isArray ? "a scalar value" : "an array value") + " in <" + String(e.name()) + ">");
            property.setValue(readValue(k, type));
            hasValue = true;
        } else {
            e.unexpected(k);
        }
    }
    return property;
}

CIMInstance readInstance(const Element& e) {
    CIMInstance instance(CIMName(e.nameAttribute("CLASSNAME")));
    NameSet qualifiers, properties;
    auto kids = e.children();
    instance.reserveProperties(propertyRoom(kids));
    for (const auto& k : kids) {
        if (k.is("QUALIFIER")) {
            readQualifierInto(k, qualifiers, instance);
        } else if (isPropertyElement(k)) {
            readPropertyInto(k, properties, instance);
        } else {
            e.unexpected(k);
        }
    }
    return instance;
}

CIMClass readClass(const Element& e) {
    CIMClass cimClass(CIMName(e.nameAttribute("NAME")), CIMName(e.optionalNameAttribute("SUPERCLASS")));
    NameSet qualifiers, properties, methods;
    auto kids = e.children();
    cimClass.reserveProperties(propertyRoom(kids));
    for (const auto& k : kids) {
        if (k.is("QUALIFIER")) {
            readQualifierInto(k, qualifiers, cimClass);
        } else if (isPropertyElement(k)) {
            readPropertyInto(k, properties, cimClass);
        } else if (k.is("METHOD")) {
            readMethodInto(k, methods, cimClass);
        } else {
            e.unexpected(k);
        }
    }
    return cimClass;
}

}  // namespace cim::xml::detail
