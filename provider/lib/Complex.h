// The complex file: the instances kest-provider publishes per namespace and
// class, the HTTPS users, the complexes reachable through an MP, and the
// fault rules (format in provider/README.md).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "Faults.h"
#include "Schema.h"

namespace kest {

struct User {
    std::string name;
    std::string password;
};

struct RemoteComplexDef {
    std::string address;
    std::string password;
    std::string nameSpace;  // may be empty: NameSpaceName then answers ""
};

struct NamespaceData {
    std::string name;
    // Per class (schema spelling), its instances in enumeration order, each
    // with its instance name (class and key bindings) set as path.
    std::vector<std::pair<std::string, std::vector<cim::CIMInstance>>> classes;
    const std::vector<cim::CIMInstance>* instancesOf(std::string_view className) const;
};

struct Complex {
    std::vector<NamespaceData> namespaces;
    std::vector<User> users;
    std::vector<RemoteComplexDef> remoteComplexes;
    std::vector<FaultRule> faults;

    const NamespaceData* findNamespace(std::string_view name) const;  // case-insensitive, '/' trimmed

    // The "schema" field of a complex file (the one-document form, complex and schema together)
    // is not read here: embeddedSchema gives it.
    static Complex parse(std::string_view text, const Schema& schema, const std::string& source);
    static Complex load(const std::string& path, const Schema& schema);
    static std::string readComplexFile(const std::string& path);
    // The schema a complex file carries in its "schema" field, if it has one.
    static std::optional<Schema> embeddedSchema(std::string_view text, const std::string& source);
};

// A JSON value typed as the schema says (type and array), or as its own
// "$type" object says; where names the place for error messages (LoadError).
cim::CIMValue typedValue(const nlohmann::ordered_json& json, const PropertyDef* def, const std::string& where);

// The instance name of an instance: its class and one binding per key
// property that is present and not null.
cim::CIMObjectPath instanceNameOf(const ClassDef& cls, const cim::CIMInstance& instance);

// Namespace names compare without regard to case and to leading or trailing '/'.
bool sameNamespace(std::string_view a, std::string_view b);

}  // namespace kest
