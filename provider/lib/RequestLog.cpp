#include "RequestLog.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace kest {

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
