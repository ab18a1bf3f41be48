// provider_load: starts kest-provider on a temporary Unix-domain socket and
// drives it with concurrent keep-alive clients, each sending a fixed mix of
// the requests cmplxview makes. Reports sustained requests per second, p50
// and p99 latency, and the provider's resident memory after warm-up and at
// the end.
//
//   provider_load [--clients 8] [--requests 100000] [--complex FILE] [--schema FILE]
//                 [--provider PATH]
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <utility>  // before Boost.Asio 1.74, whose awaitable.hpp needs std::exchange
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "cim/Codec.h"

extern char** environ;

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
    int clients = 8;
    long requests = 100000;
    std::string complex = KEST_DEFAULT_COMPLEX;
    std::string schema;
    std::string provider = KEST_PROVIDER;
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << a << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--clients") o.clients = std::max(1, std::atoi(next().c_str()));
        else if (a == "--requests") o.requests = std::max(1L, std::atol(next().c_str()));
        else if (a == "--complex") o.complex = next();
        else if (a == "--schema") o.schema = next();
        else if (a == "--provider") o.provider = next();
        else {
            std::cerr << "usage: provider_load [--clients N] [--requests N] [--complex FILE] [--schema FILE] [--provider PATH]\n";
            std::exit(2);
        }
    }
    return o;
}

long rssKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// The requests of one round, as cmplxview would send them: count, enumerate,
// a keyed fetch, a ValueMap lookup and a MakeID call.
std::vector<http::request<http::string_body>> requestMix() {
    using cim::xml::Operation;
    const cim::CIMNamespaceName ns("root/cimv2/kest");
    std::vector<cim::xml::Request> mix;
    cim::xml::Request r;
    r.nameSpace = ns;
    r.operation = Operation::EnumerateInstanceNames;
    r.className = "XK_KestComplex";
    mix.push_back(r);
    r.operation = Operation::EnumerateInstances;
    r.className = "XK_KestCellSlot";
    r.localOnly = false;
    r.deepInheritance = false;
    r.includeQualifiers = true;
    mix.push_back(r);
    r = {};
    r.nameSpace = ns;
    r.operation = Operation::GetInstance;
    r.instanceName = cim::CIMObjectPath("XK_KestPartition.PartitionID=0");
    mix.push_back(r);
    r = {};
    r.nameSpace = ns;
    r.operation = Operation::GetClass;
    r.className = "XK_KestCell";
    r.localOnly = false;
    r.includeQualifiers = true;
    mix.push_back(r);
    r = {};
    r.nameSpace = ns;
    r.operation = Operation::InvokeMethod;
    r.instanceName = cim::CIMObjectPath("XK_KestCellSlot.ID=0");
    r.methodName = "MakeID";
    r.inParams = {cim::CIMParamValue("CabinetID", cim::Uint8(0)), cim::CIMParamValue("SlotNumber", cim::Uint8(1))};
    mix.push_back(r);

    std::vector<http::request<http::string_body>> out;
    for (const auto& req : mix) {
        http::request<http::string_body> h{http::verb::post, "/cimom", 11};
        const auto headers = cim::xml::requestHeaders(req);
        h.set(http::field::host, "localhost");
        h.set(http::field::content_type, "application/xml; charset=\"utf-8\"");
        h.set("CIMOperation", "MethodCall");
        h.set("CIMMethod", headers.cimMethod);
        h.set("CIMObject", headers.cimObject);
        h.body() = cim::xml::encodeRequest(req);
        h.prepare_payload();
        out.push_back(std::move(h));
    }
    return out;
}

struct Worker {
    std::vector<double> latenciesUs;
    long errors = 0;
};

// Sends count requests of the mix on one kept-alive connection.
void drive(const std::string& socketPath, const std::vector<http::request<http::string_body>>& mix, long count,
           Worker& w) {
    asio::io_context io;
    asio::local::stream_protocol::socket s(io);
    s.connect(asio::local::stream_protocol::endpoint(socketPath));
    beast::flat_buffer buffer;
    w.latenciesUs.reserve(std::size_t(count));
    for (long i = 0; i < count; ++i) {
        const auto& req = mix[std::size_t(i) % mix.size()];
        const auto t0 = Clock::now();
        http::write(s, req);
        http::response<http::string_body> res;
        http::read(s, buffer, res);
        const auto t1 = Clock::now();
        if (res.result() != http::status::ok || res.body().find("<ERROR") != std::string::npos) ++w.errors;
        w.latenciesUs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    const fs::path dir = fs::temp_directory_path() / ("kest-load-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string socketPath = (dir / "cimxml.socket").string();
    const std::string ready = (dir / "ready").string();

    std::vector<std::string> args = {o.provider, "--socket", socketPath, "--ready-file", ready};
    if (!o.schema.empty()) args.insert(args.end(), {"--schema", o.schema});
    args.push_back(o.complex);
    std::vector<char*> argvp;
    for (auto& a : args) argvp.push_back(a.data());
    argvp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argvp[0], nullptr, nullptr, argvp.data(), environ) != 0) {
        std::cerr << "cannot start " << o.provider << "\n";
        return 1;
    }
    for (int i = 0; i < 3000 && !fs::exists(ready); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!fs::exists(ready)) {
        std::cerr << "kest-provider did not get ready\n";
        ::kill(pid, SIGKILL);
        return 1;
    }

    int status = 0;
    try {
        const auto mix = requestMix();
        // Warm-up: one round per client, so the resident size after it is the base line.
        {
            std::vector<Worker> warm(std::size_t(o.clients));
            std::vector<std::thread> threads;
            for (int c = 0; c < o.clients; ++c)
                threads.emplace_back(drive, socketPath, std::cref(mix), 200, std::ref(warm[std::size_t(c)]));
            for (auto& t : threads) t.join();
        }
        const long rssBefore = rssKiB(pid);

        std::vector<Worker> workers(std::size_t(o.clients));
        std::vector<std::thread> threads;
        const long each = o.requests / o.clients;
        const auto t0 = Clock::now();
        for (int c = 0; c < o.clients; ++c)
            threads.emplace_back(drive, socketPath, std::cref(mix), each + (c < o.requests % o.clients ? 1 : 0),
                                 std::ref(workers[std::size_t(c)]));
        for (auto& t : threads) t.join();
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        const long rssAfter = rssKiB(pid);

        std::vector<double> all;
        long errors = 0;
        for (auto& w : workers) {
            all.insert(all.end(), w.latenciesUs.begin(), w.latenciesUs.end());
            errors += w.errors;
        }
        std::sort(all.begin(), all.end());
        auto pct = [&](double p) { return all[std::min(all.size() - 1, std::size_t(p * double(all.size())))]; };
        std::printf("complex            %s\n", o.complex.c_str());
        std::printf("clients            %d (one kept-alive connection each)\n", o.clients);
        std::printf("requests           %zu (%ld errors)\n", all.size(), errors);
        std::printf("elapsed            %.2f s\n", seconds);
        std::printf("throughput         %.0f requests/s\n", double(all.size()) / seconds);
        std::printf("latency p50        %.0f us\n", pct(0.50));
        std::printf("latency p99        %.0f us\n", pct(0.99));
        std::printf("latency max        %.0f us\n", all.back());
        std::printf("provider RSS       %.1f MiB after warm-up, %.1f MiB after the run (%+.1f MiB)\n",
                    double(rssBefore) / 1024, double(rssAfter) / 1024, double(rssAfter - rssBefore) / 1024);
        status = errors ? 1 : 0;
    } catch (const std::exception& e) {
        std::cerr << "provider_load: " << e.what() << "\n";
        status = 1;
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    fs::remove_all(dir);
    return status;
}
