// client_bench: the per-request cost of the CIM client layer. One CIMClient
// connects (locally on a Unix-domain socket, or over HTTPS), makes a few
// warm-up requests, then times `count` identical requests and prints one JSON
// line: operation, count, seconds, requests per second, mean latency.
// bench/client.py runs it side by side with curl replaying the same request
// body and checks in the provider's log that one client object made one
// connection.
//
//   client_bench --op enumerateInstances|getClass --class NAME [--count N] [--warmup N]
//                [--socket PATH | --https HOST:PORT --user USER --password PASSWORD]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "cim/Client.h"
#include "cim/Exception.h"

namespace {

bool acceptAny(cim::SSLCertificateInfo&) { return true; }

[[noreturn]] void usage(const char* problem) {
    std::fprintf(stderr,
                 "client_bench: %s\n"
                 "usage: client_bench --op enumerateInstances|getClass --class NAME [--count N] [--warmup N]\n"
                 "                    [--socket PATH | --https HOST:PORT --user USER --password PASSWORD]\n",
                 problem);
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    std::string op, className, socketPath, https, user, password;
    std::string nameSpace = "root/cimv2/kest";
    long count = 1000, warmup = 20;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage((arg + " needs a value").c_str());
            return argv[++i];
        };
        if (arg == "--op") op = value();
        else if (arg == "--class") className = value();
        else if (arg == "--namespace") nameSpace = value();
        else if (arg == "--count") count = std::atol(value().c_str());
        else if (arg == "--warmup") warmup = std::atol(value().c_str());
        else if (arg == "--socket") socketPath = value();
        else if (arg == "--https") https = value();
        else if (arg == "--user") user = value();
        else if (arg == "--password") password = value();
        else usage(("unknown argument " + arg).c_str());
    }
    if ((op != "enumerateInstances" && op != "getClass") || className.empty() || count < 1 || warmup < 0)
        usage("--op and --class are needed, --count at least 1");

    try {
        cim::CIMClient client;
        client.setTimeout(60000);
        if (!https.empty()) {
            const auto colon = https.rfind(':');
            if (colon == std::string::npos) usage("--https needs HOST:PORT");
            cim::SSLContext ssl("", &acceptAny, "");
            client.connect(https.substr(0, colon), static_cast<cim::Uint32>(std::stoul(https.substr(colon + 1))),
                           ssl, user, password);
        } else {
            if (!socketPath.empty()) ::setenv("XK_CIM_SOCKET", socketPath.c_str(), 1);
            client.connectLocal();
        }

        std::size_t items = 0;
        auto request = [&] {
            if (op == "getClass") {
                // As cmplxview asks for a value map: qualifiers, not local only.
                cim::CIMClass c = client.getClass(nameSpace, className.c_str(), false, true, false);
                items = c.getPropertyCount();
            } else {
                items = client.enumerateInstances(nameSpace, className.c_str()).size();
            }
        };
        for (long i = 0; i < warmup; ++i) request();
        const auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < count; ++i) request();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        client.disconnect();
        std::printf(
            "{\"op\": \"%s\", \"class\": \"%s\", \"count\": %ld, \"warmup\": %ld, \"items\": %zu, "
            "\"seconds\": %.6f, \"rps\": %.1f, \"mean_us\": %.2f}\n",
            op.c_str(), className.c_str(), count, warmup, items, seconds, count / seconds, seconds * 1e6 / count);
        return 0;
    } catch (const cim::Exception& e) {
        std::fprintf(stderr, "client_bench: %s\n", e.getMessage().c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "client_bench: %s\n", e.what());
        return 1;
    }
}
