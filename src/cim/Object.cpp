#include "cim/Object.h"

#include <ostream>

namespace cim {

namespace {

template <class List, class Name>
Uint32 findByName(const List& list, const Name& name) {
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].getName() == name) return Uint32(i);
    return PEG_NOT_FOUND;
}

template <class List>
const auto& at(const List& list, Uint32 index, const char* what) {
    if (index >= list.size())
        throw IndexOutOfBoundsException(String(what) + " index " + std::to_string(index) + " out of bounds");
    return list[index];
}

}  // namespace

Uint32 QualifierList::findQualifier(const CIMName& name) const { return findByName(qualifiers_, name); }

const CIMQualifier& QualifierList::getQualifier(Uint32 index) const { return at(qualifiers_, index, "Qualifier"); }

Uint32 PropertyList::findProperty(const CIMName& name) const { return findByName(properties_, name); }

const CIMProperty& PropertyList::getProperty(Uint32 index) const { return at(properties_, index, "Property"); }

CIMProperty& PropertyList::getProperty(Uint32 index) {
    at(properties_, index, "Property");
    return properties_[index];
}

void PropertyList::removeProperty(Uint32 index) {
    at(properties_, index, "Property");
    properties_.erase(properties_.begin() + index);
}

Uint32 CIMClass::findMethod(const CIMName& name) const { return findByName(methods_, name); }

const CIMMethod& CIMClass::getMethod(Uint32 index) const { return at(methods_, index, "Method"); }

std::ostream& operator<<(std::ostream& os, const CIMProperty& property) {
    return os << property.getName() << " = " << property.getValue();
}

std::ostream& operator<<(std::ostream& os, const CIMInstance& instance) {
    os << "instance of " << instance.getClassName();
    if (!instance.getPath().getClassName().isNull()) os << " (" << instance.getPath() << ")";
    os << " {";
    for (Uint32 i = 0; i < instance.getPropertyCount(); ++i) os << (i ? "; " : " ") << instance.getProperty(i);
    return os << " }";
}

std::ostream& operator<<(std::ostream& os, const CIMClass& cimClass) {
    os << "class " << cimClass.getClassName();
    if (!cimClass.getSuperClassName().isNull()) os << " : " << cimClass.getSuperClassName();
    os << " {";
    for (Uint32 i = 0; i < cimClass.getPropertyCount(); ++i) {
        const auto& p = cimClass.getProperty(i);
        os << (i ? "; " : " ") << cimTypeName(p.getType()) << (p.isArray() ? "[] " : " ") << p.getName();
    }
    for (const auto& m : cimClass.methods()) os << "; " << cimTypeName(m.getType()) << ' ' << m.getName() << "()";
    return os << " }";
}

}  // namespace cim
