// CIM names, object paths and typed values: plain value types that copy and
// compare, with a one-line text form for diagnostics and test failures.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "cim/Exception.h"

namespace cim {

using Boolean = bool;
using Uint8 = std::uint8_t;
using Sint8 = std::int8_t;
using Uint16 = std::uint16_t;
using Sint16 = std::int16_t;
using Sint32 = std::int32_t;
using Uint64 = std::uint64_t;
using Sint64 = std::int64_t;
using Real32 = float;
using Real64 = double;
template <class T>
using Array = std::vector<T>;

// ASCII case-insensitive comparison, the rule for CIM names and for the
// keywords of CIM-XML and its HTTP headers.
bool equalNoCase(std::string_view a, std::string_view b);
// The text with ASCII capitals made small: the key under which such names
// are kept when they are looked up often.
std::string lowerCase(std::string_view s);

// Returned by the find operations when nothing matches.
inline constexpr Uint32 PEG_NOT_FOUND = Uint32(-1);

// The order is that of the alternatives of CIMValue::Scalar.
enum class CIMType : std::uint8_t {
    Boolean, Uint8, Sint8, Uint16, Sint16, Uint32, Sint32, Uint64, Sint64,
    Real32, Real64, Char16, String, DateTime, Reference
};
// The DSP0201 TYPE attribute text: "uint8", "string", "reference", ...
const char* cimTypeName(CIMType type);
std::optional<CIMType> cimTypeFromName(std::string_view name);

struct Char16 {
    Uint16 code = 0;
    friend bool operator==(Char16, Char16) = default;
};

// A datetime is kept as its 25-character DSP0004 text; it is only carried.
class CIMDateTime {
public:
    CIMDateTime() = default;
    explicit CIMDateTime(String text) : text_(std::move(text)) {}
    const String& toString() const { return text_; }
    friend bool operator==(const CIMDateTime&, const CIMDateTime&) = default;

private:
    String text_;
};

// A CIM name: compares without regard to ASCII case, keeps its spelling.
class CIMName {
public:
    CIMName() = default;
    CIMName(const String& name) : name_(name) {}      // NOLINT: implicit like the library's
    CIMName(String&& name) : name_(std::move(name)) {}  // NOLINT
    CIMName(const char* name) : name_(name ? name : "") {}  // NOLINT
    const String& getString() const { return name_; }
    bool isNull() const { return name_.empty(); }
    bool equal(const CIMName& other) const;
    friend bool operator==(const CIMName& a, const CIMName& b) { return a.equal(b); }

private:
    String name_;
};

// A namespace name such as "root/cimv2/kest".
class CIMNamespaceName {
public:
    CIMNamespaceName() = default;
    CIMNamespaceName(const String& name) : name_(name) {}      // NOLINT
    CIMNamespaceName(const char* name) : name_(name ? name : "") {}  // NOLINT
    const String& getString() const { return name_; }
    bool isNull() const { return name_.empty(); }
    friend bool operator==(const CIMNamespaceName& a, const CIMNamespaceName& b);

private:
    String name_;
};

class CIMValue;

// One key of an instance name. The value is kept as text, as on the wire:
// decimal digits for NUMERIC, TRUE/FALSE for BOOLEAN, an object path text
// for REFERENCE.
class CIMKeyBinding {
public:
    enum Type { BOOLEAN, STRING, NUMERIC, REFERENCE };
    CIMKeyBinding() = default;
    CIMKeyBinding(const CIMName& name, const String& value, Type type)
        : name_(name), value_(value), type_(type) {}
    // From a typed value: integers become NUMERIC, booleans BOOLEAN,
    // references REFERENCE, everything else STRING.
    CIMKeyBinding(const CIMName& name, const CIMValue& value);
    const CIMName& getName() const { return name_; }
    const String& getValue() const { return value_; }
    Type getType() const { return type_; }
    friend bool operator==(const CIMKeyBinding& a, const CIMKeyBinding& b);

private:
    CIMName name_;
    String value_;
    Type type_ = STRING;
};

// An object path: optional host and namespace, a class name and key bindings.
// Text form: [//host/namespace:]Class[.key=value[,key=value...]] with string
// and reference values in double quotes ('"' and '\' escaped by '\').
class CIMObjectPath {
public:
    CIMObjectPath() = default;
    CIMObjectPath(const String& text);  // NOLINT: parses; throws ParseError
    CIMObjectPath(const String& host, const CIMNamespaceName& nameSpace, const CIMName& className,
                  const Array<CIMKeyBinding>& keyBindings = {})
        : host_(host), nameSpace_(nameSpace), className_(className), keys_(keyBindings) {}

    const String& getHost() const { return host_; }
    const CIMNamespaceName& getNameSpace() const { return nameSpace_; }
    const CIMName& getClassName() const { return className_; }
    const Array<CIMKeyBinding>& getKeyBindings() const { return keys_; }
    void setHost(const String& host) { host_ = host; }
    void setNameSpace(const CIMNamespaceName& ns) { nameSpace_ = ns; }
    void setClassName(const CIMName& name) { className_ = name; }
    void setKeyBindings(const Array<CIMKeyBinding>& keys) { keys_ = keys; }

    String toString() const;
    // Paths are equal when host, namespace and class match (class and key
    // names without regard to case) and they hold the same keys in any order.
    friend bool operator==(const CIMObjectPath& a, const CIMObjectPath& b);

private:
    String host_;
    CIMNamespaceName nameSpace_;
    CIMName className_;
    Array<CIMKeyBinding> keys_;
};

// A typed CIM value: null or not, scalar or array, of one CIMType. Arrays may
// hold null elements (VALUE.NULL on the wire); a typed read gives the type's
// default value for them, isElementNull tells them apart.
class CIMValue {
public:
    using Scalar = std::variant<Boolean, Uint8, Sint8, Uint16, Sint16, Uint32, Sint32, Uint64, Sint64,
                                Real32, Real64, Char16, String, CIMDateTime, CIMObjectPath>;

    CIMValue() = default;  // a null scalar string
    CIMValue(CIMType type, bool isArray, Uint32 arraySize = 0);  // null, or an array of null elements
    CIMValue(Boolean x) : CIMValue(Scalar(x)) {}  // NOLINT: typed constructors are implicit
    CIMValue(Uint8 x) : CIMValue(Scalar(x)) {}  // NOLINT
    CIMValue(Sint8 x) : CIMValue(Scalar(x)) {}  // NOLINT
    CIMValue(Uint16 x) : CIMValue(Scalar(x)) {}  // NOLINT
    CIMValue(Sint16 x) : CIMValue(Scalar(x)) {}  // NOLINT
    CIMValue(Uint32 x) : CIMValue(Scalar(x)) {}  // NOLINT
    CIMValue(Sint32 x) : CIMValue(Scalar(x)) {}  // NOLINT
    CIMValue(Uint64 x) : CIMValue(Scalar(x)) {}  // NOLINT
    CIMValue(Sint64 x) : CIMValue(Scalar(x)) {}  // NOLINT
    CIMValue(Real32 x) : CIMValue(Scalar(x)) {}  // NOLINT
    CIMValue(Real64 x) : CIMValue(Scalar(x)) {}  // NOLINT
    CIMValue(Char16 x) : CIMValue(Scalar(x)) {}  // NOLINT
    CIMValue(const String& x) : CIMValue(Scalar(x)) {}  // NOLINT
    CIMValue(const char* x) : CIMValue(Scalar(String(x))) {}  // NOLINT
    CIMValue(const CIMDateTime& x) : CIMValue(Scalar(x)) {}  // NOLINT
    CIMValue(const CIMObjectPath& x) : CIMValue(Scalar(x)) {}  // NOLINT
    template <class T>
    CIMValue(const Array<T>& xs)  // NOLINT
        : type_(typeOf<T>()), isArray_(true), isNull_(false), elements_(xs) {}
    template <class T>
    CIMValue(Array<T>&& xs)  // NOLINT
        : type_(typeOf<T>()), isArray_(true), isNull_(false), elements_(std::move(xs)) {}
    explicit CIMValue(const Scalar& scalar);
    explicit CIMValue(Scalar&& scalar);  // takes the scalar's text without a copy
    // An array value from elements of the given type; null elements allowed.
    static CIMValue makeArray(CIMType type, std::vector<std::optional<Scalar>> elements);

    CIMType getType() const { return type_; }
    bool isArray() const { return isArray_; }
    bool isNull() const { return isNull_; }
    Uint32 getArraySize() const { return isArray_ ? elementCount() : 0; }
    bool isElementNull(Uint32 index) const;
    // Element i of an array as a scalar value (null for a null element).
    CIMValue getElement(Uint32 index) const;
    // The scalar held (not null, not an array); throws TypeMismatchException otherwise.
    Scalar getScalar() const;

    void setNullValue(CIMType type, bool isArray, Uint32 arraySize = 0) { *this = CIMValue(type, isArray, arraySize); }

    // Typed reads. Each throws TypeMismatchException when the value is null,
    // of another type, or scalar where an array is read (and the reverse).
    void get(Boolean& x) const { x = scalarAs<Boolean>(); }
    void get(Uint8& x) const { x = scalarAs<Uint8>(); }
    void get(Sint8& x) const { x = scalarAs<Sint8>(); }
    void get(Uint16& x) const { x = scalarAs<Uint16>(); }
    void get(Sint16& x) const { x = scalarAs<Sint16>(); }
    void get(Uint32& x) const { x = scalarAs<Uint32>(); }
    void get(Sint32& x) const { x = scalarAs<Sint32>(); }
    void get(Uint64& x) const { x = scalarAs<Uint64>(); }
    void get(Sint64& x) const { x = scalarAs<Sint64>(); }
    void get(Real32& x) const { x = scalarAs<Real32>(); }
    void get(Real64& x) const { x = scalarAs<Real64>(); }
    void get(Char16& x) const { x = scalarAs<Char16>(); }
    void get(String& x) const { x = scalarAs<String>(); }
    void get(CIMDateTime& x) const { x = scalarAs<CIMDateTime>(); }
    void get(CIMObjectPath& x) const { x = scalarAs<CIMObjectPath>(); }
    template <class T>
    void get(Array<T>& xs) const {
        checkRead(typeOf<T>(), true);
        xs = std::get<Array<T>>(elements_);
    }

    // The value as text: decimal numbers, TRUE/FALSE, strings as they are,
    // object paths in their text form; array elements separated by one
    // blank; "" for null.
    String toString() const;

    friend bool operator==(const CIMValue& a, const CIMValue& b);

    template <class T>
    static constexpr CIMType typeOf() {
        return CIMType(indexOf<T>(static_cast<Scalar*>(nullptr)));
    }

private:
    template <class T, class... Ts>
    static constexpr std::size_t indexOf(std::variant<Ts...>*) {
        constexpr bool matches[] = {std::is_same_v<T, Ts>...};
        for (std::size_t i = 0; i < sizeof...(Ts); ++i)
            if (matches[i]) return i;
        return sizeof...(Ts);
    }
    // The elements, kept as one array of the value's own type: an array of
    // a thousand uint8 takes a thousand bytes, not a thousand variants.
    template <class... Ts>
    static std::variant<Array<Ts>...> arrayVariant(std::variant<Ts...>*);
    using Elements = decltype(arrayVariant(static_cast<Scalar*>(nullptr)));
    static Elements emptyElements(CIMType type);

    Uint32 elementCount() const;
    void checkRead(CIMType type, bool array) const;
    template <class T>
    typename Array<T>::const_reference scalarAs() const {
        checkRead(typeOf<T>(), false);
        return std::get<Array<T>>(elements_).front();
    }

    CIMType type_ = CIMType::String;
    bool isArray_ = false;
    bool isNull_ = true;
    Elements elements_ = Array<String>();  // one element for a non-null scalar
    // Per array element, whether it is null; no vector at all when none is.
    // Shared between copies, as it never changes once the value is made.
    std::shared_ptr<const std::vector<bool>> elementNull_;
};

// Text form of one scalar, as CIMValue::toString writes it.
String scalarToString(const CIMValue::Scalar& scalar);

std::ostream& operator<<(std::ostream& os, const CIMName& name);
std::ostream& operator<<(std::ostream& os, const CIMObjectPath& path);
// "uint8 5", "string[] {"a", null}", "uint32 null": type and value on one line.
std::ostream& operator<<(std::ostream& os, const CIMValue& value);

}  // namespace cim
