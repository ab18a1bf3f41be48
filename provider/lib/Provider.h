// The operation handler of kest-provider: one decoded CIM operation request
// in, the answer out. It holds the schema, the complex and the remote
// complexes created so far; it knows nothing about HTTP or sockets.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Complex.h"
#include "Faults.h"
#include "Schema.h"
#include "cim/Codec.h"

namespace kest {

// Provider error codes put after the last '@' of error descriptions.
inline constexpr int kCodePasswordViolation = 11;  // wrong IPMI password for a remote complex
inline constexpr int kCodeNoSuchMP = 12;           // no remote complex at that address
inline constexpr int kCodeNoSuchInstance = 16;     // GetInstance, DeleteInstance, a method's target
inline constexpr int kCodeNoSuchPosition = 17;     // MakeID for a position without a slot

// The answer to one request after the fault rules had their say.
struct Outcome {
    enum class Transport {
        Normal,     // send the response
        HttpStatus, // send httpStatus with an empty body
        Drop,       // close the connection without answering
        Truncated,  // send the first half of the encoded response
        Malformed,  // send a body that is not well-formed XML
    };
    std::optional<cim::xml::Response> response;  // absent for HttpStatus and Drop
    Transport transport = Transport::Normal;
    unsigned httpStatus = 200;
    unsigned delayMs = 0;
    std::string result;  // for the request log: "ok", "cim-error N", "http N", or the fault action
    std::optional<std::string> fault;  // the fault action that answered, if any
};

const char* operationText(cim::xml::Operation op);  // "EnumerateInstances", ..., "InvokeMethod"

// The fields of a request that fault rules and the request log look at.
RequestFacts factsOf(const cim::xml::Request& request, std::uint64_t seq);

class Provider {
public:
    Provider(Schema schema, Complex complex);

    const Schema& schema() const { return schema_; }
    const Complex& complex() const { return complex_; }

    // Answers one request with the fault rules applied; seq is the request's
    // 1-based number over all connections. Thread-safe.
    Outcome handle(const cim::xml::Request& request, std::uint64_t seq);
    // The normal answer, without fault rules. Thread-safe.
    cim::xml::Response execute(const cim::xml::Request& request);

    // Addresses of the remote complexes currently created (for diagnostics and tests).
    std::vector<std::string> activeRemoteComplexes() const;

private:
    using Request = cim::xml::Request;
    using Response = cim::xml::Response;

    const NamespaceData* visibleNamespace(const std::string& name) const;
    // The instances of a class and its subclasses in a namespace, in order:
    // pointers into the complex, and the remote complexes created so far
    // (held in created).
    struct InstanceSet {
        std::vector<const cim::CIMInstance*> items;
        std::deque<cim::CIMInstance> created;
    };
    void collectInstances(const NamespaceData& ns, const ClassDef& cls, InstanceSet& out) const;
    cim::CIMInstance shape(const cim::CIMInstance& instance, const ClassDef& requested, bool deepInheritance,
                           bool includeQualifiers, bool includeClassOrigin,
                           const cim::CIMPropertyList& propertyList) const;

    Response enumerateInstanceNames(const Request& r, const NamespaceData& ns, const ClassDef& cls) const;
    Response enumerateInstances(const Request& r, const NamespaceData& ns, const ClassDef& cls) const;
    Response getInstance(const Request& r, const NamespaceData& ns, const ClassDef& cls) const;
    Response getClass(const Request& r, const ClassDef& cls) const;
    Response invokeMethod(const Request& r, const NamespaceData& ns, const ClassDef& cls) const;
    Response makeId(const Request& r, const NamespaceData& ns, const ClassDef& cls, const MethodDef& method) const;
    Response createInstance(const Request& r, const ClassDef& cls);
    Response deleteInstance(const Request& r, const ClassDef& cls);
    Response nameSpaceName(const Request& r) const;

    Schema schema_;
    Complex complex_;
    FaultTable faults_;
    mutable std::mutex mutex_;  // guards created_
    std::map<std::string, unsigned> created_;  // remote complex address -> instances created and not deleted
};

}  // namespace kest
