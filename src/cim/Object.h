// CIM objects: qualifiers, properties, methods, instances and classes, plus
// the parameter and property-list types of the client operations.
#pragma once

#include <iosfwd>
#include <utility>

#include "cim/Value.h"

namespace cim {

// Qualifier flavors as DSP0201 attributes; absent attributes take the
// defaults overridable, tosubclass, not toinstance, not translatable.
struct CIMFlavor {
    bool overridable = true;
    bool toSubclass = true;
    bool toInstance = false;
    bool translatable = false;
    friend bool operator==(const CIMFlavor&, const CIMFlavor&) = default;
};

class CIMQualifier {
public:
    CIMQualifier() = default;
    CIMQualifier(CIMName name, CIMValue value, CIMFlavor flavor = {}, bool propagated = false)
        : name_(std::move(name)), value_(std::move(value)), flavor_(flavor), propagated_(propagated) {}
    const CIMName& getName() const { return name_; }
    const CIMValue& getValue() const { return value_; }
    CIMType getType() const { return value_.getType(); }
    bool isArray() const { return value_.isArray(); }
    const CIMFlavor& getFlavor() const { return flavor_; }
    bool getPropagated() const { return propagated_; }
    friend bool operator==(const CIMQualifier&, const CIMQualifier&) = default;

private:
    CIMName name_;
    CIMValue value_;
    CIMFlavor flavor_;
    bool propagated_ = false;
};

// A list of qualifiers found by name without regard to case.
class QualifierList {
public:
    Uint32 findQualifier(const CIMName& name) const;
    const CIMQualifier& getQualifier(Uint32 index) const;  // IndexOutOfBoundsException
    Uint32 getQualifierCount() const { return Uint32(qualifiers_.size()); }
    void addQualifier(const CIMQualifier& qualifier) { qualifiers_.push_back(qualifier); }
    void addQualifier(CIMQualifier&& qualifier) { qualifiers_.push_back(std::move(qualifier)); }
    const Array<CIMQualifier>& qualifiers() const { return qualifiers_; }
    friend bool operator==(const QualifierList&, const QualifierList&) = default;

private:
    Array<CIMQualifier> qualifiers_;
};

class CIMProperty : public QualifierList {
public:
    CIMProperty() = default;
    // referenceClassName only for reference properties; arraySize 0 = unbounded.
    CIMProperty(CIMName name, CIMValue value, Uint32 arraySize = 0, CIMName referenceClassName = CIMName(),
                CIMName classOrigin = CIMName(), bool propagated = false)
        : name_(std::move(name)), value_(std::move(value)), arraySize_(arraySize),
          referenceClassName_(std::move(referenceClassName)), classOrigin_(std::move(classOrigin)),
          propagated_(propagated) {}
    const CIMName& getName() const { return name_; }
    const CIMValue& getValue() const { return value_; }
    void setValue(CIMValue value) { value_ = std::move(value); }
    // Takes the value out, leaving a null value of the same type behind.
    CIMValue releaseValue() { return std::exchange(value_, CIMValue(value_.getType(), value_.isArray())); }
    CIMType getType() const { return value_.getType(); }
    bool isArray() const { return value_.isArray(); }
    Uint32 getArraySize() const { return arraySize_; }
    const CIMName& getReferenceClassName() const { return referenceClassName_; }
    const CIMName& getClassOrigin() const { return classOrigin_; }
    bool getPropagated() const { return propagated_; }
    friend bool operator==(const CIMProperty&, const CIMProperty&) = default;

private:
    CIMName name_;
    CIMValue value_;
    Uint32 arraySize_ = 0;
    CIMName referenceClassName_;
    CIMName classOrigin_;
    bool propagated_ = false;
};

// Properties, found by name without regard to case; shared by instances and classes.
class PropertyList {
public:
    Uint32 findProperty(const CIMName& name) const;
    const CIMProperty& getProperty(Uint32 index) const;  // IndexOutOfBoundsException
    CIMProperty& getProperty(Uint32 index);              // IndexOutOfBoundsException
    Uint32 getPropertyCount() const { return Uint32(properties_.size()); }
    void addProperty(const CIMProperty& property) { properties_.push_back(property); }
    void addProperty(CIMProperty&& property) { properties_.push_back(std::move(property)); }
    // Makes room for this many properties in all, so that adding them moves none.
    void reserveProperties(std::size_t count) { properties_.reserve(count); }
    void removeProperty(Uint32 index);  // IndexOutOfBoundsException
    const Array<CIMProperty>& properties() const { return properties_; }
    friend bool operator==(const PropertyList&, const PropertyList&) = default;

private:
    Array<CIMProperty> properties_;
};

class CIMParameter : public QualifierList {
public:
    CIMParameter() = default;
    CIMParameter(const CIMName& name, CIMType type, bool isArray = false, Uint32 arraySize = 0,
                 const CIMName& referenceClassName = CIMName())
        : name_(name), type_(type), isArray_(isArray), arraySize_(arraySize), referenceClassName_(referenceClassName) {}
    const CIMName& getName() const { return name_; }
    CIMType getType() const { return type_; }
    bool isArray() const { return isArray_; }
    Uint32 getArraySize() const { return arraySize_; }
    const CIMName& getReferenceClassName() const { return referenceClassName_; }
    friend bool operator==(const CIMParameter&, const CIMParameter&) = default;

private:
    CIMName name_;
    CIMType type_ = CIMType::String;
    bool isArray_ = false;
    Uint32 arraySize_ = 0;
    CIMName referenceClassName_;
};

class CIMMethod : public QualifierList {
public:
    CIMMethod() = default;
    CIMMethod(const CIMName& name, CIMType returnType, const CIMName& classOrigin = CIMName(), bool propagated = false)
        : name_(name), returnType_(returnType), classOrigin_(classOrigin), propagated_(propagated) {}
    const CIMName& getName() const { return name_; }
    CIMType getType() const { return returnType_; }
    const CIMName& getClassOrigin() const { return classOrigin_; }
    bool getPropagated() const { return propagated_; }
    void addParameter(CIMParameter parameter) { parameters_.push_back(std::move(parameter)); }
    const Array<CIMParameter>& parameters() const { return parameters_; }
    friend bool operator==(const CIMMethod&, const CIMMethod&) = default;

private:
    CIMName name_;
    CIMType returnType_ = CIMType::Uint32;
    CIMName classOrigin_;
    bool propagated_ = false;
    Array<CIMParameter> parameters_;
};

class CIMInstance : public QualifierList, public PropertyList {
public:
    CIMInstance() = default;
    explicit CIMInstance(const CIMName& className) : className_(className) {}
    const CIMName& getClassName() const { return className_; }
    const CIMObjectPath& getPath() const { return path_; }
    void setPath(const CIMObjectPath& path) { path_ = path; }
    friend bool operator==(const CIMInstance&, const CIMInstance&) = default;

private:
    CIMName className_;
    CIMObjectPath path_;
};

class CIMClass : public QualifierList, public PropertyList {
public:
    CIMClass() = default;
    explicit CIMClass(const CIMName& className, const CIMName& superClassName = CIMName())
        : className_(className), superClassName_(superClassName) {}
    const CIMName& getClassName() const { return className_; }
    const CIMName& getSuperClassName() const { return superClassName_; }
    Uint32 findMethod(const CIMName& name) const;
    const CIMMethod& getMethod(Uint32 index) const;  // IndexOutOfBoundsException
    Uint32 getMethodCount() const { return Uint32(methods_.size()); }
    void addMethod(CIMMethod method) { methods_.push_back(std::move(method)); }
    const Array<CIMMethod>& methods() const { return methods_; }
    friend bool operator==(const CIMClass&, const CIMClass&) = default;

private:
    CIMName className_;
    CIMName superClassName_;
    Array<CIMMethod> methods_;
};

// A named method parameter value. isTyped tells whether the TYPE goes on the
// wire (PARAMVALUE PARAMTYPE=...); the program always sends typed values.
class CIMParamValue {
public:
    CIMParamValue() = default;
    CIMParamValue(const String& name, CIMValue value, bool isTyped = true)
        : name_(name), value_(std::move(value)), isTyped_(isTyped) {}
    const String& getParameterName() const { return name_; }
    const CIMValue& getValue() const { return value_; }
    bool isTyped() const { return isTyped_; }
    friend bool operator==(const CIMParamValue&, const CIMParamValue&) = default;

private:
    String name_;
    CIMValue value_;
    bool isTyped_ = true;
};

// Which properties an operation asks for: null (the default) means all of them.
class CIMPropertyList {
public:
    CIMPropertyList() = default;
    explicit CIMPropertyList(const Array<CIMName>& names) : isNull_(false), names_(names) {}
    bool isNull() const { return isNull_; }
    Uint32 size() const { return Uint32(names_.size()); }
    const CIMName& operator[](Uint32 i) const { return names_.at(i); }
    const Array<CIMName>& names() const { return names_; }
    friend bool operator==(const CIMPropertyList&, const CIMPropertyList&) = default;

private:
    bool isNull_ = true;
    Array<CIMName> names_;
};

std::ostream& operator<<(std::ostream& os, const CIMProperty& property);
std::ostream& operator<<(std::ostream& os, const CIMInstance& instance);
std::ostream& operator<<(std::ostream& os, const CIMClass& cimClass);

}  // namespace cim
