#include "Provider.h"

#include <algorithm>
#include <charconv>

namespace kest {

using cim::xml::Operation;
using cim::xml::Request;
using cim::xml::Response;

namespace {

constexpr const char* kRemoteComplexClass = "XK_KestRemoteComplex";

// Which properties of a slot instance give the position that MakeID is asked
// for, per slot class: method parameter -> slot property.
struct PositionMap {
    const char* className;
    const char* objectWord;
    std::vector<std::pair<const char*, const char*>> parameters;
};
const PositionMap kPositionMaps[] = {
    {"XK_KestCellSlot", "cell slot", {{"CabinetID", "CabinetID"}, {"SlotNumber", "Number"}}},
    {"XK_KestIOChassisSlot",
     "I/O chassis slot",
     {{"CabinetID", "CabinetID"}, {"BayNumber", "IOBayNumber"}, {"SlotNumber", "Number"}}},
};

Response answerTo(const Request& r) {
    Response out;
    out.messageId = r.messageId;
    out.operation = r.operation;
    out.methodName = r.methodName;
    return out;
}

Response error(const Request& r, cim::Uint32 code, std::string description) {
    Response out = answerTo(r);
    out.errorCode = code;
    out.errorDescription = std::move(description);
    return out;
}

std::string providerText(const std::string& what, int code, const std::string& message) {
    return what + "@" + std::to_string(code) + ":" + message;
}

// A decimal integer as sign and digits without leading zeros, so that equal
// numbers give equal texts ("+007" and "7", "-0" and "0").
std::optional<std::string> normalDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    while (text.size() > 1 && text.front() == '0') text.remove_prefix(1);
    if (text == "0") negative = false;
    return (negative ? "-" : "") + std::string(text);
}

bool isInteger(cim::CIMType t) {
    using cim::CIMType;
    switch (t) {
        case CIMType::Uint8: case CIMType::Sint8: case CIMType::Uint16: case CIMType::Sint16:
        case CIMType::Uint32: case CIMType::Sint32: case CIMType::Uint64: case CIMType::Sint64:
            return true;
        default:
            return false;
    }
}

// A key binding of a request against the stored value of the instance's key.
bool keyMatches(const cim::CIMKeyBinding& wanted, const cim::CIMValue& stored) {
    if (stored.isNull() || stored.isArray()) return false;
    const std::string text = stored.toString();
    if (isInteger(stored.getType())) {
        auto a = normalDecimal(wanted.getValue());
        return a && a == normalDecimal(text);
    }
    switch (stored.getType()) {
        case cim::CIMType::Boolean: return equalNoCase(wanted.getValue(), text);
        case cim::CIMType::Reference:
            try {
                return cim::CIMObjectPath(wanted.getValue()) == cim::CIMObjectPath(text);
            } catch (const cim::Exception&) {
                return false;
            }
        default: return wanted.getValue() == text;
    }
}

bool instanceMatches(const ClassDef& cls, const cim::CIMInstance& instance, const cim::CIMObjectPath& name) {
    const auto keys = cls.keys();
    const auto& wanted = name.getKeyBindings();
    if (wanted.size() != keys.size()) return false;
    for (const auto& w : wanted) {
        auto key = std::find_if(keys.begin(), keys.end(), [&](const PropertyDef* k) { return equalNoCase(k->name, w.getName().getString()); });
        if (key == keys.end()) return false;
        cim::Uint32 i = instance.findProperty((*key)->name);
        if (i == cim::PEG_NOT_FOUND || !keyMatches(w, instance.getProperty(i).getValue())) return false;
    }
    return true;
}

std::string describeKeys(const cim::CIMObjectPath& path) {
    std::string out;
    for (const auto& k : path.getKeyBindings()) out += (out.empty() ? "" : ",") + k.getName().getString() + "=" + k.getValue();
    return out.empty() ? "(no keys)" : out;
}

// The parameter's value as a decimal number text, or nothing when it is not an integer.
std::optional<std::string> integerParameter(const cim::CIMValue& v) {
    if (v.isNull() || v.isArray()) return std::nullopt;
    if (isInteger(v.getType()) || v.getType() == cim::CIMType::String) return normalDecimal(v.toString());
    return std::nullopt;
}

std::optional<std::string> stringKey(const cim::CIMObjectPath& path, const char* name) {
    for (const auto& k : path.getKeyBindings())
        if (equalNoCase(k.getName().getString(), name)) return k.getValue();
    return std::nullopt;
}

// Every integer value (scalar or array) becomes a string value of the same texts.
cim::CIMValue integerAsString(const cim::CIMValue& v) {
    if (!isInteger(v.getType())) return v;
    if (v.isNull()) return cim::CIMValue(cim::CIMType::String, v.isArray());
    if (!v.isArray()) return cim::CIMValue(v.toString());
    std::vector<std::optional<cim::CIMValue::Scalar>> elements;
    for (cim::Uint32 i = 0; i < v.getArraySize(); ++i) {
        if (v.isElementNull(i))
            elements.emplace_back(std::nullopt);
        else
            elements.emplace_back(cim::String(v.getElement(i).toString()));
    }
    return cim::CIMValue::makeArray(cim::CIMType::String, std::move(elements));
}

cim::CIMInstance retypeIntegers(const cim::CIMInstance& in) {
    cim::CIMInstance out(in.getClassName());
    out.setPath(in.getPath());
    for (const auto& p : in.properties()) {
        cim::CIMProperty q(p.getName(), integerAsString(p.getValue()), p.getArraySize(), p.getReferenceClassName(),
                           p.getClassOrigin(), p.getPropagated());
        for (const auto& qual : p.qualifiers()) q.addQualifier(qual);
        out.addProperty(q);
    }
    return out;
}

bool wanted(const cim::CIMPropertyList& list, const std::string& name) {
    if (list.isNull()) return true;
    return std::any_of(list.names().begin(), list.names().end(),
                       [&](const cim::CIMName& n) { return equalNoCase(n.getString(), name); });
}

}  // namespace

const char* operationText(Operation op) {
    switch (op) {
        case Operation::EnumerateInstanceNames: return "EnumerateInstanceNames";
        case Operation::EnumerateInstances: return "EnumerateInstances";
        case Operation::GetInstance: return "GetInstance";
        case Operation::GetClass: return "GetClass";
        case Operation::CreateInstance: return "CreateInstance";
        case Operation::DeleteInstance: return "DeleteInstance";
        case Operation::InvokeMethod: return "InvokeMethod";
    }
    return "?";
}

RequestFacts factsOf(const Request& r, std::uint64_t seq) {
    RequestFacts f;
    f.operation = operationText(r.operation);
    f.nameSpace = r.nameSpace.getString();
    f.seq = seq;
    const cim::CIMObjectPath* target = nullptr;
    switch (r.operation) {
        case Operation::EnumerateInstanceNames:
        case Operation::EnumerateInstances:
        case Operation::GetClass: f.className = r.className.getString(); break;
        case Operation::CreateInstance: f.className = r.newInstance.getClassName().getString(); break;
        case Operation::GetInstance:
        case Operation::DeleteInstance: target = &r.instanceName; break;
        case Operation::InvokeMethod:
            target = &r.instanceName;
            f.method = r.methodName;
            break;
    }
    if (target) {
        f.className = target->getClassName().getString();
        if (!target->getKeyBindings().empty()) f.key = target->getKeyBindings().front().getValue();
    }
    return f;
}

Provider::Provider(Schema schema, Complex complex)
    : schema_(std::move(schema)), complex_(std::move(complex)), faults_(complex_.faults) {}

std::vector<std::string> Provider::activeRemoteComplexes() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& [address, count] : created_)
        if (count > 0) out.push_back(address);
    return out;
}

const NamespaceData* Provider::visibleNamespace(const std::string& name) const {
    const NamespaceData* ns = complex_.findNamespace(name);
    if (!ns) return nullptr;
    bool remote = false;
    std::lock_guard lock(mutex_);
    for (const auto& def : complex_.remoteComplexes) {
        if (def.nameSpace.empty() || !sameNamespace(def.nameSpace, ns->name)) continue;
        remote = true;
        auto it = created_.find(def.address);
        if (it != created_.end() && it->second > 0) return ns;
    }
    return remote ? nullptr : ns;
}

void Provider::collectInstances(const NamespaceData& ns, const ClassDef& cls, InstanceSet& out) const {
    for (const auto& c : schema_.classes()) {
        if (!schema_.derivesFrom(c, cls)) continue;
        if (const auto* list = ns.instancesOf(c.name))
            for (const auto& i : *list) out.items.push_back(&i);
        if (equalNoCase(c.name, kRemoteComplexClass)) {
            std::lock_guard lock(mutex_);
            for (const auto& [address, count] : created_) {
                if (count == 0) continue;
                cim::CIMInstance& created = out.created.emplace_back(c.name);
                created.addProperty(cim::CIMProperty("Address", cim::CIMValue(address)));
                created.setPath(instanceNameOf(c, created));
                out.items.push_back(&created);
            }
        }
    }
}

cim::CIMInstance Provider::shape(const cim::CIMInstance& instance, const ClassDef& requested, bool deepInheritance,
                                 bool includeQualifiers, bool includeClassOrigin,
                                 const cim::CIMPropertyList& propertyList) const {
    const ClassDef* actual = schema_.find(instance.getClassName().getString());
    // Property definitions are looked up only when the answer needs them.
    const bool subclass = actual && actual != &requested;
    const bool needDef = includeQualifiers || includeClassOrigin || (subclass && !deepInheritance);
    cim::CIMInstance out(instance.getClassName());
    out.setPath(instance.getPath());
    for (const auto& p : instance.properties()) {
        const std::string& name = p.getName().getString();
        if (!wanted(propertyList, name)) continue;
        const PropertyDef* def = needDef && actual ? actual->findProperty(name) : nullptr;
        // Without deep inheritance a subclass instance shows the requested class's properties only.
        if (!deepInheritance && subclass && def && !requested.findProperty(name)) continue;
        if (!needDef) {
            out.addProperty(p);  // loaded without qualifiers and class origin
            continue;
        }
        cim::CIMProperty q(p.getName(), p.getValue(), 0, p.getReferenceClassName(),
                           includeClassOrigin && def ? cim::CIMName(def->originClass) : cim::CIMName(), false);
        if (includeQualifiers && def) {
            const auto& classProperty = actual->cimClass.getProperty(actual->cimClass.findProperty(def->name));
            for (const auto& qual : classProperty.qualifiers()) q.addQualifier(qual);
        }
        out.addProperty(q);
    }
    return out;
}

Outcome Provider::handle(const Request& request, std::uint64_t seq) {
    Outcome out;
    std::optional<FaultRule> fault = faults_.match(factsOf(request, seq));
    if (fault) {
        switch (fault->action) {
            case FaultAction::CimError:
                out.response = error(request, fault->code, fault->description);
                out.result = "cim-error " + std::to_string(fault->code);
                out.fault = faultActionName(fault->action);
                return out;
            case FaultAction::HttpStatus:
                out.transport = Outcome::Transport::HttpStatus;
                out.httpStatus = fault->status;
                out.result = "http " + std::to_string(fault->status);
                out.fault = faultActionName(fault->action);
                return out;
            case FaultAction::Drop:
                out.transport = Outcome::Transport::Drop;
                out.result = out.fault.emplace(faultActionName(fault->action));
                return out;
            default: break;
        }
    }
    Response response = execute(request);
    bool applied = false;  // the rule changed this answer
    if (fault) {
        const bool isMethod = request.operation == Operation::InvokeMethod && !response.errorCode;
        switch (fault->action) {
            case FaultAction::Delay:
                out.delayMs = fault->ms;
                applied = true;
                break;
            case FaultAction::Truncated:
                out.transport = Outcome::Transport::Truncated;
                applied = true;
                break;
            case FaultAction::Malformed:
                out.transport = Outcome::Transport::Malformed;
                applied = true;
                break;
            case FaultAction::WrongType:
                for (auto& i : response.instances) i = retypeIntegers(i);
                response.instance = retypeIntegers(response.instance);
                response.returnValue = integerAsString(response.returnValue);
                applied = true;
                break;
            case FaultAction::NullReturn:
                // A null of the method's type: RETURNVALUE keeps its PARAMTYPE but carries no VALUE.
                if (isMethod) response.returnValue = cim::CIMValue(response.returnValue.getType(), false);
                applied = isMethod;
                break;
            case FaultAction::ReturnValue:
                if (isMethod) response.returnValue = fault->value;
                applied = isMethod;
                break;
            default: break;
        }
    }
    if (applied) {
        out.fault = faultActionName(fault->action);
        out.result = *out.fault;
    } else {
        out.result = response.errorCode ? "cim-error " + std::to_string(*response.errorCode) : "ok";
    }
    out.response = std::move(response);
    return out;
}

Response Provider::execute(const Request& r) {
    const NamespaceData* ns = visibleNamespace(r.nameSpace.getString());
    if (!ns)
        return error(r, cim::CIM_ERR_INVALID_NAMESPACE, "Namespace " + r.nameSpace.getString() + " does not exist");
    const RequestFacts facts = factsOf(r, 0);
    const ClassDef* cls = schema_.find(facts.className);
    if (!cls)
        return error(r, cim::CIM_ERR_INVALID_CLASS,
                     "Class " + facts.className + " does not exist in namespace " + ns->name);
    switch (r.operation) {
        case Operation::EnumerateInstanceNames: return enumerateInstanceNames(r, *ns, *cls);
        case Operation::EnumerateInstances: return enumerateInstances(r, *ns, *cls);
        case Operation::GetInstance: return getInstance(r, *ns, *cls);
        case Operation::GetClass: return getClass(r, *cls);
        case Operation::InvokeMethod: return invokeMethod(r, *ns, *cls);
        case Operation::CreateInstance: return createInstance(r, *cls);
        case Operation::DeleteInstance: return deleteInstance(r, *cls);
    }
    return error(r, cim::CIM_ERR_NOT_SUPPORTED, "Operation not supported");
}

Response Provider::enumerateInstanceNames(const Request& r, const NamespaceData& ns, const ClassDef& cls) const {
    InstanceSet instances;
    collectInstances(ns, cls, instances);
    Response out = answerTo(r);
    for (const cim::CIMInstance* i : instances.items) out.instanceNames.push_back(i->getPath());
    return out;
}

Response Provider::enumerateInstances(const Request& r, const NamespaceData& ns, const ClassDef& cls) const {
    InstanceSet instances;
    collectInstances(ns, cls, instances);
    Response out = answerTo(r);
    out.instances.reserve(instances.items.size());
    for (const cim::CIMInstance* i : instances.items)
        out.instances.push_back(
            shape(*i, cls, r.deepInheritance, r.includeQualifiers, r.includeClassOrigin, r.propertyList));
    return out;
}

Response Provider::getInstance(const Request& r, const NamespaceData& ns, const ClassDef& cls) const {
    InstanceSet instances;
    collectInstances(ns, cls, instances);
    for (const cim::CIMInstance* ip : instances.items) {
        const cim::CIMInstance& i = *ip;
        const ClassDef* actual = schema_.find(i.getClassName().getString());
        if (actual && instanceMatches(*actual, i, r.instanceName)) {
            Response out = answerTo(r);
            out.instance = shape(i, *actual, true, r.includeQualifiers, r.includeClassOrigin, r.propertyList);
            return out;
        }
    }
    return error(r, cim::CIM_ERR_NOT_FOUND,
                 providerText("No " + cls.name + " instance with " + describeKeys(r.instanceName), kCodeNoSuchInstance,
                              "The requested object does not exist"));
}

Response Provider::getClass(const Request& r, const ClassDef& cls) const {
    const cim::CIMClass& full = cls.cimClass;
    cim::CIMClass out(full.getClassName(), full.getSuperClassName());
    if (r.includeQualifiers)
        for (const auto& q : full.qualifiers()) out.addQualifier(q);
    for (const auto& p : full.properties()) {
        if (r.localOnly && p.getPropagated()) continue;
        if (!wanted(r.propertyList, p.getName().getString())) continue;
        cim::CIMProperty q(p.getName(), p.getValue(), p.getArraySize(), p.getReferenceClassName(),
                           r.includeClassOrigin ? p.getClassOrigin() : cim::CIMName(), p.getPropagated());
        if (r.includeQualifiers)
            for (const auto& qual : p.qualifiers()) q.addQualifier(qual);
        out.addProperty(q);
    }
    for (const auto& m : full.methods()) {
        if (r.localOnly && m.getPropagated()) continue;
        cim::CIMMethod method(m.getName(), m.getType(), r.includeClassOrigin ? m.getClassOrigin() : cim::CIMName(),
                              m.getPropagated());
        if (r.includeQualifiers)
            for (const auto& qual : m.qualifiers()) method.addQualifier(qual);
        for (const auto& p : m.parameters()) {
            cim::CIMParameter param(p.getName(), p.getType(), p.isArray(), p.getArraySize(), p.getReferenceClassName());
            if (r.includeQualifiers)
                for (const auto& qual : p.qualifiers()) param.addQualifier(qual);
            method.addParameter(param);
        }
        out.addMethod(method);
    }
    Response response = answerTo(r);
    response.cimClass = std::move(out);
    return response;
}

Response Provider::invokeMethod(const Request& r, const NamespaceData& ns, const ClassDef& cls) const {
    const MethodDef* method = cls.findMethod(r.methodName);
    if (!method)
        return error(r, cim::CIM_ERR_METHOD_NOT_FOUND, "Class " + cls.name + " has no method " + r.methodName);
    // A call on an instance needs that instance; a call on the class needs none.
    if (!r.instanceName.getKeyBindings().empty() && !equalNoCase(cls.name, kRemoteComplexClass)) {
        InstanceSet instances;
        collectInstances(ns, cls, instances);
        bool found = std::any_of(instances.items.begin(), instances.items.end(), [&](const cim::CIMInstance* i) {
            const ClassDef* actual = schema_.find(i->getClassName().getString());
            return actual && instanceMatches(*actual, *i, r.instanceName);
        });
        if (!found)
            return error(r, cim::CIM_ERR_NOT_FOUND,
                         providerText("No " + cls.name + " instance with " + describeKeys(r.instanceName),
                                      kCodeNoSuchInstance, "The target object does not exist"));
    }
    if (equalNoCase(method->name, "MakeID")) return makeId(r, ns, cls, *method);
    if (equalNoCase(method->name, "NameSpaceName") && equalNoCase(cls.name, kRemoteComplexClass)) return nameSpaceName(r);
    return error(r, cim::CIM_ERR_NOT_SUPPORTED, "Method " + method->name + " of " + cls.name + " is not implemented");
}

Response Provider::makeId(const Request& r, const NamespaceData& ns, const ClassDef& cls, const MethodDef& method) const {
    const PositionMap* map = nullptr;
    for (const auto& m : kPositionMaps) {
        const ClassDef* slotClass = schema_.find(m.className);
        if (slotClass && schema_.derivesFrom(cls, *slotClass)) map = &m;
    }
    if (!map) return error(r, cim::CIM_ERR_NOT_SUPPORTED, "MakeID is not implemented for " + cls.name);

    std::vector<std::pair<std::string, std::string>> position;  // slot property, wanted number
    std::string where;
    for (const auto& [param, property] : map->parameters) {
        auto given = std::find_if(r.inParams.begin(), r.inParams.end(),
                                  [&](const cim::CIMParamValue& p) { return equalNoCase(p.getParameterName(), param); });
        if (given == r.inParams.end())
            return error(r, cim::CIM_ERR_INVALID_PARAMETER, std::string("MakeID needs the parameter ") + param);
        auto number = integerParameter(given->getValue());
        if (!number)
            return error(r, cim::CIM_ERR_INVALID_PARAMETER,
                         std::string("MakeID parameter ") + param + " is not an integer: " + given->getValue().toString());
        position.emplace_back(property, *number);
        where += std::string(where.empty() ? "" : ", ") + param + " " + *number;
    }
    InstanceSet slots;
    collectInstances(ns, *schema_.find(map->className), slots);
    for (const cim::CIMInstance* slotp : slots.items) {
        const cim::CIMInstance& slot = *slotp;
        bool match = std::all_of(position.begin(), position.end(), [&](const auto& want) {
            cim::Uint32 i = slot.findProperty(want.first);
            if (i == cim::PEG_NOT_FOUND) return false;
            const cim::CIMValue& v = slot.getProperty(i).getValue();
            if (v.isNull() || v.isArray() || !isInteger(v.getType())) return false;
            return normalDecimal(v.toString()) == want.second;
        });
        if (!match) continue;
        Response out = answerTo(r);
        cim::Uint32 id = slot.findProperty("ID");
        if (id == cim::PEG_NOT_FOUND || slot.getProperty(id).getValue().isNull()) return out;  // no ID: null return
        const cim::CIMValue& v = slot.getProperty(id).getValue();
        out.returnValue = v;
        // An integer ID of another type is answered as the method's uint32 when it fits.
        if (method.returnType == cim::CIMType::Uint32 && isInteger(v.getType()) && !v.isArray()) {
            const std::string text = v.toString();
            cim::Uint32 id = 0;
            auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
            if (ec == std::errc() && end == text.data() + text.size()) out.returnValue = cim::CIMValue(id);
        }
        return out;
    }
    return error(r, cim::CIM_ERR_NOT_FOUND,
                 providerText("No " + std::string(map->objectWord) + " at " + where, kCodeNoSuchPosition,
                              "No slot exists at that position"));
}

Response Provider::createInstance(const Request& r, const ClassDef& cls) {
    if (!equalNoCase(cls.name, kRemoteComplexClass))
        return error(r, cim::CIM_ERR_NOT_SUPPORTED, "Instances of " + cls.name + " cannot be created");
    const cim::CIMInstance& in = r.newInstance;
    cim::Uint32 a = in.findProperty("Address");
    if (a == cim::PEG_NOT_FOUND || in.getProperty(a).getValue().isNull())
        return error(r, cim::CIM_ERR_INVALID_PARAMETER, "The property Address is required");
    const std::string address = in.getProperty(a).getValue().toString();
    cim::Uint32 p = in.findProperty("Password");
    const std::string password = p == cim::PEG_NOT_FOUND ? "" : in.getProperty(p).getValue().toString();
    for (const auto& def : complex_.remoteComplexes) {
        if (!equalNoCase(def.address, address)) continue;
        if (def.password != password)
            return error(r, cim::CIM_ERR_ACCESS_DENIED,
                         providerText("The MP at " + def.address + " rejected the login", kCodePasswordViolation,
                                      "Remote user or IPMI password violation"));
        {
            std::lock_guard lock(mutex_);
            ++created_[def.address];
        }
        Response out = answerTo(r);
        out.instanceName = cim::CIMObjectPath("", cim::CIMNamespaceName(), cls.name,
                                              {cim::CIMKeyBinding("Address", def.address, cim::CIMKeyBinding::STRING)});
        return out;
    }
    return error(r, cim::CIM_ERR_NOT_FOUND,
                 providerText("No management processor known at " + address, kCodeNoSuchMP,
                              "Unable to reach the management processor"));
}

Response Provider::deleteInstance(const Request& r, const ClassDef& cls) {
    if (!equalNoCase(cls.name, kRemoteComplexClass))
        return error(r, cim::CIM_ERR_NOT_SUPPORTED, "Instances of " + cls.name + " cannot be deleted");
    auto address = stringKey(r.instanceName, "Address");
    {
        std::lock_guard lock(mutex_);
        for (auto& [known, count] : created_) {
            if (address && equalNoCase(known, *address) && count > 0) {
                --count;
                return answerTo(r);
            }
        }
    }
    return error(r, cim::CIM_ERR_NOT_FOUND,
                 providerText("No " + cls.name + " instance with " + describeKeys(r.instanceName), kCodeNoSuchInstance,
                              "The requested object does not exist"));
}

Response Provider::nameSpaceName(const Request& r) const {
    auto address = stringKey(r.instanceName, "Address");
    if (address) {
        std::lock_guard lock(mutex_);
        for (const auto& def : complex_.remoteComplexes) {
            if (!equalNoCase(def.address, *address)) continue;
            auto it = created_.find(def.address);
            if (it == created_.end() || it->second == 0) break;
            Response out = answerTo(r);
            out.returnValue = cim::CIMValue(def.nameSpace);
            return out;
        }
    }
    return error(r, cim::CIM_ERR_NOT_FOUND,
                 providerText("No XK_KestRemoteComplex instance with " + describeKeys(r.instanceName),
                              kCodeNoSuchInstance, "The remote complex has not been created"));
}

}  // namespace kest
