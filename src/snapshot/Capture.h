// Capturing a complex as a provider serves it: the classes cmplxview reads,
// turned into the two documents kest-provider serves again, the complex file
// (every instance in enumeration order, every property with its CIM type and
// value) and the schema file (the provider's own class definitions).
#pragma once

#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cim/Client.h"

namespace kestsnapshot {

using Json = nlohmann::ordered_json;

// A capture that cannot be completed; the message names the class and the cause.
class CaptureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Snapshot {
    Json complex;  // {"namespaces": {namespace: {class: [instance, ...]}}}
    Json schema;   // {"classes": [class, ...]}
};

// The classes of the complex that cmplxview reads, in the order they are captured.
const std::vector<std::string>& capturedClasses();

// One class of the schema document, from a class answered by GetClass with
// its qualifiers and inherited members.
Json classJson(const cim::CIMClass& cimClass);

// One instance of the complex document. A property the class declares with the
// type and array-ness the instance carries, and the provider's "errorCode"
// (uint32) and "errorMsg" (string), are plain JSON values; every other one
// names its CIM type, so that the replay serves it with the same type.
Json instanceJson(const cim::CIMInstance& instance, const cim::CIMClass& cimClass);

// Asks the provider for every captured class and its instances. A class the
// provider refuses (a CIM error) ends the capture unless it is in allowMissing
// (names compare without regard to case); it is then left out of both
// documents and a note goes to notes. Any other failure ends the capture.
Snapshot capture(cim::CIMClient& client, const cim::CIMNamespaceName& nameSpace,
                 const std::set<std::string>& allowMissing, std::ostream& notes);

// The documents as text, in one fixed layout so that equal documents are equal
// bytes: two-space indentation, members in document order, lists of plain
// values on one line, schema properties and parameters one per line.
std::string formatComplex(const Json& complex);
std::string formatSchema(const Json& schema);
// The one-document form: the complex file with the schema in its "schema" member.
std::string formatOneDocument(const Snapshot& snapshot);

}  // namespace kestsnapshot
