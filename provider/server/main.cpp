// kest-provider: a CIM-XML server that publishes a complex described in a
// JSON file. Usage and file formats: provider/README.md.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "Certificate.h"
#include "Complex.h"
#include "HttpFrontEnd.h"
#include "Mof.h"
#include "Provider.h"
#include "RequestLog.h"
#include "Schema.h"
#include "Server.h"
#include "cim/Client.h"

#ifndef KEST_DEFAULT_SCHEMA
#define KEST_DEFAULT_SCHEMA "kest-schema.json"
#endif
// Where an installed kest-provider finds its schema, relative to the directory of its own
// executable (set by packaging/CMakeLists.txt from the install directories).
#ifndef KEST_INSTALLED_SCHEMA
#define KEST_INSTALLED_SCHEMA "../share/kest-provider/kest-schema.json"
#endif

namespace {

// The schema installed beside the program when there is one (so an installed or unpacked
// tree finds its own), else the one in the source tree the program was built from.
std::string defaultSchemaPath() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::filesystem::path installed = (self.parent_path() / KEST_INSTALLED_SCHEMA).lexically_normal();
        if (std::filesystem::is_regular_file(installed, ec)) return installed.string();
    }
    return KEST_DEFAULT_SCHEMA;
}

constexpr const char* kUsage =
    "usage: kest-provider [--socket PATH] [--https ADDR:PORT (--cert FILE --key FILE | --write-cert FILE)]\n"
    "                     [--log FILE] [--ready-file FILE] [--schema FILE] [--request-timeout SECONDS]\n"
    "                     [--idle-timeout SECONDS] [--max-connections N] [--print-mof] COMPLEX.json\n";

struct Options {
    std::string socketPath = cim::kDefaultLocalSocket;
    std::optional<std::string> https;
    std::string cert, key, writeCert, log, readyFile;
    std::string schema = defaultSchemaPath();
    bool schemaGiven = false;
    bool printMof = false;
    std::string complex;
    kest::ServerOptions limits;  // only the time-outs and the connection cap are taken from here
};

[[noreturn]] void usage(const std::string& problem) {
    std::cerr << "kest-provider: " << problem << "\n" << kUsage;
    std::exit(2);
}

std::pair<std::string, unsigned short> splitAddress(const std::string& text);

// A time-out in seconds, fractions allowed: more than 0, at most a day.
std::chrono::milliseconds parseSeconds(const std::string& option, const std::string& text) {
    std::size_t used = 0;
    double seconds = 0;
    try {
        seconds = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || !(seconds >= 0.001 && seconds <= 86400))
        usage(option + " needs a number of seconds from 0.001 to 86400, found " + text);
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000 + 0.5));
}

std::size_t parseCount(const std::string& option, const std::string& text) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(text) < 1 || std::stoul(text) > 100000)
        usage(option + " needs a whole number from 1 to 100000, found " + text);
    return std::stoul(text);
}

Options parseArguments(int argc, char** argv) {
    Options o;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
            inlineValue = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
        }
        auto value = [&]() -> std::string {
            if (inlineValue) return *inlineValue;
            if (i + 1 >= args.size()) usage(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--socket") o.socketPath = value();
        else if (arg == "--https") o.https = value();
        else if (arg == "--cert") o.cert = value();
        else if (arg == "--key") o.key = value();
        else if (arg == "--write-cert") o.writeCert = value();
        else if (arg == "--log") o.log = value();
        else if (arg == "--ready-file") o.readyFile = value();
        else if (arg == "--schema") {
            o.schema = value();
            o.schemaGiven = true;
        }
        else if (arg == "--request-timeout") o.limits.requestTimeout = parseSeconds(arg, value());
        else if (arg == "--idle-timeout") o.limits.idleTimeout = parseSeconds(arg, value());
        else if (arg == "--max-connections") o.limits.maxConnections = parseCount(arg, value());
        else if (arg == "--print-mof") o.printMof = true;
        else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            std::exit(0);
        } else if (arg.rfind("-", 0) == 0 && arg.size() > 1) usage("unknown option " + arg);
        else if (o.complex.empty()) o.complex = arg;
        else usage("more than one complex file");
    }
    if (o.printMof) return o;
    if (o.complex.empty()) usage("no complex file");
    if (o.socketPath.empty()) usage("--socket needs a path");
    if (o.https) {
        const bool files = !o.cert.empty() || !o.key.empty();
        if (files && !o.writeCert.empty()) usage("--write-cert cannot go with --cert/--key");
        if (files && (o.cert.empty() || o.key.empty())) usage("--cert and --key go together");
        if (!files && o.writeCert.empty()) usage("--https needs --cert and --key, or --write-cert");
        splitAddress(*o.https);  // a bad address is a usage error, found before anything is loaded
    } else if (!o.cert.empty() || !o.key.empty() || !o.writeCert.empty()) {
        usage("--cert, --key and --write-cert need --https");
    }
    return o;
}

// "127.0.0.5:5989", "[::1]:5989", "localhost:0" -> host and port.
std::pair<std::string, unsigned short> splitAddress(const std::string& text) {
    std::string host, port;
    if (!text.empty() && text.front() == '[') {
        auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            usage("--https needs ADDR:PORT, found " + text);
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        auto colon = text.rfind(':');
        if (colon == std::string::npos) usage("--https needs ADDR:PORT, found " + text);
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    if (host.empty() || port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(port) > 65535)
        usage("--https needs ADDR:PORT, found " + text);
    return {host, static_cast<unsigned short>(std::stoul(port))};
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path + ": cannot be read");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Written whole under a temporary name and renamed, so a reader never sees half of it.
void writeFileAtomically(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) throw std::runtime_error(temporary + ": cannot be written");
    }
    std::filesystem::rename(temporary, path);
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parseArguments(argc, argv);
    try {
        if (options.printMof) {
            std::cout << kest::printMof(kest::Schema::load(options.schema));
            return 0;
        }
        // A complex file may carry its own schema (one document, as kest-snapshot writes it);
        // it is then the schema served, and naming another one as well is a mistake.
        const std::string complexText = kest::Complex::readComplexFile(options.complex);
        std::optional<kest::Schema> embedded = kest::Complex::embeddedSchema(complexText, options.complex);
        if (embedded && options.schemaGiven)
            throw kest::LoadError(options.complex + ": carries its own schema; --schema cannot be given with it");
        kest::Schema schema = embedded ? std::move(*embedded) : kest::Schema::load(options.schema);
        kest::Complex complex = kest::Complex::parse(complexText, schema, options.complex);
        kest::Provider provider(std::move(schema), std::move(complex));
        kest::HttpFrontEnd frontEnd(provider);
        std::unique_ptr<kest::RequestLog> log;
        if (!options.log.empty()) log = std::make_unique<kest::RequestLog>(options.log);

        kest::ServerOptions serverOptions = options.limits;
        serverOptions.socketPath = options.socketPath;
        if (options.https) {
            auto [host, port] = splitAddress(*options.https);
            serverOptions.httpsHost = host;
            serverOptions.httpsPort = port;
            if (!options.writeCert.empty()) {
                serverOptions.tls = kest::makeSelfSignedCertificate(host);
                writeFileAtomically(options.writeCert, serverOptions.tls.certificatePem);
            } else {
                serverOptions.tls = {readFile(options.cert), readFile(options.key)};
            }
        }
        kest::Server server(frontEnd, log.get(), serverOptions);
        server.listen();

        std::string ready = std::to_string(::getpid()) + "\n";
        if (options.https) ready += "https " + *serverOptions.httpsHost + ":" + std::to_string(server.httpsPort()) + "\n";
        ready += "socket " + options.socketPath + "\n";
        if (!options.readyFile.empty()) {
            writeFileAtomically(options.readyFile, ready);
        } else {
            std::cout << "kest-provider: ready" << std::endl;
        }
        server.run();
        return 0;
    } catch (const kest::LoadError& e) {
        std::cerr << "kest-provider: " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "kest-provider: " << e.what() << "\n";
        return 1;
    }
}
