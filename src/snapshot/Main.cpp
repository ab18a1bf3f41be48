// kest-snapshot: captures the complex a provider serves into files that
// kest-provider serves again, so that any report can be replayed offline.
// It connects as cmplxview does (the local provider, or -u with -h over
// HTTPS), captures with Capture, checks that kest-provider can load what was
// captured, and writes it whole or not at all.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Complex.h"
#include "Schema.h"
#include "connection/ProviderConnection.h"
#include "driver/Arguments.h"
#include "driver/CommandOptions.h"
#include "snapshot/Capture.h"

namespace {

constexpr const char* kUsage =
    "usage: kest-snapshot [-u username:[passwd] -h host] [--allow-missing CLASS]... (-o DIR | -)\n"
    "  -o DIR                 write DIR/complex.json and DIR/schema.json (DIR is created if needed)\n"
    "  -                      write one document, complex and schema together, to standard output\n"
    "  -u username:[passwd]   connect to the provider on host over HTTPS (port 5989); without a\n"
    "  -h host                password after ':', it is asked for without echo\n"
    "  --allow-missing CLASS  capture without CLASS when the provider refuses it (repeatable)\n"
    "  --help                 print this text\n"
    "Without -u and -h the local provider is captured (XK_CIM_SOCKET names its socket).\n";

struct Options {
    std::optional<std::string> directory;  // -o
    bool toStandardOutput = false;         // -
    std::set<std::string> allowMissing;
    char* user = nullptr;  // the -u text, inside argv (its password is overwritten there)
    const char* host = nullptr;
};

int usageError(const std::string& problem) {
    std::cerr << "kest-snapshot: " << problem << "\n" << kUsage;
    return 1;
}

bool isCapturedClass(const std::string& name) {
    for (const std::string& c : kestsnapshot::capturedClasses())
        if (kest::equalNoCase(c, name)) return true;
    return false;
}

// 0 when the command line is usable, else the exit status after the message.
int parseArguments(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
            inlineValue = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
        }
        auto value = [&]() -> char* {
            if (inlineValue) return argv[i] + arg.size() + 1;
            if (i + 1 >= argc) return nullptr;
            return argv[++i];
        };
        if (arg == "--help") {
            std::cout << kUsage;
            return -1;
        } else if (arg == "-") {
            if (o.toStandardOutput || o.directory) return usageError("give one of -o DIR and - only once");
            o.toStandardOutput = true;
        } else if (arg == "-o" || arg == "-u" || arg == "-h" || arg == "--allow-missing") {
            char* v = value();
            if (!v) return usageError(arg + " needs a value");
            if (arg == "-o") {
                if (o.toStandardOutput || o.directory) return usageError("give one of -o DIR and - only once");
                if (!*v) return usageError("-o needs a directory");
                o.directory = v;
            } else if (arg == "-u") {
                if (o.user) return usageError("-u given twice");
                o.user = v;
            } else if (arg == "-h") {
                if (o.host) return usageError("-h given twice");
                o.host = v;
            } else {
                if (!isCapturedClass(v)) return usageError(std::string(v) + " is not a class kest-snapshot captures");
                o.allowMissing.insert(v);
            }
        } else {
            return usageError("unknown argument " + arg);
        }
    }
    if (!o.toStandardOutput && !o.directory) return usageError("give -o DIR or -");
    if (bool(o.user) != bool(o.host)) return usageError("-u and -h go together");
    return 0;
}

// The -u password stays in the process's argument words (visible to ps)
// only until the credentials hold their own copy.
void hidePassword(char* userText) {
    if (char* secret = userText ? std::strchr(userText, ':') : nullptr)
        std::memset(secret + 1, 'x', std::strlen(secret + 1));
}

// The password prompt writes to standard output; when that carries the
// document, the prompt goes to standard error instead.
int readCredentials(const Options& o) {
    if (cmplxview::checkHostArgument(o.host) != 0) return 1;
    int savedOutput = -1;
    if (o.toStandardOutput) {
        std::fflush(stdout);
        savedOutput = ::dup(STDOUT_FILENO);
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
    }
    const int split = cmplxview::splitUserArgument(o.user, 'u');
    if (savedOutput >= 0) {
        std::fflush(stdout);
        ::dup2(savedOutput, STDOUT_FILENO);
        ::close(savedOutput);
    }
    hidePassword(o.user);
    if (split == 2) return usageError("-u needs username:[passwd]");
    return split;
}

// Temporary files being written, removed when a signal ends the run.
char pendingFiles[2][4096];

void onSignal(int signalNumber) {
    cmplxview::restoreConsoleEcho();
    for (const char* path : pendingFiles)
        if (path[0]) ::unlink(path);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

std::string systemError(int error) { return std::strerror(error); }

// Writes text to a new file; false with the reason in error.
bool writeWhole(const std::string& path, const std::string& text, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = systemError(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = systemError(n < 0 ? errno : ENOSPC);
            ::close(fd);
            return false;
        }
        done += std::size_t(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = systemError(errno);
        return false;
    }
    return true;
}

// Both files are written whole under temporary names first, then renamed, so
// that a failure leaves neither a partial file nor one file of a pair.
int writeDirectory(const std::string& directory, const std::string& complexText, const std::string& schemaText) {
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec) {
        std::cerr << "kest-snapshot: " << directory << ": cannot be created: " << ec.message() << "\n";
        return 1;
    }
    const std::string suffix = ".tmp" + std::to_string(::getpid());
    const std::filesystem::path dir(directory);
    const std::string finals[2] = {(dir / "complex.json").string(), (dir / "schema.json").string()};
    const std::string* texts[2] = {&complexText, &schemaText};
    std::string temporaries[2];
    for (int i = 0; i < 2; ++i) {
        temporaries[i] = finals[i] + suffix;
        if (temporaries[i].size() >= sizeof pendingFiles[i]) {
            std::cerr << "kest-snapshot: " << finals[i] << ": the path is too long\n";
            return 1;
        }
        std::memcpy(pendingFiles[i], temporaries[i].c_str(), temporaries[i].size() + 1);
    }
    auto removeTemporaries = [&] {
        for (int i = 0; i < 2; ++i) {
            ::unlink(temporaries[i].c_str());
            pendingFiles[i][0] = '\0';
        }
    };
    for (int i = 0; i < 2; ++i) {
        std::string error;
        if (!writeWhole(temporaries[i], *texts[i], error)) {
            std::cerr << "kest-snapshot: " << finals[i] << ": cannot be written: " << error << "\n";
            removeTemporaries();
            return 1;
        }
    }
    // The earlier complex.json is kept under another name until schema.json is in place too,
    // so that a failure of the second rename can put it back.
    const std::string earlier = finals[0] + suffix + ".earlier";
    const bool kept = ::link(finals[0].c_str(), earlier.c_str()) == 0;
    for (int i = 0; i < 2; ++i) {
        if (::rename(temporaries[i].c_str(), finals[i].c_str()) != 0) {
            std::cerr << "kest-snapshot: " << finals[i] << ": cannot be written: " << systemError(errno) << "\n";
            removeTemporaries();
            if (i == 1 && kept)
                ::rename(earlier.c_str(), finals[0].c_str());
            else if (i == 1)
                ::unlink(finals[0].c_str());
            if (kept) ::unlink(earlier.c_str());
            return 1;
        }
        pendingFiles[i][0] = '\0';
    }
    if (kept) ::unlink(earlier.c_str());
    return 0;
}

// Standard output is checked at the end, so that a full disk or a closed
// pipe is a failure and not a short document passed for success.
int writeStandardOutput(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout);
    const int error = errno;
    if (failed || std::fclose(stdout) != 0) {
        std::cerr << "kest-snapshot: standard output: cannot be written: " << systemError(failed ? error : errno)
                  << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const int status = parseArguments(argc, argv, options); status != 0) return status < 0 ? 0 : status;
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) std::signal(signalNumber, onSignal);
    std::signal(SIGPIPE, SIG_IGN);  // a closed pipe is reported as a write error

    cmplxview::CommandOptions connectOptions{};
    if (options.user) {
        if (const int status = readCredentials(options); status != 0) return 1;
        connectOptions.remoteUser = connectOptions.hostGiven = true;
    }
    // The same connection, time-outs and failure diagnostics as cmplxview.
    if (cmplxview::openProviderConnection(connectOptions) != 0) return 1;

    std::string complexText, schemaText, oneDocument;
    try {
        kestsnapshot::Snapshot snapshot = kestsnapshot::capture(*cmplxview::activeClient, cmplxview::activeNameSpace,
                                                                options.allowMissing, std::cerr);
        // What is written must load in kest-provider as it is: load it here first.
        if (options.toStandardOutput) {
            oneDocument = kestsnapshot::formatOneDocument(snapshot);
            kest::Schema schema = *kest::Complex::embeddedSchema(oneDocument, "the captured document");
            kest::Complex::parse(oneDocument, schema, "the captured document");
        } else {
            complexText = kestsnapshot::formatComplex(snapshot.complex);
            schemaText = kestsnapshot::formatSchema(snapshot.schema);
            kest::Complex::parse(complexText, kest::Schema::parse(schemaText, "the captured schema"),
                                 "the captured complex");
        }
    } catch (const kestsnapshot::CaptureError& e) {
        std::cerr << "kest-snapshot: " << e.what() << "\n";
        return 1;
    } catch (const kest::LoadError& e) {
        std::cerr << "kest-snapshot: the provider's answers cannot be written as a complex kest-provider serves: "
                  << e.what() << "\n";
        return 1;
    }
    if (options.toStandardOutput) return writeStandardOutput(oneDocument);
    return writeDirectory(*options.directory, complexText, schemaText);
}
