#include "Faults.h"

#include <charconv>

#include "Schema.h"

namespace kest {

namespace {

constexpr struct {
    FaultAction action;
    const char* name;
} kActionNames[] = {
    {FaultAction::CimError, "cimError"},     {FaultAction::HttpStatus, "httpStatus"},
    {FaultAction::Delay, "delay"},           {FaultAction::Drop, "drop"},
    {FaultAction::Truncated, "truncated"},   {FaultAction::Malformed, "malformed"},
    {FaultAction::WrongType, "wrongType"},   {FaultAction::NullReturn, "nullReturn"},
    {FaultAction::ReturnValue, "returnValue"},
};

// A decimal integer with an optional sign and nothing else.
std::optional<long long> decimal(const std::string& text) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') ++begin;
    long long v = 0;
    auto [p, ec] = std::from_chars(begin, end, v);
    if (ec != std::errc() || p != end || begin == end) return std::nullopt;
    return v;
}

// The namespace as a path without leading or trailing '/'.
std::string trimSlashes(const std::string& ns) {
    std::size_t b = ns.find_first_not_of('/');
    if (b == std::string::npos) return {};
    std::size_t e = ns.find_last_not_of('/');
    return ns.substr(b, e - b + 1);
}

}  // namespace

const char* faultActionName(FaultAction action) {
    for (const auto& a : kActionNames)
        if (a.action == action) return a.name;
    return "?";
}

std::optional<FaultAction> faultActionFromName(const std::string& name) {
    for (const auto& a : kActionNames)
        if (name == a.name) return a.action;
    return std::nullopt;
}

bool keyValuesEqual(const std::string& a, const std::string& b) {
    auto x = decimal(a);
    auto y = decimal(b);
    if (x && y) return *x == *y;
    return a == b;
}

bool matchesFields(const FaultRule& rule, const RequestFacts& facts) {
    if (rule.operation && !equalNoCase(*rule.operation, facts.operation)) return false;
    if (rule.nameSpace && !equalNoCase(trimSlashes(*rule.nameSpace), trimSlashes(facts.nameSpace))) return false;
    if (rule.className && !equalNoCase(*rule.className, facts.className)) return false;
    if (rule.key && !(facts.key && keyValuesEqual(*rule.key, *facts.key))) return false;
    if (rule.method && !(facts.method && equalNoCase(*rule.method, *facts.method))) return false;
    if (rule.request && *rule.request != facts.seq) return false;
    return true;
}

FaultTable::FaultTable(std::vector<FaultRule> rules) : rules_(std::move(rules)), counts_(rules_.size(), 0) {}

std::optional<FaultRule> FaultTable::match(const RequestFacts& facts) {
    std::lock_guard lock(mutex_);
    std::optional<FaultRule> fired;
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        if (!matchesFields(rules_[i], facts)) continue;
        const std::uint64_t n = ++counts_[i];
        if (!fired && (!rules_[i].nth || *rules_[i].nth == n)) fired = rules_[i];
    }
    return fired;
}

}  // namespace kest
