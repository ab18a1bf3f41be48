#include "cim/XmlText.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <type_traits>

namespace cim::xml::detail {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

void appendUtf8(String& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

void appendDecimal(String& out, std::uint64_t x) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, x);
    out.append(buf, r.ptr);
}

// Decodes one UTF-8 sequence at the start of s: its length, or 0 when the
// bytes are not a well-formed sequence. Surrogate codes are let through in
// their three-byte form, as character references to them decode that way.
std::size_t decodeUtf8(std::string_view s, std::uint32_t& cp) {
    if (s.empty()) return 0;
    auto b = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char c = b(0);
    std::size_t n;
    std::uint32_t min;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        n = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF) return 0;
    return n;
}

[[noreturn]] void badValue(CIMType type, std::string_view text, const char* why) {
    throw ParseError(String("bad ") + cimTypeName(type) + " value " + excerpt(text) + ": " + why);
}

template <class T>
T parseInteger(CIMType type, std::string_view raw) {
    std::string_view s = trimSpace(raw);
    bool negative = false;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::string_view digits = s.substr(i);
    int base = 10;
    if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    if (digits.empty()) badValue(type, raw, "no digits");
    // from_chars takes no sign and stops at the first character that is not a digit.
    if (base == 10 && !isDigit(digits[0])) badValue(type, raw, "not a number");
    std::uint64_t magnitude = 0;
    auto r = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
    if (r.ec == std::errc::result_out_of_range) badValue(type, raw, "out of range");
    if (r.ec != std::errc() || r.ptr != digits.data() + digits.size()) badValue(type, raw, "not a number");
    if constexpr (std::is_unsigned_v<T>) {
        if (negative) badValue(type, raw, "negative value for an unsigned type");
        if (magnitude > std::numeric_limits<T>::max()) badValue(type, raw, "out of range");
        return T(magnitude);
    } else {
        using U = std::make_unsigned_t<T>;
        const std::uint64_t limit = negative ? std::uint64_t(U(std::numeric_limits<T>::max()) + 1)
                                             : std::uint64_t(std::numeric_limits<T>::max());
        if (magnitude > limit) badValue(type, raw, "out of range");
        if (negative) return T(std::int64_t(0) - std::int64_t(magnitude - 1) - 1);
        return T(magnitude);
    }
}

template <class T>
T parseReal(CIMType type, std::string_view raw) {
    std::string_view s = trimSpace(raw);
    // from_chars does not take a leading '+'; a second sign after it stays an error.
    if (s.size() > 1 && s[0] == '+' && s[1] != '-' && s[1] != '+') s.remove_prefix(1);
    if (s.empty()) badValue(type, raw, "no digits");
    T x{};
    auto r = std::from_chars(s.data(), s.data() + s.size(), x, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) badValue(type, raw, "out of range");
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) badValue(type, raw, "not a number");
    return x;
}

template <class T>
void appendReal(String& out, T x) {
    if (std::isnan(x)) {
        out += "NaN";
    } else if (std::isinf(x)) {
        out += x < 0 ? "-INF" : "INF";
    } else {
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, x);
        out.append(buf, r.ptr);
    }
}

bool isDateTimeText(std::string_view s) {
    // yyyymmddhhmmss.mmmmmmsutc for a point in time, ddddddddhhmmss.mmmmmm:000
    // for an interval; '*' stands for an unknown digit.
    if (s.size() != 25 || s[14] != '.' || (s[21] != '+' && s[21] != '-' && s[21] != ':')) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (i == 14 || i == 21) continue;
        if (!isDigit(s[i]) && s[i] != '*') return false;
    }
    return true;
}

}  // namespace

void appendEscaped(String& out, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            case ' ':
                // Readers may trim or collapse blanks; these survive as references.
                if (i == 0 || i + 1 == text.size() || text[i - 1] == ' ')
                    out += "&#32;";
                else
                    out += ' ';
                break;
            case '\0':
                // XML cannot carry NUL in any form; it becomes U+FFFD.
                out += "\xEF\xBF\xBD";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    out += "&#";
                    appendDecimal(out, static_cast<unsigned char>(c));
                    out += ';';
                } else {
                    out += c;
                }
        }
    }
}

String decodeReferences(std::string_view raw) {
    std::size_t amp = raw.find('&');
    if (amp == std::string_view::npos) return String(raw);
    String out;
    out.reserve(raw.size());
    std::size_t pos = 0;
    while (amp != std::string_view::npos) {
        out.append(raw.substr(pos, amp - pos));
        // The longest reference we accept is &#x10FFFF; or a decimal with leading zeros; cap the scan.
        std::size_t semi = raw.find(';', amp + 1);
        if (semi == std::string_view::npos || semi - amp > 16)
            throw ParseError("unterminated reference " + excerpt(raw.substr(amp, 16)));
        std::string_view name = raw.substr(amp + 1, semi - amp - 1);
        if (name == "lt") {
            out += '<';
        } else if (name == "gt") {
            out += '>';
        } else if (name == "amp") {
            out += '&';
        } else if (name == "quot") {
            out += '"';
        } else if (name == "apos") {
            out += '\'';
        } else if (name.size() >= 2 && name[0] == '#') {
            std::string_view digits = name.substr(1);
            int base = 10;
            if (digits[0] == 'x') {
                base = 16;
                digits.remove_prefix(1);
            }
            std::uint32_t cp = 0;
            auto r = std::from_chars(digits.data(), digits.data() + digits.size(), cp, base);
            if (digits.empty() || r.ec != std::errc() || r.ptr != digits.data() + digits.size())
                throw ParseError("bad character reference " + excerpt(raw.substr(amp, semi + 1 - amp)));
            if (cp == 0 || cp > 0x10FFFF)
                throw ParseError("character reference " + excerpt(raw.substr(amp, semi + 1 - amp)) +
                                 " to a character XML cannot carry");
            appendUtf8(out, cp);
        } else {
            throw ParseError("undefined entity " + excerpt(raw.substr(amp, semi + 1 - amp)));
        }
        pos = semi + 1;
        amp = raw.find('&', pos);
    }
    out.append(raw.substr(pos));
    return out;
}

std::string_view trimSpace(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

void appendScalar(String& out, const CIMValue::Scalar& scalar) {
    std::visit(
        [&out](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, Boolean>) {
                out += x ? "TRUE" : "FALSE";
            } else if constexpr (std::is_same_v<T, Real32> || std::is_same_v<T, Real64>) {
                appendReal(out, x);
            } else if constexpr (std::is_integral_v<T>) {
                char buf[24];
                auto r = std::to_chars(buf, buf + sizeof buf, x);
                out.append(buf, r.ptr);
            } else if constexpr (std::is_same_v<T, Char16>) {
                if (x.code == 0) return;  // NUL has no XML form: an empty VALUE stands for it
                if (x.code >= 0xD800 && x.code <= 0xDFFF) {
                    out += "&#";
                    appendDecimal(out, x.code);
                    out += ';';
                    return;
                }
                String utf8;
                appendUtf8(utf8, x.code);
                appendEscaped(out, utf8);
            } else if constexpr (std::is_same_v<T, String>) {
                appendEscaped(out, x);
            } else if constexpr (std::is_same_v<T, CIMDateTime>) {
                appendEscaped(out, x.toString());
            } else {
                // References are VALUE.REFERENCE elements, written by the element writer.
                appendEscaped(out, x.toString());
            }
        },
        scalar);
}

CIMValue::Scalar parseScalar(CIMType type, std::string_view text) {
    switch (type) {
        case CIMType::Boolean: {
            std::string_view s = trimSpace(text);
            if (equalNoCase(s, "TRUE")) return Boolean(true);
            if (equalNoCase(s, "FALSE")) return Boolean(false);
            badValue(type, text, "expected TRUE or FALSE");
        }
        case CIMType::Uint8: return parseInteger<Uint8>(type, text);
        case CIMType::Sint8: return parseInteger<Sint8>(type, text);
        case CIMType::Uint16: return parseInteger<Uint16>(type, text);
        case CIMType::Sint16: return parseInteger<Sint16>(type, text);
        case CIMType::Uint32: return parseInteger<Uint32>(type, text);
        case CIMType::Sint32: return parseInteger<Sint32>(type, text);
        case CIMType::Uint64: return parseInteger<Uint64>(type, text);
        case CIMType::Sint64: return parseInteger<Sint64>(type, text);
        case CIMType::Real32: return parseReal<Real32>(type, text);
        case CIMType::Real64: return parseReal<Real64>(type, text);
        case CIMType::Char16: {
            if (text.empty()) return Char16{0};
            std::uint32_t cp = 0;
            std::size_t n = decodeUtf8(text, cp);
            if (n == 0) badValue(type, text, "not UTF-8");
            if (n != text.size()) badValue(type, text, "more than one character");
            if (cp > 0xFFFF) badValue(type, text, "outside the 16-bit range");
            return Char16{Uint16(cp)};
        }
        case CIMType::String: return String(text);
        case CIMType::DateTime: {
            std::string_view s = trimSpace(text);
            if (!isDateTimeText(s)) badValue(type, text, "not a 25-character datetime");
            return CIMDateTime(String(s));
        }
        case CIMType::Reference: break;
    }
    throw ParseError("a reference value must be a VALUE.REFERENCE element");
}

void checkNumericText(std::string_view text) {
    std::string_view s = trimSpace(text);
    bool negative = !s.empty() && s[0] == '-';
    try {
        if (negative)
            parseInteger<Sint64>(CIMType::Sint64, s);
        else
            parseInteger<Uint64>(CIMType::Uint64, s);
        return;
    } catch (const ParseError&) {
    }
    try {
        Real64 x = parseReal<Real64>(CIMType::Real64, s);
        if (std::isfinite(x)) return;
    } catch (const ParseError&) {
    }
    throw ParseError("bad numeric key value " + excerpt(text));
}

bool isCimName(std::string_view text) {
    if (text.empty()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || static_cast<unsigned char>(c) >= 0x80;
        if (!letter && !(i > 0 && isDigit(c))) return false;
    }
    return true;
}

String uriEscape(std::string_view text) {
    static constexpr std::string_view kept = "-_.~/:=,!$'()*+;@";
    static constexpr char hex[] = "0123456789ABCDEF";
    String out;
    out.reserve(text.size());
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c);
        if (alnum || kept.find(c) != std::string_view::npos) {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 0xF];
        }
    }
    return out;
}

String excerpt(std::string_view text) {
    constexpr std::size_t kMax = 40;
    String out = "\"";
    for (std::size_t i = 0; i < text.size() && i < kMax; ++i) {
        auto u = static_cast<unsigned char>(text[i]);
        if (u < 0x20 || u == 0x7F || text[i] == '"' || text[i] == '\\') {
            static constexpr char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 0xF];
        } else {
            out += text[i];
        }
    }
    if (text.size() > kMax) out += "...";
    out += '"';
    return out;
}

}  // namespace cim::xml::detail
