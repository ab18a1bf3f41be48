#include "RequestLog.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace kest {

namespace {

bool isSecret(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return name.find("password") != std::string::npos;
}

}  // namespace

std::vector<LoggedProperty> loggedProperties(const cim::CIMInstance& instance) {
    std::vector<LoggedProperty> out;
    for (const auto& p : instance.properties()) {
        LoggedProperty l;
        l.name = p.getName().getString();
        l.type = cim::cimTypeName(p.getType());
        l.array = p.isArray();
        if (!p.getValue().isNull()) l.value = isSecret(l.name) ? std::string("****") : p.getValue().toString();
        out.push_back(std::move(l));
    }
    return out;
}

std::string formatLogEntry(const LogEntry& e) {
    nlohmann::ordered_json j;
    auto text = [](const std::optional<std::string>& v) { return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json(); };
    j["conn"] = e.conn;
    j["seq"] = e.seq;
    j["op"] = text(e.op);
    j["ns"] = text(e.ns);
    j["class"] = text(e.className);
    j["key"] = text(e.key);
    j["method"] = text(e.method);
    j["user"] = text(e.user);
    j["result"] = e.result;
    j["fault"] = text(e.fault);
    if (e.properties) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const auto& p : *e.properties) {
            nlohmann::ordered_json item;
            item["name"] = p.name;
            item["type"] = p.type;
            item["array"] = p.array;
            item["value"] = text(p.value);
            list.push_back(std::move(item));
        }
        j["properties"] = std::move(list);
    }
    // Texts come from the network: replace invalid UTF-8 instead of failing.
    return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

RequestLog::RequestLog(const std::string& path) : file_(std::fopen(path.c_str(), "a")) {
    if (!file_) throw std::runtime_error(path + ": " + std::strerror(errno));
}

RequestLog::~RequestLog() { std::fclose(file_); }

void RequestLog::write(const LogEntry& entry) {
    const std::string line = formatLogEntry(entry) + "\n";
    std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

}  // namespace kest
