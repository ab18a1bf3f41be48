// The class schema that kest-provider publishes, loaded from the JSON schema
// file (format in provider/README.md). Each class is kept twice: as plain
// definitions (used to type instance values and to print MOF) and as the
// cim::CIMClass answered to GetClass, with Key and ValueMap qualifiers.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "cim/Object.h"

namespace kest {

// A schema or complex file that cannot be used; the message names the file
// and the place in it.
class LoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct PropertyDef {
    std::string name;
    cim::CIMType type = cim::CIMType::String;
    bool isArray = false;
    bool key = false;
    std::string referenceClass;         // reference properties only
    bool hasValueMap = false;
    std::vector<std::string> valueMap;  // display texts in code order
    bool hasValues = false;
    std::vector<std::string> values;  // a Values qualifier, published as given
    std::string description;
    std::string originClass;  // the class that declares the property
    bool propagated = false;  // inherited from a superclass
};

struct ParameterDef {
    std::string name;
    cim::CIMType type = cim::CIMType::String;
    bool isArray = false;
    std::string referenceClass;
    std::string description;
};

struct MethodDef {
    std::string name;
    cim::CIMType returnType = cim::CIMType::Uint32;
    std::vector<ParameterDef> parameters;
    std::string description;
    std::string originClass;
    bool propagated = false;
};

struct ClassDef {
    std::string name;
    std::string superclass;  // empty for a root class
    std::string description;
    std::vector<PropertyDef> properties;  // inherited ones first, in declaration order
    std::vector<MethodDef> methods;
    cim::CIMClass cimClass;  // the full class with every qualifier

    const PropertyDef* findProperty(std::string_view name) const;  // case-insensitive
    const MethodDef* findMethod(std::string_view name) const;      // case-insensitive
    std::vector<const PropertyDef*> keys() const;
};

class Schema {
public:
    // Parses the schema text; source names the file in error messages.
    static Schema parse(std::string_view text, const std::string& source);
    static Schema load(const std::string& path);

    const std::vector<ClassDef>& classes() const { return classes_; }
    const ClassDef* find(std::string_view className) const;  // case-insensitive
    // True when cls is base or derives from it.
    bool derivesFrom(const ClassDef& cls, const ClassDef& base) const;

private:
    std::vector<ClassDef> classes_;
};

// The CIM layer's comparison of names, used throughout the provider.
using cim::equalNoCase;

}  // namespace kest
