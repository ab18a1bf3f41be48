// Fault rules: what they match, how they count, and what each action does
// to the answer.
#include <gtest/gtest.h>

#include "Fixtures.h"

namespace kest::test {
namespace {

using cim::xml::Operation;
using cim::xml::Request;

// ---------------------------------------------------------------- matching

struct MatchCase {
    const char* name;
    FaultRule rule;
    RequestFacts facts;
    bool matches;
};

FaultRule rule(std::optional<std::string> op, std::optional<std::string> ns, std::optional<std::string> cls,
               std::optional<std::string> key, std::optional<std::string> method, std::optional<std::uint64_t> request = {}) {
    FaultRule r;
    r.operation = std::move(op);
    r.nameSpace = std::move(ns);
    r.className = std::move(cls);
    r.key = std::move(key);
    r.method = std::move(method);
    r.request = request;
    return r;
}

RequestFacts facts(const char* op, const char* ns, const char* cls, std::optional<std::string> key = {},
                   std::optional<std::string> method = {}, std::uint64_t seq = 1) {
    return RequestFacts{op, ns, cls, std::move(key), std::move(method), seq};
}

TEST(FaultMatching, EachFieldNarrowsTheRule) {
    const auto none = std::nullopt;
    const MatchCase cases[] = {
        {"empty rule matches all", rule(none, none, none, none, none), facts("GetClass", "a", "B"), true},
        {"operation", rule("GetClass", none, none, none, none), facts("GetClass", "a", "B"), true},
        {"operation without case", rule("getclass", none, none, none, none), facts("GetClass", "a", "B"), true},
        {"other operation", rule("GetInstance", none, none, none, none), facts("GetClass", "a", "B"), false},
        {"namespace without case and slashes", rule(none, "/Root/CIMv2/", none, none, none), facts("GetClass", "root/cimv2", "B"), true},
        {"other namespace", rule(none, "root/cimv2/kest", none, none, none), facts("GetClass", "root/cimv2", "B"), false},
        {"class without case", rule(none, none, "xk_kestcell", none, none), facts("GetClass", "a", "XK_KestCell"), true},
        {"other class", rule(none, none, "XK_KestCell", none, none), facts("GetClass", "a", "XK_KestCellSlot"), false},
        {"key as number", rule(none, none, none, "17", none), facts("GetInstance", "a", "B", "017"), true},
        {"key differs", rule(none, none, none, "17", none), facts("GetInstance", "a", "B", "18"), false},
        {"key wanted, request has none", rule(none, none, none, "17", none), facts("EnumerateInstances", "a", "B"), false},
        {"key as text", rule(none, none, none, "10.1.1.1", none), facts("DeleteInstance", "a", "B", "10.1.1.1"), true},
        {"key text is exact", rule(none, none, none, "Mp", none), facts("DeleteInstance", "a", "B", "mp"), false},
        {"method", rule("InvokeMethod", none, none, none, "makeid"), facts("InvokeMethod", "a", "B", {}, "MakeID"), true},
        {"method wanted, none called", rule(none, none, none, none, "MakeID"), facts("GetClass", "a", "B"), false},
        {"request number", rule(none, none, none, none, none, 3), facts("GetClass", "a", "B", {}, {}, 3), true},
        {"other request number", rule(none, none, none, none, none, 3), facts("GetClass", "a", "B", {}, {}, 4), false},
        {"all fields", rule("InvokeMethod", "a", "B", "1", "MakeID"), facts("InvokeMethod", "a", "B", "1", "MakeID"), true},
        {"all but one field", rule("InvokeMethod", "a", "B", "1", "MakeID"), facts("InvokeMethod", "a", "C", "1", "MakeID"), false},
    };
    for (const auto& c : cases) EXPECT_EQ(matchesFields(c.rule, c.facts), c.matches) << c.name;
}

struct KeyCase {
    const char* a;
    const char* b;
    bool equal;
};

TEST(FaultMatching, KeyValuesCompareAsNumbersWhenBothAreNumbers) {
    const KeyCase cases[] = {
        {"7", "7", true}, {"007", "7", true}, {"+7", "7", true}, {"7", "8", false},
        {"-1", "-1", true}, {"7", "7.0", false}, {"a", "a", true}, {"a", "A", false}, {"", "", true}, {"", "0", false},
    };
    for (const auto& c : cases) EXPECT_EQ(keyValuesEqual(c.a, c.b), c.equal) << c.a << " vs " << c.b;
}

TEST(FaultMatching, ActionNamesRoundTrip) {
    const FaultAction all[] = {FaultAction::CimError, FaultAction::HttpStatus, FaultAction::Delay,
                               FaultAction::Drop, FaultAction::Truncated, FaultAction::Malformed,
                               FaultAction::WrongType, FaultAction::NullReturn, FaultAction::ReturnValue};
    for (FaultAction a : all) EXPECT_EQ(faultActionFromName(faultActionName(a)), a) << faultActionName(a);
    EXPECT_FALSE(faultActionFromName("Drop"));
}

// ---------------------------------------------------------------- counting

// A provider over the test complex with these fault rules.
Provider withFaults(const std::string& faultsJson) {
    std::ifstream in(dataPath("complex.json"));
    auto json = nlohmann::ordered_json::parse(in);
    json["faults"] = nlohmann::ordered_json::parse(faultsJson);
    return Provider(testSchema(), Complex::parse(json.dump(), testSchema(), "complex.json"));
}

struct SequenceCase {
    const char* name;
    const char* faults;
    std::vector<Request> requests;
    std::vector<std::string> results;  // the log result of each request in turn
};

TEST(FaultCounting, NthAndRequestNumbersAndFirstRuleWins) {
    const Request cls = request(Operation::GetClass, "XK_KestCell");
    const Request other = request(Operation::GetClass, "XK_KestCellSlot");
    const SequenceCase cases[] = {
        {"every match", R"([{"class": "XK_KestCell", "action": "cimError", "code": 1}])",
         {cls, other, cls}, {"cim-error 1", "ok", "cim-error 1"}},
        {"nth counts matching requests only", R"([{"class": "XK_KestCell", "nth": 2, "action": "cimError", "code": 4}])",
         {cls, other, other, cls, cls}, {"ok", "ok", "ok", "cim-error 4", "ok"}},
        {"request counts all requests", R"([{"request": 2, "action": "drop"}])",
         {cls, other, cls}, {"ok", "drop", "ok"}},
        {"first firing rule answers", R"([{"class": "XK_KestCell", "action": "cimError", "code": 1},
                                          {"action": "cimError", "code": 2}])",
         {cls, other}, {"cim-error 1", "cim-error 2"}},
        {"a rule skipped by an earlier one still counts",
         R"([{"request": 1, "action": "cimError", "code": 1},
             {"class": "XK_KestCell", "nth": 1, "action": "cimError", "code": 2},
             {"class": "XK_KestCell", "nth": 2, "action": "cimError", "code": 3}])",
         {cls, cls, cls}, {"cim-error 1", "cim-error 3", "ok"}},
        {"unknown class still reaches the rule", R"([{"class": "Nope", "action": "delay", "ms": 5}])",
         {request(Operation::GetClass, "Nope")}, {"delay"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Provider provider = withFaults(c.faults);
        ASSERT_EQ(c.requests.size(), c.results.size());
        for (std::size_t i = 0; i < c.requests.size(); ++i)
            EXPECT_EQ(provider.handle(c.requests[i], i + 1).result, c.results[i]) << "request " << i + 1;
    }
}

// ---------------------------------------------------------------- actions

struct ActionCase {
    const char* name;
    const char* faults;
    Request request;
    Outcome::Transport transport;
    std::string result;
    std::function<void(const Outcome&)> check;
};

cim::xml::Request makeIdCall() {
    return method("XK_KestCellSlot.ID=0", "MakeID",
                  {cim::CIMParamValue("CabinetID", cim::Uint8(1)), cim::CIMParamValue("SlotNumber", cim::Uint8(1))});
}

TEST(FaultActions, EachActionShapesTheAnswer) {
    using T = Outcome::Transport;
    const ActionCase cases[] = {
        {"cimError with description", R"([{"action": "cimError", "code": 1, "description": "provider failure@22:read lock"}])",
         request(Operation::EnumerateInstances, "XK_KestCell"), T::Normal, "cim-error 1",
         [](const Outcome& o) {
             ASSERT_TRUE(o.response);
             EXPECT_EQ(o.response->errorCode, 1u);
             EXPECT_EQ(o.response->errorDescription, "provider failure@22:read lock");
             EXPECT_TRUE(o.response->instances.empty());
             EXPECT_EQ(o.fault, "cimError");
         }},
        {"httpStatus", R"([{"action": "httpStatus", "status": 503}])", request(Operation::GetClass, "XK_KestCell"),
         T::HttpStatus, "http 503",
         [](const Outcome& o) {
             EXPECT_EQ(o.httpStatus, 503u);
             EXPECT_FALSE(o.response);
         }},
        {"drop", R"([{"action": "drop"}])", request(Operation::GetClass, "XK_KestCell"), T::Drop, "drop",
         [](const Outcome& o) { EXPECT_FALSE(o.response); }},
        {"delay answers normally", R"([{"action": "delay", "ms": 250}])", request(Operation::EnumerateInstances, "XK_KestCell"),
         T::Normal, "delay",
         [](const Outcome& o) {
             EXPECT_EQ(o.delayMs, 250u);
             ASSERT_TRUE(o.response);
             EXPECT_EQ(o.response->instances.size(), 3u);
         }},
        {"truncated keeps the response for the transport", R"([{"action": "truncated"}])",
         request(Operation::EnumerateInstances, "XK_KestCell"), T::Truncated, "truncated",
         [](const Outcome& o) { EXPECT_EQ(o.response->instances.size(), 3u); }},
        {"malformed", R"([{"action": "malformed"}])", request(Operation::GetClass, "XK_KestCell"), T::Malformed, "malformed",
         nullptr},
        {"wrongType retypes integers as strings", R"([{"action": "wrongType"}])",
         request(Operation::EnumerateInstances, "XK_KestCell"), T::Normal, "wrongType",
         [](const Outcome& o) {
             const auto& i = o.response->instances.at(0);
             EXPECT_EQ(prop(i, "CPUSpeed"), cim::CIMValue("1600"));
             EXPECT_EQ(prop(i, "FirmwareRevision"), cim::CIMValue("9.22"));
             const cim::CIMValue cpus = prop(i, "CPUStatus");
             EXPECT_EQ(cpus.getType(), cim::CIMType::String);
             ASSERT_EQ(cpus.getArraySize(), 4u);
             EXPECT_EQ(cpus.getElement(2), cim::CIMValue("2"));
             EXPECT_TRUE(cpus.isElementNull(3));
             const cim::CIMValue speed = prop(o.response->instances.at(1), "CPUSpeed");
             EXPECT_TRUE(speed.isNull());
             EXPECT_EQ(speed.getType(), cim::CIMType::String);
             EXPECT_EQ(i.getPath().toString(), "XK_KestCell.SlotID=0");  // the name keeps its keys
         }},
        {"wrongType on GetInstance", R"([{"action": "wrongType"}])", onPath(Operation::GetInstance, "XK_KestCellSlot.ID=1"),
         T::Normal, "wrongType",
         [](const Outcome& o) {
             EXPECT_EQ(prop(o.response->instance, "ID"), cim::CIMValue("1"));
             EXPECT_EQ(prop(o.response->instance, "Populated"), cim::CIMValue(true));
         }},
        {"wrongType on a method's return value", R"([{"action": "wrongType"}])", makeIdCall(), T::Normal, "wrongType",
         [](const Outcome& o) { EXPECT_EQ(o.response->returnValue, cim::CIMValue("17")); }},
        {"nullReturn", R"([{"method": "MakeID", "action": "nullReturn"}])", makeIdCall(), T::Normal, "nullReturn",
         [](const Outcome& o) {
             EXPECT_FALSE(o.response->errorCode);
             EXPECT_TRUE(o.response->returnValue.isNull());
             EXPECT_EQ(o.response->returnValue.getType(), cim::CIMType::Uint32);
         }},
        {"returnValue of another type", R"([{"action": "returnValue", "value": {"$type": "string", "value": "seventeen"}}])",
         makeIdCall(), T::Normal, "returnValue",
         [](const Outcome& o) { EXPECT_EQ(o.response->returnValue, cim::CIMValue("seventeen")); }},
        {"returnValue typed", R"([{"action": "returnValue", "value": {"$type": "uint32", "value": 255}}])", makeIdCall(),
         T::Normal, "returnValue",
         [](const Outcome& o) { EXPECT_EQ(o.response->returnValue, cim::CIMValue(cim::Uint32(255))); }},
        {"nullReturn leaves other operations alone", R"([{"action": "nullReturn"}])",
         request(Operation::EnumerateInstances, "XK_KestCell"), T::Normal, "ok",
         [](const Outcome& o) {
             EXPECT_FALSE(o.fault);
             EXPECT_EQ(o.response->instances.size(), 3u);
         }},
        {"nullReturn leaves a failed call alone", R"([{"action": "nullReturn"}])",
         method("XK_KestCellSlot", "MakeID", {}), T::Normal, "cim-error 4", nullptr},
        {"no rule", "[]", request(Operation::GetClass, "Nope"), T::Normal, "cim-error 5",
         [](const Outcome& o) {
             EXPECT_FALSE(o.fault);
             EXPECT_EQ(o.delayMs, 0u);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Provider provider = withFaults(c.faults);
        Outcome o = provider.handle(c.request, 1);
        EXPECT_EQ(o.transport, c.transport);
        EXPECT_EQ(o.result, c.result);
        if (c.check) c.check(o);
    }
}

TEST(FaultActions, FaultsDoNotChangeTheComplex) {
    // A cimError answering CreateInstance must not create the remote complex.
    Provider provider = withFaults(R"([{"operation": "CreateInstance", "action": "cimError", "code": 1}])");
    EXPECT_EQ(provider.handle(createRemote("10.1.1.1", "ipmi-secret"), 1).result, "cim-error 1");
    EXPECT_TRUE(provider.activeRemoteComplexes().empty());
}

}  // namespace
}  // namespace kest::test
