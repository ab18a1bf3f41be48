// Fault injection: rules from the complex file that replace the normal answer
// to the requests they match.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cim/Value.h"

namespace kest {

enum class FaultAction { CimError, HttpStatus, Delay, Drop, Truncated, Malformed, WrongType, NullReturn, ReturnValue };

// The spelling used in the complex file and in the request log.
const char* faultActionName(FaultAction action);
std::optional<FaultAction> faultActionFromName(const std::string& name);

struct FaultRule {
    // Match fields; an absent field matches everything.
    std::optional<std::string> operation;
    std::optional<std::string> nameSpace;
    std::optional<std::string> className;
    std::optional<std::string> key;
    std::optional<std::string> method;
    std::optional<std::uint64_t> request;  // the n-th request received, 1-based
    std::optional<std::uint64_t> nth;      // the n-th request matching the other fields
    // What to answer.
    FaultAction action = FaultAction::CimError;
    cim::Uint32 code = 1;     // cimError
    std::string description;  // cimError
    unsigned status = 500;    // httpStatus
    unsigned ms = 0;          // delay
    cim::CIMValue value;      // returnValue
};

// What a fault rule can be matched against, taken from one request.
struct RequestFacts {
    std::string operation;  // "GetInstance", ..., "InvokeMethod"
    std::string nameSpace;
    std::string className;
    std::optional<std::string> key;     // the first key binding's value text
    std::optional<std::string> method;  // the extrinsic method's name
    std::uint64_t seq = 0;              // 1-based number of the request over all connections
};

// True when every field of the rule other than nth matches the request.
bool matchesFields(const FaultRule& rule, const RequestFacts& facts);

// Key values compare as numbers when both are decimal integers ("007" is 7),
// otherwise as exact text.
bool keyValuesEqual(const std::string& a, const std::string& b);

// The rules in file order with their match counters. Every rule whose fields
// match counts the request; the first of them that fires answers it (a rule
// with nth fires only on its nth match). Safe to call from several threads.
class FaultTable {
public:
    FaultTable() = default;
    explicit FaultTable(std::vector<FaultRule> rules);
    std::optional<FaultRule> match(const RequestFacts& facts);
    std::size_t size() const { return rules_.size(); }

private:
    std::vector<FaultRule> rules_;
    std::vector<std::uint64_t> counts_;
    std::mutex mutex_;
};

}  // namespace kest
