// Fault rules: what they match, how they count, and what the actions that change the answer do to it.
#include <gtest/gtest.h>

#include "Fixtures.h"

namespace kest::test {
namespace {

using cim::xml::Operation;
using cim::xml::Request;
using Opt = std::optional<std::string>;

TEST(FaultMatching, EachFieldNarrowsTheRule) {
    const auto _ = std::nullopt;
    // the rule's operation, namespace, class, key, method and request number; the request; whether it matches
    const std::tuple<Opt, Opt, Opt, Opt, Opt, std::optional<std::uint64_t>, RequestFacts, bool> cases[] = {
        {_, _, _, _, _, _, {"GetClass", "a", "B", _, _, 1}, true},
        {"getclass", _, _, _, _, _, {"GetClass", "a", "B", _, _, 1}, true},
        {"GetInstance", _, _, _, _, _, {"GetClass", "a", "B", _, _, 1}, false},
        {_, "/Root/CIMv2/", _, _, _, _, {"GetClass", "root/cimv2", "B", _, _, 1}, true},
        {_, "root/cimv2/kest", _, _, _, _, {"GetClass", "root/cimv2", "B", _, _, 1}, false},
        {_, _, "xk_kestcell", _, _, _, {"GetClass", "a", "XK_KestCell", _, _, 1}, true},
        {_, _, "XK_KestCell", _, _, _, {"GetClass", "a", "XK_KestCellSlot", _, _, 1}, false},
        {_, _, _, "17", _, _, {"GetInstance", "a", "B", "017", _, 1}, true},
        {_, _, _, "17", _, _, {"GetInstance", "a", "B", "18", _, 1}, false},
        {_, _, _, "17", _, _, {"EnumerateInstances", "a", "B", _, _, 1}, false},
        {_, _, _, "Mp", _, _, {"DeleteInstance", "a", "B", "mp", _, 1}, false},
        {"InvokeMethod", _, _, _, "makeid", _, {"InvokeMethod", "a", "B", _, "MakeID", 1}, true},
        {_, _, _, _, "MakeID", _, {"GetClass", "a", "B", _, _, 1}, false},
        {_, _, _, _, _, 3, {"GetClass", "a", "B", _, _, 3}, true},
        {_, _, _, _, _, 3, {"GetClass", "a", "B", _, _, 4}, false},
        {"InvokeMethod", "a", "B", "1", "MakeID", _, {"InvokeMethod", "a", "B", "1", "MakeID", 1}, true},
        {"InvokeMethod", "a", "B", "1", "MakeID", _, {"InvokeMethod", "a", "C", "1", "MakeID", 1}, false},
    };
    int row = 0;
    for (const auto& [op, ns, cls, key, method, request, facts, matches] : cases) {
        FaultRule r;
        r.operation = op, r.nameSpace = ns, r.className = cls, r.key = key, r.method = method, r.request = request;
        EXPECT_EQ(matchesFields(r, facts), matches) << "row " << row++;
    }
}

TEST(FaultMatching, KeyValuesCompareAsNumbersWhenBothAreNumbers) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"7", "7", true}, {"007", "7", true}, {"+7", "7", true}, {"7", "8", false},  {"-1", "-1", true},
        {"7", "7.0", false}, {"a", "a", true}, {"a", "A", false}, {"", "", true}, {"", "0", false},
    };
    for (const auto& [a, b, equal] : cases) EXPECT_EQ(keyValuesEqual(a, b), equal) << a << " vs " << b;
    EXPECT_FALSE(faultActionFromName("Drop"));  // every name is read and logged in the transport and action rows
}

TEST(FaultCounting, NthAndRequestNumbersAndFirstRuleWins) {
    const Request cls = request(Operation::GetClass, "XK_KestCell");
    const Request other = request(Operation::GetClass, "XK_KestCellSlot");
    // name, fault rules, requests, the log result of each request in turn
    const std::tuple<const char*, const char*, std::vector<Request>, std::vector<std::string>> cases[] = {
        {"every match", R"([{"class": "XK_KestCell", "action": "cimError", "code": 1}])",
         {cls, other, cls}, {"cim-error 1", "ok", "cim-error 1"}},
        {"nth counts matching requests only", R"([{"class": "XK_KestCell", "nth": 2, "action": "cimError", "code": 4}])",
         {cls, other, other, cls, cls}, {"ok", "ok", "ok", "cim-error 4", "ok"}},
        {"request counts all requests", R"([{"request": 2, "action": "drop"}])", {cls, other, cls}, {"ok", "drop", "ok"}},
        {"first firing rule answers",
         R"([{"class": "XK_KestCell", "action": "cimError", "code": 1}, {"action": "cimError", "code": 2}])",
         {cls, other}, {"cim-error 1", "cim-error 2"}},
        {"a rule skipped by an earlier one still counts",
         R"([{"request": 1, "action": "cimError", "code": 1},
             {"class": "XK_KestCell", "nth": 1, "action": "cimError", "code": 2},
             {"class": "XK_KestCell", "nth": 2, "action": "cimError", "code": 3}])",
         {cls, cls, cls}, {"cim-error 1", "cim-error 3", "ok"}},
        {"unknown class still reaches the rule", R"([{"class": "Nope", "action": "delay", "ms": 5}])",
         {request(Operation::GetClass, "Nope")}, {"delay"}},
        {"a fault answering CreateInstance creates nothing",
         R"([{"operation": "CreateInstance", "nth": 1, "action": "cimError", "code": 1}])",
         {createRemote("10.1.1.1", "ipmi-secret"), onPath(Operation::DeleteInstance, "XK_KestRemoteComplex.Address=\"10.1.1.1\"")},
         {"cim-error 1", "cim-error 6"}},
    };
    for (const auto& [name, faults, requests, results] : cases) {
        Provider provider = withFaults(faults);
        for (std::size_t i = 0; i < requests.size(); ++i)
            EXPECT_EQ(provider.handle(requests[i], i + 1).result, results.at(i)) << name << ", request " << i + 1;
    }
}

TEST(FaultActions, ActionsThatChangeTheAnswer) {
    const Request makeId = method("XK_KestCellSlot.ID=0", "MakeID",
                                  {cim::CIMParamValue("CabinetID", cim::Uint8(1)), cim::CIMParamValue("SlotNumber", cim::Uint8(1))});
    const Request cells = request(Operation::EnumerateInstances, "XK_KestCell");
    const char* cellNames = "XK_KestCell.SlotID=0 XK_KestCell.SlotID=1 XK_KestCell.SlotID=2";
    using R = cim::xml::Response;
    // name, fault rules, request, log result, answer, a further check of it
    const std::tuple<const char*, const char*, Request, std::string, const char*, std::function<void(const R&)>> cases[] = {
        {"wrongType retypes integers as strings", R"([{"action": "wrongType"}])", cells, "wrongType", cellNames,
         [](const R& r) {
             const auto& i = r.instances.at(0);
             EXPECT_EQ(prop(i, "CPUSpeed"), cim::CIMValue("1600"));
             EXPECT_EQ(prop(i, "FirmwareRevision"), cim::CIMValue("9.22"));
             const cim::CIMValue cpus = prop(i, "CPUStatus");
             EXPECT_EQ(cpus.getType(), cim::CIMType::String);
             EXPECT_EQ(cpus.getElement(2), cim::CIMValue("2"));
             EXPECT_TRUE(cpus.isElementNull(3));
             EXPECT_EQ(prop(r.instances.at(1), "CPUSpeed"), cim::CIMValue(cim::CIMType::String, false));
         }},
        {"wrongType on GetInstance", R"([{"action": "wrongType"}])", onPath(Operation::GetInstance, "XK_KestCellSlot.ID=1"),
         "wrongType", "XK_KestCellSlot.ID=1",
         [](const R& r) {
             EXPECT_EQ(prop(r.instance, "ID"), cim::CIMValue("1"));
             EXPECT_EQ(prop(r.instance, "Populated"), cim::CIMValue(true));
         }},
        {"wrongType on a return value", R"([{"action": "wrongType"}])", makeId, "wrongType", "string \"17\"", nullptr},
        {"nullReturn", R"([{"method": "MakeID", "action": "nullReturn"}])", makeId, "nullReturn", "uint32 null", nullptr},
        {"returnValue of another type", R"([{"action": "returnValue", "value": {"$type": "string", "value": "x"}}])", makeId,
         "returnValue", "string \"x\"", nullptr},
        {"returnValue typed", R"([{"action": "returnValue", "value": {"$type": "uint32", "value": 255}}])", makeId,
         "returnValue", "uint32 255", nullptr},
        {"nullReturn leaves other operations alone", R"([{"action": "nullReturn"}])", cells, "ok", cellNames, nullptr},
        {"nullReturn leaves a failed call alone", R"([{"action": "nullReturn"}])", method("XK_KestCellSlot", "MakeID", {}),
         "cim-error 4", "4 ", nullptr},
        {"no rule", "[]", request(Operation::GetClass, "Nope"), "cim-error 5", "5 ", nullptr},
    };
    for (const auto& [name, faults, request, result, expected, check] : cases) {
        SCOPED_TRACE(name);
        Provider provider = withFaults(faults);
        Outcome o = provider.handle(request, 1);
        const bool cimError = result.rfind("cim-error", 0) == 0;
        EXPECT_EQ(o.transport, Outcome::Transport::Normal);
        EXPECT_EQ(o.result, result);
        EXPECT_EQ(o.fault.has_value(), result != "ok" && !cimError);
        ASSERT_TRUE(o.response);
        EXPECT_EQ(answer(*o.response), expected);
        if (check) check(*o.response);
    }
}

}  // namespace
}  // namespace kest::test
