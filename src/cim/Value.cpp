#include "cim/Value.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <ostream>

namespace cim {

namespace {
char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
}  // namespace

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

std::string lowerCase(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = asciiLower(c);
    return out;
}

namespace {

constexpr std::string_view kTypeNames[] = {"boolean", "uint8",  "sint8",  "uint16", "sint16",
                                           "uint32",  "sint32", "uint64", "sint64", "real32",
                                           "real64",  "char16", "string", "datetime", "reference"};

bool isIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool isIdentChar(char c) { return isIdentStart(c) || (c >= '0' && c <= '9'); }

// A numeric key text: an optional sign, then decimal digits, or 0x and hex digits,
// or a real number. Numeric keys compare by value, so "007" equals "7".
bool isNumericText(std::string_view s) {
    if (s.empty()) return false;
    std::size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
    if (i >= s.size()) return false;
    bool digit = false, dot = false, exp = false;
    if (s.size() > i + 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        for (std::size_t j = i + 2; j < s.size(); ++j)
            if (!std::isxdigit(static_cast<unsigned char>(s[j]))) return false;
        return true;
    }
    for (; i < s.size(); ++i) {
        char c = s[i];
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c == '.' && !dot && !exp) {
            dot = true;
        } else if ((c == 'e' || c == 'E') && digit && !exp) {
            exp = true;
            digit = false;
            if (i + 1 < s.size() && (s[i + 1] == '-' || s[i + 1] == '+')) ++i;
        } else {
            return false;
        }
    }
    return digit;
}

bool numericKeysEqual(const String& a, const String& b) {
    if (a == b) return true;
    double x = 0, y = 0;
    if (std::sscanf(a.c_str(), "%lf", &x) != 1 || std::sscanf(b.c_str(), "%lf", &y) != 1) return false;
    // Integers beyond 2^53 lose precision as doubles; compare their texts without leading zeros.
    auto strip = [](const String& s) {
        std::size_t i = 0;
        while (i + 1 < s.size() && s[i] == '0') ++i;
        return s.substr(i);
    };
    if (a.find_first_of(".eExX") == String::npos && b.find_first_of(".eExX") == String::npos)
        return strip(a) == strip(b);
    return x == y;
}

String quoteKeyValue(const String& value) {
    String out = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

class PathParser {
public:
    explicit PathParser(std::string_view text) : s_(text) {}

    CIMObjectPath parse() {
        CIMObjectPath path;
        std::size_t pos = 0;
        if (s_.substr(0, 2) == "//") {
            std::size_t slash = s_.find('/', 2);
            if (slash == std::string_view::npos) fail("host without namespace");
            path.setHost(String(s_.substr(2, slash - 2)));
            pos = slash + 1;
            std::size_t colon = s_.find(':', pos);
            if (colon == std::string_view::npos) fail("namespace without class");
            path.setNameSpace(String(s_.substr(pos, colon - pos)));
            pos = colon + 1;
        } else {
            // A namespace prefix ends at a ':' that comes before the first '.' or '='.
            std::size_t colon = s_.find(':');
            std::size_t stop = s_.find_first_of(".=\"");
            if (colon != std::string_view::npos && (stop == std::string_view::npos || colon < stop)) {
                path.setNameSpace(String(s_.substr(0, colon)));
                pos = colon + 1;
            }
        }
        std::size_t start = pos;
        if (pos >= s_.size() || !isIdentStart(s_[pos])) fail("missing class name");
        while (pos < s_.size() && isIdentChar(s_[pos])) ++pos;
        path.setClassName(String(s_.substr(start, pos - start)));
        if (pos == s_.size()) return path;
        if (s_[pos] != '.') fail("unexpected character after the class name");
        ++pos;
        Array<CIMKeyBinding> keys;
        for (;;) {
            start = pos;
            if (pos >= s_.size() || !isIdentStart(s_[pos])) fail("missing key name");
            while (pos < s_.size() && isIdentChar(s_[pos])) ++pos;
            String name(s_.substr(start, pos - start));
            if (pos >= s_.size() || s_[pos] != '=') fail("missing '=' after key " + name);
            ++pos;
            if (pos < s_.size() && s_[pos] == '"') {
                ++pos;
                String value;
                bool closed = false;
                while (pos < s_.size()) {
                    char c = s_[pos++];
                    if (c == '\\' && pos < s_.size()) {
                        value += s_[pos++];
                    } else if (c == '"') {
                        closed = true;
                        break;
                    } else {
                        value += c;
                    }
                }
                if (!closed) fail("unterminated quoted value of key " + name);
                keys.emplace_back(name, value, looksLikeReference(value) ? CIMKeyBinding::REFERENCE
                                                                         : CIMKeyBinding::STRING);
            } else {
                start = pos;
                while (pos < s_.size() && s_[pos] != ',') ++pos;
                String value(s_.substr(start, pos - start));
                if (equalNoCase(value, "TRUE") || equalNoCase(value, "FALSE")) {
                    for (auto& c : value) c = char(std::toupper(static_cast<unsigned char>(c)));
                    keys.emplace_back(name, value, CIMKeyBinding::BOOLEAN);
                } else if (isNumericText(value)) {
                    keys.emplace_back(name, value, CIMKeyBinding::NUMERIC);
                } else {
                    fail("bad value of key " + name);
                }
            }
            if (pos == s_.size()) break;
            if (s_[pos] != ',') fail("unexpected character after the value of key " + name);
            ++pos;
        }
        path.setKeyBindings(keys);
        return path;
    }

private:
    // A quoted key value is a reference when it is itself a path with keys.
    static bool looksLikeReference(const String& value) {
        if (value.find('=') == String::npos || value.find('.') == String::npos) return false;
        try {
            return !PathParser(value).parse().getKeyBindings().empty();
        } catch (const ParseError&) {
            return false;
        }
    }

    [[noreturn]] void fail(const String& why) const {
        throw ParseError("Invalid object path \"" + String(s_) + "\": " + why);
    }

    std::string_view s_;
};

template <class T>
String integerText(T x) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, x);
    return String(buf, r.ptr);
}

String realText(double x) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", x);
    return buf;
}

String char16Text(Char16 c) {
    // UTF-8 of the code unit (a lone surrogate becomes U+FFFD).
    unsigned u = c.code;
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
    String out;
    if (u < 0x80) {
        out += char(u);
    } else if (u < 0x800) {
        out += char(0xC0 | (u >> 6));
        out += char(0x80 | (u & 0x3F));
    } else {
        out += char(0xE0 | (u >> 12));
        out += char(0x80 | ((u >> 6) & 0x3F));
        out += char(0x80 | (u & 0x3F));
    }
    return out;
}

}  // namespace

const char* cimTypeName(CIMType type) {
    auto i = std::size_t(type);
    return i < std::size(kTypeNames) ? kTypeNames[i].data() : "unknown";
}

std::optional<CIMType> cimTypeFromName(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kTypeNames); ++i)  // as written on the wire, nearly always
        if (name == kTypeNames[i]) return CIMType(i);
    for (std::size_t i = 0; i < std::size(kTypeNames); ++i)
        if (equalNoCase(name, kTypeNames[i])) return CIMType(i);
    return std::nullopt;
}

bool CIMName::equal(const CIMName& other) const { return equalNoCase(name_, other.name_); }

bool operator==(const CIMNamespaceName& a, const CIMNamespaceName& b) {
    return equalNoCase(a.name_, b.name_);
}

CIMKeyBinding::CIMKeyBinding(const CIMName& name, const CIMValue& value) : name_(name) {
    if (value.isNull() || value.isArray()) throw TypeMismatchException("A key binding needs a non-null scalar value");
    switch (value.getType()) {
        case CIMType::Boolean: type_ = BOOLEAN; break;
        case CIMType::Reference: type_ = REFERENCE; break;
        case CIMType::String:
        case CIMType::Char16:
        case CIMType::DateTime: type_ = STRING; break;
        default: type_ = NUMERIC; break;
    }
    value_ = value.toString();
}

bool operator==(const CIMKeyBinding& a, const CIMKeyBinding& b) {
    if (!(a.name_ == b.name_) || a.type_ != b.type_) return false;
    switch (a.type_) {
        case CIMKeyBinding::NUMERIC: return numericKeysEqual(a.value_, b.value_);
        case CIMKeyBinding::BOOLEAN: return equalNoCase(a.value_, b.value_);
        case CIMKeyBinding::REFERENCE:
            try {
                return CIMObjectPath(a.value_) == CIMObjectPath(b.value_);
            } catch (const ParseError&) {
                return a.value_ == b.value_;
            }
        case CIMKeyBinding::STRING: break;
    }
    return a.value_ == b.value_;
}

CIMObjectPath::CIMObjectPath(const String& text) { *this = PathParser(text).parse(); }

String CIMObjectPath::toString() const {
    String out;
    if (!host_.empty()) out += "//" + host_ + "/";
    if (!nameSpace_.isNull()) out += nameSpace_.getString() + ":";
    out += className_.getString();
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        const auto& k = keys_[i];
        out += i == 0 ? '.' : ',';
        out += k.getName().getString() + "=";
        if (k.getType() == CIMKeyBinding::STRING || k.getType() == CIMKeyBinding::REFERENCE)
            out += quoteKeyValue(k.getValue());
        else
            out += k.getValue();
    }
    return out;
}

bool operator==(const CIMObjectPath& a, const CIMObjectPath& b) {
    if (!equalNoCase(a.host_, b.host_) || !(a.nameSpace_ == b.nameSpace_) || !(a.className_ == b.className_) ||
        a.keys_.size() != b.keys_.size())
        return false;
    for (const auto& k : a.keys_)
        if (std::find(b.keys_.begin(), b.keys_.end(), k) == b.keys_.end()) return false;
    return true;
}

CIMValue::Elements CIMValue::emptyElements(CIMType type) {
    Elements elements;
    // The alternatives of Elements are in the order of CIMType.
    auto pick = [&elements]<std::size_t... I>(std::size_t index, std::index_sequence<I...>) {
        ((index == I ? (void)elements.emplace<I>() : (void)0), ...);
    };
    pick(static_cast<std::size_t>(type), std::make_index_sequence<std::variant_size_v<Elements>>());
    return elements;
}

CIMValue::CIMValue(CIMType type, bool isArray, Uint32 arraySize)
    : type_(type), isArray_(isArray), isNull_(true), elements_(emptyElements(type)) {
    if (isArray && arraySize > 0) {
        // An array of arraySize null elements: a non-null array value.
        isNull_ = false;
        std::visit([arraySize](auto& xs) { xs.resize(arraySize); }, elements_);
        elementNull_ = std::make_shared<const std::vector<bool>>(arraySize, true);
    }
}

CIMValue::CIMValue(const Scalar& scalar) : CIMValue(Scalar(scalar)) {}

CIMValue::CIMValue(Scalar&& scalar) : type_(CIMType(scalar.index())), isArray_(false), isNull_(false) {
    std::visit(
        [this](auto& x) {
            using T = std::decay_t<decltype(x)>;
            Array<T> one;
            one.reserve(1);
            one.push_back(std::move(x));
            elements_ = std::move(one);
        },
        scalar);
}

CIMValue CIMValue::makeArray(CIMType type, std::vector<std::optional<Scalar>> elements) {
    CIMValue v(type, true);
    v.isNull_ = false;
    bool anyNull = false;
    std::vector<bool> nulls;
    std::visit(
        [&](auto& xs) {
            using T = typename std::decay_t<decltype(xs)>::value_type;
            xs.reserve(elements.size());
            nulls.reserve(elements.size());
            for (auto& e : elements) {
                if (e && CIMType(e->index()) != type)
                    throw TypeMismatchException(String("Array element of type ") + cimTypeName(CIMType(e->index())) +
                                                " in an array of " + cimTypeName(type));
                anyNull = anyNull || !e;
                nulls.push_back(!e);
                xs.push_back(e ? std::move(std::get<T>(*e)) : T());
            }
        },
        v.elements_);
    if (anyNull) v.elementNull_ = std::make_shared<const std::vector<bool>>(std::move(nulls));
    return v;
}

Uint32 CIMValue::elementCount() const {
    return Uint32(std::visit([](const auto& xs) { return xs.size(); }, elements_));
}

bool CIMValue::isElementNull(Uint32 index) const {
    if (!isArray_ || index >= elementCount())
        throw IndexOutOfBoundsException("Array index " + integerText(index) + " out of bounds");
    return elementNull_ && (*elementNull_)[index];
}

CIMValue CIMValue::getElement(Uint32 index) const {
    if (isElementNull(index)) return CIMValue(type_, false);
    return std::visit(
        [index](const auto& xs) {
            using T = typename std::decay_t<decltype(xs)>::value_type;
            return CIMValue(Scalar(T(xs[index])));
        },
        elements_);
}

CIMValue::Scalar CIMValue::getScalar() const {
    if (isNull_ || isArray_) throw TypeMismatchException("Not a non-null scalar value");
    return std::visit(
        [](const auto& xs) {
            using T = typename std::decay_t<decltype(xs)>::value_type;
            return Scalar(T(xs.front()));
        },
        elements_);
}

void CIMValue::checkRead(CIMType type, bool array) const {
    if (isNull_) throw TypeMismatchException("Cannot read a null value");
    if (type != type_ || array != isArray_)
        throw TypeMismatchException(String("Type mismatch: value is ") + cimTypeName(type_) + (isArray_ ? "[]" : "") +
                                    ", read as " + cimTypeName(type) + (array ? "[]" : ""));
}

String scalarToString(const CIMValue::Scalar& scalar) {
    return std::visit(
        [](const auto& x) -> String {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, Boolean>) {
                return x ? "TRUE" : "FALSE";
            } else if constexpr (std::is_same_v<T, Uint8> || std::is_same_v<T, Uint16> ||
                                 std::is_same_v<T, Uint32> || std::is_same_v<T, Uint64>) {
                return integerText(x);
            } else if constexpr (std::is_same_v<T, Sint8> || std::is_same_v<T, Sint16> ||
                                 std::is_same_v<T, Sint32> || std::is_same_v<T, Sint64>) {
                return integerText(x);
            } else if constexpr (std::is_same_v<T, Real32> || std::is_same_v<T, Real64>) {
                return realText(double(x));
            } else if constexpr (std::is_same_v<T, Char16>) {
                return char16Text(x);
            } else if constexpr (std::is_same_v<T, String>) {
                return x;
            } else if constexpr (std::is_same_v<T, CIMDateTime>) {
                return x.toString();
            } else {
                return x.toString();
            }
        },
        scalar);
}

String CIMValue::toString() const {
    if (isNull_) return String();
    if (!isArray_) return scalarToString(getScalar());
    String out;
    std::visit(
        [this, &out](const auto& xs) {
            using T = typename std::decay_t<decltype(xs)>::value_type;
            for (std::size_t i = 0; i < xs.size(); ++i) {
                if (i) out += ' ';
                if (!elementNull_ || !(*elementNull_)[i]) out += scalarToString(Scalar(T(xs[i])));
            }
        },
        elements_);
    return out;
}

bool operator==(const CIMValue& a, const CIMValue& b) {
    if (a.type_ != b.type_ || a.isArray_ != b.isArray_ || a.isNull_ != b.isNull_) return false;
    auto sameNulls = [](const auto& x, const auto& y) { return x && y ? *x == *y : !x && !y; };
    return a.isNull_ || (a.elements_ == b.elements_ && sameNulls(a.elementNull_, b.elementNull_));
}

std::ostream& operator<<(std::ostream& os, const CIMName& name) { return os << name.getString(); }

std::ostream& operator<<(std::ostream& os, const CIMObjectPath& path) { return os << path.toString(); }

std::ostream& operator<<(std::ostream& os, const CIMValue& value) {
    os << cimTypeName(value.getType()) << (value.isArray() ? "[]" : "") << ' ';
    if (value.isNull()) return os << "null";
    auto show = [&os, &value](const CIMValue::Scalar& s) {
        if (value.getType() == CIMType::String || value.getType() == CIMType::Reference)
            os << '"' << scalarToString(s) << '"';
        else
            os << scalarToString(s);
    };
    if (!value.isArray()) {
        show(value.getScalar());
        return os;
    }
    os << '{';
    for (Uint32 i = 0; i < value.getArraySize(); ++i) {
        if (i) os << ", ";
        if (value.isElementNull(i))
            os << "null";
        else
            show(value.getElement(i).getScalar());
    }
    return os << '}';
}

}  // namespace cim
