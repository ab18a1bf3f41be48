// The test schema and complex of tests/provider/data, and request builders.
#pragma once

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "Complex.h"
#include "Provider.h"
#include "Schema.h"
#include "cim/Codec.h"

namespace kest::test {

inline std::string dataPath(const std::string& name) { return std::string(KEST_TEST_DATA) + "/" + name; }

inline const Schema& testSchema() {
    static const Schema schema = Schema::load(dataPath("schema.json"));
    return schema;
}

inline Complex testComplex() { return Complex::load(dataPath("complex.json"), testSchema()); }

inline Provider testProvider() { return Provider(testSchema(), testComplex()); }

// A provider over the test complex with these fault rules.
inline Provider withFaults(const std::string& faultsJson) {
    std::ifstream in(dataPath("complex.json"));
    auto json = nlohmann::ordered_json::parse(in);
    json["faults"] = nlohmann::ordered_json::parse(faultsJson);
    return Provider(testSchema(), Complex::parse(json.dump(), testSchema(), "complex.json"));
}

inline constexpr const char* kNs = "root/cimv2/kest";

inline cim::xml::Request request(cim::xml::Operation op, const std::string& className, const std::string& ns = kNs) {
    cim::xml::Request r;
    r.operation = op, r.nameSpace = ns, r.className = className;
    return r;
}

inline cim::xml::Request onPath(cim::xml::Operation op, const std::string& path, const std::string& ns = kNs) {
    cim::xml::Request r = request(op, "", ns);
    r.instanceName = cim::CIMObjectPath(path);
    return r;
}

inline cim::xml::Request method(const std::string& path, const std::string& name, const cim::Array<cim::CIMParamValue>& params) {
    cim::xml::Request r = onPath(cim::xml::Operation::InvokeMethod, path);
    r.methodName = name, r.inParams = params;
    return r;
}

inline cim::xml::Request createRemote(const std::string& address, const std::string& password, bool withPassword = true) {
    cim::xml::Request r = request(cim::xml::Operation::CreateInstance, "");
    r.newInstance = cim::CIMInstance("XK_KestRemoteComplex");
    r.newInstance.addProperty(cim::CIMProperty("Address", cim::CIMValue(address)));
    if (withPassword) r.newInstance.addProperty(cim::CIMProperty("Password", cim::CIMValue(password)));
    return r;
}

// The value of a property of an instance, or a null string value when absent (no property is a string).
inline cim::CIMValue prop(const cim::CIMInstance& i, const std::string& name) {
    cim::Uint32 k = i.findProperty(name);
    return k == cim::PEG_NOT_FOUND ? cim::CIMValue() : i.getProperty(k).getValue();
}

// The provider's own error code: what follows the last '@' of a description, up to ':' ("" when none).
inline std::string providerCode(const std::string& description) {
    const auto at = description.rfind('@');
    const auto colon = description.find(':', at);
    if (at == std::string::npos || colon == std::string::npos || colon + 1 >= description.size()) return "";
    return description.substr(at, colon - at + 1);
}

// An answer in a line: the code and the provider's own code; or the names of the instances enumerated, got
// or created (a string key in quotes); or a method's return value with its type; or "ok".
inline std::string answer(const cim::xml::Response& r) {
    using cim::xml::Operation;
    std::ostringstream out;
    if (r.errorCode) out << *r.errorCode << " " << providerCode(r.errorDescription);
    else if (r.operation == Operation::InvokeMethod) out << r.returnValue;
    else if (r.operation == Operation::GetInstance) out << r.instance.getPath();
    else if (r.operation == Operation::CreateInstance) out << r.instanceName;
    else if (r.operation != Operation::EnumerateInstanceNames && r.operation != Operation::EnumerateInstances) out << "ok";
    for (std::size_t i = 0; !r.errorCode && i < r.instanceNames.size(); ++i) out << (i ? " " : "") << r.instanceNames[i];
    for (std::size_t i = 0; !r.errorCode && i < r.instances.size(); ++i) out << (i ? " " : "") << r.instances[i].getPath();
    return out.str();
}

}  // namespace kest::test
