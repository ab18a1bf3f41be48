// Shared helpers of the kest-provider unit tests: the test schema and
// complex from tests/provider/data, and request builders.
#pragma once

#include <fstream>
#include <functional>
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

inline constexpr const char* kNs = "root/cimv2/kest";

inline cim::xml::Request request(cim::xml::Operation op, const std::string& className, const std::string& ns = kNs) {
    cim::xml::Request r;
    r.operation = op;
    r.nameSpace = ns;
    r.className = className;
    return r;
}

inline cim::xml::Request onPath(cim::xml::Operation op, const std::string& path, const std::string& ns = kNs) {
    cim::xml::Request r;
    r.operation = op;
    r.nameSpace = ns;
    r.instanceName = cim::CIMObjectPath(path);
    return r;
}

inline cim::xml::Request method(const std::string& path, const std::string& name,
                                const cim::Array<cim::CIMParamValue>& params, const std::string& ns = kNs) {
    cim::xml::Request r = onPath(cim::xml::Operation::InvokeMethod, path, ns);
    r.methodName = name;
    r.inParams = params;
    return r;
}

inline cim::xml::Request createRemote(const std::string& address, const std::string& password, bool withPassword = true) {
    cim::xml::Request r;
    r.operation = cim::xml::Operation::CreateInstance;
    r.nameSpace = kNs;
    r.newInstance = cim::CIMInstance("XK_KestRemoteComplex");
    r.newInstance.addProperty(cim::CIMProperty("Address", cim::CIMValue(address)));
    if (withPassword) r.newInstance.addProperty(cim::CIMProperty("Password", cim::CIMValue(password)));
    return r;
}

// The value of a property of an instance, or a null string value when absent.
inline cim::CIMValue prop(const cim::CIMInstance& i, const std::string& name) {
    cim::Uint32 k = i.findProperty(name);
    return k == cim::PEG_NOT_FOUND ? cim::CIMValue() : i.getProperty(k).getValue();
}

inline bool hasProp(const cim::CIMInstance& i, const std::string& name) { return i.findProperty(name) != cim::PEG_NOT_FOUND; }

}  // namespace kest::test
