// A scripted HTTP peer for client tests: it listens on a Unix-domain socket,
// reads each request whole, and answers by the script, one step per request.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + p.string());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A socket path of the running test's own, so tests can run in parallel.
inline std::string socketPath() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    for (auto& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '-';
    return std::filesystem::temp_directory_path() / ("cimclient-" + std::to_string(::getpid()) + "-" + name.substr(0, 60));
}

struct ScopedEnv {
    ScopedEnv(const char* name, const std::string& value) : name_(name) { ::setenv(name, value.c_str(), 1); }
    ~ScopedEnv() { ::unsetenv(name_); }
    const char* name_;
};

struct ReceivedRequest {
    std::string head;  // request line and headers
    std::string body;
};

class FakeServer {
public:
    // A step answers one request: after delayMs, the bytes to send (none without
    // an answer), and whether to close the connection afterwards.
    struct Step {
        std::function<std::string(const ReceivedRequest&)> answer;
        bool closeAfter = false;
        int delayMs = 0;
    };

    explicit FakeServer(std::string path) : path_(std::move(path)) {
        ::unlink(path_.c_str());
        listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
        if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 8) != 0)
            throw std::runtime_error("fake server cannot listen on " + path_);
    }
    ~FakeServer() {
        stop_ = true;
        ::shutdown(listenFd_, SHUT_RDWR);
        ::close(listenFd_);
        if (thread_.joinable()) thread_.join();
        ::unlink(path_.c_str());
    }
    void run(std::vector<Step> script) {
        script_ = std::move(script);
        thread_ = std::thread([this] { serve(); });
    }
    std::vector<ReceivedRequest> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    int connections() const { return connections_; }
    const std::string& path() const { return path_; }

private:
    // Reads one request (headers, then Content-Length bytes); false at end of stream.
    static bool readRequest(int fd, std::string& pending, ReceivedRequest& out) {
        for (char buf[65536];;) {
            if (auto end = pending.find("\r\n\r\n"); end != std::string::npos) {
                out.head = pending.substr(0, end);
                std::string lower = out.head;
                for (auto& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
                auto p = lower.find("content-length:");
                std::size_t length = p == std::string::npos ? 0 : std::stoul(out.head.substr(p + 15));
                if (pending.size() >= end + 4 + length) {
                    out.body = pending.substr(end + 4, length);
                    pending.erase(0, end + 4 + length);
                    return true;
                }
            }
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return false;
            pending.append(buf, std::size_t(n));
        }
    }

    void serve() {
        std::size_t step = 0;
        while (!stop_ && step < script_.size()) {
            int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            ++connections_;
            std::string pending;
            for (ReceivedRequest request; !stop_ && step < script_.size() && readRequest(fd, pending, request);) {
                {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(request);
                }
                const Step& s = script_[step++];
                std::this_thread::sleep_for(std::chrono::milliseconds(s.delayMs));
                const std::string bytes = s.answer ? s.answer(request) : "";
                for (std::size_t sent = 0; sent < bytes.size();) {
                    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
                    if (n <= 0) break;
                    sent += std::size_t(n);
                }
                if (s.closeAfter) break;
            }
            ::close(fd);
        }
    }

    std::string path_;
    int listenFd_ = -1;
    std::vector<Step> script_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::mutex mutex_;
    std::vector<ReceivedRequest> requests_;
};
