// The CIM-XML codec: pure functions between CIM operations and CIM-XML
// documents (DSP0200 messages, DSP0201 elements), for both sides of the wire.
// The client encodes requests and decodes responses; kest-provider decodes
// requests and encodes responses. No I/O happens here.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "cim/Object.h"

namespace cim::xml {

enum class Operation {
    EnumerateInstanceNames,
    EnumerateInstances,
    GetInstance,
    GetClass,
    CreateInstance,
    DeleteInstance,
    InvokeMethod,  // an extrinsic method call (METHODCALL)
};
const char* operationName(Operation op);  // "EnumerateInstances", ...; "InvokeMethod" for the extrinsic call
std::optional<Operation> operationFromName(std::string_view name);  // intrinsic names only

// One operation request. Which fields count depends on the operation:
//   EnumerateInstanceNames: className
//   EnumerateInstances:     className, deepInheritance, localOnly, includeQualifiers, includeClassOrigin, propertyList
//   GetInstance:            instanceName, localOnly, includeQualifiers, includeClassOrigin, propertyList
//   GetClass:               className, localOnly, includeQualifiers, includeClassOrigin, propertyList
//   CreateInstance:         newInstance
//   DeleteInstance:         instanceName
//   InvokeMethod:           instanceName (the target object), methodName, inParams
// Boolean parameters absent from a decoded request take the DSP0200 defaults,
// which are the initial values here.
struct Request {
    String messageId = "1";
    CIMNamespaceName nameSpace;
    Operation operation = Operation::EnumerateInstanceNames;
    CIMName className;
    CIMObjectPath instanceName;
    CIMInstance newInstance;
    String methodName;
    Array<CIMParamValue> inParams;
    bool deepInheritance = true;
    bool localOnly = true;
    bool includeQualifiers = false;  // GetClass defaults to true on the wire; see decodeRequest
    bool includeClassOrigin = false;
    CIMPropertyList propertyList;
};

// One operation response: an error, or the result of the operation.
struct Response {
    String messageId = "1";
    Operation operation = Operation::EnumerateInstanceNames;
    String methodName;  // InvokeMethod: the method's name

    std::optional<Uint32> errorCode;  // set for an ERROR answer
    String errorDescription;

    Array<CIMObjectPath> instanceNames;  // EnumerateInstanceNames
    Array<CIMInstance> instances;        // EnumerateInstances (each with its path set)
    CIMInstance instance;                // GetInstance
    CIMClass cimClass;                   // GetClass
    CIMObjectPath instanceName;          // CreateInstance: the new instance's name
    CIMValue returnValue;                // InvokeMethod (null when absent)
    Array<CIMParamValue> outParams;      // InvokeMethod
};

// The HTTP extension headers that go with a request (DSP0200): CIMMethod
// (operation or method name) and CIMObject (the namespace for intrinsic
// calls, the URI-escaped object path for method calls).
struct RequestHeaders {
    String cimMethod;
    String cimObject;
};
RequestHeaders requestHeaders(const Request& request);

// Request bodies. decodeRequest throws ParseError with a message naming the
// problem (not XML, not a SIMPLEREQ, unknown operation, missing parameter,
// bad value for a type, ...). Requests of an unknown intrinsic operation
// decode as ParseError too; the server answers CIM_ERR_NOT_SUPPORTED.
String encodeRequest(const Request& request);
Request decodeRequest(std::string_view body);

// Response bodies. decodeResponse throws ParseError for anything that is not
// a well-formed answer to the expected operation; a CIM ERROR element is not
// a parse error: it comes back as errorCode/errorDescription.
//
// The list in the answer to an enumeration is parsed an element at a time,
// so a large answer is not held twice, or three times with its parsed form.
// Given an InstanceSink, decodeResponse hands it the instances of an
// EnumerateInstances answer as they are read, instead of keeping them in the
// response: the first argument is the response read so far, with its
// messageId. When decodeResponse throws, the sink may have had some of them.
using InstanceSink = std::function<void(const Response& head, CIMInstance&& instance)>;
String encodeResponse(const Response& response);
Response decodeResponse(std::string_view body, Operation expected);
// The same for a body that is no longer needed: it is parsed in place.
Response decodeResponse(String&& body, Operation expected, const InstanceSink& each = {});

// Element-level pieces, exposed for tests and for the provider's schema files.
String escapeText(std::string_view text);  // &lt; &gt; &amp; &quot; &apos; and control characters as references
String encodeValue(const CIMValue& value);  // VALUE / VALUE.ARRAY / VALUE.REFERENCE, or "" for null
String encodeInstance(const CIMInstance& instance);
String encodeClass(const CIMClass& cimClass);
String encodeInstanceName(const CIMObjectPath& path);

}  // namespace cim::xml
