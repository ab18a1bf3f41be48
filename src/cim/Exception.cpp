#include "cim/Exception.h"

namespace cim {

const char* cimStatusCodeToString(Uint32 code) {
    static const char* const names[] = {
        "CIM_ERR_SUCCESS",
        "CIM_ERR_FAILED",
        "CIM_ERR_ACCESS_DENIED",
        "CIM_ERR_INVALID_NAMESPACE",
        "CIM_ERR_INVALID_PARAMETER",
        "CIM_ERR_INVALID_CLASS",
        "CIM_ERR_NOT_FOUND",
        "CIM_ERR_NOT_SUPPORTED",
        "CIM_ERR_CLASS_HAS_CHILDREN",
        "CIM_ERR_CLASS_HAS_INSTANCES",
        "CIM_ERR_INVALID_SUPERCLASS",
        "CIM_ERR_ALREADY_EXISTS",
        "CIM_ERR_NO_SUCH_PROPERTY",
        "CIM_ERR_TYPE_MISMATCH",
        "CIM_ERR_QUERY_LANGUAGE_NOT_SUPPORTED",
        "CIM_ERR_INVALID_QUERY",
        "CIM_ERR_METHOD_NOT_AVAILABLE",
        "CIM_ERR_METHOD_NOT_FOUND",
    };
    return code < sizeof names / sizeof names[0] ? names[code] : "CIM_ERR_UNKNOWN";
}

CIMException::CIMException(Uint32 code, const String& description)
    : Exception(description.empty() ? String(cimStatusCodeToString(code))
                                    : String(cimStatusCodeToString(code)) + ": " + description),
      code_(code),
      description_(description) {}

}  // namespace cim
