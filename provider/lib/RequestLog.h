// The request log: one JSON object per line and per request, appended to a
// file, so that tests can check what was asked and how it was answered.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cim/Object.h"

namespace kest {

// One property of an instance a client sent (CreateInstance). The value of a
// property whose name mentions a password is never written: it shows as
// "****" (or null when the client sent a null value).
struct LoggedProperty {
    std::string name;
    std::string type;  // the CIM type name: "string", "uint8", ...
    bool array = false;
    std::optional<std::string> value;  // null for a null value
};

struct LogEntry {
    std::uint64_t conn = 0;
    std::uint64_t seq = 0;
    std::optional<std::string> op;
    std::optional<std::string> ns;
    std::optional<std::string> className;
    std::optional<std::string> key;
    std::optional<std::string> method;
    std::optional<std::string> user;
    std::string result;
    std::optional<std::string> fault;
    std::optional<std::vector<LoggedProperty>> properties;  // CreateInstance only
};

// The properties of an instance as the log shows them, secrets hidden.
std::vector<LoggedProperty> loggedProperties(const cim::CIMInstance& instance);

// The entry as one line of JSON (without the line break).
std::string formatLogEntry(const LogEntry& entry);

class RequestLog {
public:
    explicit RequestLog(const std::string& path);  // throws std::runtime_error when it cannot be opened
    ~RequestLog();
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;
    void write(const LogEntry& entry);  // appends and flushes; thread-safe

private:
    std::FILE* file_ = nullptr;
    std::mutex mutex_;
};

}  // namespace kest
