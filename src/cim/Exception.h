// Exceptions of the CIM client layer. Every failure the layer reports is an
// Exception or one of its subclasses; callers catch Exception to catch all.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace cim {

using String = std::string;
using Uint32 = std::uint32_t;

class Exception {
public:
    explicit Exception(String message) : message_(std::move(message)) {}
    virtual ~Exception() = default;
    const String& getMessage() const { return message_; }

private:
    String message_;
};

// The CIM status codes of DSP0200.
enum CIMStatusCode : Uint32 {
    CIM_ERR_SUCCESS = 0,
    CIM_ERR_FAILED = 1,
    CIM_ERR_ACCESS_DENIED = 2,
    CIM_ERR_INVALID_NAMESPACE = 3,
    CIM_ERR_INVALID_PARAMETER = 4,
    CIM_ERR_INVALID_CLASS = 5,
    CIM_ERR_NOT_FOUND = 6,
    CIM_ERR_NOT_SUPPORTED = 7,
    CIM_ERR_CLASS_HAS_CHILDREN = 8,
    CIM_ERR_CLASS_HAS_INSTANCES = 9,
    CIM_ERR_INVALID_SUPERCLASS = 10,
    CIM_ERR_ALREADY_EXISTS = 11,
    CIM_ERR_NO_SUCH_PROPERTY = 12,
    CIM_ERR_TYPE_MISMATCH = 13,
    CIM_ERR_QUERY_LANGUAGE_NOT_SUPPORTED = 14,
    CIM_ERR_INVALID_QUERY = 15,
    CIM_ERR_METHOD_NOT_AVAILABLE = 16,
    CIM_ERR_METHOD_NOT_FOUND = 17,
};

// "CIM_ERR_NOT_FOUND" for 6; "CIM_ERR_UNKNOWN" for a code outside the table.
const char* cimStatusCodeToString(Uint32 code);

// A CIM error answered by the server. The message is the code's standard
// name, ": " and the server's description verbatim (just the name when the
// description is empty), so that text the server put at the end of its
// description stays at the end of the message.
class CIMException : public Exception {
public:
    CIMException(Uint32 code, const String& description);
    Uint32 getCode() const { return code_; }
    const String& getDescription() const { return description_; }

private:
    Uint32 code_;
    String description_;
};

// No connection could be established (nothing listening, unknown host, TLS
// handshake failure). A connection that breaks later is a plain Exception.
class CannotConnectException : public Exception {
public:
    using Exception::Exception;
};

// A typed read of a CIMValue of another type, or of a null value.
class TypeMismatchException : public Exception {
public:
    using Exception::Exception;
};

// An index past the end of a property, qualifier or array list.
class IndexOutOfBoundsException : public Exception {
public:
    using Exception::Exception;
};

// Malformed input: an object path text, a CIM-XML document, a value text.
class ParseError : public Exception {
public:
    using Exception::Exception;
};

}  // namespace cim
